// Start-up, the about box, the bench window and program, and the committed resources.

#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

#include "app/BenchSession.h"
#include "app/BenchWindow.h"
#include "app/ConfigApp.h"
#include "emulation/BenchDevices.h"
#include "res/AppIcon.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/DialogTemplate.h"
#include "ui/qt/AboutDlg.h"

namespace kx::uitest {
namespace {

using emu::BenchWindow;

// Rendered, not blank: several colours, and enough pixels unlike the top-left one.
bool LooksDrawn(const QImage& image, double minShare = 0.02) {
    QSet<QRgb> colours;
    double unlike = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
            unlike += image.pixel(x, y) != image.pixel(0, 0);
        }
    }
    return colours.size() >= 3 && unlike >= minShare * image.width() * image.height();
}

class AppTest : public ::testing::Test {
  protected:
    AppTest() { App(); }
    emu::BenchDevices devices;
    emu::VirtualBench& bench = devices.bench();
    RecordingLibrary library{bench};
    std::optional<ModalAnswerer> modals;  // made inside the dialog's loop: it ends every modal
    CConfigApp app{library, devices.probe(), devices.notifications()};

    // Runs start-up; `during` runs inside the dialog's modal loop, which is then ended
    // (rejected) unless `during` ended it.
    int RunWith(std::function<void(ui::QtConfigDialog&)> during) {
        app.setDialogHook([this, during](ui::QtConfigDialog& dlg) {
            EXPECT_EQ(library.dllIntCalls, 1) << "the library is initialised before the dialog";
            EXPECT_EQ(library.pathCalls, 0);
            QTimer::singleShot(0, &dlg, [this, &dlg, during] {
                EXPECT_EQ(QApplication::activeModalWidget(), &dlg);
                EXPECT_EQ(app.mainWindow(), &dlg);
                modals.emplace();
                during(dlg);
                modals.reset();
                if (dlg.isVisible()) {
                    dlg.reject();
                }
            });
        });
        library.dllIntCalls = library.pathCalls = 0;
        return app.InitInstance();
    }
};

TEST_F(AppTest, StartUpRunsTheDialogModallyWithItsHelpAndAboutBoxesAndReturnsZero) {
    bench.plugChip();
    std::vector<ModalAnswerer::Seen> seen;
    EXPECT_EQ(
        RunWith([&](ui::QtConfigDialog& dlg) {
            EXPECT_EQ(std::size_t(dlg.windowIcon().availableSizes().size()), kAppIconSizes.size());
            dlg.activateWindow();
            ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &dlg; }));
            QTest::keyClick(&dlg, Qt::Key_F1);
            dlg.OnSysCommand(IDM_ABOUTBOX);
            seen = modals->seen;
            QTest::keyClick(&dlg, Qt::Key_Escape);
            EXPECT_FALSE(dlg.isVisible());
        }),
        0);
    EXPECT_GT(library.pathCalls, 0) << "the dialog initialised itself";
    EXPECT_EQ(app.mainWindow(), nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, Q(HELP_MESSAGE));
    EXPECT_EQ(seen[1].title, Q("关于 KX4701SetCfg"));
    // The framework's wrapper: no message loop follows, status 0 whatever the dialog returned.
    app.setDialogHook(
        [](ui::QtConfigDialog& d) { QTimer::singleShot(0, &d, [&d] { d.done(7); }); });
    EXPECT_EQ(app.Run(), 0);
}

TEST_F(AppTest, AboutBoxShowsItsTextsBesideTheIconAndItsButtonAccepts) {
    CAboutDlg about;
    QStringList texts;
    QLabel* icon = nullptr;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        label->text().isEmpty() ? void(icon = label) : texts.append(label->text());
    }
    EXPECT_EQ(texts, (QStringList{Q("KX4701CfgTool 1.0 版"), Q("HID 转串口芯片配置工具")}));
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(LooksDrawn(icon->pixmap().toImage(), 0.2));
    auto* ok = about.findChild<QPushButton*>();
    EXPECT_TRUE(ok->isDefault());
    QTimer::singleShot(0, &about, [ok] { QTest::mouseClick(ok, Qt::LeftButton); });
    QTimer::singleShot(5000, &about, [&] { about.done(42); });  // only if the click did not
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}

