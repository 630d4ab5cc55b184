// Start-up: library initialised once before the dialog, the dialog run modally as the main
// window, exit status 0; the application's name; help; the about box from the dialog.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTest>

#include <algorithm>
#include <functional>

#include "ModalHelpers.h"
#include "RecordingLibrary.h"
#include "app/AboutDlg.h"
#include "app/ConfigApp.h"
#include "device/BenchDevices.h"
#include "res/AppIcon.h"
#include "ui/ControlIds.h"
#include "ui/qt/QtConfigDialog.h"

namespace {

using kx::test::WhenModalShown;

class ConfigAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kx::test::App();
        devices.bench().plugChip();
    }

    // Runs InitInstance; `during` runs inside the dialog's modal loop, and the dialog is
    // then ended (rejected) unless `during` ended it.
    int RunWith(std::function<void(kx::ui::QtConfigDialog&)> during) {
        app.setDialogHook([this, during](kx::ui::QtConfigDialog& dlg) {
            callsBeforeDialogRan = recording.calls;
            mainWindowWhenHooked = app.mainWindow();
            QTimer::singleShot(0, &dlg, [&dlg, during] {
                during(dlg);
                if (dlg.isVisible()) {
                    dlg.reject();
                }
            });
        });
        return app.InitInstance();
    }

    kx::bench::BenchDevices devices;
    kx::test::RecordingLibrary recording{devices.library()};
    CConfigApp app{recording, devices.probe(), devices.notifications()};
    std::vector<std::string> callsBeforeDialogRan;
    QWidget* mainWindowWhenHooked = nullptr;
};

TEST_F(ConfigAppTest, InitialisesTheLibraryOnceBeforeTheDialog) {
    RunWith([](kx::ui::QtConfigDialog&) {});
    // The dialog is constructed only after the one initialisation call.
    EXPECT_EQ(callsBeforeDialogRan, std::vector<std::string>{"KX4701DllInt"});
    EXPECT_EQ(std::count(recording.calls.begin(), recording.calls.end(), "KX4701DllInt"), 1);
    EXPECT_EQ(recording.calls.front(), "KX4701DllInt");
    // The dialog did run: its initialisation looked for devices.
    EXPECT_NE(std::find(recording.calls.begin(), recording.calls.end(), "KX4701GetDevicePath"),
              recording.calls.end());
}

TEST_F(ConfigAppTest, TheRunningDialogIsTheModalMainWindow) {
    QWidget* modal = nullptr;
    QWidget* main = nullptr;
    bool visible = false;
    RunWith([&](kx::ui::QtConfigDialog& dlg) {
        modal = QApplication::activeModalWidget();
        main = app.mainWindow();
        visible = dlg.isVisible();
    });
    EXPECT_NE(mainWindowWhenHooked, nullptr);
    EXPECT_EQ(main, mainWindowWhenHooked);
    EXPECT_EQ(modal, main);
    EXPECT_TRUE(visible);
    EXPECT_EQ(app.mainWindow(), nullptr);  // gone with the dialog
}

// However the dialog ends, start-up returns 0 and so does the program.
struct DialogEnding {
    const char* name;
    std::function<void(kx::ui::QtConfigDialog&)> end;
};

class ConfigAppEnding : public ConfigAppTest, public ::testing::WithParamInterface<DialogEnding> {};

TEST_P(ConfigAppEnding, ReturnsZero) {
    bool endedByAction = false;
    EXPECT_EQ(RunWith([&](kx::ui::QtConfigDialog& dlg) {
                  GetParam().end(dlg);
                  endedByAction = !dlg.isVisible();
              }),
              0);
    EXPECT_TRUE(endedByAction);
    EXPECT_EQ(app.Run(), 0);  // the framework's wrapper: no message loop, status 0
}

