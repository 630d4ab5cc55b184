#pragma once
// Windows only: device-interface notifications for a program without a window of its own
// (the command line): a message-only window registered with RegisterDeviceNotificationA,
// whose WM_DEVICECHANGE messages go to the sinks through the one set of registration rules
// (NotificationRegistry). The notifications arrive only while the thread pumps messages,
// which pump() does. Single-threaded: every call from the thread that made the object.

#include <chrono>
#include <memory>

#include "config/win32/WinApi.h"
#include "device/NotificationRegistry.h"
#include "device/hotplug/win32/NotificationSource.h"

namespace kx::hotplug {

class WatchWindow final : public DeviceNotificationSource {
  public:
    WatchWindow() = default;
    ~WatchWindow() override;  // withdraws every registration, then destroys the window
    WatchWindow(const WatchWindow&) = delete;
    WatchWindow& operator=(const WatchWindow&) = delete;

    // Makes the window on first use. False when the window cannot be made, the request is
    // not one RegisterDeviceNotificationA takes, or the system refuses it (the thread's
    // last error then says why).
    bool registerDeviceNotification(DeviceChangeSink* sink,
                                    const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                    std::uint32_t flags) override;
    void unregister(DeviceChangeSink* sink) override;

    // Dispatches the thread's messages until a device change was delivered, `stop` (an
    // event handle, or null) is signalled, or `timeout` has passed.
    void pump(std::chrono::milliseconds timeout, HANDLE stop);

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    std::unique_ptr<Win32NotificationSource> system_;
    NotificationRegistry registry_;
    bool delivered_ = false;
};

}  // namespace kx::hotplug
