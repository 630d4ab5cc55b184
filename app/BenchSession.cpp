#include "app/BenchSession.h"

#include <QDialog>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

#include "app/BenchWindow.h"
#include "app/ConfigApp.h"
#include "emulation/VirtualBench.h"
#include "ui/qt/QtConfigDialog.h"

namespace kx::emu {

void ShowBesideModalDialog(QDialog& dialog, BenchWindow& window) {
    // Window modality without a parent blocks nothing; the dialog stays modal for its own
    // message boxes and the about box, which are its children.
    dialog.setWindowModality(Qt::WindowModal);
    dialog.adjustSize();
    window.move(dialog.pos().x() + dialog.frameGeometry().width() + 16, dialog.pos().y());
    window.show();
}

QImage RenderSideBySide(QWidget& left, QWidget& right) {
    constexpr int kMargin = 12;
    const QPixmap a = left.grab();
    const QPixmap b = right.grab();
    QImage image(a.width() + b.width() + 3 * kMargin,
                 std::max(a.height(), b.height()) + 2 * kMargin, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.drawPixmap(kMargin, kMargin, a);
    painter.drawPixmap(2 * kMargin + a.width(), kMargin, b);
    painter.end();
    return image;
}

int RunBench(VirtualBench& bench, DeviceLibrary& library, const QString& screenshotPath) {
    BenchWindow window(bench);
    CConfigApp app(library, bench, bench);
    int status = 0;
    app.setDialogHook([&](kx::ui::QtConfigDialog& dlg) {
        ShowBesideModalDialog(dlg, window);
        if (screenshotPath.isEmpty()) {
            return;
        }
        // Runs once the modal loop has shown the dialog.
        QTimer::singleShot(0, &dlg, [&] {
            const QImage image = RenderSideBySide(dlg, window);
            if (!image.save(screenshotPath, "PNG")) {
                std::fprintf(stderr, "KX4701SetCfgBench: cannot write the screenshot to %s\n",
                             qPrintable(screenshotPath));
                status = 1;
            }
            dlg.reject();
        });
    });
    app.Run();
    return status;
}

}  // namespace kx::emu
