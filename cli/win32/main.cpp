// kx4701 on Windows: the command-line tool over the maker's KX4701DLL.DLL, which must lie
// beside the program, with a message-only window for device-interface notifications. The
// maker's DLL has only the fourteen functions: writes are then checked as far as they can
// read (the manual says what they cannot).

#include "config/win32/WinApi.h"

#include <shellapi.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "config/TextCodec.h"
#include "device/hotplug/win32/WatchWindow.h"
#include "device/win32/FileProbe.h"
#include "device/win32/LoadedDeviceLibrary.h"

namespace {

// The system gives a closing console this long before it ends the process.
constexpr DWORD CLOSE_GRACE_MS = 4500;

std::atomic<bool> stopRequested{false};
HANDLE stopEvent = nullptr;  // set by Ctrl-C or a closing console
HANDLE doneEvent = nullptr;  // set once the run has finished its chip in hand

// Runs on a thread of its own. Ctrl-C and Ctrl-Break end the run after the chip in hand;
// closing the console (or logging off) ends the process when this returns, so it waits for
// that chip first, within the system's grace.
BOOL WINAPI OnConsoleEvent(DWORD type) {
    stopRequested = true;
    SetEvent(stopEvent);
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        WaitForSingleObject(doneEvent, CLOSE_GRACE_MS);
    }
    return TRUE;
}

// The arguments as UTF-8, whatever the ANSI code page: argv would have lost every
// character that code page lacks.
std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) {
            args.push_back(kx::text::Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
        }
        LocalFree(wide);
    }
    return args;
}

}  // namespace

int main() {
    SetConsoleOutputCP(CP_UTF8);
    const std::vector<std::string> args = Arguments();
    kx::win32::LoadResult loaded = kx::win32::LoadedDeviceLibrary::LoadBesideProgram();
    if (!loaded.library) {
        // Nothing has touched a device yet.
        const std::string file = kx::text::AnsiToUtf8(loaded.file);
        std::cerr << "kx4701: "
                  << (loaded.missingFunction.empty()
                          ? "cannot load " + file + " (system error " +
                                std::to_string(loaded.systemError) +
                                "): put the chip maker's KX4701DLL.DLL beside kx4701.exe"
                          : file + " lacks the function " + loaded.missingFunction)
                  << "; nothing was done\n";
        return kx::cli::EXIT_FAILED;
    }
    kx::win32::FileProbe probe;
    kx::hotplug::WatchWindow notifications;
    kx::cli::Devices devices{*loaded.library, probe, loaded.library->extension(), &notifications};
    // The live view redraws in place only on a console that takes the terminal's sequences.
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    devices.terminal = GetConsoleMode(console, &mode) != 0 &&
                       SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    doneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool catching = false;
    devices.wait = [&](std::chrono::milliseconds timeout) {
        // Only a command that waits catches Ctrl-C: other commands end at once, as usual.
        if (!catching) {
            catching = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
        }
        if (!stopRequested) {
            notifications.pump(timeout, stopEvent);
        }
        return !stopRequested;
    };
    devices.stopped = [] { return stopRequested.load(); };
    const int code = kx::cli::RunCli(args, devices, std::cout, std::cerr);
    std::cout.flush();
    SetEvent(doneEvent);
    return code;
}
