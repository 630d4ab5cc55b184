#pragma once
// Windows only: the fourteen functions of KX4701DLL.DLL as the DLL exports them: C linkage,
// WINAPI (__stdcall), undecorated names. The loader (LoadedDeviceLibrary) and our stand-in
// DLL both build on these types, so the two cannot drift apart.
//
// On 32-bit x86 every argument takes a full stack slot, so the byte and 16-bit arguments
// are passed exactly as the maker's 32-bit library receives them.

#include "config/win32/WinApi.h"

#include <array>
#include <cstddef>

namespace kx::win32 {

inline constexpr const char* DEVICE_LIBRARY_FILE = "KX4701DLL.DLL";

using KX4701DllIntFn = int(WINAPI*)();
using KX4701GetHidGuidFn = int(WINAPI*)(GUID* guid);
using KX4701GetDevicePathFn = int(WINAPI*)(int index, char* buffer, DWORD size);
using KX4701OpenDevicePathFn = int(WINAPI*)(const char* path);
using KX4701CloseDeviceFn = int(WINAPI*)(int handle);
using KX4701GetAttributesFn = int(WINAPI*)(int handle, WORD* vid, WORD* pid, WORD* version);
using KX4701GetBufferLenFn = int(WINAPI*)(int handle, WORD* inputLength, WORD* outputLength);
using KX4701SetTimeOutFn = int(WINAPI*)(int handle, DWORD readTimeoutMs, DWORD writeTimeoutMs);
using KX4701SetDefaultRateFn = int(WINAPI*)(int handle, BYTE baudCode, BYTE parityCode,
                                            BYTE stopBitsCode, BYTE dataBitsCode, BYTE timingByte);
using KX4701SetDeviceCfgFn = int(WINAPI*)(int handle, WORD vid, WORD pid, BYTE maxPower,
                                          const char* manufacturer, BYTE manufacturerLength,
                                          const char* product, BYTE productLength,
                                          const char* serial, BYTE serialLength);
// The three string reads share one shape: a UTF-16 buffer and its size in units.
using KX4701GetStringFn = int(WINAPI*)(int handle, wchar_t* buffer, DWORD units);
using KX4701ResetToDefaultFn = int(WINAPI*)(int handle);

// Index of each function in EXPORT_NAMES, in the order the loader resolves them.
enum class Export : std::size_t {
    DllInt,
    GetHidGuid,
    GetDevicePath,
    OpenDevicePath,
    CloseDevice,
    GetAttributes,
    GetBufferLen,
    SetTimeOut,
    SetDefaultRate,
    SetDeviceCfg,
    GetManufacturerString,
    GetProductString,
    GetSerialNumberString,
    ResetToDefault,
};

inline constexpr std::array<const char*, 14> EXPORT_NAMES = {
    "KX4701DllInt",
    "KX4701GetHidGuid",
    "KX4701GetDevicePath",
    "KX4701OpenDevicePath",
    "KX4701CloseDevice",
    "KX4701GetAttributes",
    "KX4701GetBufferLen",
    "KX4701SetTimeOut",
    "KX4701SetDefaultRate",
    "KX4701SetDeviceCfg",
    "KX4701GetManufacturerString",
    "KX4701GetProductString",
    "KX4701GetSerialNumberString",
    "KX4701ResetToDefault",
};

// Our extension (device/DeviceLibraryExtension.h): optional, resolved all or none. The
// maker's DLL lacks it; the stand-in has it.
using KX4701GetChipInfoFn = int(WINAPI*)(int handle, WORD* family, WORD* firmware);
using KX4701GetDefaultRateFn = int(WINAPI*)(int handle, BYTE* baudCode, BYTE* parityCode,
                                            BYTE* stopBitsCode, BYTE* dataBitsCode,
                                            BYTE* timingByte);
using KX4701GetDeviceCfgFn = int(WINAPI*)(int handle, WORD* vid, WORD* pid, BYTE* maxPower,
                                          char* manufacturer, BYTE* manufacturerLength,
                                          char* product, BYTE* productLength, char* serial,
                                          BYTE* serialLength);

using KX4701IsChipFn = int(WINAPI*)(int handle, int* chip);

enum class ExtensionExport : std::size_t { GetChipInfo, GetDefaultRate, GetDeviceCfg, IsChip };

inline constexpr std::array<const char*, 4> EXTENSION_EXPORT_NAMES = {
    "KX4701GetChipInfo",
    "KX4701GetDefaultRate",
    "KX4701GetDeviceCfg",
    "KX4701IsChip",
};

}  // namespace kx::win32
