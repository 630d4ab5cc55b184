#include "device/win32/FileProbe.h"

#include "config/win32/WinApi.h"

namespace kx::win32 {

bool FileProbe::canOpenReadWrite(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // A close that succeeds leaves the last error alone, so discovery still reads the
    // library's value afterwards.
    CloseHandle(file);
    return true;
}

}  // namespace kx::win32
