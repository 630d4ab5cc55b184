#pragma once
// The application object on Windows: loads the maker's KX4701DLL.DLL from beside the
// program, initialises it once, runs the configuration dialog modally, and ends the program
// when the dialog ends.

#include <functional>

#include "device/DeviceLibrary.h"
#include "device/HidBus.h"

namespace kx::ui {
class Win32ConfigDialog;
}

// One instance per run. Borrows the library and the probe, which must outlive it. Nothing
// here reports failure: the library's initialisation result carries no meaning, and the
// dialog reports its own failures.
class CConfigApp {
  public:
    CConfigApp(kx::DeviceLibrary& library, kx::DeviceProbe& probe)
        : m_library(library), m_probe(probe) {}
    CConfigApp(const CConfigApp&) = delete;
    CConfigApp& operator=(const CConfigApp&) = delete;

    // The start-up routine, called once: initialises the library, runs the dialog modally
    // and returns 0 (FALSE) once it has ended, so that no message loop of ours follows.
    int InitInstance();
    // InitInstance, then the process's exit status (0).
    int Run();

    // Called with the constructed dialog just before it runs modally (tests); empty in the
    // real program.
    void setDialogHook(std::function<void(kx::ui::Win32ConfigDialog&)> hook) {
        m_dialogHook = std::move(hook);
    }

  private:
    kx::DeviceLibrary& m_library;
    kx::DeviceProbe& m_probe;
    std::function<void(kx::ui::Win32ConfigDialog&)> m_dialogHook;
};
