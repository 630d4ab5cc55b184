// Windows: the system's own code page 936 conversion; stateless, so the members stay unused.
#include "config/Cp936Backend.h"
#include "config/win32/WinApi.h"

namespace kx::text::detail {
namespace {
constexpr UINT CODE_PAGE_936 = 936;
}

Cp936Backend::Cp936Backend() = default;
Cp936Backend::~Cp936Backend() = default;

std::size_t Cp936Backend::encode(char32_t cp, char (&out)[2]) {
    wchar_t units[2];
    int count = 1;
    if (cp < 0x10000) {
        units[0] = static_cast<wchar_t>(cp);
    } else {
        units[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        count = 2;
    }
    BOOL usedDefault = FALSE;
    const int got = WideCharToMultiByte(CODE_PAGE_936, WC_NO_BEST_FIT_CHARS, units, count, out, 2,
                                        nullptr, &usedDefault);
    return got > 0 && !usedDefault ? static_cast<std::size_t>(got) : 0;
}

char32_t Cp936Backend::decode(const char* bytes, std::size_t length) {
    wchar_t unit = 0;
    const int got = MultiByteToWideChar(CODE_PAGE_936, MB_ERR_INVALID_CHARS, bytes,
                                        static_cast<int>(length), &unit, 1);
    return got == 1 && !IsSurrogate(unit) ? unit : REPLACEMENT;
}

}  // namespace kx::text::detail
