#pragma once
// Files sysfs keeps for a hidraw node: its report descriptor
// (/sys/class/hidraw/hidrawN/device/report_descriptor) and its attributes. Linux only. Reads a
// regular file only (never blocks on a device or a pipe) and at most 4096 bytes, the most a
// report descriptor (HID_MAX_DESCRIPTOR_SIZE) or an attribute (a page) can hold.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::hid {

inline constexpr std::size_t MAX_DESCRIPTOR_BYTES = 4096;  // the kernel's HID_MAX_DESCRIPTOR_SIZE

// The file's bytes in `out`; false with the reason in `error` (if given) when it cannot be
// read or is no regular file.
bool ReadSysfsFile(const std::string& file, std::vector<std::uint8_t>& out,
                   std::string* error = nullptr);

// The folder of the hidraw node at `devnode` (/dev/hidrawN) under the sysfs mounted at
// `sysfs`: <sysfs>/class/hidraw/hidrawN; empty for any other path.
[[nodiscard]] std::string HidrawSysfsDir(const std::string& devnode,
                                         const std::string& sysfs = "/sys");

// The descriptor file of the hidraw node at `devnode` (/dev/hidrawN); empty for any other path.
[[nodiscard]] std::string DescriptorFileOf(const std::string& devnode);

}  // namespace kx::hid
