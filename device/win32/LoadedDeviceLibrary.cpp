#include "device/win32/LoadedDeviceLibrary.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "config/TextCodec.h"

namespace kx::win32 {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID));
static_assert(sizeof(char16_t) == sizeof(wchar_t));

// The program's own folder with its final separator, in the ANSI code page; empty if the
// system cannot tell. Walks by character: in code page 936 a backslash byte can be the
// second half of a Chinese character.
std::string ProgramFolder() {
    std::vector<char> name(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            break;
        }
        name.resize(name.size() * 2);  // truncated: try again with room to spare
    }
    const char* folderEnd = name.data();
    for (const char* p = name.data(); *p != '\0'; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/') {
            folderEnd = p + 1;
        }
    }
    return std::string(name.data(), static_cast<std::size_t>(folderEnd - name.data()));
}

}  // namespace

std::string LoadResult::Message() const {
    if (library) {
        return {};
    }
    const std::string fileUtf8 = text::AnsiToUtf8(file);
    if (!missingFunction.empty()) {
        return "设备库 " + fileUtf8 + " 中缺少函数 " + missingFunction + "。";
    }
    return "无法加载设备库 " + fileUtf8 + " (系统错误 " + std::to_string(systemError) + ")。请把 " +
           DEVICE_LIBRARY_FILE + " 放在程序所在的文件夹中。";
}

LoadResult LoadedDeviceLibrary::Load(const std::string& file) {
    LoadResult result;
    result.file = file;
    HMODULE module = LoadLibraryA(file.c_str());
    if (module == nullptr) {
        result.systemError = GetLastError();
        return result;
    }
    Procs procs{};
    for (std::size_t i = 0; i < EXPORT_NAMES.size(); ++i) {
        // FARPROC only names "some function"; each is cast to its own type where it is called.
        procs[i] = reinterpret_cast<void (*)()>(GetProcAddress(module, EXPORT_NAMES[i]));
        if (procs[i] == nullptr) {
            result.missingFunction = EXPORT_NAMES[i];
            FreeLibrary(module);
            return result;
        }
    }
    ExtensionProcs extension{};
    for (std::size_t i = 0; i < EXTENSION_EXPORT_NAMES.size(); ++i) {
        extension[i] =
            reinterpret_cast<void (*)()>(GetProcAddress(module, EXTENSION_EXPORT_NAMES[i]));
    }
    if (std::find(extension.begin(), extension.end(), nullptr) != extension.end()) {
        extension = {};  // a partial extension is none: it could not check a write
    }
    result.library.reset(new LoadedDeviceLibrary(module, procs, extension));
    return result;
}

LoadResult LoadedDeviceLibrary::LoadBesideProgram() {
    const std::string folder = ProgramFolder();
    if (folder.empty()) {
        // Never fall back to the search path: that is where a planted copy would come from.
        LoadResult result;
        result.file = DEVICE_LIBRARY_FILE;
        result.systemError = GetLastError();
        return result;
    }
    return Load(folder + DEVICE_LIBRARY_FILE);
}

LoadedDeviceLibrary::~LoadedDeviceLibrary() {
    FreeLibrary(module_);
}

int LoadedDeviceLibrary::KX4701DllInt() {
    const std::lock_guard lock(mutex_);
    return Get<KX4701DllIntFn>(Export::DllInt)();
}

int LoadedDeviceLibrary::KX4701GetHidGuid(Guid* guid) {
    GUID system{};
    const std::lock_guard lock(mutex_);
    const int result = Get<KX4701GetHidGuidFn>(Export::GetHidGuid)(&system);
    if (guid != nullptr) {
        std::memcpy(guid, &system, sizeof system);
    }
    return result;
}

int LoadedDeviceLibrary::KX4701GetDevicePath(std::int32_t index, char* buffer, std::uint32_t size) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetDevicePathFn>(Export::GetDevicePath)(index, buffer, size);
}

DeviceHandle LoadedDeviceLibrary::KX4701OpenDevicePath(const char* path) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701OpenDevicePathFn>(Export::OpenDevicePath)(path);
}

int LoadedDeviceLibrary::KX4701CloseDevice(DeviceHandle handle) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701CloseDeviceFn>(Export::CloseDevice)(handle);
}

int LoadedDeviceLibrary::KX4701GetAttributes(DeviceHandle handle, std::uint16_t* vid,
                                             std::uint16_t* pid, std::uint16_t* version) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetAttributesFn>(Export::GetAttributes)(handle, vid, pid, version);
}

