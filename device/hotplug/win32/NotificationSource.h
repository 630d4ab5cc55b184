#pragma once
// Windows only: the real RegisterDeviceNotificationA on the dialog's window. The system
// then sends WM_DEVICECHANGE to that window, and the window passes each one to its sink
// (DeviceChangeSink::deliverDeviceChange); this class only registers and unregisters.

#include <map>

#include "device/DeviceNotify.h"

namespace kx::hotplug {

class Win32NotificationSource final : public DeviceNotificationSource {
  public:
    // `window` receives the notifications; it must outlive every registration.
    explicit Win32NotificationSource(HWND window) : window_(window) {}
    ~Win32NotificationSource() override;
    Win32NotificationSource(const Win32NotificationSource&) = delete;
    Win32NotificationSource& operator=(const Win32NotificationSource&) = delete;

    // False when the sink or filter is null or the system refuses the registration (the
    // thread's last error then says why). Registering a sink again replaces its filter.
    [[nodiscard]] bool registerDeviceNotification(DeviceChangeSink* sink,
                                                  const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                                  std::uint32_t flags) override;
    void unregister(DeviceChangeSink* sink) override;

  private:
    HWND window_;
    std::map<DeviceChangeSink*, HDEVNOTIFY> registrations_;
};

}  // namespace kx::hotplug
