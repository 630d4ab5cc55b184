#pragma once
// Device paths as the library spells them, and as the user sees them. A path is the
// library's 8-bit text: UTF-8 on Linux, the ANSI code page (CP936) on Windows, where it must
// be converted to and from the UTF-8 of the window operations and the terminal. The
// conversions: one file per platform, device/linux/DevicePath.cpp and device/win32/.

#include <algorithm>
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

// The same path in any ASCII letter case: a listed path may have been upper-cased for the
// list, or typed by a user.
[[nodiscard]] inline bool SamePathIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// `wanted` looked up in [first, last) in any letter case, `pathOf` giving each item's path:
// the first item it names (last for none), and whether it also names one spelled
// differently, which only case tells apart, so neither may be taken for it.
template <class It>
struct PathLookup {
    It match;
    bool ambiguous = false;
};
template <class It, class PathOf>
[[nodiscard]] PathLookup<It> LookUpPath(It first, It last, std::string_view wanted, PathOf pathOf) {
    PathLookup<It> r{last};
    for (It i = first; i != last; ++i) {
        if (!SamePathIgnoringCase(pathOf(*i), wanted)) {
            continue;
        }
        if (r.match == last) {
            r.match = i;
        } else if (std::string_view(pathOf(*r.match)) != std::string_view(pathOf(*i))) {
            r.ambiguous = true;
        }
    }
    return r;
}

}  // namespace kx
