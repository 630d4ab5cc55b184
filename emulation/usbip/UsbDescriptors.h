#pragma once
// The USB descriptors an emulated KX4701 (or plain keyboard) presents, built from the identity
// it stores. Pure: each function returns the descriptor's bytes and owns nothing.

#include <cstdint>
#include <string_view>
#include <vector>

#include "emulation/VirtualChip.h"

namespace kx::emu::usbip {

// String descriptor indexes; a device whose text is empty has no such string (index 0).
inline constexpr std::uint8_t STRING_MANUFACTURER = 1, STRING_PRODUCT = 2, STRING_SERIAL = 3;
inline constexpr std::uint16_t LANGUAGE_EN_US = 0x0409;
inline constexpr std::uint8_t CONTROL_PACKET_SIZE = 64;

// The one HID interface: a boot keyboard (subclass 1, protocol 1) or a vendor device, its
// report descriptor's size, its interrupt IN endpoint 0x81 and, when `outPacket` is not 0,
// its interrupt OUT endpoint 0x01.
struct HidInterface {
    bool bootKeyboard = false;
    std::uint16_t reportDescriptorSize = 0;
    std::uint8_t inPacket = 64;
    std::uint8_t outPacket = 64;
    std::uint8_t intervalMs = 1;
};

// USB 2.0, full speed, class defined by the interface, one configuration: the stored VID,
// PID and version (bcdDevice), string indexes for the texts that are not empty.
[[nodiscard]] std::vector<std::uint8_t> DeviceDescriptor(const emu::ChipIdentity& identity);

// Configuration 1 (bus-powered, the stored bMaxPower) with the interface, its HID descriptor
// and endpoints, as GET_DESCRIPTOR returns it (wTotalLength bytes).
[[nodiscard]] std::vector<std::uint8_t> ConfigurationDescriptor(std::uint8_t maxPower,
                                                                const HidInterface& interface);

// The HID descriptor alone (inside the configuration too).
[[nodiscard]] std::vector<std::uint8_t> HidDescriptor(const HidInterface& interface);

// String descriptor 0: the one language, LANGUAGE_EN_US.
[[nodiscard]] std::vector<std::uint8_t> LanguageDescriptor();

// A stored CP936 text as a string descriptor: UTF-16LE, cut to the 126 units a descriptor
// holds (never inside a surrogate pair).
[[nodiscard]] std::vector<std::uint8_t> StringDescriptor(std::string_view cp936);

}  // namespace kx::emu::usbip
