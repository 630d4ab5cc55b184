#pragma once
// A HID report descriptor from a file, as sysfs keeps one for every hidraw node
// (/sys/class/hidraw/hidrawN/device/report_descriptor). Linux only. Reads a regular file
// only (never blocks on a device or a pipe) and at most HID_MAX_DESCRIPTOR_SIZE bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace kx::hid {

inline constexpr std::size_t MAX_DESCRIPTOR_BYTES = 4096;  // the kernel's HID_MAX_DESCRIPTOR_SIZE

// The file's bytes in `out`; false with the reason in `error` (if given) when it cannot be
// read or is no regular file.
bool ReadDescriptorFile(const std::string& file, std::vector<std::uint8_t>& out,
                        std::string* error = nullptr);

// The descriptor file of the hidraw node at `devnode` (/dev/hidrawN); empty for any other path.
[[nodiscard]] std::string DescriptorFileOf(const std::string& devnode);

}  // namespace kx::hid
