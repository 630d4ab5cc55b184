// kx4701-usbip: emulated KX4701 chips (and plain keyboards) on the kernel's USB bus through
// the USB/IP virtual host controller, for as long as it runs. SIGUSR1 prints every device's
// node and stored state (a chip's node changes when it re-enumerates); SIGINT or SIGTERM
// detaches the devices and ends the program.

#include "emulation/Emulator.h"
#include "emulation/usbip/UsbipDevice.h"

int main(int argc, char** argv) {
    using kx::emu::DeviceKind, kx::emu::DeviceRequest, kx::emu::usbip::UsbipDevice;
    const kx::emu::EmulatorProgram program{
        "kx4701-usbip",
        "usage: kx4701-usbip [--chip[=VID:PID]]... [--keyboard=NAME]... [--fake-chip]...\n"
        "Attaches emulated KX4701 chips (factory identity unless VID:PID, four hex digits\n"
        "each), plain USB keyboards, and keyboards that claim the chip's factory ids\n"
        "(--fake-chip) to the vhci-hcd host controller until SIGINT or SIGTERM; with no option,\n"
        "one chip. SIGUSR1 prints each device's node and stored state. Needs root and the\n"
        "vhci-hcd module.\n",
        true, 10000};
    return kx::emu::RunEmulator<UsbipDevice>(
        program, argc, argv, [](const DeviceRequest& r, std::string* error) {
            if (r.kind == DeviceKind::Chip) {
                return UsbipDevice::createChip(r.identity, error);
            }
            kx::emu::ChipIdentity keyboard = UsbipDevice::KeyboardIdentity(r.identity.product);
            if (r.claimsChipIds) {
                keyboard.vid = r.identity.vid;
                keyboard.pid = r.identity.pid;
            }
            return UsbipDevice::createKeyboard(keyboard, error);
        });
}
