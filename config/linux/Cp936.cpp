// Linux: glibc's iconv ("CP936", or "GBK" where that name is missing).
#include <iconv.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "config/Cp936Backend.h"

namespace kx::text::detail {
namespace {

const iconv_t INVALID = reinterpret_cast<iconv_t>(-1);

constexpr const char* UTF32_NATIVE =
    std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";

iconv_t OpenCp936(const char* to, const char* from) {
    // Prefer the code page's own name; GBK is the same table under its standards name.
    iconv_t cd = iconv_open(to, from);
    if (cd == INVALID) {
        const bool toAnsi = std::strcmp(to, "CP936") == 0;
        cd = iconv_open(toAnsi ? "GBK" : to, toAnsi ? from : "GBK");
    }
    return cd;
}

// Converts all of `in` or nothing; returns the bytes produced, 0 on any failure (including
// irreversible substitutions). Each conversion resets the descriptor first.
std::size_t Run(iconv_t cd, const char* in, std::size_t inBytes, char* out, std::size_t outBytes) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in);  // iconv's signature; it does not write input
    char* outPtr = out;
    std::size_t inLeft = inBytes;
    std::size_t outLeft = outBytes;
    const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    if (result != 0 || inLeft != 0) {
        return 0;
    }
    // Flush any shift state so the next call starts clean (a no-op for CP936).
    if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
        return 0;
    }
    return outBytes - outLeft;
}

}  // namespace

// One pair of descriptors, opened once and reused.
Cp936Backend::Cp936Backend()
    : encoder_(OpenCp936("CP936", UTF32_NATIVE)), decoder_(OpenCp936(UTF32_NATIVE, "CP936")) {}

Cp936Backend::~Cp936Backend() {
    for (void* cd : {encoder_, decoder_}) {
        if (cd != INVALID) {
            iconv_close(cd);
        }
    }
}

std::size_t Cp936Backend::encode(char32_t cp, char (&out)[2]) {
    if (encoder_ == INVALID) {
        return 0;
    }
    const auto unit = static_cast<std::uint32_t>(cp);
    char in[4];
    std::memcpy(in, &unit, sizeof in);
    char produced[8];
    const std::size_t got = Run(encoder_, in, sizeof in, produced, sizeof produced);
    if (got == 0 || got > 2) {
        return 0;
    }
    std::memcpy(out, produced, got);
    return got;
}

char32_t Cp936Backend::decode(const char* bytes, std::size_t length) {
    if (decoder_ == INVALID) {
        return REPLACEMENT;
    }
    char produced[8];
    if (Run(decoder_, bytes, length, produced, sizeof produced) != 4) {
        return REPLACEMENT;
    }
    std::uint32_t unit = 0;
    std::memcpy(&unit, produced, sizeof unit);
    return IsScalar(unit) ? unit : REPLACEMENT;
}

}  // namespace kx::text::detail
