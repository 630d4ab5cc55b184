#include "device/Discovery.h"

#include <array>

#include "device/LastError.h"

namespace kx {
namespace {

// Each path is kept or not as soon as the library gives it, before the next is asked for.
template <typename Keep>
std::vector<std::string> Discover(DeviceLibrary& library, Keep keep) {
    std::vector<std::string> found;
    SetLastError(0);
    for (std::int32_t index = 0;
         GetLastError() != ERROR_NO_MORE_ITEMS && index < DEVICE_INDEX_LIMIT; ++index) {
        std::array<char, DEVICE_PATH_BUFFER_SIZE> path{};
        if (library.KX4701GetDevicePath(index, path.data(), DEVICE_PATH_BUFFER_SIZE) == 0) {
            continue;
        }
        path.back() = '\0';  // a library that fills the whole buffer cannot overrun it
        if (keep(path.data())) {
            found.emplace_back(path.data());
        }
    }
    return found;
}

}  // namespace

std::vector<std::string> DiscoverPaths(DeviceLibrary& library) {
    return Discover(library, [](const char*) { return true; });
}

std::vector<std::string> DiscoverOpenablePaths(DeviceLibrary& library, DeviceProbe& probe) {
    return Discover(library, [&](const char* path) { return probe.canOpenReadWrite(path); });
}

}  // namespace kx
