#include "emulation/usbip/EmulatedDevice.h"

#include <algorithm>

#include "device/Protocol.h"
#include "emulation/ReportDescriptors.h"
#include "emulation/usbip/UsbDescriptors.h"

namespace kx::emu::usbip {

namespace {

constexpr std::uint8_t GET_STATUS = 0, CLEAR_FEATURE = 1, SET_FEATURE = 3, GET_DESCRIPTOR = 6,
                       GET_CONFIGURATION = 8, SET_CONFIGURATION = 9, GET_INTERFACE = 10,
                       SET_INTERFACE = 11;
constexpr std::uint8_t HID_GET_REPORT = 1, HID_GET_IDLE = 2, HID_GET_PROTOCOL = 3,
                       HID_SET_REPORT = 9, HID_SET_IDLE = 10, HID_SET_PROTOCOL = 11;
constexpr std::uint8_t REPORT_OUTPUT = 2, REPORT_FEATURE = 3;
constexpr std::uint8_t TYPE_CLASS = 0x20, TYPE_MASK = 0x60, DIR_IN_BIT = 0x80;

const std::vector<std::uint8_t>& ReportDescriptorOf(emu::DeviceKind kind) {
    return kind == emu::DeviceKind::Chip ? emu::ChipReportDescriptor()
                                         : emu::KeyboardReportDescriptor();
}

HidInterface InterfaceOf(emu::DeviceKind kind) {
    const auto size = static_cast<std::uint16_t>(ReportDescriptorOf(kind).size());
    if (kind == emu::DeviceKind::Chip) {
        return {false, size, 64, 64, 1};
    }
    return {true, size, 8, 0, 10};
}

Transfer In(std::vector<std::uint8_t> bytes, std::uint16_t length) {
    bytes.resize(std::min<std::size_t>(bytes.size(), length));
    return {false, std::move(bytes)};
}

const Transfer STALL{true, {}};

}  // namespace

EmulatedDevice EmulatedDevice::chip(const emu::ChipIdentity& identity) {
    return EmulatedDevice(emu::DeviceKind::Chip, identity);
}

EmulatedDevice EmulatedDevice::keyboard(const emu::ChipIdentity& identity) {
    return EmulatedDevice(emu::DeviceKind::Keyboard, identity);
}

EmulatedDevice::EmulatedDevice(emu::DeviceKind kind, const emu::ChipIdentity& identity)
    : kind_(kind), presented_(identity), chip_(identity) {}

void EmulatedDevice::reenumerated() {
    presented_ = kind_ == emu::DeviceKind::Chip ? chip_.identity() : presented_;
    configuration_ = 0;
    reenumerationDue_ = false;
}

Transfer EmulatedDevice::interruptOut(std::span<const std::uint8_t> /*out*/) {
    return {};
}

Transfer EmulatedDevice::control(const Setup& s, std::span<const std::uint8_t> out) {
    if ((s.requestType & TYPE_MASK) == TYPE_CLASS) {
        return hidClass(s, out);
    }
    if ((s.requestType & TYPE_MASK) != 0) {
        return STALL;
    }
    return standard(s);
}

Transfer EmulatedDevice::standard(const Setup& s) {
    const bool in = (s.requestType & DIR_IN_BIT) != 0;
    const std::uint8_t type = static_cast<std::uint8_t>(s.value >> 8);
    const std::uint8_t index = static_cast<std::uint8_t>(s.value & 0xFF);
    switch (s.request) {
        case GET_DESCRIPTOR:
            if (!in) {
                return STALL;
            }
            if (s.requestType == 0x81) {  // to the interface: its HID and report descriptors
                if (s.index != 0) {
                    return STALL;
                }
                if (type == 0x21) {
                    return In(HidDescriptor(InterfaceOf(kind_)), s.length);
                }
                return type == 0x22 ? In(ReportDescriptorOf(kind_), s.length) : STALL;
            }
            switch (type) {
                case 1:
                    return In(DeviceDescriptor(presented_), s.length);
                case 2:
                    return index == 0 ? In(ConfigurationDescriptor(presented_.maxPower,
                                                                   InterfaceOf(kind_)),
                                           s.length)
                                      : STALL;
                case 3: {
                    if (index == 0) {
                        return In(LanguageDescriptor(), s.length);
                    }
                    const std::string* texts[] = {&presented_.manufacturer, &presented_.product,
                                                  &presented_.serial};
                    if (index > 3 || texts[index - 1]->empty()) {
                        return STALL;
                    }
                    return In(StringDescriptor(*texts[index - 1]), s.length);
                }
                default:
                    return STALL;  // a full-speed device has no qualifier; no BOS before USB 2.1
            }
        case GET_STATUS:
            return in ? In({0, 0}, s.length) : STALL;
        case GET_CONFIGURATION:
            return in ? In({configuration_}, s.length) : STALL;
        case SET_CONFIGURATION:
            if (in || s.value > 1) {
                return STALL;
            }
            configuration_ = static_cast<std::uint8_t>(s.value);
            return {};
        case GET_INTERFACE:
            return in && s.index == 0 ? In({0}, s.length) : STALL;
        case SET_INTERFACE:
            return !in && s.index == 0 && s.value == 0 ? Transfer{} : STALL;
        case CLEAR_FEATURE:
        case SET_FEATURE:
            return in ? STALL : Transfer{};
        default:
            return STALL;
    }
}

Transfer EmulatedDevice::hidClass(const Setup& s, std::span<const std::uint8_t> out) {
    const bool in = (s.requestType & DIR_IN_BIT) != 0;
    if ((s.requestType & 0x1F) != 1 || s.index != 0) {  // to interface 0 only
        return STALL;
    }
    const std::uint8_t reportType = static_cast<std::uint8_t>(s.value >> 8);
    const std::uint8_t reportId = static_cast<std::uint8_t>(s.value & 0xFF);
    const bool chipFeature = kind_ == emu::DeviceKind::Chip && reportType == REPORT_FEATURE &&
                             reportId == protocol::REPORT_ID;
    switch (s.request) {
        case HID_GET_REPORT: {
            if (!in) {
                return STALL;
            }
            ++getReports_;
            if (!chipFeature) {
                return STALL;  // input reports come on the interrupt endpoint
            }
            std::vector<std::uint8_t> frame(protocol::REPORT_SIZE);
            const int n = chip_.reply(frame.data(), std::min<std::size_t>(s.length, frame.size()));
            frame.resize(static_cast<std::size_t>(n));
            const bool final =
                n > 3 && frame[3] != static_cast<std::uint8_t>(protocol::Status::Busy);
            if (final && chip_.identity() != presented_) {
                reenumerationDue_ = true;
            }
            return {false, std::move(frame)};
        }
        case HID_SET_REPORT:
            if (in) {
                return STALL;
            }
            ++setReports_;
            if (reportType == REPORT_OUTPUT) {
                return {};
            }
            // A report the chip does not have is refused with a stall.
            return chipFeature && chip_.receive(out.data(), out.size()) ? Transfer{} : STALL;
        case HID_SET_IDLE:
        case HID_SET_PROTOCOL:
            return in ? STALL : Transfer{};
        case HID_GET_IDLE:
            return in ? In({0}, s.length) : STALL;
        case HID_GET_PROTOCOL:
            return in ? In({1}, s.length) : STALL;
        default:
            return STALL;
    }
}

}  // namespace kx::emu::usbip
