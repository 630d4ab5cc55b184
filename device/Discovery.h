#pragma once
// Which devices can be opened now: the library's list of paths, each tried with the probe.
// The dialog's device list and the command-line tool's `list` are both built from this.

#include <cstdint>
#include <string>
#include <vector>

#include "device/DeviceLibrary.h"
#include "device/HidBus.h"

namespace kx {

// A library that never reports the end of its list cannot keep discovery going forever:
// it asks for at most this many indexes.
inline constexpr std::int32_t DEVICE_INDEX_LIMIT = 4096;

// Sets the thread's last error to 0, then asks the library for path after path until its
// last error is ERROR_NO_MORE_ITEMS; an index whose call fails is skipped without a report.
// Returns the paths in the library's order and spelling. Borrows the library for the call.
[[nodiscard]] std::vector<std::string> DiscoverPaths(DeviceLibrary& library);

// DiscoverPaths, less the paths the probe cannot open for shared reading and writing.
// Borrows both for the call.
[[nodiscard]] std::vector<std::string> DiscoverOpenablePaths(DeviceLibrary& library,
                                                             DeviceProbe& probe);

}  // namespace kx
