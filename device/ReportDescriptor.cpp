#include "device/ReportDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace kx::hid {

namespace {

struct Globals {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;   // bits per field
    std::uint32_t reportCount = 0;  // fields
    std::uint8_t reportId = 0;
};

using BitsById = std::map<std::uint8_t, std::uint64_t>;

struct Parsed {
    BitsById input, output;
    BitsById chipFeature;  // feature reports inside top-level collections on the chip's page
    std::vector<std::uint16_t> pages;  // of each top-level collection
};

constexpr std::size_t MAX_PUSH_DEPTH = 16;
// Far beyond any HID report (the USB limit is 64 KiB of data per report).
constexpr std::uint64_t MAX_REPORT_BITS = 0xFFFFull * 8;

std::optional<Parsed> Parse(std::span<const std::uint8_t> d) {
    Parsed out;
    Globals g;
    std::vector<Globals> stack;
    std::uint32_t usage = 0;  // the last Usage item, for the collection it opens
    bool extendedUsage = false;
    std::size_t depth = 0;
    bool onChipPage = false;  // the open top-level collection's page
    std::size_t i = 0;
    while (i < d.size()) {
        const std::uint8_t prefix = d[i];
        if (prefix == 0xFE) {  // long item: prefix, size, tag, data
            if (i + 2 >= d.size()) {
                return std::nullopt;
            }
            const std::size_t n = d[i + 1];
            if (n > d.size() - i - 3) {
                return std::nullopt;
            }
            i += 3 + n;
            continue;
        }
        const std::size_t n = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (n > d.size() - i - 1) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < n; ++k) {
            value |= static_cast<std::uint32_t>(d[i + 1 + k]) << (8 * k);
        }
        const int type = (prefix >> 2) & 3;
        const int tag = (prefix >> 4) & 0xF;
        if (type == 1) {  // global
            switch (tag) {
                case 0x0:
                    g.usagePage = value;
                    break;
                case 0x7:
                    g.reportSize = value;
                    break;
                case 0x8:
                    g.reportId = static_cast<std::uint8_t>(value);
                    break;
                case 0x9:
                    g.reportCount = value;
                    break;
                case 0xA:
                    if (stack.size() >= MAX_PUSH_DEPTH) {
                        return std::nullopt;
                    }
                    stack.push_back(g);
                    break;
                case 0xB:
                    if (stack.empty()) {
                        return std::nullopt;
                    }
                    g = stack.back();
                    stack.pop_back();
                    break;
                default:
                    break;
            }
        } else if (type == 2 && tag == 0x0) {  // Usage; four bytes carry their own page
            usage = value;
            extendedUsage = n == 4;
        } else if (type == 0) {  // main items end the local state
            if (tag == 0xA) {    // Collection
                if (depth == 0) {
                    const std::uint32_t page = extendedUsage ? usage >> 16 : g.usagePage;
                    onChipPage = page == protocol::VENDOR_USAGE_PAGE;
                    out.pages.push_back(static_cast<std::uint16_t>(page));
                }
                ++depth;
            } else if (tag == 0xC) {  // End Collection
                depth -= depth > 0 ? 1 : 0;
            } else if (tag == 0x8 || tag == 0x9 || tag == 0xB) {  // Input, Output, Feature
                const std::uint64_t bits = std::uint64_t{g.reportSize} * g.reportCount;
                BitsById* target = tag == 0x8 ? &out.input : tag == 0x9 ? &out.output : nullptr;
                if (tag == 0xB && depth > 0 && onChipPage) {
                    target = &out.chipFeature;
                }
                if (target != nullptr && ((*target)[g.reportId] += bits) > MAX_REPORT_BITS) {
                    return std::nullopt;
                }
            }
            usage = 0;
            extendedUsage = false;
        }
        i += 1 + n;
    }
    return out;
}

}  // namespace

std::optional<ReportLengths> ParseReportLengths(std::span<const std::uint8_t> d) {
    const auto summary = SummarizeReportDescriptor(d);
    return summary ? std::optional(summary->lengths) : std::nullopt;
}

std::optional<DescriptorSummary> SummarizeReportDescriptor(std::span<const std::uint8_t> d) {
    const std::optional<Parsed> parsed = Parse(d);
    if (!parsed) {
        return std::nullopt;
    }
    const auto longest = [](const BitsById& m) -> std::uint16_t {
        std::uint64_t best = 0;
        for (const auto& [id, bits] : m) {
            best = std::max(best, (bits + 7) / 8);
        }
        return m.empty() ? 0
                         : static_cast<std::uint16_t>(std::min<std::uint64_t>(best + 1, 0xFFFF));
    };
    const auto it = parsed->chipFeature.find(protocol::REPORT_ID);
    const bool chip =
        it != parsed->chipFeature.end() && it->second == (protocol::REPORT_SIZE - 1u) * 8u;
    return DescriptorSummary{
        {longest(parsed->input), longest(parsed->output)}, parsed->pages, chip};
}

bool IsChipReportDescriptor(std::span<const std::uint8_t> d) {
    const std::optional<DescriptorSummary> summary = SummarizeReportDescriptor(d);
    return summary && summary->chip;
}

}  // namespace kx::hid
