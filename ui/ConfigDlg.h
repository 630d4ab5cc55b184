#pragma once
// The configuration dialog (IDD_CONFIG_DIALOG, 102): the program's one working window. It
// holds the open device and every setting, and its handlers, bound through the message
// table (ui/MessageTable.h), act on the controls only through the window operations
// (ui/WindowOps.h).
//
// Ownership: the dialog borrows the library, the probe and the notification source; all
// three must outlive it. It owns its controls and at most one open device handle (the
// device is closed by the close path or a removal event; ending the dialog leaves it to
// the library, which releases every handle when it goes). Failures are reported only to the
// user: on the status line, or in a message box for invalid input.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QDialog>
#include <QIcon>

#include "config/SerialDefaults.h"
#include "device/DeviceLibrary.h"
#include "device/DeviceNotify.h"
#include "device/HidBus.h"
#include "ui/WindowOps.h"

class QComboBox;
class QLineEdit;
class QMenu;

class CConfigDlg : public QDialog, public kx::DeviceChangeSink {
    Q_OBJECT

  public:
    // Builds the controls from the template and loads the icon; initialisation
    // (OnInitDialog) runs when the dialog is first shown, as WM_INITDIALOG does.
    CConfigDlg(kx::DeviceLibrary& library, kx::DeviceProbe& probe,
               kx::DeviceNotificationSource& notifications, QWidget* parent = nullptr);
    // Withdraws the notification registration, so that no notification reaches a
    // destroyed sink.
    ~CConfigDlg() override;

    CConfigDlg(const CConfigDlg&) = delete;
    CConfigDlg& operator=(const CConfigDlg&) = delete;

    // A library that never reports the end of its list cannot keep the dialog in
    // discovery forever: discovery asks for at most this many indexes.
    static constexpr std::int32_t DEVICE_INDEX_LIMIT = 4096;

    // The window operations the handlers use; tests read and drive the controls with them.
    kx::ui::WindowOps& Ops() { return m_ops; }
    // The menu that stands in for the system menu off Windows (the dialog's context menu).
    QMenu* SystemMenu() const { return m_systemMenu; }

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
    const QIcon* OnQueryDragIcon() const;
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
    static QPoint MinimizedIconOrigin(QSize client, QSize icon);

  private:
    kx::DeviceLibrary& m_library;
    kx::DeviceProbe& m_probe;
    kx::DeviceNotificationSource& m_notifications;
    std::vector<QWidget*> m_controls;  // template order; owned by the dialog as children
    kx::ui::WindowOps m_ops;
    QMenu* m_systemMenu = nullptr;
    bool m_initialised = false;
    bool m_registered = false;

  public:
    // The dialog's state, in its documented order.
    kx::DeviceHandle m_hDevice = kx::INVALID_DEVICE_HANDLE;
    kx::SerialDefaults SerialDefaults{};    // all zero ("unset") until initialisation sets it
    QLineEdit* m_editDeviceInfo = nullptr;  // 1001
    QLineEdit* m_editEventText = nullptr;   // 1002
    QComboBox* m_comboStopBits = nullptr;   // 1004
    QComboBox* m_comboDevice = nullptr;     // 1000
    QComboBox* m_comboBaud = nullptr;       // 1003
    QComboBox* m_comboDataBits = nullptr;   // 1006
    QComboBox* m_comboParity = nullptr;     // 1005
    std::string m_strManufacturer;          // CP936, like the four below
    std::string m_strPid;
    std::string m_strProduct;
    std::string m_strSerial;
    std::string m_strVid;
    QIcon m_hIcon;

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
#ifdef _WIN32
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#else
    void contextMenuEvent(QContextMenuEvent* event) override;
#endif

  private:
    void DoDataExchange();
    void OnSelectionChanged(kx::ParameterList list, int comboId);
    // Enter: a focused push button is clicked, anything else is OnOK.
    void OnEnterKey();
    void DefaultSysCommand(unsigned command);
    std::intptr_t Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                           const void* record = nullptr);
};
