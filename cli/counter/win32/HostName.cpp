#include "cli/counter/Counter.h"
#include "config/win32/WinApi.h"

namespace kx::cli {

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0) {
        return "station";
    }
    return std::string(name, size);
}

}  // namespace kx::cli
