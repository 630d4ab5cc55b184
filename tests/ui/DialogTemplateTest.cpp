// The widgets built from the dialog template: kinds, identifiers, positions, tab stops,
// styles and the names a screen reader reads. The template's own rows are checked against
// the Windows resource script in tests/app.

#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>

#include <map>

#include "UiTestSupport.h"
#include "ui/qt/QtDialogBuilder.h"

namespace kx::uitest {
namespace {

using ui::ControlKind;
using ui::DluRect;

// What a screen reader names each caption-less control by: the caption standing by it.
const std::map<int, const char*> READ_AS = {
    {1000, "选择设备"}, {1001, "设备信息"},     {1002, "设备信息"}, {1003, "波特率"},
    {1004, "停止位"},   {1005, "校验位"},       {1006, "数据位"},   {1008, "VID:"},
    {1010, "PID:"},     {1014, "Manufacturer"}, {1016, "Product"},  {1018, "Serial"},
};

const char* KindClass(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
        case ControlKind::Icon:
            return "QLabel";
        case ControlKind::GroupBox:
            return "QGroupBox";
        case ControlKind::ComboBox:
            return "QComboBox";
        case ControlKind::Edit:
            return "QLineEdit";
        case ControlKind::CheckBox:
            return "QCheckBox";
        case ControlKind::PushButton:
            return "QPushButton";
    }
    return "";
}

class BuiltDialog : public ::testing::Test {
  protected:
    QApplication& app = App();  // before the widgets below
    QDialog dialog;
    const ui::DialogTemplate& t = ui::ConfigDialogTemplate();
    std::vector<QWidget*> widgets = ui::BuildDialog(dialog, t);
    ui::DialogUnits units = ui::DialogUnits::ForFont(dialog.font());
};

TEST_F(BuiltDialog, DialogUnitsRoundLikeMapDialogRectAndTheFontIsACjkFace) {
    const ui::DialogUnits fixed{6, 12};
    EXPECT_EQ(fixed.toPixels(DluRect{15, 20, 319, 227}), QRect(23, 30, 479, 341));  // .5 up
    const QFont font = ui::DialogFont(t);
    EXPECT_EQ(font.pointSize(), 9);
    const QString family = QFontInfo(font).family();
    EXPECT_TRUE(family == Q("宋体") || family == Q("SimSun") || family.startsWith("WenQuanYi"))
        << family.toStdString();
}

TEST_F(BuiltDialog, EveryControlIsBuiltFromItsRow) {
    EXPECT_EQ(dialog.size(), QSize(units.toPixelsX(t.cx), units.toPixelsY(t.cy)));
    ASSERT_EQ(widgets.size(), t.controls.size());
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        QWidget* w = widgets[i];
        const ui::ControlTemplate& e = t.controls[i];
        SCOPED_TRACE(std::to_string(i) + " " + e.caption + e.name);
        EXPECT_TRUE(w->inherits(KindClass(e.kind))) << w->metaObject()->className();
        EXPECT_EQ(w->objectName(), Q(e.name));
        EXPECT_EQ(w->property(ui::CONTROL_ID_PROPERTY).toInt(), e.id);
        // No fixed name where a caption shows, so that what is read follows the caption; a
        // combo box is named by its text and read with the label it relates to.
        const auto readAs = READ_AS.find(e.id);
        const QString name = Q(readAs != READ_AS.end() ? readAs->second : e.caption);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (e.kind == ControlKind::ComboBox) {
            const auto labels = a->relations(QAccessible::Label);
            ASSERT_EQ(labels.size(), 1);
            EXPECT_EQ(labels[0].first->text(QAccessible::Name), name);
        } else {
            EXPECT_EQ(a->text(QAccessible::Name), name);
        }
        if (e.caption[0] != '\0') {
            EXPECT_EQ(w->accessibleName(), "");
        }
        const QRect px = units.toPixels(e.rect);
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // One line high when closed; the rest of the template height is the list's.
            EXPECT_EQ(w->geometry(), QRect(px.x(), px.y(), px.width(), combo->sizeHint().height()));
            EXPECT_EQ(w->property(ui::DROPPED_HEIGHT_PROPERTY).toInt(),
                      px.height() - combo->sizeHint().height());
            EXPECT_TRUE(combo->isEditable());
            EXPECT_EQ(combo->insertPolicy(), QComboBox::NoInsert);
        } else {
            EXPECT_EQ(w->geometry(), px);
        }
        EXPECT_EQ((w->focusPolicy() & Qt::TabFocus) != 0, e.kind == ControlKind::PushButton);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(edit->isReadOnly(), e.id == IDC_DEVICE_INFO || e.id == IDC_EVENT_TEXT);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(button->text(), Q(e.caption));
            EXPECT_FALSE(qobject_cast<QPushButton*>(w) &&
                         qobject_cast<QPushButton*>(w)->autoDefault());
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            EXPECT_EQ(box->title(), Q(e.caption));
            EXPECT_TRUE(w->testAttribute(Qt::WA_TransparentForMouseEvents));
        }
    }
}

TEST_F(BuiltDialog, FocusChainAndAccessibilityFollowTheTable) {
    std::vector<QWidget*> chain;
    for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
        if (std::find(widgets.begin(), widgets.end(), w) != widgets.end()) {
            chain.push_back(w);
        }
    }
    EXPECT_EQ(chain, widgets);

    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&dialog);
    ASSERT_NE(root, nullptr);
    std::vector<QString> names;
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (child != nullptr && child->object() != nullptr &&
            std::find(widgets.begin(), widgets.end(), child->object()) != widgets.end()) {
            names.push_back(static_cast<QWidget*>(child->object())->accessibleName());
        }
    }
    ASSERT_EQ(names.size(), widgets.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], widgets[i]->accessibleName()) << i;
    }
}

TEST_F(BuiltDialog, GroupBoxesDoNotTakeTheClicksOfTheControlsTheyFrame) {
    for (int id : {1000, 1003, 1007, 1014, 1051}) {
        QWidget* control = *std::find_if(widgets.begin(), widgets.end(), [id](QWidget* w) {
            return w->property(ui::CONTROL_ID_PROPERTY).toInt() == id;
        });
        QWidget* hit = dialog.childAt(control->geometry().center());
        EXPECT_TRUE(hit == control || control->isAncestorOf(hit)) << id;
    }
}

TEST_F(DialogTest, TabMovesOnlyBetweenThePushButtons) {
    bench.plugChip();
    Start();
    std::vector<int> visited;
    for (int i = 0; i < 6; ++i) {
        QWidget* focus = dlg->focusWidget();
        ASSERT_NE(focus, nullptr);
        visited.push_back(focus->property(ui::CONTROL_ID_PROPERTY).toInt());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(visited, (std::vector<int>{1019, 1020, 1021, 1022, 1050, 1019}));
}

}  // namespace
}  // namespace kx::uitest
