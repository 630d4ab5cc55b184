#pragma once
// What the device-list benchmarks share: clocks in milliseconds, the median, and the floor of
// a device list (hidapi's enumeration and a read-write probe of each node, the least a list
// can do), so that a list in process and a list as a program are measured against one floor.
// Header only; the floor needs hidapi, initialised by the caller.

#include <fcntl.h>
#include <hidapi.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace kx::perf {

// CLOCK_PROCESS_CPUTIME_ID counts the kernel's work for the process too.
inline double NowMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Returns how many nodes opened.
inline int HidapiFloor() {
    int opened = 0;
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* d = list; d != nullptr; d = d->next) {
        const int fd = ::open(d->path, O_RDWR | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            ::close(fd);
            ++opened;
        }
    }
    hid_free_enumeration(list);
    return opened;
}

}  // namespace kx::perf