INSTANTIATE_TEST_SUITE_P(
    Endings, ConfigAppEnding,
    ::testing::Values(DialogEnding{"Escape",
                                   [](kx::ui::QtConfigDialog& d) {
                                       QTest::keyClick(&d, Qt::Key_Escape);
                                   }},
                      DialogEnding{"EnterInAnEdit",
                                   [](kx::ui::QtConfigDialog& d) {
                                       QWidget* edit = d.Ops().GetDlgItem(kx::IDC_EVENT_TEXT);
                                       edit->setFocus();
                                       QTest::keyClick(edit, Qt::Key_Return);
                                   }},
                      DialogEnding{"Accepted", [](kx::ui::QtConfigDialog& d) { d.accept(); }},
                      DialogEnding{"OtherResult", [](kx::ui::QtConfigDialog& d) { d.done(7); }}),
    [](const ::testing::TestParamInfo<DialogEnding>& p) { return std::string(p.param.name); });

TEST_F(ConfigAppTest, ApplicationNameIsTheExecutablesBaseName) {
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral(KX_TEST_EXE_NAME));
    EXPECT_EQ(QCoreApplication::applicationName(),
              QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
}

TEST_F(ConfigAppTest, HelpKeyShowsACaptionedMessageBox) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QWidget* parent = nullptr;
    QWidget* dialog = nullptr;
    RunWith([&](kx::ui::QtConfigDialog& dlg) {
        dialog = &dlg;
        dlg.activateWindow();
        // F1 is a key of the active window.
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &dlg; }));
        WhenModalShown([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            parent = box->parentWidget();
        });
        QTest::keyClick(&dlg, Qt::Key_F1);
    });
    EXPECT_EQ(title, QStringLiteral(KX_TEST_EXE_NAME));
    EXPECT_EQ(text, QString::fromUtf8(HELP_MESSAGE));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(parent, dialog);
}

// The validation boxes the dialog raises carry the same name.
TEST_F(ConfigAppTest, ValidationMessageBoxIsCaptionedWithTheExecutableName) {
    QString title, text;
    RunWith([&](kx::ui::QtConfigDialog& dlg) {
        dlg.OnOpenButton();
        ASSERT_NE(dlg.m_hDevice, kx::INVALID_DEVICE_HANDLE);
        dlg.Ops().CheckDlgButton(kx::IDC_VID_CHECK, true);
        dlg.Ops().EnableWindow(kx::IDC_VID_EDIT, true);
        dlg.Ops().SetWindowText(kx::IDC_VID_EDIT, "12");  // too short
        WhenModalShown([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
        });
        dlg.OnSetConfig();
    });
    EXPECT_EQ(text, QStringLiteral("VID长度不对"));
    EXPECT_EQ(title, QStringLiteral(KX_TEST_EXE_NAME));
}

TEST_F(ConfigAppTest, DialogCarriesTheIconInEverySize) {
    QList<QSize> sizes;
    RunWith([&](kx::ui::QtConfigDialog& dlg) { sizes = dlg.windowIcon().availableSizes(); });
    for (int size : kAppIconSizes) {
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    }
}

TEST_F(ConfigAppTest, AboutCommandShowsTheAboutBoxOverTheDialog) {
    QString title;
    QWidget* parent = nullptr;
    QWidget* dialog = nullptr;
    bool isAbout = false;
    RunWith([&](kx::ui::QtConfigDialog& dlg) {
        dialog = &dlg;
        WhenModalShown([&](QWidget* modal) {
            isAbout = qobject_cast<CAboutDlg*>(modal) != nullptr;
            ASSERT_NE(modal, nullptr);
            title = modal->windowTitle();
            parent = modal->parentWidget();
        });
        dlg.OnSysCommand(kx::IDM_ABOUTBOX);
    });
    EXPECT_TRUE(isAbout);
    EXPECT_EQ(title, QStringLiteral("关于 KX4701SetCfg"));
    EXPECT_EQ(parent, dialog);
}

}  // namespace
