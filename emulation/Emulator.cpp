#include "emulation/Emulator.h"

#include <cctype>
#include <string_view>
#include <system_error>

#include "config/TextCodec.h"

namespace kx::emu {

namespace {

// "VVVV:PPPP", four hex digits each, into `id`; false (and `id` unchanged) for anything else.
bool ParseVidPid(std::string_view text, ChipIdentity& id) {
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

}  // namespace

bool Fail(std::string* error, const std::string& step, int code) {
    if (error != nullptr) {
        *error = step + ": " + std::generic_category().message(code);
    }
    return false;
}

std::string DescribeState(const std::string& node, const DeviceState& s) {
    using text::AnsiToUtf8;
    const auto count = [](std::uint64_t n) { return std::to_string(n); };
    const std::string reports =
        " set_reports=" + count(s.setReports) + " get_reports=" + count(s.getReports);
    if (s.kind == DeviceKind::Keyboard) {
        return node + " keyboard product=\"" + AnsiToUtf8(s.identity.product) + "\"" + reports;
    }
    const auto& i = s.identity;
    const auto& r = s.serial;
    char ids[64];
    std::snprintf(ids, sizeof ids, "vid=%04X pid=%04X max_power=%u", i.vid, i.pid, i.maxPower);
    char rate[64];
    std::snprintf(rate, sizeof rate, "rate=%u,%u,%u,%u,0x%02X", r.baudCode, r.parityCode,
                  r.stopBitsCode, r.dataBitsCode, r.timingByte);
    return node + " chip " + ids + " manufacturer=\"" + AnsiToUtf8(i.manufacturer) +
           "\" product=\"" + AnsiToUtf8(i.product) + "\" serial=\"" + AnsiToUtf8(i.serial) + "\" " +
           rate + reports;
}

std::optional<std::vector<DeviceRequest>> ParseEmulatorArguments(const EmulatorProgram& program,
                                                                 int argc, char** argv,
                                                                 int& status) {
    std::vector<DeviceRequest> requests;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        DeviceRequest r;
        if (arg == "--help" || arg == "-h") {
            std::fputs(program.usage, stdout);
            status = 0;
            return std::nullopt;
        } else if (arg == "--chip" ||
                   (arg.starts_with("--chip=") && ParseVidPid(arg.substr(7), r.identity))) {
            requests.push_back(r);
        } else if (arg.starts_with("--keyboard=") && arg.size() > 11) {
            r.kind = DeviceKind::Keyboard;
            r.identity.product = std::string(arg.substr(11));
            requests.push_back(r);
        } else if (program.fakeChips && arg == "--fake-chip") {
            r.kind = DeviceKind::Keyboard;
            r.identity.product = "Fake chip";
            r.claimsChipIds = true;
            requests.push_back(r);
        } else {
            std::fprintf(stderr, "%s: bad argument '%s'\n", program.name, argv[i]);
            std::fputs(program.usage, stderr);
            status = 2;
            return std::nullopt;
        }
    }
    if (requests.empty()) {
        requests.emplace_back();
    }
    return requests;
}

sigset_t BlockEmulatorSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGHUP}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

void ServeUntilStopped(const sigset_t& signals, const std::function<void()>& printAll) {
    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0 || sig != SIGUSR1) {
            return;
        }
        printAll();
        std::fflush(stdout);
    }
}

}  // namespace kx::emu
