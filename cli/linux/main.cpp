// kx4701 on Linux: the command-line tool over the system's HID devices (hidapi's hidraw
// backend, through our device library), with the dialog's hot-plug source for watching.

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "device/hotplug/linux/NotificationSource.h"
#include "device/linux/DeviceStrings.h"
#include "device/linux/SystemDevices.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

// Ctrl-C (or SIGTERM) while watching ends the run after the chip in hand, never in the
// middle of its write. Installed only when a command first waits: other commands end at
// once, as usual.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a signal cuts the poll short
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    kx::SystemDevices system;
    kx::hotplug::UeventNotificationSource notifications;
    kx::cli::Devices devices{system.library(), system.probe(), &system.kxLibrary(), &notifications};
    devices.portOf = [](const std::string& path) { return kx::hid::UsbPortOf(path); };
    devices.nodeOf = [](const std::string& path) { return kx::hid::HidDeviceOf(path); };
    devices.terminal = ::isatty(STDOUT_FILENO) == 1;
    bool catching = false;
    devices.wait = [&](std::chrono::milliseconds timeout) {
        if (!catching) {
            CatchStopSignals();
            catching = true;
        }
        pollfd fd{notifications.fd(), POLLIN, 0};
        if (stopRequested == 0 && fd.fd >= 0 &&
            ::poll(&fd, 1, static_cast<int>(timeout.count())) > 0) {
            notifications.pump();
        }
        return stopRequested == 0;
    };
    devices.stopped = [] { return stopRequested != 0; };
    return kx::cli::RunCli(std::vector<std::string>(argv, argv + argc), devices, std::cout,
                           std::cerr);
}