int LoadedDeviceLibrary::KX4701GetBufferLen(DeviceHandle handle, std::uint16_t* inputLength,
                                            std::uint16_t* outputLength) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetBufferLenFn>(Export::GetBufferLen)(handle, inputLength, outputLength);
}

int LoadedDeviceLibrary::KX4701SetTimeOut(DeviceHandle handle, std::uint32_t readTimeoutMs,
                                          std::uint32_t writeTimeoutMs) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701SetTimeOutFn>(Export::SetTimeOut)(handle, readTimeoutMs, writeTimeoutMs);
}

int LoadedDeviceLibrary::KX4701SetDefaultRate(DeviceHandle handle, std::uint8_t baudCode,
                                              std::uint8_t parityCode, std::uint8_t stopBitsCode,
                                              std::uint8_t dataBitsCode, std::uint8_t timingByte) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701SetDefaultRateFn>(Export::SetDefaultRate)(
        handle, baudCode, parityCode, stopBitsCode, dataBitsCode, timingByte);
}

int LoadedDeviceLibrary::KX4701SetDeviceCfg(DeviceHandle handle, std::uint16_t vid,
                                            std::uint16_t pid, std::uint8_t maxPower,
                                            const char* manufacturer,
                                            std::uint8_t manufacturerLength, const char* product,
                                            std::uint8_t productLength, const char* serial,
                                            std::uint8_t serialLength) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701SetDeviceCfgFn>(Export::SetDeviceCfg)(handle, vid, pid, maxPower, manufacturer,
                                                           manufacturerLength, product,
                                                           productLength, serial, serialLength);
}

int LoadedDeviceLibrary::GetString(Export which, DeviceHandle handle, char16_t* buffer,
                                   std::uint32_t units) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetStringFn>(which)(handle, reinterpret_cast<wchar_t*>(buffer), units);
}

int LoadedDeviceLibrary::KX4701GetManufacturerString(DeviceHandle handle, char16_t* buffer,
                                                     std::uint32_t units) {
    return GetString(Export::GetManufacturerString, handle, buffer, units);
}

int LoadedDeviceLibrary::KX4701GetProductString(DeviceHandle handle, char16_t* buffer,
                                                std::uint32_t units) {
    return GetString(Export::GetProductString, handle, buffer, units);
}

int LoadedDeviceLibrary::KX4701GetSerialNumberString(DeviceHandle handle, char16_t* buffer,
                                                     std::uint32_t units) {
    return GetString(Export::GetSerialNumberString, handle, buffer, units);
}

int LoadedDeviceLibrary::KX4701ResetToDefault(DeviceHandle handle) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701ResetToDefaultFn>(Export::ResetToDefault)(handle);
}

int LoadedDeviceLibrary::KX4701GetChipInfo(DeviceHandle handle, std::uint16_t* family,
                                           std::uint16_t* firmware) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetChipInfoFn>(ExtensionExport::GetChipInfo)(handle, family, firmware);
}

int LoadedDeviceLibrary::KX4701GetDefaultRate(DeviceHandle handle, std::uint8_t* baudCode,
                                              std::uint8_t* parityCode, std::uint8_t* stopBitsCode,
                                              std::uint8_t* dataBitsCode,
                                              std::uint8_t* timingByte) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetDefaultRateFn>(ExtensionExport::GetDefaultRate)(
        handle, baudCode, parityCode, stopBitsCode, dataBitsCode, timingByte);
}

int LoadedDeviceLibrary::KX4701GetDeviceCfg(DeviceHandle handle, std::uint16_t* vid,
                                            std::uint16_t* pid, std::uint8_t* maxPower,
                                            char* manufacturer, std::uint8_t* manufacturerLength,
                                            char* product, std::uint8_t* productLength,
                                            char* serial, std::uint8_t* serialLength) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701GetDeviceCfgFn>(ExtensionExport::GetDeviceCfg)(
        handle, vid, pid, maxPower, manufacturer, manufacturerLength, product, productLength,
        serial, serialLength);
}

int LoadedDeviceLibrary::KX4701IsChip(DeviceHandle handle, int* chip) {
    const std::lock_guard lock(mutex_);
    return Get<KX4701IsChipFn>(ExtensionExport::IsChip)(handle, chip);
}

}  // namespace kx::win32
