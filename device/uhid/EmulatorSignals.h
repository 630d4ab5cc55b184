#pragma once
// The signals of the emulator programs (kx4701-uhid, kx4701-usbip): SIGUSR1 prints each
// device's state, SIGINT, SIGTERM or SIGHUP ends the program. Blocked before any device
// thread starts, so that only the waiting main thread ever sees them.

#include <signal.h>

#include <cstdio>
#include <functional>

namespace kx::uhid {

[[nodiscard]] inline sigset_t BlockEmulatorSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGHUP}) {
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Runs `printAll` (then flushes) on each SIGUSR1; returns on any other of them.
inline void ServeUntilStopped(const sigset_t& signals, const std::function<void()>& printAll) {
    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0 || sig != SIGUSR1) {
            return;
        }
        printAll();
        std::fflush(stdout);
    }
}

}  // namespace kx::uhid
