// The stand-in's exports beyond the maker's fourteen: our extension's four (read what a chip
// stores, tell a chip by its descriptor) and the bench controls of BenchControls.h. Only in
// the KX4701DLL.DLL built with KX4701DLL.def; the one built with Fourteen.def is shaped like
// the maker's.

#include "emulation/standin/StandIn.h"

#include <type_traits>

#include "device/DeviceNotify.h"
#include "device/win32/Kx4701Exports.h"
#include "emulation/standin/BenchControls.h"

using kx::emu::standin::Serialized;
using kx::emu::standin::StandIn;
using kx::emu::standin::TellThreadWindows;

extern "C" {

int WINAPI KX4701GetChipInfo(int handle, WORD* family, WORD* firmware) {
    return Serialized(
        [&](StandIn& s) { return s.library().KX4701GetChipInfo(handle, family, firmware); });
}

int WINAPI KX4701IsChip(int handle, int* chip) {
    return Serialized([&](StandIn& s) { return s.library().KX4701IsChip(handle, chip); });
}

int WINAPI KX4701GetDefaultRate(int handle, BYTE* baudCode, BYTE* parityCode, BYTE* stopBitsCode,
                                BYTE* dataBitsCode, BYTE* timingByte) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetDefaultRate(handle, baudCode, parityCode, stopBitsCode,
                                                dataBitsCode, timingByte);
    });
}

int WINAPI KX4701GetDeviceCfg(int handle, WORD* vid, WORD* pid, BYTE* maxPower, char* manufacturer,
                              BYTE* manufacturerLength, char* product, BYTE* productLength,
                              char* serial, BYTE* serialLength) {
    return Serialized([&](StandIn& s) {
        return s.library().KX4701GetDeviceCfg(handle, vid, pid, maxPower, manufacturer,
                                              manufacturerLength, product, productLength, serial,
                                              serialLength);
    });
}

int WINAPI KxBenchPlugChip() {
    const int number = Serialized([](StandIn& s) { return s.PlugChip(); });
    // Outside the lock: a window may call back into the library while it is told.
    if (number != 0) {
        TellThreadWindows(DBT_DEVICEARRIVAL);
    }
    return number;
}

int WINAPI KxBenchUnplugPath(const char* path) {
    const bool unplugged = Serialized([&](StandIn& s) { return s.Unplug(path); });
    if (unplugged) {
        TellThreadWindows(DBT_DEVICEREMOVECOMPLETE);
    }
    return unplugged ? 1 : 0;
}

int WINAPI KxBenchHoldPath(const char* path, int held) {
    return Serialized([&](StandIn& s) { return s.Hold(path, held != 0) ? 1 : 0; });
}

int WINAPI KxBenchListPaths(char* buffer, DWORD size) {
    return Serialized([&](StandIn& s) { return s.List(buffer, size); });
}

}  // extern "C"

namespace kx::win32 {
static_assert(std::is_same_v<decltype(&::KX4701GetChipInfo), KX4701GetChipInfoFn>);
static_assert(std::is_same_v<decltype(&::KX4701IsChip), KX4701IsChipFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetDefaultRate), KX4701GetDefaultRateFn>);
static_assert(std::is_same_v<decltype(&::KX4701GetDeviceCfg), KX4701GetDeviceCfgFn>);
static_assert(std::is_same_v<decltype(&::KxBenchPlugChip), KxBenchPlugChipFn>);
static_assert(std::is_same_v<decltype(&::KxBenchUnplugPath), KxBenchUnplugPathFn>);
static_assert(std::is_same_v<decltype(&::KxBenchHoldPath), KxBenchHoldPathFn>);
static_assert(std::is_same_v<decltype(&::KxBenchListPaths), KxBenchListPathsFn>);
}  // namespace kx::win32
