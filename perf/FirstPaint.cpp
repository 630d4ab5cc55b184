#include "perf/FirstPaint.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <set>
#include <string>

namespace kx::perf {

void ReportPainted() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long ns = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    const long long cpuNs = static_cast<long long>(cpu.tv_sec) * 1000000000LL + cpu.tv_nsec;
    std::set<std::string> objects;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t slash = line.find('/');
        if (slash == std::string::npos) {
            continue;
        }
        const std::string file = line.substr(slash);
        if (file.find(".so") != std::string::npos) {
            objects.insert(file);
        }
    }
    std::printf("painted_ns=%lld cpu_ns=%lld libraries=%zu\n", ns, cpuNs, objects.size());
    std::fflush(stdout);
}

}  // namespace kx::perf
