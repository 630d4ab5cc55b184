#include "emulation/usbip/UsbDescriptors.h"

#include "config/TextCodec.h"

namespace kx::emu::usbip {

namespace {

constexpr std::uint8_t TYPE_DEVICE = 1, TYPE_CONFIGURATION = 2, TYPE_STRING = 3, TYPE_INTERFACE = 4,
                       TYPE_ENDPOINT = 5, TYPE_HID = 0x21, TYPE_REPORT = 0x22;
constexpr std::size_t MAX_STRING_UNITS = 126;  // (255 - 2) / 2

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::uint8_t Index(const std::string& text, std::uint8_t index) {
    return text.empty() ? 0 : index;
}

}  // namespace

std::vector<std::uint8_t> DeviceDescriptor(const emu::ChipIdentity& id) {
    std::vector<std::uint8_t> d = {18, TYPE_DEVICE};
    Put16(d, 0x0200);                                   // bcdUSB
    d.insert(d.end(), {0, 0, 0, CONTROL_PACKET_SIZE});  // class in the interface
    Put16(d, id.vid);
    Put16(d, id.pid);
    Put16(d, id.version);
    d.insert(d.end(), {Index(id.manufacturer, STRING_MANUFACTURER),
                       Index(id.product, STRING_PRODUCT), Index(id.serial, STRING_SERIAL), 1});
    return d;
}

std::vector<std::uint8_t> HidDescriptor(const HidInterface& in) {
    std::vector<std::uint8_t> d = {9, TYPE_HID};
    Put16(d, 0x0111);  // bcdHID
    d.insert(d.end(), {0, 1, TYPE_REPORT});
    Put16(d, in.reportDescriptorSize);
    return d;
}

std::vector<std::uint8_t> ConfigurationDescriptor(std::uint8_t maxPower, const HidInterface& in) {
    const std::uint8_t endpoints = in.outPacket != 0 ? 2 : 1;
    const auto total = static_cast<std::uint16_t>(9 + 9 + 9 + 7 * endpoints);
    std::vector<std::uint8_t> d = {9, TYPE_CONFIGURATION};
    Put16(d, total);
    d.insert(d.end(), {1, 1, 0, 0x80, maxPower});  // one interface, value 1, bus-powered
    const std::uint8_t sub = in.bootKeyboard ? 1 : 0;
    d.insert(d.end(), {9, TYPE_INTERFACE, 0, 0, endpoints, 3, sub, sub, 0});
    const std::vector<std::uint8_t> hid = HidDescriptor(in);
    d.insert(d.end(), hid.begin(), hid.end());
    d.insert(d.end(), {7, TYPE_ENDPOINT, 0x81, 0x03, in.inPacket, 0, in.intervalMs});
    if (in.outPacket != 0) {
        d.insert(d.end(), {7, TYPE_ENDPOINT, 0x01, 0x03, in.outPacket, 0, in.intervalMs});
    }
    return d;
}

std::vector<std::uint8_t> LanguageDescriptor() {
    std::vector<std::uint8_t> d = {4, TYPE_STRING};
    Put16(d, LANGUAGE_EN_US);
    return d;
}

std::vector<std::uint8_t> StringDescriptor(std::string_view cp936) {
    const std::u16string units = text::AnsiToUtf16(cp936);
    const std::size_t n = text::Utf16PrefixLength(units, MAX_STRING_UNITS);
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * n), TYPE_STRING};
    for (std::size_t i = 0; i < n; ++i) {
        Put16(d, units[i]);
    }
    return d;
}

}  // namespace kx::emu::usbip
