#pragma once
// The manufacturer, product and serial strings of a hidraw node, read from sysfs as the
// kernel holds them (UTF-8) and decoded here, never through the C library's locale: a
// process left in the C locale (the command-line tool, a service, a cron job) reads a
// Chinese string as a UTF-8 desktop does, and nothing else in the process changes with it.
// Bytes that are not UTF-8 become U+FFFD. Linux only.
//
// The strings come from where hidapi's hidraw backend takes them: the serial from the HID
// device's unique id; on the USB bus the manufacturer and product from the USB device; on
// any other bus, and for a USB HID device without a USB parent (uhid), no manufacturer and
// the HID device's name as the product.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx::hid {

struct DeviceStrings {
    std::u16string manufacturer, product, serial;
    friend bool operator==(const DeviceStrings&, const DeviceStrings&) = default;
};

// A HID device's uevent file: the bus (HID_ID's first field), HID_NAME and HID_UNIQ;
// nullopt when one of them is missing (hidapi lists no such device).
struct HidUevent {
    unsigned bus = 0, vendor = 0, product = 0;
    std::string name, uniq;
};
[[nodiscard]] std::optional<HidUevent> ParseHidUevent(std::string_view text);

// The strings of the hidraw node `devnode` (/dev/hidrawN) in the sysfs mounted at `sysfs`;
// nullopt when sysfs has no HID device for it (gone, or not a hidraw path).
[[nodiscard]] std::optional<DeviceStrings> ReadDeviceStrings(const std::string& devnode,
                                                             const std::string& sysfs = "/sys");

// The ids hidapi gives an open device, from the same files: vendor and product from HID_ID,
// the release from the USB device's bcdDevice (0 without a USB parent, as hidapi has it).
// Cheaper than hidapi's own, which asks udev.
struct DeviceIds {
    std::uint16_t vendor = 0, product = 0, release = 0;
};

// The strings and the ids from one walk of sysfs; nullopt as for the strings.
[[nodiscard]] std::optional<std::pair<DeviceStrings, DeviceIds>> ReadDeviceStringsAndIds(
    const std::string& devnode, const std::string& sysfs = "/sys");

// The USB port the hidraw node's USB device sits on: its name in sysfs, the bus's topology
// path ("1-1.3"), which stays while the device leaves the bus and comes back. Empty without
// a USB parent (uhid, Bluetooth) or when the node is gone.
[[nodiscard]] std::string UsbPortOf(const std::string& devnode, const std::string& sysfs = "/sys");

// The HID device behind the hidraw node: its name in sysfs ("0003:3C5B:B207.0012"), which the
// kernel gives no other device while it runs, though the node's own name (hidrawN) is given
// again to the next device plugged. Empty when the node is gone.
[[nodiscard]] std::string HidDeviceOf(const std::string& devnode,
                                      const std::string& sysfs = "/sys");

}  // namespace kx::hid
