#pragma once
// An in-process HID bus with virtual KX4701 chips and plain HID devices, for the bench
// program and the tests: plug, unplug, hold and break devices at will, and watch what the
// host sent. Safe from several threads: one lock over the whole bench, taken by every call
// and by its connections, and let go while a silent chip keeps the host waiting.
//
// The bench must outlive every connection it handed out and every sink registered with it.
// Connections to a device that was unplugged fail every call (attributes and strings
// false, reports -1), even after the device is plugged back in.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "device/DeviceNotify.h"
#include "device/HidBus.h"
#include "device/NotificationRegistry.h"
#include "emulation/VirtualChip.h"

namespace kx::emu {

struct Faults {
    bool openFails = false;
    bool attributesFail = false;
    bool manufacturerFails = false, productFails = false, serialFails = false;
    bool refuseCommands = false;    // chip answers every write with a refusal status
    int vanishAfterReports = -1;    // device unplugs itself after this many more feature
                                    // reports (set or get) have been exchanged
    bool malformedReplies = false;  // replies with a wrong id / truncated frame
    bool silent = false;            // chip never answers GET_FEATURE: the host's timeout
                                    // must end the command
    int busyPolls = 0;              // chip answers BUSY this many times before each reply
    bool forgetWrites = false;      // chip answers writes OK and stores nothing
    bool reenumerates = false;      // as on the USB bus: once the host has the reply to an
                                    // identity commit or a factory reset, the chip leaves and
                                    // comes back at once under a new path ("<path>.<n>")
};

struct DeviceSnapshot {
    int id = 0;
    std::string path;
    bool isChip = false;
    bool held = false;
    ChipIdentity identity;  // for a plain device: its strings and ids
    SerialDefaults serial = FACTORY_SERIAL_DEFAULTS;
    std::uint64_t reportsReceived = 0;  // feature reports the device received (SET)
};

class VirtualBench : public HidBus, public DeviceNotificationSource {
  public:
    VirtualBench();
    ~VirtualBench() override;
    VirtualBench(const VirtualBench&) = delete;
    VirtualBench& operator=(const VirtualBench&) = delete;

    // Returns a device id (never reused); default path "vbench://kx4701/<id>", lower case on
    // purpose. The chip's factory identity is always the default ChipIdentity; it stores
    // `identity` and `serial`.
    int plugChip(const ChipIdentity& identity = {}, std::string path = {},
                 const SerialDefaults& serial = FACTORY_SERIAL_DEFAULTS);
    // Not a KX4701: usage page 0x0001 usage 0x0006, default path "vbench://hid/<id>".
    int plugPlainHid(std::string product = "USB Keyboard", std::string path = {});
    // False if no such device is plugged in.
    bool unplug(int id);
    // Plugs an unplugged device back in with what it had stored (staged data is lost), under
    // the same id and path. False if the id is unknown or the device is plugged in.
    bool replug(int id);
    // Held exclusively by another program: the probe fails and open fails.
    void setHeld(int id, bool held);
    // Reference valid while the device is known to the bench (plugged or not). Throws
    // std::out_of_range for an id never handed out.
    Faults& faults(int id);
    std::vector<DeviceSnapshot> devices() const;         // plugged devices, in plug order
    std::optional<DeviceSnapshot> device(int id) const;  // nullopt unless plugged
    std::uint64_t enumerationCount() const;
    void setRegistrationFails(bool fails);
    // Hands any notification to every registered sink, unfiltered.
    void deliver(std::uint32_t event, const void* data);
    // Called after any plug/unplug/hold/stored-settings change.
    void setChangeListener(std::function<void()> listener);
    // Number of sinks registered now.
    std::size_t sinkCount() const;

    // HidBus
    std::vector<HidDeviceInfo> enumerate() override;
    std::unique_ptr<HidConnection> open(const std::string& path) override;
    // DeviceProbe
    bool canOpenReadWrite(const char* path) override;
    // DeviceNotificationSource: the registration rules of NotificationRegistry; every
    // device here is of the HID class.
    [[nodiscard]] bool registerDeviceNotification(DeviceChangeSink* sink,
                                                  const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                                  std::uint32_t flags) override;
    void unregister(DeviceChangeSink* sink) override;

  private:
    struct Device;
    class Connection;
    friend class Connection;
    static void DescribeCollection(const Device& d, HidDeviceInfo& info);

    Device* find(int id);
    const Device* find(int id) const;
    Device* findPlugged(const std::string& path);
    // Adds a device under `path` (or defaultPrefix + its id); -1 if that path is taken.
    int plug(std::string_view defaultPrefix, std::string path,
             const std::function<void(Device&)>& build);
    // Counts one report against the vanish fault; false (device gone) when it fires.
    bool exchangeAllowed(Device& d);
    void reenumerate(Device& d);
    void broadcast(std::uint32_t event);
    void changed();
    DeviceSnapshot snapshot(const Device& d) const;

    // Recursive: a listener or a sink may call back into the bench.
    mutable std::recursive_mutex mutex_;
    std::map<int, std::unique_ptr<Device>> devices_;  // by id = plug order
    // The plugged devices by exact path: discovery probes every path, and a scan of
    // devices_ per probe made a refresh quadratic in the number of devices.
    std::unordered_map<std::string, Device*> plugged_;
    int nextId_ = 1;
    std::uint64_t enumerations_ = 0;
    bool registrationFails_ = false;
    NotificationRegistry registry_;
    std::function<void()> listener_;
};

}  // namespace kx::emu
