#include "ui/qt/AboutDlg.h"

#include <QPushButton>
#include <QVariant>

#include "ui/ControlIds.h"
#include "ui/qt/QtDialogBuilder.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const std::vector<QWidget*> controls = kx::ui::BuildDialog(*this, kx::ui::AboutBoxTemplate());
    // The framework's default OK handling: the OK button (IDOK) ends the dialog.
    for (QWidget* control : controls) {
        auto* button = qobject_cast<QPushButton*>(control);
        if (button != nullptr &&
            button->property(kx::ui::CONTROL_ID_PROPERTY).toInt() == kx::IDOK_BUTTON) {
            connect(button, &QPushButton::clicked, this, &QDialog::accept);
        }
    }
}
