// kx4701 on Windows: the command-line tool over the maker's KX4701DLL.DLL, which must lie
// beside the program (the stand-in has our extension; the maker's does not, and then the
// tool refuses what it could not check).

#include "config/win32/WinApi.h"

#include <shellapi.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "config/TextCodec.h"
#include "device/win32/FileProbe.h"
#include "device/win32/LoadedDeviceLibrary.h"

namespace {

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
    kx::cli::Devices devices{*loaded.library, probe, loaded.library->extension(), nullptr};
    // The live view redraws in place only on a console that takes the terminal's sequences.
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    devices.terminal = GetConsoleMode(console, &mode) != 0 &&
                       SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    return kx::cli::RunCli(args, devices, std::cout, std::cerr);
}
