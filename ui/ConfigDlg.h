#pragma once
// The configuration dialog (IDD_CONFIG_DIALOG, 102): the program's one working window. It
// holds the open device and every setting, and its handlers, bound through the message
// table (ui/MessageTable.h), act on the controls only through the window operations
// (ui/WindowOps.h). No toolkit here: a host per toolkit (ui/qt/QtConfigDialog.h,
// ui/win32/Win32ConfigDialog.h) creates the window and its controls, implements the window
// operations and feeds the window's messages to the message table.
//
// Ownership: the dialog borrows the library, the probe, the notification source and the
// window operations; all four must outlive it. It owns at most one open device handle (the
// device is closed by the close path or a removal event; ending the dialog leaves it to the
// library, which releases every handle when it goes). Failures are reported only to the
// user: on the status line, or in a message box for invalid input.

#include <cstdint>
#include <string>
#include <string_view>

#include "config/SerialDefaults.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceNotify.h"
#include "device/HidBus.h"
#include "ui/WindowOps.h"

class CConfigDlg : public kx::DeviceChangeSink {
  public:
    // Loads the icon and binds the identity texts to their edits; the window operations
    // must already address the template's controls. Initialisation (OnInitDialog) is the
    // host's to call, once, when the window first shows, as WM_INITDIALOG does.
    CConfigDlg(kx::DeviceLibrary& library, kx::DeviceProbe& probe,
               kx::DeviceNotificationSource& notifications, kx::ui::WindowOps& ops);
    // Withdraws the notification registration, so that no notification reaches a
    // destroyed sink.
    ~CConfigDlg() override;

    CConfigDlg(const CConfigDlg&) = delete;
    CConfigDlg& operator=(const CConfigDlg&) = delete;

    // The window operations the handlers use.
    kx::ui::WindowOps& Ops() { return m_ops; }

    // DeviceChangeSink: a WM_DEVICECHANGE sent to the window; dispatched at once through
    // the message table, since `record` is only valid during the call.
    void deliverDeviceChange(std::uint32_t event, const void* record) override;

    // Framework: dialog initialisation; true asks for the default focus. Runs once.
    bool OnInitDialog();
    // MFC's CDialog::OnOK and OnCancel, reached with Enter and Escape.
    void OnOK();
    void OnCancel();

    // Message-table handlers.
    void OnSysCommand(unsigned command);
    void OnPaint();
    kx::ui::IconHandle OnQueryDragIcon() const;
    std::intptr_t OnDeviceChange(std::uint32_t event, const void* record);
    std::intptr_t OnDeviceEvent(std::uintptr_t code, std::intptr_t unused = 0);
    void OnOpenButton();
    void OnSetDefaultRate();
    void OnSetConfig();
    void OnGetConfig();
    void OnParityChanged();
    void OnDataBitsChanged();
    void OnBaudChanged();
    void OnStopBitsChanged();
    void OnIdentityCheck(int box);
    void OnFactoryReset();

    // Helpers the handlers share.
    void RefreshDeviceList();
    void ShowStatus(std::string_view message);
    bool RequireOpenDevice();  // false (and a status message) while no device is open
    void ClearDeviceFields();
    void FillParameterLists();
    bool RegisterForDeviceNotifications();

    // Where the minimised icon is drawn: ((w - iconW + 1) / 2, (h - iconH + 1) / 2).
    static kx::ui::Point MinimizedIconOrigin(kx::ui::Size client, kx::ui::Size icon);

  private:
    void DoDataExchange();
    void OnSelectionChanged(kx::ParameterList list, int comboId);
    std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                           const void* record = nullptr);

    kx::DeviceLibrary& m_library;
    kx::DeviceProbe& m_probe;
    kx::DeviceNotificationSource& m_notifications;
    kx::ui::WindowOps& m_ops;
    bool m_registered = false;

  public:
    // The dialog's state, in its documented order.
    kx::DeviceHandle m_hDevice = kx::INVALID_DEVICE_HANDLE;
    kx::SerialDefaults SerialDefaults{};  // all zero ("unset") until initialisation sets it
    // Control members: the identifiers DoDataExchange bound.
    int m_editDeviceInfo = 0;       // 1001
    int m_editEventText = 0;        // 1002
    int m_comboStopBits = 0;        // 1004
    int m_comboDevice = 0;          // 1000
    int m_comboBaud = 0;            // 1003
    int m_comboDataBits = 0;        // 1006
    int m_comboParity = 0;          // 1005
    std::string m_strManufacturer;  // CP936, like the four below
    std::string m_strPid;
    std::string m_strProduct;
    std::string m_strSerial;
    std::string m_strVid;
    kx::ui::IconHandle m_hIcon = nullptr;
};
