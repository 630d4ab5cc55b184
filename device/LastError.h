#pragma once
// Per-thread last-error value, standing in for the system's on platforms that lack one.
// Device discovery relies on it: the path call reports the end of the list only through it.

#include <cstdint>
#include <string>

namespace kx {

inline constexpr std::uint32_t ERROR_SUCCESS_CODE = 0;
inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED_CODE = 5;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE_CODE = 6;
inline constexpr std::uint32_t ERROR_INVALID_DATA_CODE = 13;
inline constexpr std::uint32_t ERROR_CRC_CODE = 23;
inline constexpr std::uint32_t ERROR_GEN_FAILURE_CODE = 31;
inline constexpr std::uint32_t ERROR_NOT_SUPPORTED_CODE = 50;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER_CODE = 87;
inline constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
inline constexpr std::uint32_t ERROR_INVALID_NAME_CODE = 123;
// The one value discovery ends on. Windows headers define it as a macro already.
#ifndef ERROR_NO_MORE_ITEMS
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
#endif
inline constexpr std::uint32_t ERROR_TIMEOUT_CODE = 1460;

// A code as a short English phrase for a user ("the chip refused a value"); a code without
// one of its own reads "system error N". Pure: device/LastError.cpp.
[[nodiscard]] std::string DescribeLastError(std::uint32_t code);

// Both act on the calling thread's value only; neither can fail (one file per platform).
void SetLastError(std::uint32_t code) noexcept;
std::uint32_t GetLastError() noexcept;

}  // namespace kx
