#pragma once
// Answers modal windows from inside their own loops: the check runs once the window is up,
// and the window is always ended afterwards, so a failing check never leaves a test hanging.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace kx::test {

// Runs `check` on the active modal widget as soon as the next modal loop runs, then ends that
// widget (a message box by its first button, a dialog by reject()).
inline void WhenModalShown(std::function<void(QWidget*)> check) {
    QTimer::singleShot(0, [check = std::move(check)] {
        QWidget* modal = QApplication::activeModalWidget();
        check(modal);
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (!box->buttons().isEmpty()) {
                box->buttons().first()->click();
                return;
            }
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

// The one QApplication of a test program. Never destroyed: at exit, Qt's own statics (the
// test pointing device among them) may already be gone.
inline QApplication& App() {
    static int argc = 1;
    static char name[] = KX_TEST_EXE_NAME;
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace kx::test
