#include "config/StatusTexts.h"

#include <cstdio>

#include "config/Utf8.h"

namespace kx::status {
namespace {

std::size_t Cp936Width(char32_t cp) {
    return cp < 0x80 ? 1 : 2;
}

std::string Hex(std::uint16_t value, const char* format) {
    char buffer[8] = {};
    std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(value));
    return buffer;
}

}  // namespace

std::string FormatStatus(std::string_view message) {
    std::string out(STATUS_PREFIX);
    std::size_t width = 0;
    for (std::size_t pos = 0; pos < out.size();) {
        width += Cp936Width(text::detail::NextUtf8(out, pos));
    }
    const std::size_t budget = STATUS_BUFFER_BYTES - 1;
    for (std::size_t pos = 0; pos < message.size();) {
        const std::size_t start = pos;
        const char32_t cp = text::detail::NextUtf8(message, pos);
        if (cp == text::detail::INVALID_CODE_POINT) {
            continue;
        }
        width += Cp936Width(cp);
        if (width > budget) {
            break;
        }
        out.append(message.substr(start, pos - start));
    }
    return out;
}

std::string FormatDeviceInfo(std::uint16_t vid, std::uint16_t pid, std::uint16_t version) {
    return "设备已连接,VID=" + Hex(vid, "%X") + "PID=" + Hex(pid, "%X") +
           " VER=" + Hex(version, "%X") + " ";
}

std::string FormatHex4(std::uint16_t value) {
    return Hex(value, "%04X");
}

}  // namespace kx::status
