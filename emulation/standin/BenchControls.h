#pragma once
// Windows only: the bench controls of our stand-in KX4701DLL.DLL, for tests and demos. The
// maker's DLL has none of them, so a caller looks them up with GetProcAddress and copes
// with their absence. C linkage, WINAPI, undecorated names, as the fourteen functions.
//
// The stand-in starts with two virtual KX4701 chips. Each chip's device path is an empty
// file in a folder of its own under the temporary folder (lower case, so that discovery's
// upper-casing shows), so the system's CreateFileA probe opens it as it would a device.
// Plugging and unplugging tell every window of the calling thread with WM_DEVICECHANGE, as
// the system tells the windows registered for HID interfaces.

#include "config/win32/WinApi.h"

namespace kx::win32 {

// Plugs a chip with factory identity. Returns its number (> 0), or 0 on failure.
inline constexpr const char* BENCH_PLUG_CHIP = "KxBenchPlugChip";
using KxBenchPlugChipFn = int(WINAPI*)();

// Unplugs the chip at `path` (any letter case): its open handles fail from then on and its
// file is gone. Nonzero on success; 0 if no chip has that path.
inline constexpr const char* BENCH_UNPLUG_PATH = "KxBenchUnplugPath";
using KxBenchUnplugPathFn = int(WINAPI*)(const char* path);

// `held` nonzero: another program holds the chip exclusively, so the probe and the open
// both fail; zero releases it. Nonzero on success; 0 if no chip has that path.
inline constexpr const char* BENCH_HOLD_PATH = "KxBenchHoldPath";
using KxBenchHoldPathFn = int(WINAPI*)(const char* path, int held);

// Writes the paths of the plugged chips in plug order, each followed by '\n', and a
// terminating zero into `buffer` (`size` bytes). Returns the number of chips, or -1 with
// ERROR_INSUFFICIENT_BUFFER (the buffer then holds an empty text) if they do not fit.
inline constexpr const char* BENCH_LIST_PATHS = "KxBenchListPaths";
using KxBenchListPathsFn = int(WINAPI*)(char* buffer, DWORD size);

}  // namespace kx::win32
