#pragma once
// The system's CP936 tables, one character at a time (internal to kx_config): glibc's iconv
// on Linux (config/linux/Cp936.cpp), the system's code page 936 on Windows
// (config/win32/Cp936.cpp). TextCodec.cpp does the stepping and the rules on top.

#include <cstddef>

namespace kx::text::detail {

inline constexpr char32_t REPLACEMENT = 0xFFFD;

inline bool IsSurrogate(char32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}
inline bool IsScalar(char32_t cp) {
    return cp <= 0x10FFFF && !IsSurrogate(cp);
}

// Not shareable between threads (iconv descriptors carry state); TextCodec keeps one per
// thread. If the system has no CP936 table, only ASCII converts: everything else counts as
// unencodable or invalid. Nothing here throws.
class Cp936Backend {
  public:
    Cp936Backend();
    ~Cp936Backend();
    Cp936Backend(const Cp936Backend&) = delete;
    Cp936Backend& operator=(const Cp936Backend&) = delete;

    // Bytes of the scalar `cp` (not ASCII) in `out`, or 0 when it has no exact encoding.
    std::size_t encode(char32_t cp, char (&out)[2]);
    // The scalar that `length` (1 or 2) bytes stand for, or REPLACEMENT.
    char32_t decode(const char* bytes, std::size_t length);

  private:
    void* encoder_ = nullptr;  // iconv descriptors on Linux; unused on Windows
    void* decoder_ = nullptr;
};

}  // namespace kx::text::detail
