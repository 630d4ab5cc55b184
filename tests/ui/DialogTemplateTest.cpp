// The dialog templates and the widgets built from them: identifiers, kinds, captions,
// positions, tab order, tab stops and control styles.

#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>

#include "UiTestSupport.h"
#include "ui/qt/QtDialogBuilder.h"

namespace kx::uitest {
namespace {

using ui::ControlKind;
using ui::DluRect;

struct Expected {
    int id;
    const char* name;
    ControlKind kind;
    const char* caption;
    DluRect rect;
    const char* readAs;  // what a screen reader names the control by
};

// clang-format off
const Expected CONFIG_DIALOG[] = {
    {-1, "", ControlKind::Label, "选择设备", {15, 20, 33, 8}, "选择设备"},
    {-1, "", ControlKind::Label, "设备信息", {15, 40, 33, 8}, "设备信息"},
    {-1, "", ControlKind::Label, "波特率", {15, 60, 33, 8}, "波特率"},
    {-1, "", ControlKind::Label, "停止位", {15, 80, 33, 8}, "停止位"},
    {-1, "", ControlKind::Label, "校验位", {144, 60, 25, 8}, "校验位"},
    {-1, "", ControlKind::Label, "数据位", {144, 80, 33, 8}, "数据位"},
    {1000, "IDC_DEVICE_COMBO", ControlKind::ComboBox, "", {54, 18, 250, 72}, "选择设备"},
    {1001, "IDC_DEVICE_INFO", ControlKind::Edit, "", {124, 38, 179, 12}, "设备信息"},
    {1002, "IDC_EVENT_TEXT", ControlKind::Edit, "", {54, 38, 68, 12}, "设备信息"},
    {1003, "IDC_BAUD_COMBO", ControlKind::ComboBox, "", {54, 58, 48, 76}, "波特率"},
    {1004, "IDC_STOP_COMBO", ControlKind::ComboBox, "", {54, 78, 48, 81}, "停止位"},
    {1005, "IDC_PARITY_COMBO", ControlKind::ComboBox, "", {181, 58, 48, 88}, "校验位"},
    {1006, "IDC_DATA_COMBO", ControlKind::ComboBox, "", {181, 78, 48, 86}, "数据位"},
    {-1, "", ControlKind::GroupBox, "设备信息", {7, 3, 305, 96}, "设备信息"},
    {1007, "IDC_VID_CHECK", ControlKind::CheckBox, "VID:", {15, 120, 40, 10}, "VID:"},
    {1008, "IDC_VID_EDIT", ControlKind::Edit, "", {55, 118, 48, 14}, "VID:"},
    {1009, "IDC_PID_CHECK", ControlKind::CheckBox, "PID:", {144, 120, 35, 10}, "PID:"},
    {1010, "IDC_PID_EDIT", ControlKind::Edit, "", {181, 118, 48, 14}, "PID:"},
    {-1, "", ControlKind::GroupBox, "参数配置", {7, 102, 305, 99}, "参数配置"},
    {1013, "IDC_MANUF_CHECK", ControlKind::CheckBox, "Manufacturer", {15, 138, 64, 10}, "Manufacturer"},
    {1014, "IDC_MANUF_EDIT", ControlKind::Edit, "", {101, 137, 127, 12}, "Manufacturer"},
    {1015, "IDC_PRODUCT_CHECK", ControlKind::CheckBox, "Product", {15, 159, 64, 10}, "Product"},
    {1016, "IDC_PRODUCT_EDIT", ControlKind::Edit, "", {101, 158, 127, 12}, "Product"},
    {1017, "IDC_SERIAL_CHECK", ControlKind::CheckBox, "Serial", {15, 183, 64, 10}, "Serial"},
    {1018, "IDC_SERIAL_EDIT", ControlKind::Edit, "", {101, 183, 127, 12}, "Serial"},
    {1019, "IDC_OPEN_BUTTON", ControlKind::PushButton, "打开设备", {233, 55, 70, 18}, "打开设备"},
    {1020, "IDC_SET_RATE_BUTTON", ControlKind::PushButton, "设置默认波特率", {233, 73, 70, 18}, "设置默认波特率"},
    {1021, "IDC_SET_CFG_BUTTON", ControlKind::PushButton, "设置配置", {233, 156, 70, 18}, "设置配置"},
    {1022, "IDC_GET_CFG_BUTTON", ControlKind::PushButton, "获取配置", {233, 176, 70, 18}, "获取配置"},
    {1050, "IDC_FACTORY_BUTTON", ControlKind::PushButton, "恢复出厂设置", {233, 136, 70, 18}, "恢复出厂设置"},
    {-1, "", ControlKind::GroupBox, "", {7, 200, 305, 24}, ""},
    {1051, "IDC_STATUS", ControlKind::Label, "操作状态:就绪", {15, 209, 283, 8}, "操作状态:就绪"},
};
// clang-format on

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

class Template : public ::testing::Test {
  protected:
    Template() { App(); }
};

TEST_F(Template, ConfigDialogHeader) {
    const ui::DialogTemplate& t = ui::ConfigDialogTemplate();
    EXPECT_EQ(t.id, 102);
    EXPECT_STREQ(t.name, "IDD_CONFIG_DIALOG");
    EXPECT_EQ(t.cx, 319);
    EXPECT_EQ(t.cy, 227);
    EXPECT_STREQ(t.caption, "KX4701配置工具");
    EXPECT_STREQ(t.fontFace, "宋体");
    EXPECT_EQ(t.pointSize, 9);
}

TEST_F(Template, ConfigDialogControlsInTabOrder) {
    const ui::DialogTemplate& t = ui::ConfigDialogTemplate();
    ASSERT_EQ(t.controls.size(), std::size(CONFIG_DIALOG));
    for (std::size_t i = 0; i < t.controls.size(); ++i) {
        const ui::ControlTemplate& c = t.controls[i];
        const Expected& e = CONFIG_DIALOG[i];
        SCOPED_TRACE(std::to_string(i) + " " + e.caption + e.name);
        EXPECT_EQ(c.id, e.id);
        EXPECT_STREQ(c.name, e.name);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_STREQ(c.caption, e.caption);
        EXPECT_EQ(c.rect, e.rect);
        // A caption-less control is known by the caption standing by it.
        const ui::ControlTemplate* by = ui::CaptionFor(t, c);
        EXPECT_STREQ(by != nullptr ? by->caption : e.caption, e.readAs);
        // Styles: only push buttons are tab stops; combos are editable drop-downs with a
        // vertical scroll bar, unsorted; edits scroll and have a border; 1001 and 1002 are
        // read-only; check boxes toggle themselves.
        EXPECT_EQ((c.styles & ui::STYLE_TABSTOP) != 0, e.kind == ControlKind::PushButton);
        if (e.kind == ControlKind::ComboBox) {
            EXPECT_NE(c.styles & ui::STYLE_DROPDOWN, 0u);
            EXPECT_NE(c.styles & ui::STYLE_VSCROLL, 0u);
            EXPECT_EQ(c.styles & ui::STYLE_SORT, 0u);
        }
        if (e.kind == ControlKind::Edit) {
            EXPECT_NE(c.styles & ui::STYLE_BORDER, 0u);
            EXPECT_NE(c.styles & ui::STYLE_AUTOHSCROLL, 0u);
            EXPECT_EQ((c.styles & ui::STYLE_READONLY) != 0, e.id == 1001 || e.id == 1002);
        }
        if (e.kind == ControlKind::CheckBox) {
            EXPECT_NE(c.styles & ui::STYLE_AUTOCHECKBOX, 0u);
        }
        EXPECT_EQ(c.styles & ui::STYLE_DEFPUSHBUTTON, 0u);
    }
}

TEST_F(Template, AboutBox) {
    const ui::DialogTemplate& t = ui::AboutBoxTemplate();
    EXPECT_EQ(t.id, 100);
    EXPECT_EQ(t.cx, 235);
    EXPECT_EQ(t.cy, 55);
    EXPECT_STREQ(t.caption, "关于 KX4701SetCfg");
    EXPECT_STREQ(t.fontFace, "宋体");
    ASSERT_EQ(t.controls.size(), 4u);
    EXPECT_EQ(t.controls[0].kind, ControlKind::Icon);
    EXPECT_EQ(t.controls[0].rect, (DluRect{11, 17, 20, 20}));
    EXPECT_STREQ(t.controls[1].caption, "KX4701CfgTool 1.0 版");
    EXPECT_NE(t.controls[1].styles & ui::STYLE_NOPREFIX, 0u);
    EXPECT_EQ(t.controls[1].rect, (DluRect{40, 10, 119, 8}));
    EXPECT_EQ(t.controls[2].kind, ControlKind::Label);
    EXPECT_EQ(t.controls[2].rect, (DluRect{40, 25, 119, 8}));
    EXPECT_EQ(t.controls[3].id, 1);
    EXPECT_STREQ(t.controls[3].caption, "确定");
    EXPECT_NE(t.controls[3].styles & ui::STYLE_DEFPUSHBUTTON, 0u);
    EXPECT_EQ(t.controls[3].rect, (DluRect{178, 7, 50, 14}));
}

TEST_F(Template, DialogUnitsRoundLikeMapDialogRect) {
    const ui::DialogUnits units{6, 12};
    EXPECT_EQ(units.toPixelsX(319), 479);  // 478.5 rounds up
    EXPECT_EQ(units.toPixelsY(227), 341);  // 340.5 rounds up
    EXPECT_EQ(units.toPixels(DluRect{15, 20, 33, 8}), QRect(23, 30, 50, 12));
    EXPECT_EQ(units.toPixelsX(0), 0);
}

TEST_F(Template, FontIsTheTemplatesOrAnInstalledCjkFace) {
    const QFont font = ui::DialogFont(ui::ConfigDialogTemplate());
    EXPECT_EQ(font.pointSize(), 9);
    const QString family = QFontInfo(font).family();
    EXPECT_TRUE(family == Q("宋体") || family == Q("SimSun") || family.startsWith("WenQuanYi"))
        << family.toStdString();
    const ui::DialogUnits units = ui::DialogUnits::ForFont(font);
    EXPECT_GT(units.avgCharWidth, 0);
    EXPECT_GT(units.charHeight, 0);
}

class BuiltDialog : public Template {
  protected:
    QDialog dialog;
    std::vector<QWidget*> widgets = ui::BuildDialog(dialog, ui::ConfigDialogTemplate());
    ui::DialogUnits units = ui::DialogUnits::ForFont(dialog.font());
};

TEST_F(BuiltDialog, EveryControlIsBuiltFromItsRow) {
    EXPECT_EQ(dialog.windowTitle(), Q("KX4701配置工具"));
    EXPECT_EQ(dialog.size(), QSize(units.toPixelsX(319), units.toPixelsY(227)));
    ASSERT_EQ(widgets.size(), std::size(CONFIG_DIALOG));
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        QWidget* w = widgets[i];
        const Expected& e = CONFIG_DIALOG[i];
        SCOPED_TRACE(std::to_string(i) + " " + e.caption + e.name);
        EXPECT_EQ(w->parentWidget(), &dialog);
        EXPECT_TRUE(w->inherits(KindClass(e.kind))) << w->metaObject()->className();
        EXPECT_EQ(w->objectName(), Q(e.name));
        EXPECT_EQ(w->property(ui::CONTROL_ID_PROPERTY).toInt(), e.id);
        // No fixed name where a caption shows, so that what is read follows the caption; a
        // combo box is named by its text and read with the label it relates to.
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (e.kind == ControlKind::ComboBox) {
            const auto labels = a->relations(QAccessible::Label);
            ASSERT_EQ(labels.size(), 1);
            EXPECT_EQ(labels[0].first->text(QAccessible::Name), Q(e.readAs));
        } else {
            EXPECT_EQ(a->text(QAccessible::Name), Q(e.readAs));
        }
        if (e.caption[0] != '\0') {
            EXPECT_EQ(w->accessibleName(), "");
        }
        const QRect px = units.toPixels(e.rect);
        if (e.kind == ControlKind::ComboBox) {
            auto* combo = qobject_cast<QComboBox*>(w);
            // One line high when closed; the rest of the template height is the list's.
            EXPECT_EQ(w->geometry(), QRect(px.x(), px.y(), px.width(), combo->sizeHint().height()));
            EXPECT_EQ(w->property(ui::DROPPED_HEIGHT_PROPERTY).toInt(),
                      px.height() - combo->sizeHint().height());
            EXPECT_TRUE(combo->isEditable());
            EXPECT_EQ(combo->insertPolicy(), QComboBox::NoInsert);
            EXPECT_EQ(combo->view()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        } else {
            EXPECT_EQ(w->geometry(), px);
        }
        // Only the push buttons are reached with Tab.
        EXPECT_EQ((w->focusPolicy() & Qt::TabFocus) != 0, e.kind == ControlKind::PushButton);
        switch (e.kind) {
            case ControlKind::Label:
                EXPECT_EQ(qobject_cast<QLabel*>(w)->text(), Q(e.caption));
                EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
                break;
            case ControlKind::GroupBox:
                EXPECT_EQ(qobject_cast<QGroupBox*>(w)->title(), Q(e.caption));
                EXPECT_TRUE(w->testAttribute(Qt::WA_TransparentForMouseEvents));
                break;
            case ControlKind::Edit: {
                auto* edit = qobject_cast<QLineEdit*>(w);
                EXPECT_TRUE(edit->hasFrame());
                EXPECT_EQ(edit->isReadOnly(), e.id == 1001 || e.id == 1002);
                EXPECT_EQ(edit->text(), "");
                break;
            }
            case ControlKind::CheckBox:
                EXPECT_EQ(qobject_cast<QCheckBox*>(w)->text(), Q(e.caption));
                EXPECT_FALSE(qobject_cast<QCheckBox*>(w)->isChecked());
                break;
            case ControlKind::PushButton: {
                auto* button = qobject_cast<QPushButton*>(w);
                EXPECT_EQ(button->text(), Q(e.caption));
                EXPECT_FALSE(button->autoDefault());
                EXPECT_FALSE(button->isDefault());
                break;
            }
            default:
                break;
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
