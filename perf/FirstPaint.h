#pragma once
// The start-up benchmark's finish line, shared by the tool's twin and the toolkit floor:
// after a window's first paint has been handled, print one line to standard output and
// close the window. The line is
//   painted_ns=<CLOCK_MONOTONIC at that moment> cpu_ns=<process CPU time so far>
//   libraries=<shared objects mapped>
// and the launcher (StartupLauncher.cpp) subtracts its own clock reading taken just before
// it started the process. Nothing here reports failure: a missing line is the launcher's
// error to report.

#include <QDialog>
#include <QEvent>
#include <QMetaObject>
#include <QObject>

namespace kx::perf {

// Writes the line now. Counts distinct shared objects in /proc/self/maps.
void ReportPainted();

class FirstPaintWatch : public QObject {
  public:
    explicit FirstPaintWatch(QDialog& dialog) : QObject(&dialog), dialog_(dialog) {
        dialog.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            // Queued: runs once this paint, the children's and the flush have finished.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    ReportPainted();
                    dialog_.reject();
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QDialog& dialog_;
    bool seen_ = false;
};

}  // namespace kx::perf
