#pragma once
// The report descriptors the emulated devices present, whatever carries them (the bench, uhid,
// USB/IP). The chip's is built from the protocol's constants, so every transport declares the
// same reports and reports the same buffer lengths.

#include <cstdint>
#include <vector>

namespace kx::emu {

// Vendor page 0xFF47: input and output reports (id 1) and the feature report 0x4B the
// protocol travels in, each protocol::REPORT_SIZE bytes with its id, so that a report fills
// one full-speed packet.
const std::vector<std::uint8_t>& ChipReportDescriptor();
// A boot keyboard without report ids; it has no feature report.
const std::vector<std::uint8_t>& KeyboardReportDescriptor();
// The ids and version every transport's plain keyboard presents.
inline constexpr std::uint16_t KEYBOARD_VID = 0x046D, KEYBOARD_PID = 0xC31C,
                               KEYBOARD_VERSION = 0x0110;

}  // namespace kx::emu
