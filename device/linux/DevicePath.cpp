#include "device/DevicePath.h"

// Linux: paths are UTF-8 already.

namespace kx {

std::string DevicePathToUtf8(std::string_view path) {
    return std::string(path);
}

std::string DevicePathFromUtf8(std::string_view utf8) {
    return std::string(utf8);
}

// Only ASCII letters change: the bytes of multibyte characters in UTF-8 are all above 0x7F.
void UpperCaseDevicePath(char* path, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (path[i] >= 'a' && path[i] <= 'z') {
            path[i] = static_cast<char>(path[i] - 'a' + 'A');
        }
    }
}

}  // namespace kx
