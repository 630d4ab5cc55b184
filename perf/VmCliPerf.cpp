// kx_vm_cli_perf ROUNDS KX4701 LIST_FLOOR: the command-line tool on a real kernel, run by
// `scripts/vmtest --perf` beside the VM's emulated chips. `kx4701 list` and its floor
// (kx_list_floor: hidapi's enumeration and a probe of each node) run as processes in
// alternating order, ROUNDS times each; then `kx4701 provision --rewrite --json` over every
// chip there, with --jobs 1 and then --jobs 16. Prints one line for scripts/vmtest: the
// medians of both lists' CPU and wall time; for each provisioning run its time, its CPU and
// the guest's busy CPU time, the median and 95th percentile of a chip's start-to-end time,
// and the mean time per chip of each phase.

#include <fcntl.h>
#include <spawn.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "device/Discovery.h"
#include "device/linux/SystemDevices.h"
#include "perf/Measure.h"

extern char** environ;

namespace {

struct Run {
    double cpu = 0, wall = 0;
    int status = 0;
};

// Runs `argv` with its standard output going to `out` (a file name), timing it.
Run Spawn(std::vector<const char*> argv, const char* out) {
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    Run r;
    if (posix_spawn(&pid, argv[0], &files, nullptr, const_cast<char**>(argv.data()), environ) ==
        0) {
        rusage usage{};
        wait4(pid, &r.status, 0, &usage);
        r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    } else {
        r.status = -1;
    }
    r.wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&files);
    return r;
}

// The guest's CPU time spent on anything but idling, in clock ticks, from /proc/stat.
std::uint64_t GuestBusyJiffies() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq;
    return user + nice + system + irq + softirq;
}

