#include "ui/win32/Win32ConfigDialog.h"

#include "device/hotplug/win32/NotificationSource.h"
#include "ui/ControlIds.h"
#include "ui/MessageTable.h"

namespace kx::ui {

detail::DialogWindowNotifications::DialogWindowNotifications(const Win32WindowOps& ops)
    : m_ops(ops) {}

detail::DialogWindowNotifications::~DialogWindowNotifications() = default;

bool detail::DialogWindowNotifications::registerDeviceNotification(
    DeviceChangeSink* sink, const DEV_BROADCAST_DEVICEINTERFACE_A* filter, std::uint32_t flags) {
    if (m_ops.Window() == nullptr) {
        return false;
    }
    m_source = std::make_unique<hotplug::Win32NotificationSource>(m_ops.Window());
    return m_source->registerDeviceNotification(sink, filter, flags);
}

void detail::DialogWindowNotifications::unregister(DeviceChangeSink* sink) {
    if (m_source) {
        m_source->unregister(sink);
    }
}

Win32ConfigDialog::Win32ConfigDialog(DeviceLibrary& library, DeviceProbe& probe)
    : CConfigDlg(library, probe, m_windowNotifications, m_win32Ops) {}

Win32ConfigDialog::~Win32ConfigDialog() {
    if (m_modeless && Window() != nullptr && IsWindow(Window())) {
        DestroyWindow(Window());
    }
}

INT_PTR Win32ConfigDialog::DoModal(HWND parent) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONFIG_DIALOG), parent,
                           &DialogProc, reinterpret_cast<LPARAM>(this));
}

HWND Win32ConfigDialog::Create(HWND parent) {
    m_modeless = true;
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_CONFIG_DIALOG),
                              parent, &DialogProc, reinterpret_cast<LPARAM>(this));
}

// A handler that throws has met a programming error; it must not unwind through the
// system's frames, so the program ends there (noexcept).
INT_PTR CALLBACK Win32ConfigDialog::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) noexcept {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32ConfigDialog*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        self->m_win32Ops.Attach(window);
        if (!self->OnInitDialog()) {
            return FALSE;
        }
        // The default focus: the open button, so that Enter opens the chosen device (the
        // system would give it to the first tab stop, the device list).
        SendMessageA(window, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_OPEN_BUTTON)), TRUE);
        return FALSE;
    }
    auto* self = reinterpret_cast<Win32ConfigDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr) {
        return FALSE;  // the messages before WM_INITDIALOG
    }
    if (message == WM_NCDESTROY) {
        self->m_win32Ops.Attach(nullptr);
        return FALSE;
    }
    return self->OnMessage(message, wParam, lParam);
}

INT_PTR Win32ConfigDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        const int id = LOWORD(wParam);
        const UINT code = HIWORD(wParam);
        if (code == BN_CLICKED && id == IDOK) {
            OnOK();
            return TRUE;
        }
        if (code == BN_CLICKED && id == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        if (lParam == 0) {
            return FALSE;  // a menu or accelerator command, not a control's notification
        }
        if (code == BN_CLICKED) {
            return DispatchControlNotification(*this, Notification::ButtonClicked, id);
        }
        if (code == CBN_SELCHANGE) {
            return DispatchControlNotification(*this, Notification::SelectionChanged, id);
        }
        return FALSE;
    }
    const void* record =
        message == WM_DEVICECHANGE ? reinterpret_cast<const void*>(lParam) : nullptr;
    m_win32Ops.TakeDefaultRequest();
    const std::optional<std::intptr_t> result =
        DispatchWindowMessage(*this, message, wParam, lParam, record);
    if (!result || m_win32Ops.TakeDefaultRequest()) {
        return FALSE;
    }
    if (message == WM_QUERYDRAGICON) {
        return *result;  // returned as it is, not through DWLP_MSGRESULT
    }
    SetWindowLongPtrA(Window(), DWLP_MSGRESULT, *result);
    return TRUE;
}

}  // namespace kx::ui
