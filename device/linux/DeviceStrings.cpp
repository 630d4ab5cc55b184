#include "device/linux/DeviceStrings.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <vector>

#include "config/TextCodec.h"
#include "device/linux/DescriptorFile.h"

namespace kx::hid {
namespace {

constexpr unsigned BUS_USB = 0x03;
// A USB HID device sits two levels below its USB device; a receiver's paired devices three.
constexpr int MAX_LEVELS_UP = 8;

// An attribute's value as udev gives it: without the newline sysfs ends it with.
std::optional<std::string> ReadAttribute(const std::string& file) {
    std::vector<std::uint8_t> bytes;
    if (!ReadSysfsFile(file, bytes)) {
        return std::nullopt;
    }
    std::string value(bytes.begin(), bytes.end());
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
        value.pop_back();
    }
    return value;
}

std::u16string Decode(std::string_view utf8) {
    return text::Utf8ToUtf16(utf8);
}

// HID_ID=0003:00003C5B:0000B207: bus, vendor and product in hexadecimal.
bool ParseHidId(std::string_view value, HidUevent& out) {
    const char* at = value.data();
    const char* const end = value.data() + value.size();
    for (int field = 0; field < 3; ++field) {
        unsigned number = 0;
        const auto [next, ec] = std::from_chars(at, end, number, 16);
        if (ec != std::errc() || (field < 2 ? next == end || *next != ':' : next != end)) {
            return false;
        }
        (field == 0 ? out.bus : field == 1 ? out.vendor : out.product) = number;
        at = next + 1;
    }
    return true;
}

bool IsUsbDevice(std::string_view uevent) {
    for (std::size_t at = 0; at < uevent.size();) {
        const std::size_t end = std::min(uevent.find('\n', at), uevent.size());
        if (uevent.substr(at, end - at) == "DEVTYPE=usb_device") {
            return true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

std::optional<HidUevent> ParseHidUevent(std::string_view text) {
    HidUevent out;
    bool id = false, name = false, uniq = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "HID_ID") {
            id = ParseHidId(value, out);
        } else if (key == "HID_NAME") {
            out.name = value;
            name = true;
        } else if (key == "HID_UNIQ") {
            out.uniq = value;
            uniq = true;
        }
    }
    if (!id || !name || !uniq) {
        return std::nullopt;
    }
    return out;
}

namespace {

// The node's HID device (its uevent parsed) and, on the USB bus, its USB device's folder
// (empty when there is none, as for uhid).
struct Found {
    HidUevent hid;
    std::string usb;
};

std::optional<Found> FindDevice(const std::string& devnode, const std::string& sysfs) {
    const std::string node = HidrawSysfsDir(devnode, sysfs);
    if (node.empty()) {
        return std::nullopt;
    }
    std::string dir = node + "/device";
    const std::optional<std::string> uevent = ReadAttribute(dir + "/uevent");
    const std::optional<HidUevent> hid = uevent ? ParseHidUevent(*uevent) : std::nullopt;
    if (!hid) {
        return std::nullopt;
    }
    Found found{*hid, {}};
    if (hid->bus != BUS_USB) {
        return found;
    }
    // The kernel resolves "device" and then "..", so each step is the real parent; the walk
    // ends where the device tree does (no uevent file).
    for (int level = 0; level < MAX_LEVELS_UP; ++level) {
        dir += "/..";
        const std::optional<std::string> parent = ReadAttribute(dir + "/uevent");
        if (!parent) {
            break;
        }
        if (IsUsbDevice(*parent)) {
            found.usb = dir;
            break;
        }
    }
    return found;
}

DeviceStrings StringsOf(const Found& found) {
    DeviceStrings s{{}, Decode(found.hid.name), Decode(found.hid.uniq)};
    if (!found.usb.empty()) {
        s.manufacturer = Decode(ReadAttribute(found.usb + "/manufacturer").value_or(""));
        s.product = Decode(ReadAttribute(found.usb + "/product").value_or(""));
    }
    return s;
}

DeviceIds IdsOf(const Found& found) {
    unsigned release = 0;
    if (!found.usb.empty()) {
        const std::string bcd = ReadAttribute(found.usb + "/bcdDevice").value_or("");
        // An unreadable bcdDevice leaves 0, as hidapi's strtol would.
        (void)std::from_chars(bcd.data(), bcd.data() + bcd.size(), release, 16);
    }
    return DeviceIds{static_cast<std::uint16_t>(found.hid.vendor),
                     static_cast<std::uint16_t>(found.hid.product),
                     static_cast<std::uint16_t>(release)};
}

}  // namespace

std::optional<DeviceStrings> ReadDeviceStrings(const std::string& devnode,
                                               const std::string& sysfs) {
    const std::optional<Found> found = FindDevice(devnode, sysfs);
    return found ? std::optional(StringsOf(*found)) : std::nullopt;
}

std::optional<std::pair<DeviceStrings, DeviceIds>> ReadDeviceStringsAndIds(
    const std::string& devnode, const std::string& sysfs) {
    const std::optional<Found> found = FindDevice(devnode, sysfs);
    return found ? std::optional(std::pair(StringsOf(*found), IdsOf(*found))) : std::nullopt;
}

std::string UsbPortOf(const std::string& devnode, const std::string& sysfs) {
    const std::optional<Found> found = FindDevice(devnode, sysfs);
    std::error_code error;
    const std::filesystem::path usb = found && !found->usb.empty()
                                          ? std::filesystem::canonical(found->usb, error)
                                          : std::filesystem::path();
    return error ? std::string() : usb.filename().string();
}

std::string HidDeviceOf(const std::string& devnode, const std::string& sysfs) {
    const std::string node = HidrawSysfsDir(devnode, sysfs);
    std::error_code error;
    const std::filesystem::path hid = node.empty()
                                          ? std::filesystem::path()
                                          : std::filesystem::canonical(node + "/device", error);
    return error ? std::string() : hid.filename().string();
}

}  // namespace kx::hid
