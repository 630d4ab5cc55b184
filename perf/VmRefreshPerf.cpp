// kx_vm_refresh_perf [ROUNDS]: the device-list refresh on a real kernel, run by
// `scripts/vmtest --perf` in the VM beside 8 USB chips and 8 uhid chips. Each round times,
// in alternating order, one refresh of the real dialog over hidapi (empty the list, then
// RefreshDeviceList: enumeration, descriptors, probes, the list) and the floor: hidapi's
// enumeration alone, opening and closing each node read-write. Prints one line of medians
// (milliseconds of process CPU time and of wall time) for scripts/vmtest to record; exits 1
// when the dialog does not list every node the floor opens.

#include <fcntl.h>
#include <hidapi.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/SystemDevices.h"
#include "device/hotplug/UdevNotificationSource.h"
#include "perf/PerfSupport.h"
#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"

namespace {

struct Times {
    double cpu = 0, wall = 0;
};

double Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

template <class F>
Times Time(F&& f) {
    const double cpu = Now(CLOCK_PROCESS_CPUTIME_ID), wall = Now(CLOCK_MONOTONIC);
    f();
    return {Now(CLOCK_PROCESS_CPUTIME_ID) - cpu, Now(CLOCK_MONOTONIC) - wall};
}

int Floor() {
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

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    kx::perf::PerfApplication(argc, argv);
    kx::SystemDevices system;  // initialises hidapi for the floor too
    kx::hotplug::UdevNotificationSource notifications;
    kx::ui::QtConfigDialog dialog(system.library(), system.probe(), notifications);
    dialog.show();
    kx::perf::DialogRig::drainEvents();

    int opened = 0;
    std::vector<double> refreshCpu, refreshWall, floorCpu, floorWall;
    const auto refresh = [&] {
        dialog.Ops().ResetContent(IDC_DEVICE_COMBO);
        dialog.RefreshDeviceList();
    };
    for (int i = 0; i < rounds; ++i) {
        const auto floor = [&] {
            const Times t = Time([&] { opened = Floor(); });
            floorCpu.push_back(t.cpu);
            floorWall.push_back(t.wall);
        };
        const auto ours = [&] {
            const Times t = Time(refresh);
            refreshCpu.push_back(t.cpu);
            refreshWall.push_back(t.wall);
        };
        if (i % 2 == 0) {
            floor();
            ours();
        } else {
            ours();
            floor();
        }
    }
    const int listed = dialog.Ops().GetCount(IDC_DEVICE_COMBO);
    std::printf(
        "KX-PERF devices=%d listed=%d rounds=%d refresh_cpu_ms=%.3f refresh_wall_ms=%.3f "
        "floor_cpu_ms=%.3f floor_wall_ms=%.3f\n",
        opened, listed, rounds, Median(refreshCpu), Median(refreshWall), Median(floorCpu),
        Median(floorWall));
    return listed == opened ? 0 : 1;
}
