// kx_vm_refresh_perf [ROUNDS]: the device-list refresh on a real kernel, run by
// `scripts/vmtest --perf` in the VM beside 8 USB chips and 8 uhid chips. Each round times,
// in alternating order, one refresh of the real dialog over hidapi (empty the list, then
// RefreshDeviceList: enumeration, descriptors, probes, the list) and the floor: hidapi's
// enumeration alone, opening and closing each node read-write. Prints one line of medians
// (milliseconds of process CPU time and of wall time) for scripts/vmtest to record; exits 1
// when the dialog does not list every node the floor opens.

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/linux/SystemDevices.h"
#include "perf/Measure.h"
#include "perf/PerfSupport.h"
#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"
#include "ui/qt/UdevNotificationSource.h"

namespace {

struct Times {
    double cpu = 0, wall = 0;
};

template <class F>
Times Time(F&& f) {
    const double cpu = kx::perf::NowMs(CLOCK_PROCESS_CPUTIME_ID),
                 wall = kx::perf::NowMs(CLOCK_MONOTONIC);
    f();
    return {kx::perf::NowMs(CLOCK_PROCESS_CPUTIME_ID) - cpu,
            kx::perf::NowMs(CLOCK_MONOTONIC) - wall};
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
            const Times t = Time([&] { opened = kx::perf::HidapiFloor(); });
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
        opened, listed, rounds, kx::perf::Median(refreshCpu), kx::perf::Median(refreshWall),
        kx::perf::Median(floorCpu), kx::perf::Median(floorWall));
    return listed == opened ? 0 : 1;
}
