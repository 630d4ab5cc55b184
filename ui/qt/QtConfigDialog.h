#pragma once
// The configuration dialog's Qt host (Linux): a QDialog with the controls of template 102,
// the Qt window operations, and the dialog logic (CConfigDlg) they serve. Qt's events
// become the dialog's messages: clicks and user selections go to the message table as
// BN_CLICKED and CBN_SELCHANGE, posted messages and painting as window messages, the first
// show as WM_INITDIALOG, Enter and Escape as IDOK and IDCANCEL, and the context menu stands
// in for the system menu.
//
// Ownership: as CConfigDlg (borrows library, probe and notification source); the QDialog
// owns the widgets. Failures are reported by the dialog logic, to the user only.

#include <vector>

#include <QDialog>

#include "ui/ConfigDlg.h"
#include "ui/qt/QtWindowOps.h"

class QMenu;

namespace kx::ui {

namespace detail {
// The widgets and their operations, made before the dialog logic that uses them.
struct QtDialogParts {
    explicit QtDialogParts(QDialog& dialog);
    std::vector<QWidget*> m_controls;  // template order
    QtWindowOps m_qtOps;
};
}  // namespace detail

class QtConfigDialog : public QDialog, private detail::QtDialogParts, public CConfigDlg {
    Q_OBJECT

  public:
    // Builds the controls from the template and loads the icon; initialisation
    // (OnInitDialog) runs when the dialog is first shown.
    QtConfigDialog(DeviceLibrary& library, DeviceProbe& probe,
                   DeviceNotificationSource& notifications, QWidget* parent = nullptr);

    QtConfigDialog(const QtConfigDialog&) = delete;
    QtConfigDialog& operator=(const QtConfigDialog&) = delete;

    // The window operations; tests read and drive the controls with them.
    QtWindowOps& Ops() { return m_qtOps; }
    QMenu* SystemMenu() const { return m_qtOps.SystemMenu(); }

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Enter: a focused push button is clicked, anything else is OnOK.
    void OnEnterKey();

    bool m_initialised = false;
};

}  // namespace kx::ui
