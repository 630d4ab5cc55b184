#include "device/ReportDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace kx::hid {

namespace {

struct Globals {
    std::uint32_t reportSize = 0;   // bits per field
    std::uint32_t reportCount = 0;  // fields
    std::uint8_t reportId = 0;
};

constexpr std::size_t MAX_PUSH_DEPTH = 16;
// Far beyond any HID report (the USB limit is 64 KiB of data per report).
constexpr std::uint64_t MAX_REPORT_BITS = 0xFFFFull * 8;

}  // namespace

std::optional<ReportLengths> ParseReportLengths(std::span<const std::uint8_t> d) {
    Globals g;
    std::vector<Globals> stack;
    std::map<std::uint8_t, std::uint64_t> inputBits, outputBits;
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
        } else if (type == 0 && (tag == 0x8 || tag == 0x9)) {  // Input, Output
            auto& bits = (tag == 0x8 ? inputBits : outputBits)[g.reportId];
            bits += std::uint64_t{g.reportSize} * g.reportCount;
            if (bits > MAX_REPORT_BITS) {
                return std::nullopt;
            }
        }
        i += 1 + n;
    }
    const auto longest = [](const std::map<std::uint8_t, std::uint64_t>& m) -> std::uint16_t {
        std::uint64_t best = 0;
        for (const auto& [id, bits] : m) {
            best = std::max(best, (bits + 7) / 8);
        }
        return m.empty() ? 0
                         : static_cast<std::uint16_t>(std::min<std::uint64_t>(best + 1, 0xFFFF));
    };
    return ReportLengths{longest(inputBits), longest(outputBits)};
}

}  // namespace kx::hid
