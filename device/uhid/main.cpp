// kx4701-uhid: emulated KX4701 chips (and plain keyboards) on real hidraw nodes, for as long
// as it runs. SIGUSR1 prints every device's stored state; SIGINT or SIGTERM removes the
// devices and ends the program.

#include <signal.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/TextCodec.h"
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

bool ParseIds(std::string_view text, kx::bench::ChipIdentity& id) {
    if (text.size() != 9 || text[4] != ':') {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != 4 && std::isxdigit(static_cast<unsigned char>(text[i])) == 0) {
            return false;
        }
    }
    unsigned vid = 0, pid = 0;
    if (std::sscanf(std::string(text).c_str(), "%4x:%4x", &vid, &pid) != 2) {
        return false;
    }
    id.vid = static_cast<std::uint16_t>(vid);
    id.pid = static_cast<std::uint16_t>(pid);
    return true;
}

void PrintState(const std::string& node, const kx::uhid::DeviceState& s) {
    using kx::text::AnsiToUtf8;
    if (s.kind == kx::uhid::DeviceKind::Keyboard) {
        std::printf("%s keyboard product=\"%s\" set_reports=%llu get_reports=%llu\n", node.c_str(),
                    AnsiToUtf8(s.identity.product).c_str(),
                    static_cast<unsigned long long>(s.setReports),
                    static_cast<unsigned long long>(s.getReports));
        return;
    }
    const auto& i = s.identity;
    const auto& r = s.serial;
    std::printf(
        "%s chip vid=%04X pid=%04X max_power=%u manufacturer=\"%s\" product=\"%s\" "
        "serial=\"%s\" rate=%u,%u,%u,%u,0x%02X set_reports=%llu get_reports=%llu\n",
        node.c_str(), i.vid, i.pid, i.maxPower, AnsiToUtf8(i.manufacturer).c_str(),
        AnsiToUtf8(i.product).c_str(), AnsiToUtf8(i.serial).c_str(), r.baudCode, r.parityCode,
        r.stopBitsCode, r.dataBitsCode, r.timingByte, static_cast<unsigned long long>(s.setReports),
        static_cast<unsigned long long>(s.getReports));
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
        } else if (arg.rfind("--chip=", 0) == 0 && ParseIds(arg.substr(7), id)) {
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

    // Blocked before any device thread starts, so only sigwait below sees them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGHUP}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

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

    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0 || sig != SIGUSR1) {
            return 0;
        }
        for (const Presented& p : devices) {
            PrintState(p.node, p.device->state());
        }
        std::fflush(stdout);
    }
}
