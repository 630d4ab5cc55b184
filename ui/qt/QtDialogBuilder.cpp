#include "ui/qt/QtDialogBuilder.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "res/AppIcon.h"

namespace kx::ui {
namespace {

// Windows' MulDiv for the non-negative values of dialog geometry: rounds half up.
int MulDiv(int number, int numerator, int denominator) {
    return static_cast<int>((static_cast<long long>(number) * numerator * 2 + denominator) /
                            (2LL * denominator));
}

// A drop-down combo whose template height covers the opened list: the closed box is one
// line high and the list gets the rest, as many whole rows as fit.
class TemplateComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;

    void showPopup() override {
        const int dropped = property(DROPPED_HEIGHT_PROPERTY).toInt();
        const int row = count() > 0 ? view()->sizeHintForRow(0) : 0;
        if (row > 0) {
            setMaxVisibleItems(std::max(1, dropped / row));
        }
        QComboBox::showPopup();
    }
};

// Qt's accessible check box toggles without a click, so the dialog would never hear of it:
// the box would show checked while its edit stays disabled. This one clicks, as a user does.
class ClickedCheckBoxAccessible : public QAccessibleWidget {
  public:
    explicit ClickedCheckBoxAccessible(QCheckBox* box)
        : QAccessibleWidget(box, QAccessible::CheckBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return box()->text();
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = box()->isChecked();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList(toggleAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action != toggleAction()) {
            QAccessibleWidget::doAction(action);
        } else if (box()->isEnabled()) {
            box()->click();
        }
    }

