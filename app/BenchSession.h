#pragma once
// The bench program's run: the configuration dialog over a virtual chip bench, with the
// bench window beside it. Kept apart from main() so the tests can run it too.

#include <QImage>
#include <QString>

class QDialog;
class QWidget;

namespace kx {
class DeviceLibrary;
}

namespace kx::emu {

class BenchWindow;
class VirtualBench;

// Makes `dialog` modal to its own parent chain only (it has none), so that running it
// modally blocks no other window, and shows `window` to the right of it. Call before the
// dialog runs; both must be top-level windows.
void ShowBesideModalDialog(QDialog& dialog, BenchWindow& window);

// The two windows rendered side by side (`left` first) on a white backdrop. Works on any
// platform, offscreen included: the widgets paint into the image, nothing is read back
// from a screen.
QImage RenderSideBySide(QWidget& left, QWidget& right);

// Runs the configuration dialog over `library` (which must drive `bench`) with the bench
// window beside it, until the dialog ends. With a non-empty `screenshotPath` it renders
// both windows to that PNG file once the dialog is up and ends the dialog. Returns the exit
// status: 0, or 1 if the screenshot could not be written (the reason goes to stderr).
int RunBench(VirtualBench& bench, DeviceLibrary& library, const QString& screenshotPath = {});

}  // namespace kx::emu
