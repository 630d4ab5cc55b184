#include "emulation/ReportDescriptors.h"

#include "device/Protocol.h"

namespace kx::emu {

namespace {

constexpr std::uint8_t IO_REPORT_ID = 1;
// Items count the report's data bytes; the id byte comes on top.
constexpr auto DATA_BYTES = static_cast<std::uint8_t>(protocol::REPORT_SIZE - 1);

constexpr std::uint8_t Low(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
constexpr std::uint8_t High(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

const std::vector<std::uint8_t>& ChipReportDescriptor() {
    static const std::vector<std::uint8_t> d = {
        0x06,
        Low(protocol::VENDOR_USAGE_PAGE),
        High(protocol::VENDOR_USAGE_PAGE),  // Usage Page
        0x09,
        Low(protocol::VENDOR_USAGE),  // Usage
        0xA1,
        0x01,  // Collection (Application)
        0x85,
        IO_REPORT_ID,  //   Report ID
        0x15,
        0x00,  //   Logical Minimum (0)
        0x26,
        0xFF,
        0x00,  //   Logical Maximum (255)
        0x75,
        0x08,  //   Report Size (8)
        0x95,
        DATA_BYTES,  //   Report Count
        0x09,
        0x01,
        0x81,
        0x02,  //   Input
        0x09,
        0x01,
        0x91,
        0x02,  //   Output
        0x85,
        protocol::REPORT_ID,  //   Report ID
        0x95,
        DATA_BYTES,  //   Report Count
        0x09,
        0x01,
        0xB1,
        0x02,  //   Feature
        0xC0,  // End Collection
    };
    return d;
}

const std::vector<std::uint8_t>& KeyboardReportDescriptor() {
    static const std::vector<std::uint8_t> d = {
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15,
        0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08,
        0x81, 0x01, 0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91,
        0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00,
        0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
    };
    return d;
}

}  // namespace kx::emu
