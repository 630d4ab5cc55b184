#pragma once
// What the emulator programs (kx4701-uhid, kx4701-usbip) share: the devices they present,
// the one line that describes each, their options and their run. SIGUSR1 prints each
// device's state; SIGINT, SIGTERM or SIGHUP ends the program. Linux only.

#include <signal.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulation/VirtualChip.h"

namespace kx::emu {

enum class DeviceKind { Chip, Keyboard };

struct DeviceState {
    DeviceKind kind = DeviceKind::Chip;
    ChipIdentity identity;                            // a keyboard: its ids and name (as product)
    SerialDefaults serial = FACTORY_SERIAL_DEFAULTS;  // a keyboard: unused
    std::uint64_t setReports = 0;                     // SET_REPORT requests the kernel passed on
    std::uint64_t getReports = 0;                     // GET_REPORT requests the kernel passed on
};

// The node, then what the device stores ("/dev/hidraw0 chip vid=3C5B pid=B207 ..." or
// "... keyboard product=...").
[[nodiscard]] std::string DescribeState(const std::string& node, const DeviceState& state);

// Sets `error` (if given) to "step: reason of errno `code`" and returns false.
bool Fail(std::string* error, const std::string& step, int code);

// One device the command line asks for.
struct DeviceRequest {
    DeviceKind kind = DeviceKind::Chip;
    ChipIdentity identity;       // a chip: its ids; a keyboard: its name as product
    bool claimsChipIds = false;  // a keyboard with the chip's factory ids (--fake-chip)
};

struct EmulatorProgram {
    const char* name;
    const char* usage;
    bool fakeChips;     // takes --fake-chip
    int nodeTimeoutMs;  // how long a device's hidraw node may take to appear
};

// --chip[=VID:PID], --keyboard=NAME and (where taken) --fake-chip, in order; no option is
// one chip. nullopt after --help or a bad argument, with the exit status in `status`.
[[nodiscard]] std::optional<std::vector<DeviceRequest>> ParseEmulatorArguments(
    const EmulatorProgram& program, int argc, char** argv, int& status);

// Blocked before any device thread starts, so that only the waiting main thread sees them.
[[nodiscard]] sigset_t BlockEmulatorSignals();
// Runs `printAll` (then flushes) on each SIGUSR1; returns on any other of the signals.
void ServeUntilStopped(const sigset_t& signals, const std::function<void()>& printAll);

// The whole program over one transport: `make` presents a requested device (nullptr and
// `error` when it cannot); each Device has hidrawNode(int timeoutMs) and state().
template <class Device>
int RunEmulator(
    const EmulatorProgram& program, int argc, char** argv,
    const std::function<std::unique_ptr<Device>(const DeviceRequest&, std::string* error)>& make) {
    int status = 0;
    const auto requests = ParseEmulatorArguments(program, argc, argv, status);
    if (!requests) {
        return status;
    }
    const sigset_t signals = BlockEmulatorSignals();
    // The node is asked anew each time: a USB chip's changes when it re-enumerates.
    const auto print = [&](const Device& d) {
        std::printf("%s\n", DescribeState(d.hidrawNode(program.nodeTimeoutMs), d.state()).c_str());
    };
    std::vector<std::unique_ptr<Device>> devices;
    for (const DeviceRequest& request : *requests) {
        std::string error;
        auto device = make(request, &error);
        if (device && device->hidrawNode(program.nodeTimeoutMs).empty()) {
            device.reset();
            error = "no hidraw node appeared for a device";
        }
        if (!device) {
            std::fprintf(stderr, "%s: %s\n", program.name, error.c_str());
            return 1;  // the devices made so far go away on the way out
        }
        devices.push_back(std::move(device));
        print(*devices.back());
    }
    std::fflush(stdout);
    ServeUntilStopped(signals, [&] {
        for (const auto& d : devices) {
            print(*d);
        }
    });
    return 0;
}

}  // namespace kx::emu
