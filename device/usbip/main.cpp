// kx4701-usbip: emulated KX4701 chips (and plain keyboards) on the kernel's USB bus through
// the USB/IP virtual host controller, for as long as it runs. SIGUSR1 prints every device's
// node and stored state (a chip's node changes when it re-enumerates); SIGINT or SIGTERM
// detaches the devices and ends the program.

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/uhid/EmulatorSignals.h"
#include "device/usbip/UsbipDevice.h"

namespace {

constexpr int NODE_TIMEOUT_MS = 10000;

void Usage(std::FILE* to) {
    std::fputs(
        "usage: kx4701-usbip [--chip[=VID:PID]]... [--keyboard=NAME]... [--fake-chip]...\n"
        "Attaches emulated KX4701 chips (factory identity unless VID:PID, four hex digits\n"
        "each), plain USB keyboards, and keyboards that claim the chip's factory ids\n"
        "(--fake-chip) to the vhci-hcd host controller until SIGINT or SIGTERM; with no option,\n"
        "one chip. SIGUSR1 prints each device's node and stored state. Needs root and the\n"
        "vhci-hcd module.\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    using kx::usbip::UsbipDevice;
    struct Request {
        bool chip;
        kx::bench::ChipIdentity identity;
    };
    std::vector<Request> requests;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        kx::bench::ChipIdentity id;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--chip") {
            requests.push_back({true, id});
        } else if (arg.rfind("--chip=", 0) == 0 && kx::uhid::ParseVidPid(arg.substr(7), id)) {
            requests.push_back({true, id});
        } else if (arg.rfind("--keyboard=", 0) == 0 && arg.size() > 11) {
            requests.push_back({false, UsbipDevice::KeyboardIdentity(std::string(arg.substr(11)))});
        } else if (arg == "--fake-chip") {
            kx::bench::ChipIdentity fake = UsbipDevice::KeyboardIdentity("Fake chip");
            fake.vid = id.vid;
            fake.pid = id.pid;
            requests.push_back({false, fake});
        } else {
            std::fprintf(stderr, "kx4701-usbip: bad argument '%s'\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }
    if (requests.empty()) {
        requests.push_back({true, {}});
    }

    const sigset_t signals = kx::uhid::BlockEmulatorSignals();

    std::vector<std::unique_ptr<UsbipDevice>> devices;
    const auto print = [](const UsbipDevice& d) {
        std::printf("%s\n",
                    kx::uhid::DescribeState(d.hidrawNode(NODE_TIMEOUT_MS), d.state()).c_str());
    };
    for (const Request& request : requests) {
        std::string error;
        auto device = request.chip ? UsbipDevice::createChip(request.identity, &error)
                                   : UsbipDevice::createKeyboard(request.identity, &error);
        if (!device) {
            std::fprintf(stderr, "kx4701-usbip: %s\n", error.c_str());
            return 1;  // the devices attached so far are detached on the way out
        }
        if (device->hidrawNode(NODE_TIMEOUT_MS).empty()) {
            std::fprintf(stderr, "kx4701-usbip: no hidraw node appeared for a device\n");
            return 1;
        }
        devices.push_back(std::move(device));
        print(*devices.back());
    }
    std::fflush(stdout);

    kx::uhid::ServeUntilStopped(signals, [&] {
        for (const auto& d : devices) {
            print(*d);
        }
    });
    return 0;
}
