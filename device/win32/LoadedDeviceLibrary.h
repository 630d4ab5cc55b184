#pragma once
// Windows only: the maker's KX4701DLL.DLL, loaded at run time, as a kx::DeviceLibrary.
// Every call goes straight to the DLL, which sets the thread's last error itself.
//
// Loading resolves all fourteen functions or none: a missing file or function yields no
// library but a failure that names it, so the program can say so and end before any
// device is touched.

#include "config/win32/WinApi.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceLibrary.h"
#include "device/DeviceLibraryExtension.h"
#include "device/win32/Kx4701Exports.h"

namespace kx::win32 {

class LoadedDeviceLibrary;

// What a load attempt gave: the library, or why not.
struct LoadResult {
    std::unique_ptr<LoadedDeviceLibrary> library;  // null on failure; the caller owns it
    std::string file;                              // the file asked for, in the ANSI code page
    std::string missingFunction;    // set when the file loaded but lacks this function
    std::uint32_t systemError = 0;  // the system's reason when the file did not load

    // Empty on success; otherwise one UTF-8 line for a message box naming the file, or the
    // function and the file.
    std::string Message() const;
};

class LoadedDeviceLibrary final : public DeviceLibrary, public DeviceLibraryExtension {
  public:
    // Loads `file` with LoadLibraryA (a bare name is searched for the system's way).
    [[nodiscard]] static LoadResult Load(const std::string& file);
    // Loads KX4701DLL.DLL from the folder of the running program only, never from the
    // current folder or the search path, so no other file of that name can stand in for it.
    [[nodiscard]] static LoadResult LoadBesideProgram();

    ~LoadedDeviceLibrary() override;  // unloads the DLL: every handle must be closed by then
    LoadedDeviceLibrary(const LoadedDeviceLibrary&) = delete;
    LoadedDeviceLibrary& operator=(const LoadedDeviceLibrary&) = delete;

    int KX4701DllInt() override;
    [[nodiscard]] int KX4701GetHidGuid(Guid* guid) override;
    [[nodiscard]] int KX4701GetDevicePath(std::int32_t index, char* buffer,
                                          std::uint32_t size) override;
    [[nodiscard]] DeviceHandle KX4701OpenDevicePath(const char* path) override;
    int KX4701CloseDevice(DeviceHandle handle) override;
    [[nodiscard]] int KX4701GetAttributes(DeviceHandle handle, std::uint16_t* vid,
                                          std::uint16_t* pid, std::uint16_t* version) override;
    [[nodiscard]] int KX4701GetBufferLen(DeviceHandle handle, std::uint16_t* inputLength,
                                         std::uint16_t* outputLength) override;
    [[nodiscard]] int KX4701SetTimeOut(DeviceHandle handle, std::uint32_t readTimeoutMs,
                                       std::uint32_t writeTimeoutMs) override;
    [[nodiscard]] int KX4701SetDefaultRate(DeviceHandle handle, std::uint8_t baudCode,
                                           std::uint8_t parityCode, std::uint8_t stopBitsCode,
                                           std::uint8_t dataBitsCode,
                                           std::uint8_t timingByte) override;
    [[nodiscard]] int KX4701SetDeviceCfg(DeviceHandle handle, std::uint16_t vid, std::uint16_t pid,
                                         std::uint8_t maxPower, const char* manufacturer,
                                         std::uint8_t manufacturerLength, const char* product,
                                         std::uint8_t productLength, const char* serial,
                                         std::uint8_t serialLength) override;
    [[nodiscard]] int KX4701GetManufacturerString(DeviceHandle handle, char16_t* buffer,
                                                  std::uint32_t units) override;
    [[nodiscard]] int KX4701GetProductString(DeviceHandle handle, char16_t* buffer,
                                             std::uint32_t units) override;
    [[nodiscard]] int KX4701GetSerialNumberString(DeviceHandle handle, char16_t* buffer,
                                                  std::uint32_t units) override;
    [[nodiscard]] int KX4701ResetToDefault(DeviceHandle handle) override;

    // The extension when the DLL exports all three of its functions (the stand-in does),
    // else null: the maker's library cannot read a chip's stored settings. Its three
    // functions must only be called through this pointer.
    [[nodiscard]] DeviceLibraryExtension* extension() {
        return extension_[0] != nullptr ? this : nullptr;
    }
    [[nodiscard]] int KX4701GetChipInfo(DeviceHandle handle, std::uint16_t* family,
                                        std::uint16_t* firmware) override;
    [[nodiscard]] int KX4701GetDefaultRate(DeviceHandle handle, std::uint8_t* baudCode,
                                           std::uint8_t* parityCode, std::uint8_t* stopBitsCode,
                                           std::uint8_t* dataBitsCode,
                                           std::uint8_t* timingByte) override;
    [[nodiscard]] int KX4701GetDeviceCfg(DeviceHandle handle, std::uint16_t* vid,
                                         std::uint16_t* pid, std::uint8_t* maxPower,
                                         char* manufacturer, std::uint8_t* manufacturerLength,
                                         char* product, std::uint8_t* productLength, char* serial,
                                         std::uint8_t* serialLength) override;

  private:
    using Procs = std::array<void (*)(), EXPORT_NAMES.size()>;
    using ExtensionProcs = std::array<void (*)(), EXTENSION_EXPORT_NAMES.size()>;
    LoadedDeviceLibrary(HMODULE module, const Procs& procs, const ExtensionProcs& extension)
        : module_(module), procs_(procs), extension_(extension) {}

    template <typename Fn>
    Fn Get(Export which) const {
        return reinterpret_cast<Fn>(procs_[static_cast<std::size_t>(which)]);
    }
    template <typename Fn>
    Fn Get(ExtensionExport which) const {
        return reinterpret_cast<Fn>(extension_[static_cast<std::size_t>(which)]);
    }
    int GetString(Export which, DeviceHandle handle, char16_t* buffer, std::uint32_t units);

    HMODULE module_;
    Procs procs_;
    ExtensionProcs extension_;  // all null unless all three were found
};

}  // namespace kx::win32
