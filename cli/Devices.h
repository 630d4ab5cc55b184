#pragma once
// What the command-line tool knows of the devices attached: the inventory (found as the
// dialog finds them, device/Discovery.h, then each one opened once to read what it reports),
// the choice of the devices a command acts on, and an open device with its stored settings.
// Everything goes through the device library and our extension; nothing here talks to the
// system directly.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/SerialDefaults.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceLibraryExtension.h"
#include "device/DeviceNotify.h"
#include "device/HidBus.h"

namespace kx::cli {

// The device stack a run works over, borrowed for the run. `extension` is null when the
// library cannot read stored settings (the maker's DLL); `notifications` is null where no
// hot-plug source exists.
struct Devices {
    DeviceLibrary& library;
    DeviceProbe& probe;
    DeviceLibraryExtension* extension = nullptr;
    DeviceNotificationSource* notifications = nullptr;
    // How long a chip that left after an identity change may take to come back (a USB chip
    // enumerates again with its new descriptors), and how often discovery looks for it.
    std::chrono::milliseconds reappearWait{10000};
    std::chrono::milliseconds reappearPoll{100};
    // Waits until `notifications` delivered something or the time passed; false when the
    // run must stop (Ctrl-C). Null where nothing can be waited for.
    std::function<bool(std::chrono::milliseconds)> wait = {};
    // Whether the run was asked to end (Ctrl-C): a watching run finishes the chip in hand
    // and stops. Null where nothing can ask.
    std::function<bool()> stopped = {};
};

enum class ChipKind { Chip, NotChip, Unknown };  // Unknown: the library cannot tell

class OpenDevice;

// One device as it reports itself now. Texts are UTF-8.
struct DeviceRecord {
    std::string path;         // the library's spelling, as it must be passed back
    std::string displayPath;  // the same, as UTF-8
    bool opened = false;      // false: it could not be opened (then nothing else is known)
    std::uint16_t vid = 0, pid = 0, version = 0;
    std::string manufacturer, product, serial;
    ChipKind kind = ChipKind::Unknown;
    std::uint16_t firmware = 0;  // from IDENTIFY, for a chip
    int chipIndex = -1;          // position among the chips in list order, -1 for others
    // The device, still open: a command goes on with it, so that no chip is identified
    // twice. Null when it could not be opened. Shared by the copies of the record.
    std::shared_ptr<OpenDevice> device;

