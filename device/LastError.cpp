#include "device/LastError.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kx {

#ifdef _WIN32

// The system's own per-thread value, so that the library's errors and those of CreateFileA
// and the other system calls are one and the same, as discovery expects.
void SetLastError(std::uint32_t code) noexcept {
    ::SetLastError(code);
}
std::uint32_t GetLastError() noexcept {
    return ::GetLastError();
}

#else

namespace {
thread_local std::uint32_t tlsLastError = 0;
}

void SetLastError(std::uint32_t code) noexcept {
    tlsLastError = code;
}
std::uint32_t GetLastError() noexcept {
    return tlsLastError;
}

#endif

}  // namespace kx
