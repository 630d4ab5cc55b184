#include "config/TextCodec.h"

#include <algorithm>
#include <cstdint>

#include "config/Cp936Backend.h"
#include "config/Utf8.h"

// Choice for U+0080 and the euro sign: the byte 0x80 is the euro sign (U+20AC) in both
// directions, as in glibc's CP936 and GBK and in the Windows code page 936 table. U+0080, a
// C1 control nobody types, then has no encoding of its own; it counts as unencodable, so
// every byte sequence we produce decodes back to the text it came from.

namespace kx::text {
namespace {

using detail::Cp936Backend;
using detail::INVALID_CODE_POINT;
using detail::IsScalar;
using detail::IsSurrogate;
using detail::REPLACEMENT;

// One codec per thread: iconv descriptors carry state and must not be shared.
class Cp936 {
  public:
    static Cp936& ForThisThread() {
        thread_local Cp936 codec;
        return codec;
    }

    // Writes the CP936 bytes of `cp` into `out`; returns their count (1 or 2), or 0 when
    // CP936 has no encoding for it (see the U+0080 choice above).
    std::size_t encode(char32_t cp, char (&out)[2]) {
        if (cp < 0x80) {
            out[0] = static_cast<char>(cp);
            return 1;
        }
        if (cp == 0x80 || !IsScalar(cp)) {
            return 0;
        }
        return backend_.encode(cp, out);
    }

    // Decodes one CP936 character at `pos` and advances past it. A lead byte with a byte
    // in the trail range counts as one (possibly undefined) character, so an undefined
    // pair never shifts the rest of the text; anything else invalid is one byte.
    char32_t decode(std::string_view ansi, std::size_t& pos) {
        const auto lead = static_cast<unsigned char>(ansi[pos]);
        if (lead < 0x80) {
            ++pos;
            return lead;
        }
        std::size_t length = 1;
        if (lead >= 0x81 && lead <= 0xFE && pos + 1 < ansi.size()) {
            const auto trail = static_cast<unsigned char>(ansi[pos + 1]);
            if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) {
                length = 2;
            }
        }
        if (length == 1 && lead != 0x80) {
            ++pos;
            return REPLACEMENT;
        }
        const char32_t cp = backend_.decode(ansi.data() + pos, length);
        pos += length;
        return cp;
    }

  private:
    Cp936Backend backend_;
};

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// The code point at src[i], a surrogate pair joined; a lone surrogate comes back as itself.
// Advances `i` past what it used.
char32_t NextUtf16(const char16_t* src, std::size_t units, std::size_t& i) {
    const char32_t unit = src[i++];
    if (unit >= 0xD800 && unit <= 0xDBFF && i < units && src[i] >= 0xDC00 && src[i] <= 0xDFFF) {
        return 0x10000 + ((unit - 0xD800) << 10) + (src[i++] - 0xDC00u);
    }
    return unit;
}

}  // namespace

std::string Utf16ToAnsi(const char16_t* src, std::size_t srcUnits, std::size_t dstBytes) {
    std::string out;
    if (src == nullptr || dstBytes == 0) {
        return out;
    }
    const std::size_t budget = dstBytes - 1;  // room for the terminator the original wrote
    Cp936& codec = Cp936::ForThisThread();
    std::size_t i = 0;
    while (i < srcUnits && src[i] != 0) {
        std::size_t next = i;
        const char32_t cp = NextUtf16(src, srcUnits, next);
        char bytes[2];
        std::size_t count = IsSurrogate(cp) ? 0 : codec.encode(cp, bytes);
        if (count == 0) {
            bytes[0] = '?';
            count = 1;
        }
        if (out.size() + count > budget) {
            break;  // a double-byte character that does not fit is left out whole
        }
        out.append(bytes, count);
        i = next;
    }
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    std::u16string out;
    out.reserve(ansi.size());
    Cp936& codec = Cp936::ForThisThread();
    std::size_t pos = 0;
    while (pos < ansi.size()) {
        AppendUtf16(out, codec.decode(ansi, pos));
    }
    return out;
}

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    Cp936& codec = Cp936::ForThisThread();
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = detail::NextUtf8(utf8, pos);
        if (cp == INVALID_CODE_POINT) {
            return std::nullopt;
        }
        char bytes[2];
        const std::size_t count = codec.encode(cp, bytes);
        if (count == 0) {
            return std::nullopt;
        }
        out.append(bytes, count);
    }
    return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size() * 3 / 2);
    Cp936& codec = Cp936::ForThisThread();
    std::size_t pos = 0;
    while (pos < ansi.size()) {
        detail::AppendUtf8(out, codec.decode(ansi, pos));
    }
    return out;
}

std::string Utf8ToAnsiForDisplay(std::string_view utf8) {
    const std::u16string utf16 = Utf8ToUtf16(utf8);
    return Utf16ToAnsi(utf16.data(), utf16.size(), utf16.size() * 2 + 1);
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = detail::NextUtf8(utf8, pos);
        AppendUtf16(out, cp == INVALID_CODE_POINT ? REPLACEMENT : cp);
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 3);
    std::size_t i = 0;
    while (i < utf16.size()) {
        const char32_t cp = NextUtf16(utf16.data(), utf16.size(), i);
        detail::AppendUtf8(out, IsSurrogate(cp) ? REPLACEMENT : cp);
    }
    return out;
}

std::optional<char32_t> FirstUnencodable(std::string_view utf8) {
    Cp936& codec = Cp936::ForThisThread();
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = detail::NextUtf8(utf8, pos);
        char bytes[2];
        if (cp == INVALID_CODE_POINT) {
            return REPLACEMENT;
        }
        if (codec.encode(cp, bytes) == 0) {
            return cp;
        }
    }
    return std::nullopt;
}

std::size_t Utf16PrefixLength(std::u16string_view utf16, std::size_t maxUnits) {
    std::size_t n = std::min(utf16.size(), maxUnits);
    if (n > 0 && utf16[n - 1] >= 0xD800 && utf16[n - 1] <= 0xDBFF) {
        --n;
    }
    return n;
}

bool IsAnsiEncodable(char32_t cp) {
    char bytes[2];
    return Cp936::ForThisThread().encode(cp, bytes) != 0;
}

}  // namespace kx::text
