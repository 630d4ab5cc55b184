// kx_run_timer RUNS COMMAND [ARGS...]: runs the command RUNS times, one after another, its
// output thrown away, and prints "median_ms min_ms" of the wall time from start to exit.
// The same launcher times a program and its floor, so both carry the same costs.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kx_run_timer RUNS COMMAND [ARGS...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[2], &files, nullptr, argv + 2, environ) != 0) {
            std::perror(argv[2]);
            return 1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        posix_spawn_file_actions_destroy(&files);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "kx_run_timer: %s failed (status %d)\n", argv[2], status);
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f %.3f\n", times[times.size() / 2], times.front());
    return 0;
}
