// kx_instruction_count: one measured operation for callgrind, whose instruction counts
// repeat where wall times do not. Usage, under
//   valgrind --tool=callgrind --instr-atstart=no --collect-atstart=no
// kx_instruction_count refresh-<N> | identity-write   (N devices)
// The set-up and one warm-up run are not counted; only the operation itself is collected.
// Without valgrind it runs the same steps uncounted. Exits 1 if the operation failed.

#include <cstdio>
#include <cstring>
#include <string>

#include <valgrind/callgrind.h>

#include "config/StatusTexts.h"
#include "perf/PerfSupport.h"
#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"

namespace {

int Measure(kx::perf::DialogRig& rig, void (*operation)(kx::perf::DialogRig&)) {
    CALLGRIND_START_INSTRUMENTATION;
    operation(rig);  // warm-up: caches, lazy initialisation
    CALLGRIND_TOGGLE_COLLECT;
    operation(rig);
    CALLGRIND_TOGGLE_COLLECT;
    CALLGRIND_STOP_INSTRUMENTATION;
    return 0;
}

}  // namespace

// "refresh-<N>": the device count, 0 if `mode` is not that.
int RefreshDevices(const std::string& mode) {
    int n = 0;
    int used = 0;
    if (std::sscanf(mode.c_str(), "refresh-%d%n", &n, &used) != 1 || n < 1 || n > 4096 ||
        static_cast<std::size_t>(used) != mode.size()) {
        return 0;
    }
    return n;
}

int main(int argc, char** argv) {
    const std::string mode = argc == 2 ? argv[1] : "";
    const int devices = RefreshDevices(mode);
    if (devices == 0 && mode != "identity-write") {
        std::fprintf(stderr, "usage: %s refresh-<N> | identity-write\n", argv[0]);
        return 2;
    }
    int qtArgc = 1;
    kx::perf::PerfApplication(qtArgc, argv);

    if (devices > 0) {
        kx::perf::DialogRig rig(devices);
        Measure(rig, [](kx::perf::DialogRig& r) { r.refresh(); });
        return rig.listedDevices() == devices ? 0 : 1;
    }
    kx::perf::DialogRig rig(1);
    rig.dialog().OnOpenButton();
    if (rig.dialog().m_hDevice == kx::INVALID_DEVICE_HANDLE) {
        std::fprintf(stderr, "the open failed\n");
        return 1;
    }
    Measure(rig, [](kx::perf::DialogRig& r) { r.dialog().OnSetConfig(); });
    const std::string status = rig.dialog().Ops().WindowText(IDC_STATUS);
    const bool succeeded = status == kx::status::FormatStatus(kx::status::SET_CONFIG_SUCCEEDED);
    if (!succeeded) {
        std::fprintf(stderr, "the identity write failed: %s\n", status.c_str());
    }
    return succeeded ? 0 : 1;
}
