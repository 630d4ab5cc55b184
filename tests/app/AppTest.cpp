// Start-up, the about box, the bench window and program, and the committed resources.

#include <QFile>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtEndian>

#include <optional>

#include "app/AboutDlg.h"
#include "app/BenchSession.h"
#include "app/BenchWindow.h"
#include "app/ConfigApp.h"
#include "config/TextCodec.h"
#include "device/BenchDevices.h"
#include "res/AppIcon.h"
#include "res/version.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/DialogTemplate.h"

namespace kx::uitest {
namespace {

using bench::BenchWindow;

// Rendered, not blank: enough pixels unlike the most common colour, and several colours.
bool LooksDrawn(const QImage& source, double minShare = 0.02) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    QMap<QRgb, int> counts;
    int most = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            most = std::max(most, ++counts[image.pixel(x, y)]);
        }
    }
    const double total = double(image.width()) * image.height();
    return !image.isNull() && counts.size() >= 3 && (total - most) / total >= minShare;
}

QByteArray ReadSource(const char* relative) {
    QFile file(QStringLiteral(KX_SOURCE_DIR "/") + QString::fromUtf8(relative));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative;
    return file.readAll();
}

class AppTest : public ::testing::Test {
  protected:
    AppTest() { App(); }
    bench::BenchDevices devices;
    bench::VirtualBench& bench = devices.bench();
    RecordingLibrary library{devices.library()};
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
        return app.InitInstance();
    }
};

TEST_F(AppTest, StartUpRunsTheDialogModallyAndReturnsZeroHoweverItEnds) {
    bench.plugChip();
    const std::function<void(ui::QtConfigDialog&)> endings[] = {
        [](ui::QtConfigDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](ui::QtConfigDialog& d) { d.accept(); },
        [](ui::QtConfigDialog& d) { d.done(7); },
    };
    for (const auto& end : endings) {
        library.dllIntCalls = 0;
        library.pathCalls = 0;
        bool ended = false;
        EXPECT_EQ(RunWith([&](ui::QtConfigDialog& d) {
                      end(d);
                      ended = !d.isVisible();
                  }),
                  0);
        EXPECT_TRUE(ended);
        EXPECT_GT(library.pathCalls, 0) << "the dialog initialised itself";
        EXPECT_EQ(app.mainWindow(), nullptr);
    }
    // The framework's wrapper: no message loop follows, status 0. (A hook of its own: the one
    // above refers to this loop's locals.)
    library.dllIntCalls = 0;
    app.setDialogHook(
        [](ui::QtConfigDialog& d) { QTimer::singleShot(0, &d, [&d] { d.reject(); }); });
    EXPECT_EQ(app.Run(), 0);
}

TEST_F(AppTest, HelpAboutAndValidationBoxesAreCaptionedAndParented) {
    bench.plugChip();
    qsizetype iconSizes = 0;
    std::vector<ModalAnswerer::Seen> seen;
    RunWith([&](ui::QtConfigDialog& dlg) {
        iconSizes = dlg.windowIcon().availableSizes().size();
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &dlg; }));
        QTest::keyClick(&dlg, Qt::Key_F1);
        dlg.OnSysCommand(IDM_ABOUTBOX);
        seen = modals->seen;
    });
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].title, QCoreApplication::applicationName());
    EXPECT_EQ(seen[0].text, Q(HELP_MESSAGE));
    EXPECT_EQ(seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen[1].className, "CAboutDlg");
    EXPECT_EQ(seen[1].title, Q("关于 KX4701SetCfg"));
    EXPECT_EQ(std::size_t(iconSizes), kAppIconSizes.size());
}

