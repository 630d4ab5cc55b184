// kx_provision_perf [CHIPS] [DIR] [JOBS]: provisioning's host time per chip over the virtual
// bench with JOBS chips in flight (default 1),
// whose chips answer at once (no wait of their own), against the floor: the same protocol
// exchanges straight through the library, with no profile, counter, log or read-back
// logic. The counter and the log go to DIR (default /dev/shm, so that the disk's flush is
// not what is measured; scripts/perf also runs it on the build tree's disk). Prints one
// line: ms per chip of both (wall, and the process's CPU time for the run), and the feature
// reports each chip received.

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cli/Cli.h"
#include "emulation/BenchDevices.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsPerChip(Clock::time_point start, int chips) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / chips;
}

// The process's CPU time, every thread's, in milliseconds.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::uint64_t Reports(kx::emu::VirtualBench& bench) {
    std::uint64_t n = 0;
    for (const auto& d : bench.devices()) {
        n += d.reportsReceived;
    }
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const int chips = argc > 1 ? std::atoi(argv[1]) : 200;
    const std::string jobs = argc > 3 ? argv[3] : "1";
    const std::filesystem::path dir = std::filesystem::path(argc > 2 ? argv[2] : "/dev/shm") /
                                      ("kx4701-provision-perf-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "p.toml") << "[serial]\nbaud = 115200\n[identity]\nvid = \"1A2B\"\n"
                                     "product = \"Perf\"\nserial = \"PF-{counter:06}\"\n";

    kx::emu::BenchDevices ours;
    for (int i = 0; i < chips; ++i) {
        ours.bench().plugChip();
    }
    kx::cli::Devices devices{ours.library(), ours.probe(), &ours.kxLibrary(), nullptr};
    std::ostringstream out, err;
    const auto started = Clock::now();
    const double cpuStarted = CpuMs();
    const int code = kx::cli::RunCli({"kx4701", "provision", (dir / "p.toml").string(), "--log",
                                      (dir / "log").string(), "--jobs", jobs},
                                     devices, out, err);
    const double oursMs = MsPerChip(started, chips);
    const double cpuMs = (CpuMs() - cpuStarted) / chips;
    const double oursReports = static_cast<double>(Reports(ours.bench())) / chips;

    // The floor: open, both reads, both writes, both reads back, close; nothing else.
    kx::emu::BenchDevices floor;
    for (int i = 0; i < chips; ++i) {
        floor.bench().plugChip();
    }
    kx::KxLibrary& lib = floor.kxLibrary();
    const auto floorStarted = Clock::now();
    int done = 0;
    char buffer[kx::DEVICE_PATH_BUFFER_SIZE];
    for (int i = 0; lib.KX4701GetDevicePath(i, buffer, sizeof buffer) != 0; ++i) {
        const kx::DeviceHandle h = lib.KX4701OpenDevicePath(buffer);
        std::uint16_t vid = 0, pid = 0;
        std::uint8_t power = 0, b = 0, p = 0, s = 0, d = 0, t = 0, l[3]{};
        char texts[3][30];
        const char serial[] = "PF-000000";
        bool ok = lib.KX4701GetDeviceCfg(h, &vid, &pid, &power, texts[0], &l[0], texts[1], &l[1],
                                         texts[2], &l[2]) != 0 &&
                  lib.KX4701GetDefaultRate(h, &b, &p, &s, &d, &t) != 0 &&
                  lib.KX4701SetDefaultRate(h, 13, p, s, d, 0x30) != 0 &&
                  lib.KX4701SetDeviceCfg(h, 0x1A2B, pid, 50, texts[0], l[0], "Perf", 4, serial,
                                         sizeof serial - 1) != 0 &&
                  lib.KX4701GetDeviceCfg(h, &vid, &pid, &power, texts[0], &l[0], texts[1], &l[1],
                                         texts[2], &l[2]) != 0 &&
                  lib.KX4701GetDefaultRate(h, &b, &p, &s, &d, &t) != 0;
        done += ok;
        lib.KX4701CloseDevice(h);
    }
    const double floorMs = MsPerChip(floorStarted, chips);
    std::filesystem::remove_all(dir);
    std::printf(
        "KX-PERF provision chips=%d jobs=%s exit=%d ms_per_chip=%.4f cpu_ms_per_chip=%.4f "
        "floor_ms_per_chip=%.4f reports_per_chip=%.2f floor_reports_per_chip=%.2f "
        "floor_done=%d\n",
        chips, jobs.c_str(), code, oursMs, cpuMs, floorMs, oursReports,
        static_cast<double>(Reports(floor.bench())) / chips, done);
    return code == 0 && done == chips ? 0 : 1;
}