  private:
    QCheckBox* box() const { return static_cast<QCheckBox*>(widget()); }
};

// Qt's accessible line edit reports an empty attribute run at every offset, and Orca, which
// builds the line it speaks from those runs, drops the text's last character. This one
// reports the text as one run (a line edit has one format); the rest is as Qt's, except that
// a text set through it passes the edit's read-only state and validator, as typing does.
class LineEditAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
  public:
    explicit LineEditAccessible(QLineEdit* edit)
        : QAccessibleWidget(edit, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        if (t == QAccessible::EditableTextInterface) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        const QString own = t == QAccessible::Value ? text(0, characterCount()) : QString();
        return own.isEmpty() ? QAccessibleWidget::text(t) : own;
    }
    void setText(QAccessible::Text t, const QString& text) override {
        if (t == QAccessible::Value) {
            assign(text);
        } else {
            QAccessibleWidget::setText(t, text);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.readOnly = edit()->isReadOnly();
        s.passwordEdit = hidden();
        s.selectableText = true;
        return s;
    }

    // QAccessibleTextInterface
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        const int count = characterCount();
        const bool inside = offset >= 0 && offset <= count;
        *startOffset = !inside ? -1 : offset < count ? 0 : count;
        *endOffset = inside ? count : -1;
        return {};
    }
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
        if (selectionIndex == 0) {
            *startOffset = edit()->selectionStart();
            *endOffset = *startOffset + static_cast<int>(edit()->selectedText().size());
        }
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override {
        if (selectionIndex == 0) {
            edit()->deselect();
        }
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override {
        if (selectionIndex == 0) {
            edit()->setSelection(startOffset, endOffset - startOffset);
        }
    }
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }
    QString text(int startOffset, int endOffset) const override {
        return hidden() ? QString() : edit()->text().mid(startOffset, endOffset - startOffset);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                             int* endOffset) const override {
        return hidden() ? none(startOffset, endOffset)
                        : QAccessibleTextInterface::textBeforeOffset(offset, type, startOffset,
                                                                     endOffset);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                            int* endOffset) const override {
        return hidden() ? none(startOffset, endOffset)
                        : QAccessibleTextInterface::textAfterOffset(offset, type, startOffset,
                                                                    endOffset);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* startOffset,
                         int* endOffset) const override {
        return hidden()
                   ? none(startOffset, endOffset)
                   : QAccessibleTextInterface::textAtOffset(offset, type, startOffset, endOffset);
    }
    int characterCount() const override { return static_cast<int>(edit()->text().size()); }
    // The caret's rectangle places the text (margins, scrolling); the advance of the text
    // before a character places the character.
    QRect characterRect(int offset) const override {
        const QString character = text(offset, offset + 1);
        if (character.isEmpty()) {
            return {};
        }
        const QFontMetrics metrics(edit()->font());
        const QString all = edit()->text();
        const QRect caret = edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int x = caret.x() + metrics.horizontalAdvance(all.left(offset)) -
                      metrics.horizontalAdvance(all.left(edit()->cursorPosition()));
        return {edit()->mapToGlobal(QPoint(x, caret.y())),
                QSize(metrics.horizontalAdvance(character), metrics.height())};
    }
    int offsetAtPoint(const QPoint& point) const override {
        return edit()->cursorPositionAt(edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int startIndex, int endIndex) override {
        edit()->setCursorPosition(endIndex);
        edit()->setCursorPosition(startIndex);
    }

    // QAccessibleEditableTextInterface
    void deleteText(int startOffset, int endOffset) override {
        assign(edit()->text().remove(startOffset, endOffset - startOffset));
    }
    void insertText(int offset, const QString& text) override {
        assign(edit()->text().insert(offset, text));
    }
    void replaceText(int startOffset, int endOffset, const QString& text) override {
        assign(edit()->text().replace(startOffset, endOffset - startOffset, text));
    }

  private:
    QLineEdit* edit() const { return static_cast<QLineEdit*>(widget()); }
    bool hidden() const { return edit()->echoMode() != QLineEdit::Normal; }
    static QString none(int* startOffset, int* endOffset) {
        *startOffset = *endOffset = -1;
        return {};
    }
    void assign(QString text) {
        int position = 0;
        const QValidator* validator = edit()->validator();
        if (!edit()->isReadOnly() && (validator == nullptr || validator->validate(text, position) ==
                                                                  QValidator::Acceptable)) {
            edit()->setText(text);
        }
    }
};

// A label whose changes readers are told of: a notification, which the window operations
// show anew for each new text (readers speak a notification when it is shown).
class NotificationLabelAccessible : public QAccessibleWidget {
  public:
    explicit NotificationLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* DialogAccessible(const QString& /*className*/, QObject* object) {
    if (auto* box = qobject_cast<QCheckBox*>(object)) {
        return new ClickedCheckBoxAccessible(box);
    }
    if (auto* edit = qobject_cast<QLineEdit*>(object)) {
        return new LineEditAccessible(edit);
    }
    auto* label = qobject_cast<QLabel*>(object);
    if (label != nullptr && label->property(ANNOUNCES_CHANGES_PROPERTY).toBool()) {
        return new NotificationLabelAccessible(label);
    }
    return nullptr;
}

QWidget* CreateControl(QDialog& dialog, const ControlTemplate& control, const DialogUnits& units) {
    const QString caption = QString::fromUtf8(control.caption);
    const QRect rect = units.toPixels(control.rect);
    QWidget* widget = nullptr;
    switch (control.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(caption, &dialog);
            label->setTextFormat(Qt::PlainText);
            label->setFocusPolicy(Qt::NoFocus);
            label->setGeometry(rect);
            widget = label;
            break;
        }
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(caption, &dialog);
            // Created after the controls it frames; like the system's group box it must
            // neither hide them nor take their clicks.
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            box->setFocusPolicy(Qt::NoFocus);
            box->setGeometry(rect);
            widget = box;
            break;
        }
        case ControlKind::Icon: {
            auto* label = new QLabel(&dialog);
            const QIcon icon = LoadApplicationIcon();
            // An icon control takes the icon's own size (32 by 32), not the template's.
            label->setPixmap(icon.pixmap(32, 32));
            label->setFocusPolicy(Qt::NoFocus);
            label->setGeometry(rect.x(), rect.y(), 32, 32);
            widget = label;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new TemplateComboBox(&dialog);
            combo->setEditable((control.styles & STYLE_DROPDOWN) != 0);
            combo->setInsertPolicy(QComboBox::NoInsert);
            if (QLineEdit* edit = combo->lineEdit()) {
                // Text typed into the edit part never selects an entry: no completion, and
                // no matching of the text when editing ends or Enter is pressed (Qt would
                // report that as a user selection).
                combo->setCompleter(nullptr);
                QObject::disconnect(edit, &QLineEdit::editingFinished, combo, nullptr);
                QObject::disconnect(edit, &QLineEdit::returnPressed, combo, nullptr);
            }
            combo->setDuplicatesEnabled(true);
            combo->view()->setVerticalScrollBarPolicy((control.styles & STYLE_VSCROLL) != 0
                                                          ? Qt::ScrollBarAsNeeded
                                                          : Qt::ScrollBarAlwaysOff);
            combo->setFocusPolicy((control.styles & STYLE_TABSTOP) != 0 ? Qt::StrongFocus
                                                                        : Qt::ClickFocus);
            const int closed = combo->sizeHint().height();
            combo->setGeometry(rect.x(), rect.y(), rect.width(), closed);
            combo->setProperty(DROPPED_HEIGHT_PROPERTY, std::max(0, rect.height() - closed));
            widget = combo;
            break;
        }
        case ControlKind::Edit: {
            auto* edit = new QLineEdit(&dialog);
            edit->setFrame((control.styles & STYLE_BORDER) != 0);
            edit->setReadOnly((control.styles & STYLE_READONLY) != 0);
            edit->setFocusPolicy((control.styles & STYLE_TABSTOP) != 0 ? Qt::StrongFocus
                                                                       : Qt::ClickFocus);
            edit->setGeometry(rect);
            widget = edit;
            break;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(caption, &dialog);
            box->setFocusPolicy((control.styles & STYLE_TABSTOP) != 0 ? Qt::StrongFocus
                                                                      : Qt::ClickFocus);
            box->setGeometry(rect);
            widget = box;
            break;
        }
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, &dialog);
            // Enter is the dialog's business (see the dialog's key handling), not Qt's
            // auto-default mechanism.
            button->setAutoDefault(false);
            button->setDefault((control.styles & STYLE_DEFPUSHBUTTON) != 0);
            button->setFocusPolicy((control.styles & STYLE_TABSTOP) != 0 ? Qt::StrongFocus
                                                                         : Qt::ClickFocus);
            button->setGeometry(rect);
            widget = button;
            break;
        }
    }
    widget->setObjectName(QString::fromUtf8(control.name));
    widget->setProperty(CONTROL_ID_PROPERTY, control.id);
    return widget;
}

}  // namespace

