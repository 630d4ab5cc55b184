#pragma once
// Report lengths from a raw HID report descriptor, for platforms whose HID layer does not
// report them. Pure; reads only the bytes it is given.

#include <cstdint>
#include <optional>
#include <span>

namespace kx::hid {

// Byte lengths of the longest input and output report, counted as Windows counts them:
// the report id byte is always included, and a direction without reports has length 0.
struct ReportLengths {
    std::uint16_t input = 0;
    std::uint16_t output = 0;
};

// nullopt when the descriptor is malformed (an item running past the end, a Pop without a
// Push, sizes beyond any real report).
[[nodiscard]] std::optional<ReportLengths> ParseReportLengths(
    std::span<const std::uint8_t> descriptor);

}  // namespace kx::hid
