#pragma once
// Device paths as the library spells them, and as the user sees them. A path is the
// library's 8-bit text: UTF-8 on Linux, the ANSI code page (CP936) on Windows, where it must
// be converted to and from the UTF-8 of the window operations and the terminal. One file
// per platform: device/linux/DevicePath.cpp, device/win32/DevicePath.cpp.

#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// The path for display, as UTF-8. Never fails: invalid bytes become U+FFFD on Windows.
[[nodiscard]] std::string DevicePathToUtf8(std::string_view path);
// The library's spelling of a UTF-8 path; empty when the text cannot be spelled so (a
// character the code page lacks), which no device has.
[[nodiscard]] std::string DevicePathFromUtf8(std::string_view utf8);
// CharUpperBuffA over the first `length` bytes, in place.
void UpperCaseDevicePath(char* path, std::size_t length);

}  // namespace kx
