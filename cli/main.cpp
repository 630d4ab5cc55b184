// kx4701 on Linux: the command-line tool over the system's HID devices (hidapi's hidraw
// backend, through our device library), with the dialog's hot-plug source for watching.

#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "device/SystemDevices.h"
#include "device/hotplug/UeventNotificationSource.h"

int main(int argc, char** argv) {
    kx::SystemDevices system;
    kx::hotplug::UeventNotificationSource notifications;
    kx::cli::Devices devices{system.library(), system.probe(), &system.kxLibrary(), &notifications};
    return kx::cli::RunCli(std::vector<std::string>(argv, argv + argc), devices, std::cout,
                           std::cerr);
}
