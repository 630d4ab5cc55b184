#pragma once
// The sinks registered with a notification source and the class each asked for, as
// RegisterDeviceNotificationA keeps them: the one set of registration rules behind every
// source here (the virtual bench, the uevent sources). Not thread-safe; used on the thread
// that delivers.

#include <cstdint>
#include <vector>

#include "device/DeviceNotify.h"

namespace kx {

// The flag that asks for every interface class, not only the filter's. Windows headers
// define it as a macro already.
#ifndef DEVICE_NOTIFY_ALL_INTERFACE_CLASSES
inline constexpr std::uint32_t DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 0x4;
#endif

class NotificationRegistry {
  public:
    // What RegisterDeviceNotificationA accepts here: a sink, a device-interface filter
    // (type 5) of at least 32 bytes, and flags of DEVICE_NOTIFY_WINDOW_HANDLE with at most
    // DEVICE_NOTIFY_ALL_INTERFACE_CLASSES beside it.
    [[nodiscard]] static bool IsValidRequest(const DeviceChangeSink* sink,
                                             const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                             std::uint32_t flags);

    // Registers `sink` (not owned) for the filter's class, or for all classes with the flag;
    // registering a sink again replaces its filter. The request must be valid.
    void add(DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A& filter,
             std::uint32_t flags);
    // Unknown sinks are ignored; safe to call from inside a delivery.
    void remove(DeviceChangeSink* sink);
    [[nodiscard]] std::size_t size() const { return registrations_.size(); }

    // Hands `record` to every sink registered for its class (or for all classes). A sink may
    // register or withdraw itself or others while it handles the event: whoever is gone by
    // the time their turn comes is skipped.
    void deliver(std::uint32_t event, const DEV_BROADCAST_DEVICEINTERFACE_A& record);
    // Hands `data` (any record, or null) to every sink, whatever its class.
    void deliverToAll(std::uint32_t event, const void* data);

  private:
    struct Registration {
        DeviceChangeSink* sink;
        Guid classGuid;
        bool allClasses;
    };
    template <typename Wanted>
    void deliverIf(std::uint32_t event, const void* data, Wanted wanted);
    bool contains(const DeviceChangeSink* sink) const;

    std::vector<Registration> registrations_;
};

}  // namespace kx