QFont DialogFont(const DialogTemplate& tmpl) {
    QFont font;
    // The template's face first; SimSun is its Latin name; WenQuanYi Zen Hei is the CJK
    // face the project installs.
    font.setFamilies({QString::fromUtf8(tmpl.fontFace), QStringLiteral("SimSun"),
                      QStringLiteral("WenQuanYi Zen Hei")});
    font.setPointSize(tmpl.pointSize);
    return font;
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    return DialogUnits{(width / 26 + 1) / 2, metrics.height()};
}

int DialogUnits::toPixelsX(int dlu) const {
    return MulDiv(dlu, avgCharWidth, 4);
}
int DialogUnits::toPixelsY(int dlu) const {
    return MulDiv(dlu, charHeight, 8);
}

QRect DialogUnits::toPixels(const DluRect& rect) const {
    return QRect(toPixelsX(rect.x), toPixelsY(rect.y), toPixelsX(rect.cx), toPixelsY(rect.cy));
}

std::vector<QWidget*> BuildDialog(QDialog& dialog, const DialogTemplate& tmpl) {
    // Before any check box or edit exists, so that none gets Qt's own accessible interface.
    static const bool factoryInstalled = (QAccessible::installFactory(DialogAccessible), true);
    (void)factoryInstalled;
    const QFont font = DialogFont(tmpl);
    dialog.setFont(font);
    dialog.setWindowTitle(QString::fromUtf8(tmpl.caption));
    dialog.setProperty(CONTROL_ID_PROPERTY, tmpl.id);
    const DialogUnits units = DialogUnits::ForFont(font);
    dialog.setFixedSize(units.toPixelsX(tmpl.cx), units.toPixelsY(tmpl.cy));

    std::vector<QWidget*> widgets;
    widgets.reserve(tmpl.controls.size());
    for (const ControlTemplate& control : tmpl.controls) {
        widgets.push_back(CreateControl(dialog, control, units));
    }
    // A caption-less control is read by the caption standing by it: a label takes it as its
    // buddy (Qt then reads the label's text and relates the two), other captions become its
    // name. Captioned controls get no fixed name, so that what is read follows what they show.
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        const ControlTemplate* caption = CaptionFor(tmpl, tmpl.controls[i]);
        if (caption == nullptr) {
            continue;
        }
        QWidget* by = widgets[static_cast<std::size_t>(caption - tmpl.controls.data())];
        auto* label = qobject_cast<QLabel*>(by);
        if (label != nullptr && label->buddy() == nullptr) {
            label->setBuddy(widgets[i]);
        } else {
            widgets[i]->setAccessibleName(QString::fromUtf8(caption->caption));
        }
    }
    for (const ControlAccessibility& extra : tmpl.accessibility) {
        const auto it = std::find_if(widgets.begin(), widgets.end(), [&extra](QWidget* w) {
            return w->property(CONTROL_ID_PROPERTY).toInt() == extra.id;
        });
        if (it == widgets.end()) {
            continue;
        }
        (*it)->setAccessibleDescription(QString::fromUtf8(extra.description));
        if (extra.announcesChanges) {
            (*it)->setProperty(ANNOUNCES_CHANGES_PROPERTY, true);
            // Made anew, so that it is the announcing one (setting a text may have made one).
            QAccessible::deleteAccessibleInterface(
                QAccessible::uniqueId(QAccessible::queryAccessibleInterface(*it)));
        }
    }
    return widgets;
}

}  // namespace kx::ui
