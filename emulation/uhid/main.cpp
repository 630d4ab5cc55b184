// kx4701-uhid: emulated KX4701 chips (and plain keyboards) on real hidraw nodes, for as long
// as it runs. SIGUSR1 prints every device's stored state; SIGINT or SIGTERM removes the
// devices and ends the program.

#include "emulation/Emulator.h"
#include "emulation/uhid/UhidDevice.h"

int main(int argc, char** argv) {
    using kx::emu::DeviceKind, kx::emu::DeviceRequest, kx::emu::uhid::UhidDevice;
    const kx::emu::EmulatorProgram program{
        "kx4701-uhid",
        "usage: kx4701-uhid [--chip[=VID:PID]]... [--keyboard=NAME]...\n"
        "Presents emulated KX4701 chips (factory identity unless VID:PID, four hex digits each)\n"
        "and plain keyboards through /dev/uhid until SIGINT or SIGTERM; with no option, one\n"
        "chip. SIGUSR1 prints the state each device stores. Needs write access to /dev/uhid.\n",
        false, 5000};
    return kx::emu::RunEmulator<UhidDevice>(
        program, argc, argv, [](const DeviceRequest& r, std::string* error) {
            return r.kind == DeviceKind::Chip
                       ? UhidDevice::createChip(r.identity, error)
                       : UhidDevice::createKeyboard(r.identity.product, error);
        });
}
