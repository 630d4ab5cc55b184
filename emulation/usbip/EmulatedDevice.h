#pragma once
// What an emulated KX4701 (or plain keyboard) does with each USB transfer the host sends,
// without any transport: its standard requests from the descriptors of the identity it
// presents, the HID class requests, and the feature report 0x4B answered by the chip logic of
// the bench (VirtualChip). Pure; the USB/IP transport (UsbipDevice) carries the transfers.
//
// A chip presents the identity it stored when it was last enumerated. When a command changes
// the stored identity (an identity commit, a factory reset), the chip asks to be enumerated
// again once the host has read the command's final reply.

#include <cstdint>
#include <span>
#include <vector>

#include "emulation/Emulator.h"
#include "emulation/VirtualChip.h"
#include "emulation/usbip/UsbipProtocol.h"

namespace kx::emu::usbip {

// A transfer's outcome: the IN data (at most the length asked for), or a stall.
struct Transfer {
    bool stall = false;
    std::vector<std::uint8_t> in;
};

class EmulatedDevice {
  public:
    // A chip storing `identity`; a factory reset restores the default ChipIdentity.
    static EmulatedDevice chip(const emu::ChipIdentity& identity);
    // A boot keyboard presenting `identity` (it stores nothing); it fails every feature report.
    static EmulatedDevice keyboard(const emu::ChipIdentity& identity);

    // A control transfer on endpoint 0 with its OUT data.
    Transfer control(const Setup& setup, std::span<const std::uint8_t> out);
    // An interrupt OUT transfer (an output report): taken and dropped.
    Transfer interruptOut(std::span<const std::uint8_t> out);

    emu::DeviceKind kind() const { return kind_; }
    const emu::ChipIdentity& presented() const { return presented_; }
    emu::VirtualChip& chipLogic() { return chip_; }
    const emu::VirtualChip& chipLogic() const { return chip_; }
    std::uint64_t setReports() const { return setReports_; }
    std::uint64_t getReports() const { return getReports_; }

    // True once the stored identity differs from the presented one and the host has read the
    // final reply of the command that changed it.
    bool reenumerationDue() const { return reenumerationDue_; }
    // Called when the device comes back on the bus: it now presents what it stores.
    void reenumerated();

  private:
    EmulatedDevice(emu::DeviceKind kind, const emu::ChipIdentity& identity);
    Transfer standard(const Setup& setup);
    Transfer hidClass(const Setup& setup, std::span<const std::uint8_t> out);

    emu::DeviceKind kind_;
    emu::ChipIdentity presented_;
    emu::VirtualChip chip_;
    std::uint8_t configuration_ = 0;
    std::uint64_t setReports_ = 0, getReports_ = 0;
    bool reenumerationDue_ = false;
};

}  // namespace kx::emu::usbip
