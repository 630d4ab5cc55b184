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

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/KxLibrary.h"
#include "device/LastError.h"
#include "device/VirtualBench.h"
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
    static char name[] = "kx_ui_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: the process ends with it, after every test has run.
    static auto* app = new QApplication(argc, argv);
    return *app;
}

// Forwards to the real library and records what the dialog asked of it; a few switches
// make it misbehave the way a foreign library might.
class RecordingLibrary : public DeviceLibrary {
  public:
    explicit RecordingLibrary(DeviceLibrary& inner) : inner_(inner) {}

    std::vector<std::string> openedPaths;
    std::vector<DeviceHandle> closed;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> timeouts;
    int dllIntCalls = 0, bufferLenCalls = 0, pathCalls = 0, rates = 0, deviceCfgs = 0,
        resetCalls = 0;
    std::uint8_t lastMaxPower = 0;
    // Never reports the end of the device list (every index fails with another error).
    bool endlessList = false;
    // The product read fails without touching the caller's buffer.
    bool productFailsUntouched = false;

    int KX4701DllInt() override { return ++dllIntCalls, inner_.KX4701DllInt(); }
    int KX4701GetHidGuid(Guid* guid) override { return inner_.KX4701GetHidGuid(guid); }
    int KX4701GetDevicePath(std::int32_t index, char* buffer, std::uint32_t size) override {
        ++pathCalls;
        if (endlessList) {
            SetLastError(ERROR_GEN_FAILURE_CODE);
            return 0;
        }
        return inner_.KX4701GetDevicePath(index, buffer, size);
    }
    DeviceHandle KX4701OpenDevicePath(const char* path) override {
        return openedPaths.emplace_back(path), inner_.KX4701OpenDevicePath(path);
    }
    int KX4701CloseDevice(DeviceHandle h) override {
        return closed.push_back(h), inner_.KX4701CloseDevice(h);
    }
    int KX4701GetAttributes(DeviceHandle h, std::uint16_t* v, std::uint16_t* p,
                            std::uint16_t* r) override {
        return inner_.KX4701GetAttributes(h, v, p, r);
    }
    int KX4701GetBufferLen(DeviceHandle h, std::uint16_t* in, std::uint16_t* out) override {
        return ++bufferLenCalls, inner_.KX4701GetBufferLen(h, in, out);
    }
    int KX4701SetTimeOut(DeviceHandle h, std::uint32_t r, std::uint32_t w) override {
        return timeouts.emplace_back(r, w), inner_.KX4701SetTimeOut(h, r, w);
    }
    int KX4701SetDefaultRate(DeviceHandle h, std::uint8_t b, std::uint8_t p, std::uint8_t s,
                             std::uint8_t d, std::uint8_t t) override {
        return ++rates, inner_.KX4701SetDefaultRate(h, b, p, s, d, t);
    }
    int KX4701SetDeviceCfg(DeviceHandle h, std::uint16_t vid, std::uint16_t pid,
                           std::uint8_t maxPower, const char* m, std::uint8_t ml, const char* p,
                           std::uint8_t pl, const char* s, std::uint8_t sl) override {
        ++deviceCfgs;
        lastMaxPower = maxPower;
        return inner_.KX4701SetDeviceCfg(h, vid, pid, maxPower, m, ml, p, pl, s, sl);
    }
    int KX4701GetManufacturerString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return inner_.KX4701GetManufacturerString(h, b, u);
    }
    int KX4701GetProductString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return productFailsUntouched ? 0 : inner_.KX4701GetProductString(h, b, u);
    }
    int KX4701GetSerialNumberString(DeviceHandle h, char16_t* b, std::uint32_t u) override {
        return inner_.KX4701GetSerialNumberString(h, b, u);
    }
    int KX4701ResetToDefault(DeviceHandle h) override {
        return ++resetCalls, inner_.KX4701ResetToDefault(h);
    }

  private:
    DeviceLibrary& inner_;
};

// Answers every message box with OK and every other dialog that opens over the tested one
// with reject(), from inside its modal loop, and remembers what it saw.
class ModalAnswerer : public QObject {
  public:
    struct Seen {
        QString className;
        QString title;
        QString text;
        int icon = -1;
        QMessageBox::StandardButtons buttons;
    };

    ModalAnswerer() { App().installEventFilter(this); }
    ~ModalAnswerer() override { App().removeEventFilter(this); }

    std::vector<Seen> seen;

    std::vector<QString> texts() const {
        std::vector<QString> result;
        for (const Seen& s : seen) {
            result.push_back(s.text);
        }
        return result;
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || !watched->isWidgetType()) {
            return false;
        }
        auto* widget = static_cast<QWidget*>(watched);
        if (!widget->isWindow() || !widget->isModal()) {
            return false;
        }
        Seen s;
        s.className = QString::fromLatin1(widget->metaObject()->className());
        s.title = widget->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            s.text = box->text();
            s.icon = box->icon();
            s.buttons = box->standardButtons();
            QMetaObject::invokeMethod(
                box, [box] { box->button(QMessageBox::Ok)->click(); }, Qt::QueuedConnection);
        } else if (auto* dialog = qobject_cast<QDialog*>(widget)) {
            QMetaObject::invokeMethod(
                dialog, [dialog] { dialog->reject(); }, Qt::QueuedConnection);
        }
        seen.push_back(s);
        return false;
    }
};

inline QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Types `text` into `widget` one character at a time, as key events carrying the character
// (QTest::keyClicks knows ASCII only).
inline void TypeText(QWidget* widget, const QString& text) {
    for (const uint cp : text.toUcs4()) {
        const char32_t one[] = {static_cast<char32_t>(cp)};
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString::fromUcs4(one, 1),
                            Qt::NoModifier);
    }
}

class DialogTest : public ::testing::Test {
  protected:
    DialogTest() { App(); }
    ~DialogTest() override { dlg.reset(); }

    bench::VirtualBench bench;
    KxLibrary kxLibrary{bench};
    RecordingLibrary library{kxLibrary};
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
        auto* widget = qobject_cast<W*>(ops().GetDlgItem(id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }

    std::vector<std::string> entries(int comboId) {
        std::vector<std::string> result;
        for (int i = 0; i < ops().GetCount(comboId); ++i) {
            result.push_back(ops().GetLBText(comboId, i));
        }
        return result;
    }

    // A mouse click, as the user makes it.
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

    // Replaces an edit's text by typing, as the user does.
    void Type(int id, const char* utf8) {
        QLineEdit* edit = control<QLineEdit>(id);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        TypeText(edit, Q(utf8));
    }

    // Runs the dialog's queued messages (the posted device events).
    void Pump() { QCoreApplication::sendPostedEvents(); }

    // Opens the selected device with the open button; expects success.
    void OpenSelected() {
        Click(IDC_OPEN_BUTTON);
        ASSERT_EQ(status(), "操作状态:打开设备成功!");
    }

    bench::SerialSettings StoredSerial(int id) { return bench.device(id)->serial; }
    bench::ChipIdentity StoredIdentity(int id) { return bench.device(id)->identity; }
};

}  // namespace kx::uitest
