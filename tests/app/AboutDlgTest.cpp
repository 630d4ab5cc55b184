// The about box: built from its template, closed by its default button.

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "ImageChecks.h"
#include "ModalHelpers.h"
#include "app/AboutDlg.h"

namespace {

class AboutDlgTest : public ::testing::Test {
  protected:
    void SetUp() override { kx::test::App(); }

    static QList<QLabel*> TextLabels(const QDialog& dlg) {
        QList<QLabel*> texts;
        for (QLabel* label : dlg.findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                texts.push_back(label);
            }
        }
        return texts;
    }
    static QLabel* IconLabel(const QDialog& dlg) {
        for (QLabel* label : dlg.findChildren<QLabel*>()) {
            if (!label->pixmap().isNull()) {
                return label;
            }
        }
        return nullptr;
    }
};

TEST_F(AboutDlgTest, ShowsCaptionVersionLineAndSecondLine) {
    CAboutDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("关于 KX4701SetCfg"));
    const QList<QLabel*> texts = TextLabels(dlg);
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(texts[0]->text(), QStringLiteral("KX4701CfgTool 1.0 版"));
    // No prefix processing: no mnemonic is bound, so an '&' would show as itself.
    EXPECT_EQ(texts[0]->buddy(), nullptr);
    EXPECT_EQ(texts[0]->textFormat(), Qt::PlainText);
    EXPECT_FALSE(texts[1]->text().trimmed().isEmpty());
    EXPECT_LT(texts[0]->geometry().top(), texts[1]->geometry().top());
}

TEST_F(AboutDlgTest, HasOneDefaultOkButtonOnTheRight) {
    CAboutDlg dlg;
    const QList<QPushButton*> buttons = dlg.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), QStringLiteral("确定"));
    EXPECT_TRUE(buttons[0]->isDefault());
    for (QLabel* label : TextLabels(dlg)) {
        EXPECT_LT(label->geometry().right(), buttons[0]->geometry().left());
    }
}

TEST_F(AboutDlgTest, ShowsTheApplicationIconLeftOfTheTexts) {
    CAboutDlg dlg;
    QLabel* icon = IconLabel(dlg);
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(kx::test::LooksDrawn(icon->pixmap().toImage(), 0.2));
    for (QLabel* label : TextLabels(dlg)) {
        EXPECT_LT(icon->geometry().left(), label->geometry().left());
    }
}

// Every way the framework's default handling ends the box.
struct Ending {
    const char* name;
    std::function<void(CAboutDlg&)> act;
    int result;
};

class AboutDlgEnding : public AboutDlgTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(AboutDlgEnding, EndsTheModalLoop) {
    CAboutDlg dlg;
    QTimer::singleShot(0, &dlg, [&] { GetParam().act(dlg); });
    // If the action did not end the box, end it with a distinct result.
    QTimer::singleShot(2000, &dlg, [&] { dlg.done(42); });
    const int result = dlg.exec();
    EXPECT_EQ(result, GetParam().result);
    EXPECT_FALSE(dlg.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, AboutDlgEnding,
    ::testing::Values(
        Ending{"ClickOk",
               [](CAboutDlg& d) {
                   QTest::mouseClick(d.findChildren<QPushButton*>().first(), Qt::LeftButton);
               },
               QDialog::Accepted},
        Ending{"EnterPressesDefault", [](CAboutDlg& d) { QTest::keyClick(&d, Qt::Key_Return); },
               QDialog::Accepted},
        Ending{"EscapeCancels", [](CAboutDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); },
               QDialog::Rejected}),
    [](const ::testing::TestParamInfo<Ending>& p) { return std::string(p.param.name); });

TEST_F(AboutDlgTest, RendersOffscreenNotBlank) {
    CAboutDlg dlg;
    dlg.show();
    const QImage image = dlg.grab().toImage();
    EXPECT_GE(image.width(), 200);
    EXPECT_TRUE(kx::test::LooksDrawn(image));
    // The text area has ink, not only the button and icon.
    const QList<QLabel*> texts = TextLabels(dlg);
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_TRUE(kx::test::LooksDrawn(image.copy(texts[0]->geometry()), 0.01));
}

}  // namespace
