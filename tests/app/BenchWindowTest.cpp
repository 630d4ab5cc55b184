// The bench window: rows follow the bench, buttons act on it, and it stays usable while the
// configuration dialog runs modally; the bench program renders both windows offscreen.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include "ImageChecks.h"
#include "ModalHelpers.h"
#include "app/BenchSession.h"
#include "app/BenchWindow.h"
#include "app/ConfigApp.h"
#include "config/TextCodec.h"
#include "device/BenchDevices.h"
#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"

namespace {

using kx::bench::BenchWindow;

class BenchWindowTest : public ::testing::Test {
  protected:
    QString Cell(int row, BenchWindow::Column col) const {
        QTableWidgetItem* item = window.table()->item(row, col);
        return item == nullptr ? QStringLiteral("<none>") : item->text();
    }
    int Rows() const { return window.table()->rowCount(); }
    int RowOf(int id) const {
        for (int row = 0; row < Rows(); ++row) {
            if (Cell(row, BenchWindow::COL_ID) == QString::number(id)) {
                return row;
            }
        }
        return -1;
    }
    QPushButton* Button(const char* name) const {
        return window.findChild<QPushButton*>(QString::fromLatin1(name));
    }

    QApplication& app = kx::test::App();  // first: the window below needs it
    kx::bench::BenchDevices devices;
    kx::bench::VirtualBench& bench = devices.bench();
    BenchWindow window{bench};
};

TEST_F(BenchWindowTest, ShowsEachDeviceWithItsStoredSettings) {
    const int chip = bench.plugChip();
    const int other = bench.plugPlainHid("USB 键盘");
    ASSERT_EQ(Rows(), 2);
    const int c = RowOf(chip);
    EXPECT_EQ(Cell(c, BenchWindow::COL_PATH), QString::fromStdString(bench.device(chip)->path));
    EXPECT_EQ(Cell(c, BenchWindow::COL_KIND), QStringLiteral("KX4701芯片"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_HELD), QStringLiteral("否"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_VID), QStringLiteral("3C5B"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_PID), QStringLiteral("B207"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_VERSION), QStringLiteral("0100"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_MANUFACTURER), QStringLiteral("KX-CHIPS"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_PRODUCT), QStringLiteral("HID To Serial"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_SERIAL), QStringLiteral("12345678"));
    EXPECT_EQ(Cell(c, BenchWindow::COL_SERIAL_SETTINGS), QStringLiteral("06 04 01 04 40"));
    const int o = RowOf(other);
    EXPECT_EQ(Cell(o, BenchWindow::COL_KIND), QStringLiteral("其他HID设备"));
    EXPECT_EQ(Cell(o, BenchWindow::COL_SERIAL_SETTINGS), QString());
}

TEST_F(BenchWindowTest, RowsFollowPlugUnplugAndHold) {
    const int a = bench.plugChip();
    const int b = bench.plugChip();
    EXPECT_EQ(Rows(), 2);
    bench.setHeld(b, true);
    EXPECT_EQ(Cell(RowOf(b), BenchWindow::COL_HELD), QStringLiteral("是"));
    EXPECT_EQ(Cell(RowOf(a), BenchWindow::COL_HELD), QStringLiteral("否"));
    ASSERT_TRUE(bench.unplug(a));
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(RowOf(a), -1);
    ASSERT_TRUE(bench.replug(a));
    EXPECT_EQ(Rows(), 2);
    bench.setHeld(b, false);
    EXPECT_EQ(Cell(RowOf(b), BenchWindow::COL_HELD), QStringLiteral("否"));
}

// Writes through the library land in the chip's stored settings, and the row shows them,
// the CP936 strings as readable text.
TEST_F(BenchWindowTest, RowsFollowWritesThroughTheLibrary) {
    const int id = bench.plugChip();
    kx::DeviceLibrary& lib = devices.library();
    const std::string path = bench.device(id)->path;
    const kx::DeviceHandle h = lib.KX4701OpenDevicePath(path.c_str());
    ASSERT_NE(h, kx::INVALID_DEVICE_HANDLE);
    ASSERT_NE(lib.KX4701SetDefaultRate(h, 13, 2, 2, 3, 0x30), 0);
    EXPECT_EQ(Cell(RowOf(id), BenchWindow::COL_SERIAL_SETTINGS), QStringLiteral("0D 02 02 03 30"));

    const std::string maker = *kx::text::Utf8ToAnsi("测试厂商");
    const std::string product = *kx::text::Utf8ToAnsi("串口");
    const std::string serial = "SN-1";
    ASSERT_NE(lib.KX4701SetDeviceCfg(
                  h, 0x1234, 0xABCD, 50, maker.data(), std::uint8_t(maker.size()), product.data(),
                  std::uint8_t(product.size()), serial.data(), std::uint8_t(serial.size())),
              0);
    const int row = RowOf(id);
    EXPECT_EQ(Cell(row, BenchWindow::COL_VID), QStringLiteral("1234"));
    EXPECT_EQ(Cell(row, BenchWindow::COL_PID), QStringLiteral("ABCD"));
    EXPECT_EQ(Cell(row, BenchWindow::COL_MANUFACTURER), QStringLiteral("测试厂商"));
    EXPECT_EQ(Cell(row, BenchWindow::COL_PRODUCT), QStringLiteral("串口"));
    EXPECT_EQ(Cell(row, BenchWindow::COL_SERIAL), QStringLiteral("SN-1"));
    EXPECT_GT(Cell(row, BenchWindow::COL_REPORTS).toInt(), 0);
    lib.KX4701CloseDevice(h);
}

TEST_F(BenchWindowTest, ButtonsPlugUnplugHoldAndRelease) {
    window.show();
    QTest::mouseClick(Button("plugChipButton"), Qt::LeftButton);
    QTest::mouseClick(Button("plugOtherButton"), Qt::LeftButton);
    ASSERT_EQ(bench.devices().size(), 2u);
    EXPECT_TRUE(bench.devices()[0].isChip);
    EXPECT_FALSE(bench.devices()[1].isChip);
    const int chip = bench.devices()[0].id;
    const int other = bench.devices()[1].id;
    EXPECT_EQ(window.selectedDeviceId(), other);  // a new device is selected

    ASSERT_TRUE(window.selectDevice(chip));
    EXPECT_TRUE(Button("holdButton")->isEnabled());
    EXPECT_FALSE(Button("releaseButton")->isEnabled());
    QTest::mouseClick(Button("holdButton"), Qt::LeftButton);
    EXPECT_TRUE(bench.device(chip)->held);
    EXPECT_EQ(window.selectedDeviceId(), chip);  // the refresh kept the selection
    EXPECT_FALSE(Button("holdButton")->isEnabled());
    EXPECT_TRUE(Button("releaseButton")->isEnabled());
    QTest::mouseClick(Button("releaseButton"), Qt::LeftButton);
    EXPECT_FALSE(bench.device(chip)->held);

    QTest::mouseClick(Button("unplugButton"), Qt::LeftButton);
    EXPECT_FALSE(bench.device(chip).has_value());
    EXPECT_TRUE(bench.device(other).has_value());
    EXPECT_EQ(Rows(), 1);
    // Nothing selected now: the device buttons do nothing and say so by being disabled.
    EXPECT_EQ(window.selectedDeviceId(), 0);
    EXPECT_FALSE(Button("unplugButton")->isEnabled());
    EXPECT_FALSE(Button("holdButton")->isEnabled());
    window.unplugSelected();
    EXPECT_EQ(bench.devices().size(), 1u);
}

TEST_F(BenchWindowTest, StopsListeningWhenDestroyed) {
    {
        BenchWindow second(bench);  // takes over the listener, then drops it
    }
    bench.plugChip();  // must not reach the destroyed window
    EXPECT_EQ(bench.devices().size(), 1u);
}

// Clicks through the window system, where modality is enforced, and reports whether the
// bench saw a new chip.
bool ClickPlugWhileDialogRuns(kx::bench::BenchDevices& devices, BenchWindow& window,
                              bool benchSetup, int* dialogDevicesAfter) {
    CConfigApp app(devices.library(), devices.probe(), devices.notifications());
    const std::size_t before = devices.bench().devices().size();
    std::size_t after = before;
    app.setDialogHook([&](kx::ui::QtConfigDialog& dlg) {
        if (benchSetup) {
            kx::bench::ShowBesideModalDialog(dlg, window);
        } else {
            window.show();
        }
        QTimer::singleShot(0, &dlg, [&] {
            EXPECT_EQ(QApplication::activeModalWidget(), &dlg);
            auto* button = window.findChild<QPushButton*>(QStringLiteral("plugChipButton"));
            QWindow* handle = window.windowHandle();
            if (handle != nullptr && button != nullptr) {
                QTest::mouseClick(handle, Qt::LeftButton, {},
                                  button->mapTo(&window, button->rect().center()));
            }
            QCoreApplication::processEvents();  // the posted device event
            after = devices.bench().devices().size();
            *dialogDevicesAfter = dlg.Ops().GetCount(kx::IDC_DEVICE_COMBO);
            dlg.reject();
        });
    });
    EXPECT_EQ(app.InitInstance(), 0);
    return after == before + 1;
}

TEST_F(BenchWindowTest, StaysUsableWhileTheDialogIsModal) {
    bench.plugChip();
    int listed = 0;
    EXPECT_TRUE(ClickPlugWhileDialogRuns(devices, window, true, &listed));
    EXPECT_EQ(listed, 2);  // the dialog followed the new chip
}

// The check above must be able to fail: an application-modal dialog blocks the click.
TEST_F(BenchWindowTest, ApplicationModalDialogWouldBlockTheBench) {
    bench.plugChip();
    int listed = 0;
    EXPECT_FALSE(ClickPlugWhileDialogRuns(devices, window, false, &listed));
    EXPECT_EQ(listed, 1);
}

TEST_F(BenchWindowTest, RunBenchRendersBothWindowsToAPng) {
    bench.plugChip();
    bench.plugChip();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bench.png"));
    EXPECT_EQ(kx::bench::RunBench(bench, devices.library(), path), 0);
    const QImage image(path);
    ASSERT_FALSE(image.isNull());
    EXPECT_TRUE(kx::test::LooksDrawn(image, 0.1));
    // Both windows: wider than the dialog alone and far wider than tall.
    EXPECT_GT(image.width(), 2 * image.height());
    // The left half (the dialog) and the right part (the bench) each have ink.
    EXPECT_TRUE(kx::test::LooksDrawn(image.copy(0, 0, image.width() / 3, image.height())));
    EXPECT_TRUE(kx::test::LooksDrawn(
        image.copy(2 * image.width() / 3, 0, image.width() / 3, image.height())));
}

TEST_F(BenchWindowTest, RunBenchReportsAnUnwritableScreenshot) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/dir/bench.png"));
    EXPECT_EQ(kx::bench::RunBench(bench, devices.library(), path), 1);
    EXPECT_FALSE(QFileInfo::exists(path));
}

// The real bench program, as scripts/run starts it without a display.
TEST(BenchProgram, WritesAScreenshotAndExitsWithZero) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("shot.png"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KX_BENCH_EXE), {QStringLiteral("--screenshot"), path});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(kx::test::LooksDrawn(QImage(path), 0.1));
}

TEST(BenchProgram, RefusesUnknownArguments) {
    QProcess process;
    process.start(QStringLiteral(KX_BENCH_EXE), {QStringLiteral("--bogus")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("usage"));
}

}  // namespace
