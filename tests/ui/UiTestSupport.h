#pragma once
// The configuration dialog over a virtual chip bench and our device library, driven through
// its real widgets (offscreen), with every message box and about box answered by the test.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "device/KxLibrary.h"
#include "device/LastError.h"
#include "emulation/VirtualBench.h"
#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"

namespace kx::uitest {

// The three commands that write to a chip, with the status line each shows on failure.
struct WriteCommand {
    int button;
    const char* failedStatus;
};
inline constexpr WriteCommand WRITE_COMMANDS[] = {
    {IDC_SET_RATE_BUTTON, "操作状态:设置默认串口参数失败!"},
    {IDC_SET_CFG_BUTTON, "操作状态:参数设置失败!"},
    {IDC_FACTORY_BUTTON, "操作状态:恢复出厂设置失败!"},
};

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "kx_ui_test", *argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);  // lives until the process ends
    return *app;
}

// Our library over `bus`, recording what the dialog asked of it; two switches make it
// misbehave the way a foreign library might.
class RecordingLibrary : public KxLibrary {
  public:
    using KxLibrary::KxLibrary;

    std::vector<DeviceHandle> closed;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> timeouts;
    int dllIntCalls = 0, pathCalls = 0, deviceCfgs = 0;
    bool endlessList = false;            // every index fails, none with "no more items"
    bool productFailsUntouched = false;  // the product read fails, the buffer untouched

    int KX4701DllInt() override { return ++dllIntCalls, KxLibrary::KX4701DllInt(); }
    int KX4701GetDevicePath(std::int32_t index, char* buffer, std::uint32_t size) override {
        ++pathCalls;
        return endlessList ? (SetLastError(ERROR_GEN_FAILURE_CODE), 0)
                           : KxLibrary::KX4701GetDevicePath(index, buffer, size);
    }
    int KX4701CloseDevice(DeviceHandle h) override {
        return closed.push_back(h), KxLibrary::KX4701CloseDevice(h);
    }
    int KX4701SetTimeOut(DeviceHandle h, std::uint32_t r, std::uint32_t w) override {
        return timeouts.emplace_back(r, w), KxLibrary::KX4701SetTimeOut(h, r, w);
    }
    int KX4701SetDeviceCfg(DeviceHandle h, std::uint16_t vid, std::uint16_t pid,
                           std::uint8_t maxPower, const char* m, std::uint8_t ml, const char* p,
                           std::uint8_t pl, const char* s, std::uint8_t sl) override {
        ++deviceCfgs;
        return KxLibrary::KX4701SetDeviceCfg(h, vid, pid, maxPower, m, ml, p, pl, s, sl);
    }
    int KX4701GetProductString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return productFailsUntouched ? 0 : KxLibrary::KX4701GetProductString(h, b, u);
    }
};

// Ends every dialog or message box that opens over the tested one with reject(), from inside
// its modal loop, and remembers what it saw.
class ModalAnswerer : public QObject {
  public:
    struct Seen {
        QString className, title, text;
        bool plainOk = false;  // a message box with an OK button only and no icon
    };
    std::vector<Seen> seen;

    ModalAnswerer() { App().installEventFilter(this); }
    ~ModalAnswerer() override { App().removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() != QEvent::Show || !widget || !widget->isWindow() || !widget->isModal()) {
            return false;
        }
        auto* box = qobject_cast<QMessageBox*>(widget);
        seen.push_back({QString::fromLatin1(widget->metaObject()->className()),
                        widget->windowTitle(), box ? box->text() : QString(),
                        box && box->icon() == QMessageBox::NoIcon &&
                            box->standardButtons() == QMessageBox::Ok});
        if (auto* dialog = qobject_cast<QDialog*>(widget)) {
            QMetaObject::invokeMethod(
                dialog, [dialog] { dialog->reject(); }, Qt::QueuedConnection);
        }
        return false;
    }
};

inline QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class DialogTest : public ::testing::Test {
  protected:
    DialogTest() { App(); }
    ~DialogTest() override { dlg.reset(); }

    emu::VirtualBench bench;
    RecordingLibrary library{bench};
    KxLibrary& kxLibrary = library;
    ModalAnswerer modals;
    std::unique_ptr<ui::QtConfigDialog> dlg;

    // Creates and shows the dialog (its initialisation runs on the first show).
    void Start() {
        dlg = std::make_unique<ui::QtConfigDialog>(library, bench, bench);
        dlg->show();
    }

    ui::QtWindowOps& ops() { return dlg->Ops(); }
    std::string text(int id) { return ops().WindowText(id); }
    std::string status() { return text(IDC_STATUS); }
    bool enabled(int id) { return ops().IsWindowEnabled(id); }
    bool checked(int id) { return ops().IsDlgButtonChecked(id); }

    template <class W>
    W* control(int id) {
        return qobject_cast<W*>(ops().GetDlgItem(id));
    }

    std::vector<std::string> entries(int comboId) {
        std::vector<std::string> result;
        for (int i = 0; i < ops().GetCount(comboId); ++i) {
            result.push_back(ops().GetLBText(comboId, i));
        }
        return result;
    }

    void Click(int id) { QTest::mouseClick(control<QAbstractButton>(id), Qt::LeftButton); }

    // Opens the list and picks the entry with the keyboard, as the user does.
    void Choose(int comboId, const char* utf8) {
        QComboBox* combo = control<QComboBox>(comboId);
        const int index = combo->findText(Q(utf8));
        ASSERT_GE(index, 0) << utf8;
        combo->showPopup();
        combo->view()->setCurrentIndex(combo->model()->index(index, 0));
        QTest::keyClick(combo->view(), Qt::Key_Enter);
        ASSERT_EQ(combo->currentIndex(), index);
    }

    // Replaces an edit's text by typing, one key event per character (keyClicks is ASCII only).
    void Type(int id, const char* utf8) {
        QLineEdit* edit = control<QLineEdit>(id);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        for (const char32_t cp : Q(utf8).toUcs4()) {
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString::fromUcs4(&cp, 1),
                                Qt::NoModifier);
        }
    }

    // Runs the dialog's queued messages (the posted device events).
    void Pump() { QCoreApplication::sendPostedEvents(); }

    void OpenSelected() {
        Click(IDC_OPEN_BUTTON);
        ASSERT_EQ(status(), "操作状态:打开设备成功!");
    }

    SerialDefaults StoredSerial(int id) { return bench.device(id)->serial; }
    emu::ChipIdentity StoredIdentity(int id) { return bench.device(id)->identity; }
};

}  // namespace kx::uitest
