// The widgets built from the dialog template: kinds, identifiers, positions, tab stops,
// styles and the names a screen reader reads.

#include <QAccessible>
#include <QDialog>
#include <QGroupBox>

#include "UiTestSupport.h"
#include "ui/qt/QtDialogBuilder.h"

namespace kx::uitest {
namespace {

using ui::ControlKind;

// By ControlKind.
const char* const KIND_CLASS[] = {"QLabel",    "QGroupBox", "QLabel",     "QComboBox",
                                  "QLineEdit", "QCheckBox", "QPushButton"};

TEST(BuiltDialog, EveryControlIsBuiltFromItsRowInTheFocusChain) {
    App();
    QDialog dialog;
    const ui::DialogTemplate& t = ui::ConfigDialogTemplate();
    const std::vector<QWidget*> widgets = ui::BuildDialog(dialog, t);
    const ui::DialogUnits units = ui::DialogUnits::ForFont(dialog.font());
    EXPECT_EQ((ui::DialogUnits{6, 12}.toPixels(ui::DluRect{15, 20, 319, 227})),
              QRect(23, 30, 479, 341));  // .5 rounds up
    EXPECT_EQ(dialog.size(), QSize(units.toPixelsX(t.cx), units.toPixelsY(t.cy)));
    ASSERT_EQ(widgets.size(), t.controls.size());
    std::vector<QWidget*> chain;
    for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
        if (std::find(widgets.begin(), widgets.end(), w) != widgets.end()) {
            chain.push_back(w);
        }
    }
    EXPECT_EQ(chain, widgets);
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        QWidget* w = widgets[i];
        const ui::ControlTemplate& e = t.controls[i];
        SCOPED_TRACE(std::to_string(i) + " " + e.caption + e.name);
        EXPECT_TRUE(w->inherits(KIND_CLASS[int(e.kind)])) << w->metaObject()->className();
        EXPECT_EQ(w->objectName(), Q(e.name));
        EXPECT_EQ(w->property(ui::CONTROL_ID_PROPERTY).toInt(), e.id);
        // Read by its caption, or else by its own name or the label it relates to.
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (e.caption[0] != '\0') {
            EXPECT_EQ(a->text(QAccessible::Name), Q(e.caption));
        } else if (e.kind == ControlKind::ComboBox || e.kind == ControlKind::Edit) {
            EXPECT_FALSE(a->text(QAccessible::Name).isEmpty() &&
                         a->relations(QAccessible::Label).isEmpty());
        }
        const QRect px = units.toPixels(e.rect);
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // One line high when closed; the rest of the template height is the list's.
            const int line = combo->sizeHint().height();
            EXPECT_EQ(w->geometry(), QRect(px.x(), px.y(), px.width(), line));
            EXPECT_EQ(w->property(ui::DROPPED_HEIGHT_PROPERTY).toInt(), px.height() - line);
            EXPECT_TRUE(combo->isEditable());
        } else {
            EXPECT_EQ(w->geometry(), px);
            // The frames take no clicks from the controls inside them.
            EXPECT_EQ(w->testAttribute(Qt::WA_TransparentForMouseEvents),
                      e.kind == ControlKind::GroupBox);
        }
        // Every input control is a tab stop.
        EXPECT_EQ((w->focusPolicy() & Qt::TabFocus) != 0, e.kind != ControlKind::Label &&
                                                              e.kind != ControlKind::GroupBox &&
                                                              e.kind != ControlKind::Icon);
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            EXPECT_EQ(edit->isReadOnly(), e.id == IDC_DEVICE_INFO || e.id == IDC_EVENT_TEXT);
            // The text is one attribute run, which a reader speaks whole.
            edit->setText(Q("有设备接入"));
            int start = -1, end = -1;
            a->textInterface()->attributes(4, &start, &end);
            EXPECT_EQ(std::pair(start, end), std::pair(0, 5));
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(button->text(), Q(e.caption));
            EXPECT_FALSE(button->autoDefault());
        }
    }
}

}  // namespace
}  // namespace kx::uitest
