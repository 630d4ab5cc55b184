// kx_startup_tool: KX4701SetCfg's start-up, line for line as app/main.cpp runs it on Linux
// (system HID bus, udev notifications, the application object running the dialog), with
// one addition through the application's dialog hook: after the dialog's first paint it
// reports the time and closes the dialog. Started by kx_startup_launcher, offscreen.

#include <QApplication>

#include "app/ConfigApp.h"
#include "device/linux/SystemDevices.h"
#include "perf/FirstPaint.h"
#include "ui/qt/QtConfigDialog.h"
#include "ui/qt/UdevNotificationSource.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);

    kx::SystemDevices devices;
    kx::hotplug::UdevNotificationSource notifications;
    CConfigApp theApp(devices.library(), devices.probe(), notifications);
    theApp.setDialogHook(
        [](kx::ui::QtConfigDialog& dialog) { new kx::perf::FirstPaintWatch(dialog); });
    return theApp.Run();
}
