#pragma once
// The application object: initialises the device library once, runs the configuration
// dialog modally, and ends the program when the dialog ends.

#include <functional>

#include "device/DeviceLibrary.h"
#include "device/DeviceNotify.h"
#include "device/HidBus.h"

namespace kx::ui {
class QtConfigDialog;
}
class QWidget;

// One instance per run, created after the QApplication (which supplies the application's
// name: the executable's file name without extension, never set by us). It does not own
// the three device parts; they must outlive it. Nothing here reports failure: the library's
// initialisation result carries no meaning, and the dialog reports its own failures.
class CConfigApp {
  public:
    CConfigApp(kx::DeviceLibrary& library, kx::DeviceProbe& probe,
               kx::DeviceNotificationSource& notifications);
    CConfigApp(const CConfigApp&) = delete;
    CConfigApp& operator=(const CConfigApp&) = delete;

    // The start-up routine, called once: initialises the library, runs the dialog modally
    // and returns 0 (FALSE) once it has ended, so that no message loop of ours follows.
    int InitInstance();

    // What the framework does around InitInstance: a zero result skips the message loop,
    // and the process's exit status is ExitInstance's (0). Returns that status.
    int Run();
    int ExitInstance() { return 0; }

    // The help command (ID_HELP, bound to F1 in the dialog). The program has no help
    // content, so it says so in a message box captioned with the application's name.
    void OnHelp();

    // The dialog while it runs, nullptr before and after.
    QWidget* mainWindow() const { return m_pMainWnd; }

    // Called with the constructed dialog just before it runs modally. For the bench
    // program and tests (placing windows, setting modality); empty in the real program.
    void setDialogHook(std::function<void(kx::ui::QtConfigDialog&)> hook) {
        m_dialogHook = std::move(hook);
    }

  private:
    kx::DeviceLibrary& m_library;
    kx::DeviceProbe& m_probe;
    kx::DeviceNotificationSource& m_notifications;
    QWidget* m_pMainWnd = nullptr;
    std::function<void(kx::ui::QtConfigDialog&)> m_dialogHook;
};

// Text of the help message box.
inline constexpr const char* HELP_MESSAGE = "本程序没有帮助内容。";
