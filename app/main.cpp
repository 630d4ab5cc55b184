// KX4701SetCfg on Linux: the configuration tool over the system's HID devices (the Windows
// program starts in app/win32/main.cpp).

#include <QApplication>

#include "app/ConfigApp.h"
#include "device/linux/SystemDevices.h"
#include "ui/qt/UdevNotificationSource.h"

int main(int argc, char** argv) {
    // The application's name stays the executable's file name without extension.
    QApplication application(argc, argv);

    kx::SystemDevices devices;
    kx::hotplug::UdevNotificationSource notifications;
    CConfigApp theApp(devices.library(), devices.probe(), notifications);
    return theApp.Run();
}