TEST_F(AppTest, AboutBoxShowsItsTextsBesideTheIconAndEndsThroughItsButton) {
    CAboutDlg about;
    QStringList texts;
    QLabel* icon = nullptr;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            icon = label;
        } else {
            texts.append(label->text());
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
        }
    }
    EXPECT_EQ(texts, (QStringList{Q("KX4701CfgTool 1.0 版"), Q("HID 转串口芯片配置工具")}));
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(LooksDrawn(icon->pixmap().toImage(), 0.2));
    const QList<QPushButton*> buttons = about.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), Q("确定"));
    EXPECT_TRUE(buttons[0]->isDefault());
    const std::pair<std::function<void()>, int> endings[] = {
        {[&] { QTest::mouseClick(buttons[0], Qt::LeftButton); }, QDialog::Accepted},
        {[&] { QTest::keyClick(&about, Qt::Key_Return); }, QDialog::Accepted},
        {[&] { QTest::keyClick(&about, Qt::Key_Escape); }, QDialog::Rejected},
    };
    for (const auto& [act, result] : endings) {
        QTimer::singleShot(0, &about, act);
        QTimer::singleShot(5000, &about, [&] { about.done(42); });  // only if `act` did not
        EXPECT_EQ(about.exec(), result);
    }
}

// ---- The bench window and program -------------------------------------------------------

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
    QPushButton* Button(const char* name) const {
        return window.findChild<QPushButton*>(QString::fromLatin1(name));
    }
};

TEST_F(BenchTest, RowsFollowPlugsHoldsAndWritesAndButtonsActOnTheBench) {
    const int chip = bench.plugChip();
    const int other = bench.plugPlainHid("USB 键盘");
    EXPECT_EQ(Cell(chip, BenchWindow::COL_KIND), Q("KX4701芯片"));
    EXPECT_EQ(Cell(other, BenchWindow::COL_KIND), Q("其他HID设备"));
    EXPECT_EQ(Cell(chip, BenchWindow::COL_SERIAL_SETTINGS), Q("06 04 01 04 40"));
    bench.setHeld(chip, true);
    EXPECT_EQ(Cell(chip, BenchWindow::COL_HELD), Q("是"));
    bench.setHeld(chip, false);
    DeviceLibrary& lib = devices.library();
    const DeviceHandle h = lib.KX4701OpenDevicePath(bench.device(chip)->path.c_str());
    const std::string maker = *text::Utf8ToAnsi("测试厂商");
    ASSERT_TRUE(lib.KX4701SetDefaultRate(h, 13, 2, 2, 3, 0x30));
    ASSERT_TRUE(lib.KX4701SetDeviceCfg(h, 0x1234, 0xABCD, 50, maker.data(), 8, "P", 1, "S", 1));
    lib.KX4701CloseDevice(h);
    EXPECT_EQ(Cell(chip, BenchWindow::COL_SERIAL_SETTINGS), Q("0D 02 02 03 30"));
    EXPECT_EQ(Cell(chip, BenchWindow::COL_VID) + Cell(chip, BenchWindow::COL_MANUFACTURER),
              Q("1234测试厂商"));

    window.show();
    ASSERT_TRUE(window.selectDevice(chip));
    QTest::mouseClick(Button("holdButton"), Qt::LeftButton);
    EXPECT_TRUE(bench.device(chip)->held);
    EXPECT_EQ(window.selectedDeviceId(), chip) << "the refresh kept the selection";
    QTest::mouseClick(Button("releaseButton"), Qt::LeftButton);
    QTest::mouseClick(Button("unplugButton"), Qt::LeftButton);
    EXPECT_FALSE(bench.device(chip).has_value());
    EXPECT_FALSE(Button("unplugButton")->isEnabled()) << "nothing is selected now";
    QTest::mouseClick(Button("plugChipButton"), Qt::LeftButton);
    EXPECT_EQ(bench.devices().size(), 2u);
}

// The bench's plug button clicked through the window system, where modality is enforced,
// while the dialog runs: the dialog then lists the new chip, unless it is application-modal.
TEST_F(BenchTest, TheBenchStaysUsableBesideTheModalDialogButNotBehindAnApplicationModalOne) {
    bench.plugChip();
    for (const bool beside : {false, true}) {
        int listed = 0;
        app.setDialogHook([&](ui::QtConfigDialog& dlg) {
            beside ? bench::ShowBesideModalDialog(dlg, window) : window.show();
            QTimer::singleShot(0, &dlg, [&] {
                auto* button = Button("plugChipButton");
                QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {},
                                  button->mapTo(&window, button->rect().center()));
                QCoreApplication::processEvents();  // the posted device event
                listed = dlg.Ops().GetCount(IDC_DEVICE_COMBO);
                dlg.reject();
            });
        });
        app.InitInstance();
        EXPECT_EQ(listed, beside ? 2 : 1) << "the check must be able to fail";
    }
}

