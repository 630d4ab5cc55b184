#include "device/LastError.h"

#include "config/win32/WinApi.h"

namespace kx {

// The system's own per-thread value, so that the library's errors and those of CreateFileA
// and the other system calls are one and the same, as discovery expects.
void SetLastError(std::uint32_t code) noexcept {
    ::SetLastError(code);
}
std::uint32_t GetLastError() noexcept {
    return ::GetLastError();
}

}  // namespace kx
