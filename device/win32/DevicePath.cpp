#include "device/DevicePath.h"

#include "config/TextCodec.h"
#include "config/win32/WinApi.h"

namespace kx {

std::string DevicePathToUtf8(std::string_view path) {
    return text::AnsiToUtf8(path);
}

std::string DevicePathFromUtf8(std::string_view utf8) {
    return text::Utf8ToAnsi(utf8).value_or(std::string());
}

// CharUpperBuffA knows the code page's double-byte characters, whose second bytes may look
// like lower-case letters.
void UpperCaseDevicePath(char* path, std::size_t length) {
    CharUpperBuffA(path, static_cast<DWORD>(length));
}

}  // namespace kx
