// kx_startup_launcher: measures start-up side by side. Usage:
//   kx_startup_launcher RUNS PROGRAM...
// Starts every PROGRAM in turn, RUNS rounds (after one unmeasured warm-up round), each on
// the offscreen platform with standard output on a pipe. A program reports its first paint
// on that pipe (perf/FirstPaint.h) and exits. Prints one line per measured start:
//   <program> start_ms=<until first paint> start_cpu_ms=<its CPU time until then>
//             cpu_ms=<CPU time of the whole run> peak_rss_kib=<peak> libraries=<n>
// Exits 1 if any start fails to report or to exit cleanly.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

struct Result {
    bool ok = false;
    double startMs = 0;
    long peakRssKib = 0;
    double paintCpuMs = 0;  // the child's CPU time until its first paint
    double cpuMs = 0;       // user and system time of the whole run, start to exit
    long libraries = 0;
};

// The environment of this process with the platform forced to offscreen.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) {
            env.emplace_back(*e);
        }
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    return env;
}

Result StartOnce(const char* program, const std::vector<std::string>& env) {
    Result result;
    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program), nullptr};

    const long long started = MonotonicNs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(spawned));
        close(fds[0]);
        return result;
    }
    std::string output;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        std::perror("wait4");
        return result;
    }
    long long painted = 0;
    long long paintCpu = 0;
    long libraries = 0;
    const std::size_t at = output.find("painted_ns=");
    if (at == std::string::npos ||
        std::sscanf(output.c_str() + at, "painted_ns=%lld cpu_ns=%lld libraries=%ld", &painted,
                    &paintCpu, &libraries) != 3) {
        std::fprintf(stderr, "%s did not report its first paint (output: %s)\n", program,
                     output.c_str());
        return result;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not exit cleanly (status %d)\n", program, status);
        return result;
    }
    result.ok = true;
    result.startMs = static_cast<double>(painted - started) / 1e6;
    result.paintCpuMs = static_cast<double>(paintCpu) / 1e6;
    result.peakRssKib = usage.ru_maxrss;
    result.cpuMs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    result.libraries = libraries;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS PROGRAM...\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const long runs = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || runs < 1 || runs > 1000) {
        std::fprintf(stderr, "RUNS must be a number from 1 to 1000\n");
        return 2;
    }
    const std::vector<std::string> env = ChildEnvironment();
    bool allOk = true;
    for (long round = -1; round < runs; ++round) {
        for (int p = 2; p < argc; ++p) {
            const Result r = StartOnce(argv[p], env);
            allOk = allOk && r.ok;
            if (r.ok && round >= 0) {
                std::printf(
                    "%s start_ms=%.3f start_cpu_ms=%.3f cpu_ms=%.3f peak_rss_kib=%ld "
                    "libraries=%ld\n",
                    argv[p], r.startMs, r.paintCpuMs, r.cpuMs, r.peakRssKib, r.libraries);
            }
        }
    }
    return allOk ? 0 : 1;
}