// Where a list's time goes, in this process: discovery with the probe alone, then each
// device opened (instead of probed) and closed, then with its attributes, then with its
// three strings too.
std::vector<double> Steps(int rounds) {
    kx::SystemDevices system;
    kx::DeviceLibrary& lib = system.library();
    std::vector<std::vector<double>> steps(4);
    for (int i = 0; i < rounds; ++i) {
        for (int depth = 0; depth < 4; ++depth) {
            const double start = kx::perf::NowMs(CLOCK_PROCESS_CPUTIME_ID);
            // Depth 0 is what the floor does; from depth 1 the open stands for the probe, as
            // in `kx4701 list`.
            const std::vector<std::string> paths =
                depth == 0 ? kx::DiscoverOpenablePaths(lib, system.probe())
                           : kx::DiscoverPaths(lib);
            for (const std::string& path : paths) {
                if (depth == 0) {
                    continue;
                }
                const kx::DeviceHandle h = lib.KX4701OpenDevicePath(path.c_str());
                std::uint16_t v, p, r;
                char16_t text[kx::STRING_BUFFER_UNITS];
                if (depth >= 2) {
                    lib.KX4701GetAttributes(h, &v, &p, &r);
                }
                if (depth >= 3) {
                    lib.KX4701GetManufacturerString(h, text, kx::STRING_BUFFER_UNITS);
                    lib.KX4701GetProductString(h, text, kx::STRING_BUFFER_UNITS);
                    lib.KX4701GetSerialNumberString(h, text, kx::STRING_BUFFER_UNITS);
                }
                lib.KX4701CloseDevice(h);
            }
            steps[static_cast<std::size_t>(depth)].push_back(
                kx::perf::NowMs(CLOCK_PROCESS_CPUTIME_ID) - start);
        }
    }
    std::vector<double> medians;
    for (const auto& s : steps) {
        medians.push_back(kx::perf::Median(s));
    }
    return medians;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: kx_vm_cli_perf ROUNDS KX4701 LIST_FLOOR\n");
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[1]));
    const char* kx4701 = argv[2];
    const char* floor = argv[3];
    // Under software emulation (TCG) a process's code is translated again wherever address
    // randomisation places it, which a processor never does; the same runs at fixed addresses
    // (ADDR_NO_RANDOMIZE, as `setarch -R`, inherited by the children) show what the programs
    // cost without that. Both kinds alternate, for the list and its floor alike.
    const int usual = personality(0xffffffff);
    std::vector<double> listCpu, listWall, floorCpu, floorWall, listFixedCpu, floorFixedCpu;
    for (int i = 0; i < rounds; ++i) {
        for (int k = 0; k < 4; ++k) {
            const bool ours = (i + k) % 2 == 0;
            const bool fixed = k >= 2;
            (void)personality(fixed ? usual | ADDR_NO_RANDOMIZE : usual);  // checked below
            if (fixed && (personality(0xffffffff) & ADDR_NO_RANDOMIZE) == 0) {
                std::fprintf(stderr, "kx_vm_cli_perf: cannot turn address randomisation off\n");
                return 1;
            }
            const Run r = ours ? Spawn({kx4701, "list"}, "/dev/null") : Spawn({floor}, "/dev/null");
            if (r.status != 0) {
                std::fprintf(stderr, "kx_vm_cli_perf: %s failed\n", ours ? kx4701 : floor);
                return 1;
            }
            if (fixed) {
                (ours ? listFixedCpu : floorFixedCpu).push_back(r.cpu);
            } else {
                (ours ? listCpu : floorCpu).push_back(r.cpu);
                (ours ? listWall : floorWall).push_back(r.wall);
            }
        }
    }
    (void)personality(usual);  // the provisioning runs below as usual

    const std::vector<double> steps = Steps(rounds);

    std::ofstream("/tmp/kx-perf.toml") << "[serial]\nbaud = 57600\n[identity]\n"
                                          "product = \"Perf\"\nserial = \"PF-{counter:05}\"\n";
    // One chip after another, then every chip in flight at once, over the same chips.
    std::printf(
        "KX-PERF cli rounds=%d list_cpu_ms=%.3f list_wall_ms=%.3f floor_cpu_ms=%.3f "
        "floor_wall_ms=%.3f list_fixed_cpu_ms=%.3f floor_fixed_cpu_ms=%.3f",
        rounds, kx::perf::Median(listCpu), kx::perf::Median(listWall), kx::perf::Median(floorCpu),
        kx::perf::Median(floorWall), kx::perf::Median(listFixedCpu),
        kx::perf::Median(floorFixedCpu));
    for (const char* jobs : {"1", "16"}) {
        const std::uint64_t busyBefore = GuestBusyJiffies();
        const Run provision =
            Spawn({kx4701, "provision", "/tmp/kx-perf.toml", "--rewrite", "--json", "--jobs", jobs},
                  "/tmp/kx-perf.json");
        const double busy = static_cast<double>(GuestBusyJiffies() - busyBefore) * 1000.0 /
                            static_cast<double>(sysconf(_SC_CLK_TCK));
        std::ifstream in("/tmp/kx-perf.json");
        const nlohmann::json doc = nlohmann::json::parse(in, nullptr, false);
        // A run whose chips failed still has figures; how many failed goes beside them.
        if (doc.is_discarded() || doc.value("done", 0) == 0) {
            std::fprintf(stderr, "kx_vm_cli_perf: provision --jobs %s failed (status %d)\n", jobs,
                         provision.status);
            return 1;
        }
        const int done = doc["done"];
        const int failed = doc["failed"];
        std::map<std::string, double> phases;  // summed, then the mean over `chips`
        std::vector<double> chips;  // each confirmed chip's time from its start to its end
        for (const auto& chip : doc["chips"]) {
            double total = 0;
            if (chip["result"] != "done") {
                continue;
            }
            for (const auto& [phase, ms] : chip["timing_ms"].items()) {
                phases[phase] += ms.get<double>();
                total += ms.get<double>();
            }
            chips.push_back(total);
        }
        if (chips.empty()) {
            std::fprintf(stderr, "kx_vm_cli_perf: provision --jobs %s confirmed no chip\n", jobs);
            return 1;
        }
        for (auto& [phase, ms] : phases) {
            ms /= static_cast<double>(chips.size());
        }
        std::sort(chips.begin(), chips.end());
        const double p95 = chips[std::min(chips.size() - 1, chips.size() * 95 / 100)];
        std::printf(" j%s_failed=%d", jobs, failed);
        std::printf(
            " j%s_chips=%d j%s_s=%.3f j%s_cpu_ms=%.1f j%s_guest_busy_ms=%.1f "
            "j%s_median_chip_ms=%.1f j%s_p95_chip_ms=%.1f",
            jobs, done, jobs, provision.wall / 1e3, jobs, provision.cpu, jobs, busy, jobs,
            kx::perf::Median(chips), jobs, p95);
        for (const auto& [phase, ms] : phases) {
            std::printf(" j%s_%s_ms=%.1f", jobs, phase.c_str(), ms);
        }
    }
    std::printf(
        " discovery_cpu_ms=%.3f open_cpu_ms=%.3f attributes_cpu_ms=%.3f strings_cpu_ms=%.3f",
        steps[0], steps[1], steps[2], steps[3]);
    std::printf("\n");
    return 0;
}