class BenchTest : public AppTest {
  protected:
    BenchWindow window{bench};
    QString Cell(int id, BenchWindow::Column col) const {
        for (int row = 0; row < window.table()->rowCount(); ++row) {
            if (window.table()->item(row, BenchWindow::COL_ID)->text() == QString::number(id)) {
                return window.table()->item(row, col)->text();
            }
        }
        return QStringLiteral("<no row>");
    }
    void Press(const char* name) {
        QTest::mouseClick(window.findChild<QPushButton*>(QString::fromLatin1(name)),
                          Qt::LeftButton);
    }
};

TEST_F(BenchTest, RowsFollowTheBenchButtonsActOnItAndTheProgramRendersBothWindows) {
    const int chip = bench.plugChip();
    const int other = bench.plugPlainHid("USB 键盘");
    EXPECT_EQ(Cell(chip, BenchWindow::COL_KIND) + Cell(other, BenchWindow::COL_KIND),
              Q("KX4701芯片其他HID设备"));
    const DeviceHandle h = library.KX4701OpenDevicePath(bench.device(chip)->path.c_str());
    ASSERT_TRUE(library.KX4701SetDefaultRate(h, 13, 2, 2, 3, 0x30));
    library.KX4701CloseDevice(h);
    EXPECT_EQ(Cell(chip, BenchWindow::COL_SERIAL_SETTINGS), Q("0D 02 02 03 30"));
    window.show();
    ASSERT_TRUE(window.selectDevice(chip));
    Press("holdButton");
    EXPECT_EQ(Cell(chip, BenchWindow::COL_HELD), Q("是"));
    EXPECT_EQ(window.selectedDeviceId(), chip) << "the refresh kept the selection";
    Press("unplugButton");
    EXPECT_FALSE(bench.device(chip).has_value());
    Press("plugChipButton");
    EXPECT_EQ(bench.devices().size(), 2u);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.png"));
    EXPECT_EQ(emu::RunBench(bench, devices.library(), path), 0);
    const QImage image(path);
    const int third = image.width() / 3;
    EXPECT_GT(image.width(), 2 * image.height()) << "both windows, side by side";
    EXPECT_TRUE(LooksDrawn(image.copy(0, 0, third, image.height())));
    EXPECT_TRUE(LooksDrawn(image.copy(2 * third, 0, third, image.height())));
    EXPECT_EQ(emu::RunBench(bench, devices.library(), dir.filePath("no/dir/x.png")), 1);
    QProcess process;
    process.start(QStringLiteral(KX_BENCH_EXE), {QStringLiteral("--bogus")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("usage"));
}

TEST_F(AppTest, IconsAreDrawnInEverySizeAndTheCommittedFilesMatch) {
    const QIcon icon = LoadApplicationIcon();
    for (const int size : kAppIconSizes) {
        const QImage image = icon.pixmap(size, size).toImage();
        EXPECT_TRUE(LooksDrawn(image, 0.3)) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "an icon, not a filled square";
        EXPECT_EQ(QImage(QStringLiteral(KX_SOURCE_DIR "/res/icons/kx4701setcfg-%1.png").arg(size)),
                  QImage(QStringLiteral(":/res/icons/kx4701setcfg-%1.png").arg(size)));
    }
}

TEST_F(AppTest, UdevRule) {
    // The seat gets a hidraw node on the probe's word about its report descriptor alone: no
    // line matches on ids (a rewritten chip keeps its access, an impostor gets none) or sets
    // a mode. The VM test runs the rule under udevd.
    QFile file(QStringLiteral(KX_SOURCE_DIR "/res/60-kx4701.rules"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll())
                                  .split(u'\n')
                                  .filter(QRegularExpression(QStringLiteral("^[^#]")));
    EXPECT_TRUE(lines.contains(
        QStringLiteral(R"(IMPORT{program}="kx4701-udev-probe %S%p/device/report_descriptor")")));
    EXPECT_EQ(lines.filter(QStringLiteral("uaccess")),
              QStringList{QStringLiteral(R"(ENV{KX4701_CHIP}=="1", TAG+="uaccess")")});
    EXPECT_TRUE(
        lines.filter(QRegularExpression(QStringLiteral("idVendor|idProduct|MODE"))).isEmpty());
}

// The Windows program shows the resource script's templates, the Qt program the table's:
// the same controls, identifiers, kinds, captions, styles and positions in the same order.
TEST_F(AppTest, ResourceScriptTemplatesAgreeWithTheTemplateTable) {
    using ui::ControlKind;
    const QStringList styleNames{"WS_TABSTOP",      "WS_GROUP",         "WS_BORDER",
                                 "WS_VSCROLL",      "ES_AUTOHSCROLL",   "ES_READONLY",
                                 "BS_AUTOCHECKBOX", "BS_DEFPUSHBUTTON", "SS_NOPREFIX",
                                 "CBS_DROPDOWN",    "CBS_SORT",         "SS_CENTERIMAGE"};
    QFile file(QStringLiteral(KX_SOURCE_DIR "/res/KX4701SetCfg.rc"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString rc = QString::fromUtf8(file.readAll());
    for (const ui::DialogTemplate* t : {&ui::ConfigDialogTemplate(), &ui::AboutBoxTemplate()}) {
        const QString name = QString::fromUtf8(t->name);
        const qsizetype start = rc.indexOf(name + QStringLiteral(" DIALOGEX "));
        ASSERT_GE(start, 0) << t->name;
        const QString block = rc.mid(start, rc.indexOf(QStringLiteral("\nEND"), start) - start);
        EXPECT_TRUE(block.startsWith(
            QStringLiteral("%1 DIALOGEX 0, 0, %2, %3").arg(name).arg(t->cx).arg(t->cy)));
        EXPECT_TRUE(block.contains(QStringLiteral("\nCAPTION \"%1\"\n").arg(t->caption)));
        EXPECT_TRUE(block.contains(
            QStringLiteral("\nFONT %1, \"%2\",").arg(t->pointSize).arg(t->fontFace)));
        const QStringList lines = block.mid(block.indexOf(QStringLiteral("\nBEGIN\n")) + 7)
                                      .split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(std::size_t(lines.size()), t->controls.size()) << t->name;
        for (std::size_t i = 0; i < t->controls.size(); ++i) {
            const ui::ControlTemplate& want = t->controls[i];
            // ICON icon, id, x, y, cx, cy / CONTROL text, id, class, style, x, y, cx, cy
            const QString line = lines[qsizetype(i)].trimmed();
            SCOPED_TRACE(line.toStdString());
            const bool icon = line.startsWith(QStringLiteral("ICON "));
            QStringList f = line.mid(line.indexOf(u' ') + 1).split(u',');
            for (QString& field : f) {
                field = field.trimmed().remove(u'"');
            }
            std::uint32_t styles = 0;
            for (const QString& s : icon ? QStringList{} : f.value(3).split(u'|')) {
                const qsizetype bit = styleNames.indexOf(
                    s.trimmed().replace(QStringLiteral("CBS_AUTOHSCROLL"), "ES_AUTOHSCROLL"));
                styles |= bit < 0 ? 0u : 1u << bit;
            }
            const QString style = f.value(3);
            const ControlKind kind = icon                                ? ControlKind::Icon
                                     : style.contains("BS_GROUPBOX")     ? ControlKind::GroupBox
                                     : style.contains("BS_AUTOCHECKBOX") ? ControlKind::CheckBox
                                     : f.value(2) == "ComboBox"          ? ControlKind::ComboBox
                                     : f.value(2) == "Edit"              ? ControlKind::Edit
                                     : f.value(2) == "Static"            ? ControlKind::Label
                                                                         : ControlKind::PushButton;
            const qsizetype at = icon ? 2 : 4;
            EXPECT_EQ(f.value(1), want.id == IDC_STATIC_ID ? QStringLiteral("IDC_STATIC")
                                                           : QString::fromUtf8(want.name));
            EXPECT_EQ(kind, want.kind);
            EXPECT_EQ(icon ? QString() : f.value(0), QString::fromUtf8(want.caption));
            EXPECT_EQ(styles, want.styles);
            EXPECT_EQ((ui::DluRect{f.value(at).toInt(), f.value(at + 1).toInt(),
                                   f.value(at + 2).toInt(), f.value(at + 3).toInt()}),
                      want.rect);
        }
    }
}

}  // namespace
}  // namespace kx::uitest
