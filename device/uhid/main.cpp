// kx4701-uhid: emulated KX4701 chips (and plain keyboards) on real hidraw nodes, for as long
// as it runs. SIGUSR1 prints every device's stored state; SIGINT or SIGTERM removes the
// devices and ends the program.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/uhid/EmulatorSignals.h"
#include "device/uhid/UhidDevice.h"

namespace {

constexpr int NODE_TIMEOUT_MS = 5000;

void Usage(std::FILE* to) {
    std::fputs(
        "usage: kx4701-uhid [--chip[=VID:PID]]... [--keyboard=NAME]...\n"
        "Presents emulated KX4701 chips (factory identity unless VID:PID, four hex digits each)\n"
        "and plain keyboards through /dev/uhid until SIGINT or SIGTERM; with no option, one\n"
        "chip. SIGUSR1 prints the state each device stores. Needs write access to /dev/uhid.\n",
        to);
}

void PrintState(const std::string& node, const kx::uhid::DeviceState& s) {
    std::printf("%s\n", kx::uhid::DescribeState(node, s).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    struct Request {
        bool chip;
        kx::bench::ChipIdentity identity;
        std::string name;
    };
    std::vector<Request> requests;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        kx::bench::ChipIdentity id;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--chip") {
            requests.push_back({true, id, {}});
        } else if (arg.rfind("--chip=", 0) == 0 && kx::uhid::ParseVidPid(arg.substr(7), id)) {
            requests.push_back({true, id, {}});
        } else if (arg.rfind("--keyboard=", 0) == 0 && arg.size() > 11) {
            requests.push_back({false, id, std::string(arg.substr(11))});
        } else {
            std::fprintf(stderr, "kx4701-uhid: bad argument '%s'\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }
    if (requests.empty()) {
        requests.push_back({true, {}, {}});
    }

    const sigset_t signals = kx::uhid::BlockEmulatorSignals();

    struct Presented {
        std::unique_ptr<kx::uhid::UhidDevice> device;
        std::string node;
    };
    std::vector<Presented> devices;
    for (const Request& request : requests) {
        std::string error;
        auto device = request.chip ? kx::uhid::UhidDevice::createChip(request.identity, &error)
                                   : kx::uhid::UhidDevice::createKeyboard(request.name, &error);
        if (!device) {
            std::fprintf(stderr, "kx4701-uhid: %s\n", error.c_str());
            return 1;  // the devices made so far are destroyed on the way out
        }
        std::string node = device->hidrawNode(NODE_TIMEOUT_MS);
        if (node.empty()) {
            std::fprintf(stderr, "kx4701-uhid: no hidraw node appeared for %s\n",
                         device->phys().c_str());
            return 1;
        }
        devices.push_back({std::move(device), std::move(node)});
        PrintState(devices.back().node, devices.back().device->state());
    }
    std::fflush(stdout);

    kx::uhid::ServeUntilStopped(signals, [&] {
        for (const Presented& p : devices) {
            PrintState(p.node, p.device->state());
        }
    });
    return 0;
}
