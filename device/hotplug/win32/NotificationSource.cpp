
#include "device/hotplug/win32/NotificationSource.h"

namespace kx::hotplug {

Win32NotificationSource::~Win32NotificationSource() {
    for (const auto& [sink, handle] : registrations_) {
        UnregisterDeviceNotification(handle);
    }
}

bool Win32NotificationSource::registerDeviceNotification(
    DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A* filter, std::uint32_t flags) {
    if (sink == nullptr || filter == nullptr) {
        return false;
    }
    // The system reads the filter only during the call; it keeps no pointer to it.
    HDEVNOTIFY handle = RegisterDeviceNotificationA(
        window_, const_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(filter), flags);
    if (handle == nullptr) {
        return false;
    }
    unregister(sink);
    registrations_.emplace(sink, handle);
    return true;
}

void Win32NotificationSource::unregister(DeviceChangeSink* sink) {
    const auto it = registrations_.find(sink);
    if (it != registrations_.end()) {
        UnregisterDeviceNotification(it->second);
        registrations_.erase(it);
    }
}

}  // namespace kx::hotplug
