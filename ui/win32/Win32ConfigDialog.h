#pragma once
// The configuration dialog's Win32 host (Windows): template 102 of the program's resources
// made into a real dialog, whose dialog procedure feeds the message table: WM_INITDIALOG to
// OnInitDialog, WM_COMMAND clicks (BN_CLICKED) and list selections (CBN_SELCHANGE) of the
// controls, IDOK and IDCANCEL (Enter and Escape) to OnOK and OnCancel, and WM_SYSCOMMAND,
// WM_PAINT, WM_QUERYDRAGICON, WM_DEVICECHANGE and the private WM_DEVICE_EVENT as window
// messages. Device notifications are registered for the dialog's own window.
//
// Ownership: borrows the library and the probe (as CConfigDlg), which must outlive it; owns
// its window while it is open and the notification registration. Failures are reported by
// the dialog logic, to the user only; a template that cannot be made gives -1 or null.

#include <memory>

#include "device/DeviceNotify.h"
#include "ui/ConfigDlg.h"
#include "ui/win32/Win32WindowOps.h"

namespace kx::hotplug {
class Win32NotificationSource;
}

namespace kx::ui {

namespace detail {

// RegisterDeviceNotificationA needs the dialog's window, which the system makes only after
// the dialog logic was handed its notification source: this source makes the system's
// registration for that window when the dialog registers.
class DialogWindowNotifications final : public DeviceNotificationSource {
  public:
    explicit DialogWindowNotifications(const Win32WindowOps& ops);
    ~DialogWindowNotifications() override;
    // False (nothing registered) while the dialog has no window, or as the system says.
    [[nodiscard]] bool registerDeviceNotification(DeviceChangeSink* sink,
                                                  const DEV_BROADCAST_DEVICEINTERFACE_A* filter,
                                                  std::uint32_t flags) override;
    void unregister(DeviceChangeSink* sink) override;

  private:
    const Win32WindowOps& m_ops;
    std::unique_ptr<hotplug::Win32NotificationSource> m_source;
};

// The window operations and the notification source, made before the dialog logic.
struct Win32DialogParts {
    Win32DialogParts() : m_windowNotifications(m_win32Ops) {}
    Win32WindowOps m_win32Ops;
    DialogWindowNotifications m_windowNotifications;
};

}  // namespace detail

class Win32ConfigDialog : private detail::Win32DialogParts, public CConfigDlg {
  public:
    Win32ConfigDialog(DeviceLibrary& library, DeviceProbe& probe);
    // Destroys a window made by Create that is still there.
    ~Win32ConfigDialog() override;

    Win32ConfigDialog(const Win32ConfigDialog&) = delete;
    Win32ConfigDialog& operator=(const Win32ConfigDialog&) = delete;

    // Runs the dialog modally (DialogBoxParamA); returns the result it ended with, or -1
    // when the window could not be made. Call once.
    INT_PTR DoModal(HWND parent = nullptr);
    // Makes the dialog modeless (CreateDialogParamA), for a caller that runs its own message
    // loop (through IsDialogMessageA, so that Enter and Escape work); null on failure.
    // EndDialog then only hides it. Call once.
    HWND Create(HWND parent = nullptr);

    HWND Window() const { return m_win32Ops.Window(); }
    Win32WindowOps& Ops() { return m_win32Ops; }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    bool m_modeless = false;
};

}  // namespace kx::ui
