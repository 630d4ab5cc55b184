#include "device/LastError.h"

// Linux: a value of our own per thread (Windows uses the system's, device/win32/LastError.cpp).

namespace kx {
namespace {
thread_local std::uint32_t tlsLastError = 0;
}

void SetLastError(std::uint32_t code) noexcept {
    tlsLastError = code;
}
std::uint32_t GetLastError() noexcept {
    return tlsLastError;
}

}  // namespace kx