TEST_F(BenchTest, TheBenchRendersBothWindowsAndTheProgramRefusesUnknownArguments) {
    bench.plugChip();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.png"));
    EXPECT_EQ(bench::RunBench(bench, devices.library(), path), 0);
    const QImage image(path);
    EXPECT_GT(image.width(), 2 * image.height()) << "both windows, side by side";
    EXPECT_TRUE(LooksDrawn(image.copy(0, 0, image.width() / 3, image.height())));
    EXPECT_TRUE(
        LooksDrawn(image.copy(2 * image.width() / 3, 0, image.width() / 3, image.height())));
    EXPECT_EQ(bench::RunBench(bench, devices.library(), dir.filePath("no/dir/x.png")), 1);
    QProcess process;
    process.start(QStringLiteral(KX_BENCH_EXE), {QStringLiteral("--bogus")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("usage"));
}

// ---- Resources --------------------------------------------------------------------------

TEST_F(AppTest, IconsAreDrawnInEverySizeAndTheCommittedFilesMatch) {
    const QIcon icon = LoadApplicationIcon();
    const QByteArray ico = ReadSource("res/kx4701setcfg.ico");
    const auto* bytes = reinterpret_cast<const uchar*>(ico.constData());
    ASSERT_EQ(qFromLittleEndian<quint16>(bytes + 4), kAppIconSizes.size());
    for (std::size_t i = 0; i < kAppIconSizes.size(); ++i) {
        const int size = kAppIconSizes[i];
        const QImage image = icon.pixmap(size, size).toImage();
        EXPECT_TRUE(LooksDrawn(image, 0.3)) << size;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "an icon, not a filled square";
        EXPECT_EQ(QImage(QStringLiteral(KX_SOURCE_DIR "/res/icons/kx4701setcfg-%1.png").arg(size)),
                  QImage(QStringLiteral(":/res/icons/kx4701setcfg-%1.png").arg(size)));
        // The Windows icon: one PNG entry per size, each decoding to its stated size.
        const uchar* entry = bytes + 6 + 16 * i;
        const QByteArray png =
            ico.mid(qFromLittleEndian<quint32>(entry + 12), qFromLittleEndian<quint32>(entry + 8));
        EXPECT_EQ(QImage::fromData(png, "PNG").size(), QSize(size, size));
    }
}

TEST_F(AppTest, VersionRecordDesktopEntryAndUdevRule) {
    EXPECT_STREQ(KX_VERSION_STRING, KX_PROJECT_VERSION);
    EXPECT_EQ(KX_LANGUAGE_ID, 0x0804);
    EXPECT_EQ(KX_CODE_PAGE, 936);
    const QString rc = QString::fromUtf8(ReadSource("res/KX4701SetCfg.rc"));
    for (const QString& line :
         {QStringLiteral("IDR_MAINFRAME ICON \"kx4701setcfg.ico\""),
          QStringLiteral("IDS_ABOUTBOX \"关于 KX4701SetCfg(&A)...\""),
          QStringLiteral("BLOCK \"080403a8\""),
          QStringLiteral("VALUE \"Translation\", KX_LANGUAGE_ID, KX_CODE_PAGE")}) {
        EXPECT_TRUE(rc.contains(line)) << line.toStdString();
    }
    const QString desktop = QString::fromUtf8(ReadSource("res/kx4701setcfg.desktop"));
    for (const char* line : {"Type=Application\n", "Exec=KX4701SetCfg\n", "Icon=kx4701setcfg\n",
                             "Name[zh_CN]=KX4701配置工具\n"}) {
        EXPECT_TRUE(desktop.contains(Q(line))) << line;
    }
    // The seat gets the chip's hidraw node, matched on its factory ids; never world-writable.
    const QString rules = QString::fromUtf8(ReadSource("res/60-kx4701.rules"));
    EXPECT_TRUE(rules.contains(QStringLiteral(
        R"(SUBSYSTEM=="hidraw", ATTRS{idVendor}=="3c5b", ATTRS{idProduct}=="b207", TAG+="uaccess")")));
    EXPECT_FALSE(rules.contains(
        QRegularExpression(QStringLiteral("^[^#]*MODE"), QRegularExpression::MultilineOption)));
}

// The Windows program shows the resource script's templates, the Qt program the table's:
// both hold the same controls, identifiers, kinds, captions, styles and positions.
TEST_F(AppTest, ResourceScriptTemplatesAgreeWithTheTemplateTable) {
    using ui::ControlKind;
    const QMap<QString, std::uint32_t> bits{{"WS_TABSTOP", ui::STYLE_TABSTOP},
                                            {"WS_GROUP", ui::STYLE_GROUP},
                                            {"WS_BORDER", ui::STYLE_BORDER},
                                            {"WS_VSCROLL", ui::STYLE_VSCROLL},
                                            {"ES_AUTOHSCROLL", ui::STYLE_AUTOHSCROLL},
                                            {"ES_READONLY", ui::STYLE_READONLY},
                                            {"BS_AUTOCHECKBOX", ui::STYLE_AUTOCHECKBOX},
                                            {"BS_DEFPUSHBUTTON", ui::STYLE_DEFPUSHBUTTON},
                                            {"SS_NOPREFIX", ui::STYLE_NOPREFIX},
                                            {"CBS_DROPDOWN", ui::STYLE_DROPDOWN},
                                            {"CBS_SORT", ui::STYLE_SORT},
                                            {"SS_CENTERIMAGE", ui::STYLE_CENTERIMAGE}};
    const QMap<QString, ControlKind> classes{{"ComboBox", ControlKind::ComboBox},
                                             {"Edit", ControlKind::Edit},
                                             {"Static", ControlKind::Label}};
    const QString rc = QString::fromUtf8(ReadSource("res/KX4701SetCfg.rc"));
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
            // ICON icon, id, x, y, cx, cy; CONTROL text, id, class, style, x, y, cx, cy
            const QString line = lines[qsizetype(i)].trimmed();
            const bool icon = line.startsWith(QStringLiteral("ICON "));
            QStringList f = line.mid(line.indexOf(u' ') + 1).split(u',');
            for (QString& field : f) {
                field = field.trimmed().remove(u'"');
            }
            const qsizetype at = icon ? 2 : 4;
            const QStringList style = icon ? QStringList{} : f.value(3).split(u'|');
            std::uint32_t styles = 0;
            for (const QString& s : style) {
                styles |= bits.value(s.trimmed(), 0);
            }
            ControlKind kind = classes.value(f.value(2), ControlKind::PushButton);
            if (icon) {
                kind = ControlKind::Icon;
            } else if (f.value(3).contains(QStringLiteral("BS_GROUPBOX"))) {
                kind = ControlKind::GroupBox;
            } else if (f.value(3).contains(QStringLiteral("BS_AUTOCHECKBOX"))) {
                kind = ControlKind::CheckBox;
            }
            SCOPED_TRACE(line.toStdString());
            EXPECT_EQ(f.value(1), want.id == IDC_STATIC_ID ? QStringLiteral("IDC_STATIC")
                                                           : QString::fromUtf8(want.name));
            EXPECT_EQ(kind, want.kind);
            EXPECT_EQ(icon ? QString() : f.value(0), QString::fromUtf8(want.caption));
            EXPECT_EQ((ui::DluRect{f.value(at).toInt(), f.value(at + 1).toInt(),
                                   f.value(at + 2).toInt(), f.value(at + 3).toInt()}),
                      want.rect);
            EXPECT_EQ(styles, want.styles);
        }
    }
}

}  // namespace
}  // namespace kx::uitest
