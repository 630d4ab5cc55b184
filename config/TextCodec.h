#pragma once
// The one place where text changes encoding. Program texts and the UI use UTF-8; the
// identity texts the tool keeps and sends to the chip are 8-bit CP936 (GBK, standing in
// for the Windows ANSI code page 936: a Chinese character is two bytes); the chip reports
// its strings in UTF-16.
//
// Characters CP936 cannot encode: a conversion for display (chip strings) turns each into
// '?', as the system's default character; a conversion of user input refuses the whole
// text (returns nothing) so that nothing is ever silently changed before it is sent.
// Lone surrogates and other invalid UTF-16 count as unencodable.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kx::text {

inline constexpr std::size_t ANSI_CONVERSION_BUFFER = 128;

// Like WideCharToMultiByte(CP_ACP, 0, src, -1, dst, dstBytes, NULL, NULL): reads at most
// `srcUnits` units of `src`, stopping at the first zero unit (a missing terminator is not
// an error), and returns at most dstBytes - 1 bytes, never splitting a double-byte character.
[[nodiscard]] std::string Utf16ToAnsi(const char16_t* src, std::size_t srcUnits,
                                      std::size_t dstBytes = ANSI_CONVERSION_BUFFER);

// CP936 bytes to UTF-16 (what a chip does with the strings it is sent). Invalid byte
// sequences become U+FFFD.
[[nodiscard]] std::u16string AnsiToUtf16(std::string_view ansi);

// UTF-8 (what the user typed) to CP936; nullopt if any character cannot be encoded or the
// input is not valid UTF-8.
[[nodiscard]] std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// CP936 to UTF-8 for display; invalid byte sequences become U+FFFD.
[[nodiscard]] std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 to CP936 for display (the system's A functions): unencodable characters and
// invalid UTF-8 become '?'. Never for user input, which Utf8ToAnsi refuses instead.
[[nodiscard]] std::string Utf8ToAnsiForDisplay(std::string_view utf8);

// Between UTF-8 and UTF-16 (the system's wide functions); invalid UTF-8 and lone
// surrogates become U+FFFD.
[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view utf8);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view utf16);

// How many units of `utf16` fit in `maxUnits` without keeping the first half of a surrogate
// pair whose second half is cut off: min(size, maxUnits), one less when that would end on a
// high surrogate.
[[nodiscard]] std::size_t Utf16PrefixLength(std::u16string_view utf16, std::size_t maxUnits);

// The first character of `utf8` that Utf8ToAnsi refuses: one CP936 cannot encode, or
// U+FFFD where the bytes are not valid UTF-8; nullopt when the whole text converts.
[[nodiscard]] std::optional<char32_t> FirstUnencodable(std::string_view utf8);

// True if the one code point `cp` has a CP936 encoding.
[[nodiscard]] bool IsAnsiEncodable(char32_t cp);

}  // namespace kx::text
