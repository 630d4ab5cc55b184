// kx_list_floor: the device list's floor as a program of its own (perf/Measure.h), the
// yardstick of `kx4701 list`.

#include <cstdio>

#include "perf/Measure.h"

int main() {
    hid_init();
    const int openable = kx::perf::HidapiFloor();
    hid_exit();
    std::printf("%d\n", openable);
    return 0;
}
