// UTF-16 to CP936, as the dialog converts the strings a chip reports: any units, with or
// without a terminator, valid or not, into buffers of every size. The result stays within
// the buffer, is never cut inside a double-byte character, stops at the first zero unit,
// and is valid CP936; what came from valid, encodable text survives the way back.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/TextCodec.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kx;

// The number of CP936 bytes a well-formed double-byte text takes, or npos when `s` is not
// a sequence of whole characters (a lead byte without its trail byte).
std::size_t WholeCharacters(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b <= 0x80) {  // ASCII, and 0x80 for the euro sign
            ++i;
        } else if (b >= 0x81 && b <= 0xFE && i + 1 < s.size()) {
            i += 2;
        } else {
            return std::string::npos;
        }
    }
    return i;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string raw = in.ConsumeRandomLengthString(96);
    const std::size_t dstBytes = in.ConsumeIntegralInRange<std::size_t>(0, 140);
    const std::size_t declared = in.ConsumeIntegralInRange<std::size_t>(0, 80);
    std::vector<char16_t> units;
    while (in.remaining_bytes() >= 2) {
        units.push_back(static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>()));
    }
    // Exactly the declared units are readable: ASan catches a read past them.
    const std::size_t srcUnits = std::min(declared, units.size());
    std::vector<char16_t> src(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(srcUnits));

    const std::string ansi = text::Utf16ToAnsi(src.data(), src.size(), dstBytes);
    KX_FUZZ_CHECK(dstBytes == 0 ? ansi.empty() : ansi.size() <= dstBytes - 1);
    KX_FUZZ_CHECK(WholeCharacters(ansi) == ansi.size());
    KX_FUZZ_CHECK(ansi.find('\0') == std::string::npos);

    std::size_t textUnits = 0;
    while (textUnits < src.size() && src[textUnits] != 0) {
        ++textUnits;
    }
    // Back to UTF-16: no replacement characters, since the output is valid CP936.
    const std::u16string back = text::AnsiToUtf16(ansi);
    KX_FUZZ_CHECK(back.find(u'\uFFFD') == std::u16string::npos || [&] {
        for (std::size_t i = 0; i < textUnits; ++i) {
            if (src[i] == u'\uFFFD') {
                return true;
            }
        }
        return false;
    }());
    // Every unit of the text became something, unless the buffer ran out first.
    if (dstBytes > 2 * textUnits) {
        KX_FUZZ_CHECK(back.size() <= textUnits);
        KX_FUZZ_CHECK(!ansi.empty() || textUnits == 0);
    }

    // The user's side: UTF-8 to CP936 and back is exact whenever it is accepted.
    const std::string utf8 = text::AnsiToUtf8(ansi);
    if (const auto again = text::Utf8ToAnsi(utf8)) {
        KX_FUZZ_CHECK(*again == ansi);
    }
    if (const auto encoded = text::Utf8ToAnsi(raw)) {
        KX_FUZZ_CHECK(text::AnsiToUtf8(*encoded) == raw);
        KX_FUZZ_CHECK(WholeCharacters(*encoded) == encoded->size());
    }
    return 0;
}
