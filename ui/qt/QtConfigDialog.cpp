#include "ui/qt/QtConfigDialog.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>

#include "ui/ControlIds.h"
#include "ui/MessageTable.h"
#include "ui/qt/QtDialogBuilder.h"

namespace kx::ui {

detail::QtDialogParts::QtDialogParts(QDialog& dialog)
    : m_controls(BuildDialog(dialog, ConfigDialogTemplate())), m_qtOps(dialog, m_controls) {}

QtConfigDialog::QtConfigDialog(DeviceLibrary& library, DeviceProbe& probe,
                               DeviceNotificationSource& notifications, QWidget* parent)
    : QDialog(parent),
      QtDialogParts(static_cast<QDialog&>(*this)),
      CConfigDlg(library, probe, notifications, m_qtOps) {
    // A pop-up with caption, system menu and modal frame; no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Every click and user selection goes to the table, which knows the ones it handles.
    // QComboBox::activated is raised by user selections only, like CBN_SELCHANGE.
    for (QWidget* control : m_controls) {
        const int id = control->property(CONTROL_ID_PROPERTY).toInt();
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            connect(button, &QAbstractButton::clicked, this, [this, id] {
                DispatchControlNotification(*this, Notification::ButtonClicked, id);
            });
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            connect(combo, &QComboBox::activated, this, [this, id] {
                DispatchControlNotification(*this, Notification::SelectionChanged, id);
            });
            // Enter and Escape in a combo's edit part are the dialog's keys, as in a
            // system dialog.
            combo->installEventFilter(this);
        }
    }
}

bool QtConfigDialog::event(QEvent* event) {
    if (event->type() == WindowMessageEvent::eventType()) {
        const auto* message = static_cast<WindowMessageEvent*>(event);
        DispatchWindowMessage(*this, message->message(), message->wParam(), message->lParam(),
                              message->data());
        return true;
    }
    return QDialog::event(event);
}

void QtConfigDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_initialised) {
        return;
    }
    m_initialised = true;
    if (OnInitDialog()) {
        // The default focus: the open button, so that Enter opens the chosen device.
        m_qtOps.GetDlgItem(IDC_OPEN_BUTTON)->setFocus(Qt::TabFocusReason);
    } else {
        // No default focus: keep Qt from handing it to the first tab stop.
        setFocus(Qt::OtherFocusReason);
    }
}

void QtConfigDialog::paintEvent(QPaintEvent* /*event*/) {
    DispatchWindowMessage(*this, MSG_PAINT, 0, 0, nullptr);
}

void QtConfigDialog::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier) {
        switch (event->key()) {
            case Qt::Key_Escape:
                OnCancel();
                return;
            case Qt::Key_Enter:
            case Qt::Key_Return:
                OnEnterKey();
                return;
            default:
                break;
        }
    }
    QDialog::keyPressEvent(event);
}

bool QtConfigDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* combo = qobject_cast<QComboBox*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool dialogKey = key->key() == Qt::Key_Enter || key->key() == Qt::Key_Return ||
                               key->key() == Qt::Key_Escape;
        if (combo != nullptr && dialogKey && !combo->view()->isVisible()) {
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void QtConfigDialog::OnEnterKey() {
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button != nullptr && button->isEnabled()) {
        button->click();
        return;
    }
    OnOK();
}

void QtConfigDialog::contextMenuEvent(QContextMenuEvent* event) {
    if (!SystemMenu()->isEmpty()) {
        SystemMenu()->exec(event->globalPos());
    }
}

}  // namespace kx::ui