    [[nodiscard]] bool mayBeChip() const { return kind != ChipKind::NotChip; }
};

// Every device discovery lists (or, given `onlyPath`, those whose path it names in any letter
// case), in the library's order, each opened and read; it stays open while a record holds
// it. A chip receives IDENTIFY (through the open); other devices receive no report.
[[nodiscard]] std::vector<DeviceRecord> TakeInventory(Devices& devices,
                                                      const std::string& onlyPath = {});

// How a command names its devices: a path (any letter case), a serial string, or a position
// among the chips; `all` allows (and without a name asks for) every chip that matches.
struct DeviceSelector {
    std::string path;
    std::string serial;  // UTF-8
    int index = -1;
    bool all = false;
    [[nodiscard]] bool named() const { return !path.empty() || !serial.empty() || index >= 0; }
};

struct Selection {
    std::vector<DeviceRecord> devices;  // empty on failure
    std::string error;                  // on failure: one line, naming the candidates
};

// The devices `selector` names in `inventory`. None, or more than one without `all`, is a
// failure; a path may name a device that is not a chip (the caller refuses writes to it).
[[nodiscard]] Selection SelectDevices(const std::vector<DeviceRecord>& inventory,
                                      const DeviceSelector& selector);

// The identity a chip stores, as KX4701SetDeviceCfg writes it; texts are CP936.
struct StoredIdentity {
    std::uint16_t vid = 0, pid = 0;
    std::uint8_t maxPower = 0;
    std::string manufacturer, product, serial;
    // False when it was read through the maker's fourteen functions, which read what the chip
    // reports and not its bMaxPower (maxPower is then 0, unknown).
    bool maxPowerRead = true;
    friend bool operator==(const StoredIdentity&, const StoredIdentity&) = default;
};

// Whether an identity `read` from a chip confirms the one `written`: every field it holds
// equal, bMaxPower only when it was read.
[[nodiscard]] bool Confirms(const StoredIdentity& read, const StoredIdentity& written);

// Whether KX4701SetDeviceCfg takes `id`'s texts (1..30 bytes each); else `what` names the
// first it does not ("a product text of 31 bytes"). Kept fields come from the chip, unchecked.
[[nodiscard]] bool WritableIdentity(const StoredIdentity& id, std::string& what);

// What a write leaves unconfirmed when the library has only the maker's fourteen functions,
// by the names the JSON documents use; empty when everything was read back.
struct Unverified {
    bool maxPower = false, serialDefaults = false;
    [[nodiscard]] bool any() const { return maxPower || serialDefaults; }
    [[nodiscard]] std::vector<std::string> names() const;  // "max_power", "serial_defaults"
    [[nodiscard]] std::string text() const;                // "bMaxPower and the serial defaults"
};

// The factory settings a reset restores: the dialog's defaults, by design the chip's.
[[nodiscard]] StoredIdentity FactoryIdentity();

// An identity to write (set-identity's options, a profile's [identity]; texts in CP936, each
// checked by the identity rules): an empty field keeps the value of the identity it is
// applied to; set-identity's `factoryForRest` applies it to the factory identity instead.
struct IdentityChange {
    std::optional<std::uint16_t> vid, pid;
    std::optional<std::string> manufacturer, product, serial;
    bool factoryForRest = false;
    [[nodiscard]] bool complete() const { return vid && pid && manufacturer && product && serial; }
    // `base` with the given fields, and the dialog's bMaxPower.
    [[nodiscard]] StoredIdentity appliedTo(StoredIdentity base) const;
};

// An open device; closes it when destroyed. Every failure leaves a one-line reason in
// `error()` (the library's last error in words).
class OpenDevice {
  public:
    // Opens `path`; nullopt with `error` set when the library cannot.
    [[nodiscard]] static std::optional<OpenDevice> Open(Devices& devices, const std::string& path,
                                                        std::string& error);
    ~OpenDevice();
    OpenDevice(OpenDevice&& other) noexcept;
    OpenDevice& operator=(OpenDevice&&) = delete;
    OpenDevice(const OpenDevice&) = delete;
    OpenDevice& operator=(const OpenDevice&) = delete;

    [[nodiscard]] DeviceHandle handle() const { return handle_; }
    [[nodiscard]] const std::string& error() const { return error_; }

    // Whether the library reads what a chip stores (our extension). The maker's fourteen
    // functions read only what it reports: its ids and texts, not its serial defaults.
    [[nodiscard]] bool readsStored() const { return devices_->extension != nullptr; }
    // Need the extension; false (with the reason) when the read fails.
    bool readSerial(SerialDefaults& out);
    // The stored identity; without the extension, what the chip reports (KX4701GetAttributes
    // and the three string reads, in CP936) with maxPowerRead false. False with the reason.
    bool readIdentity(StoredIdentity& out);
    // The writes; false with the reason.
    bool writeSerial(const SerialDefaults& defaults);
    bool writeIdentity(const StoredIdentity& identity);
    bool factoryReset();

  private:
    OpenDevice(Devices& devices, DeviceHandle handle) : devices_(&devices), handle_(handle) {}
    bool failed(const char* what);

    Devices* devices_;
    DeviceHandle handle_;
    std::string error_;
};

// Reads back the stored identity after a write that changed it. A chip that applies a new
// identity may leave the bus and enumerate again, perhaps under another path: when the read
// on `device` fails, waits (devices.reappearWait) for the chip at its old path or at a path
// not in `pathsBefore`, and reads it there. `where` gets the library's path it was read at.
// A chip holding something other than `expected` is returned only when nothing better came
// by the deadline, so the caller can report the mismatch. False with `error` when no chip
// could be read; `error` is left alone on success.
bool ReadBackIdentity(Devices& devices, OpenDevice& device, const DeviceRecord& record,
                      const std::vector<std::string>& pathsBefore, const StoredIdentity& expected,
                      StoredIdentity& after, std::string& where, std::string& error);

// The thread's last error as a short English phrase ("the chip refused the write").
[[nodiscard]] std::string DescribeLastError(std::uint32_t code);

}  // namespace kx::cli
