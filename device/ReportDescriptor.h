#pragma once
// Report lengths from a raw HID report descriptor, for platforms whose HID layer does not
// report them, and the check that tells a KX4701 by its descriptor. Pure; reads only the
// bytes it is given.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "device/Protocol.h"

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

// The report lengths, the usage page of each top-level collection in order, and whether it
// is a KX4701's (IsChipReportDescriptor): what an open device declares about itself. nullopt
// when the descriptor is malformed.
struct DescriptorSummary {
    ReportLengths lengths;
    std::vector<std::uint16_t> usagePages;
    bool chip = false;
};
[[nodiscard]] std::optional<DescriptorSummary> SummarizeReportDescriptor(
    std::span<const std::uint8_t> descriptor);

// True when `descriptor` is a KX4701's: a top-level collection on the protocol's vendor page
// holding its feature report (protocol::REPORT_ID, REPORT_SIZE bytes with the id). False for
// anything else, a malformed descriptor included; ids alone never make a chip.
[[nodiscard]] bool IsChipReportDescriptor(std::span<const std::uint8_t> descriptor);

}  // namespace kx::hid
