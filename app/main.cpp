// KX4701SetCfg: the configuration tool over the system's HID devices.

#include <QApplication>

#include "app/ConfigApp.h"
#include "device/SystemDevices.h"

#ifdef _WIN32
#include <memory>

#include <QWidget>

#include "device/hotplug/Win32NotificationSource.h"

namespace {

// The system's notifications go to a window, and the window is the dialog, which exists
// only after the notification source has been handed to it. This source therefore makes
// the real one when the dialog registers, for the dialog's own window.
class DialogWindowNotificationSource : public kx::DeviceNotificationSource {
  public:
    bool registerDeviceNotification(kx::DeviceChangeSink* sink,
                                    const kx::DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                    std::uint32_t flags) override {
        auto* window = dynamic_cast<QWidget*>(sink);
        if (window == nullptr) {
            return false;
        }
        m_source = std::make_unique<kx::hotplug::Win32NotificationSource>(
            reinterpret_cast<HWND>(window->winId()));
        return m_source->registerDeviceNotification(sink, filter, flags);
    }
    void unregister(kx::DeviceChangeSink* sink) override {
        if (m_source) {
            m_source->unregister(sink);
        }
    }

  private:
    std::unique_ptr<kx::hotplug::Win32NotificationSource> m_source;
};

}  // namespace
#else
#include "device/hotplug/UdevNotificationSource.h"
#endif

int main(int argc, char** argv) {
    // The application's name stays the executable's file name without extension.
    QApplication application(argc, argv);

    kx::SystemDevices devices;
#ifdef _WIN32
    DialogWindowNotificationSource notifications;
#else
    kx::hotplug::UdevNotificationSource notifications;
#endif
    CConfigApp theApp(devices.library(), devices.probe(), notifications);
    return theApp.Run();
}
