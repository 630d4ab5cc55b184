#include "ui/qt/QtWindowOps.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStyle>
#include <QValidator>

#include "config/TextCodec.h"
#include "res/AppIcon.h"
#include "ui/ControlIds.h"
#include "ui/MessageTable.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/QtDialogBuilder.h"
#include "ui/qt/ScreenReaderEvents.h"

namespace kx::ui {
namespace {

QString FromUtf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Refuses any text with a character the identity texts cannot carry: one without a CP936
// encoding, or a NUL, which a window text cannot hold. Typing or pasting such a text into
// the edit is rejected as a whole.
class AnsiValidator : public QValidator {
  public:
    using QValidator::QValidator;

    State validate(QString& input, int& /*pos*/) const override {
        const QList<uint> codePoints = input.toUcs4();  // lone surrogates become U+FFFD
        const bool encodable = std::all_of(codePoints.begin(), codePoints.end(), [](uint cp) {
            return cp != 0 && text::IsAnsiEncodable(static_cast<char32_t>(cp));
        });
        return encodable ? Acceptable : Invalid;
    }
};

// System commands the default processing knows off Windows.
constexpr unsigned SC_MINIMIZE_COMMAND = 0xF020;
constexpr unsigned SC_CLOSE_COMMAND = 0xF060;
constexpr unsigned SC_RESTORE_COMMAND = 0xF120;

}  // namespace

WindowMessageEvent::WindowMessageEvent(std::uint32_t message, std::uintptr_t wParam,
                                       std::intptr_t lParam, std::vector<std::uint8_t> payload)
    : QEvent(eventType()),
      m_message(message),
      m_wParam(wParam),
      m_lParam(lParam),
      m_payload(std::move(payload)) {}

QEvent::Type WindowMessageEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QtWindowOps::QtWindowOps(QDialog& dialog, const std::vector<QWidget*>& controls)
    : m_dialog(dialog), m_systemMenu(new QMenu(&dialog)) {
    for (QWidget* widget : controls) {
        const int id = widget->property(CONTROL_ID_PROPERTY).toInt();
        if (id != IDC_STATIC_ID) {
            m_controls.emplace(id, widget);
        }
    }
}

QWidget* QtWindowOps::GetDlgItem(int id) const {
    const auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        throw std::logic_error("no control with identifier " + std::to_string(id));
    }
    return it->second;
}

QComboBox* QtWindowOps::combo(int id) const {
    auto* box = qobject_cast<QComboBox*>(GetDlgItem(id));
    if (box == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " is not a combo box");
    }
    return box;
}

void QtWindowOps::SetWindowText(int id, std::string_view utf8) {
    QWidget* widget = GetDlgItem(id);
    const QString text = FromUtf8(utf8);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
        if (label->property(ANNOUNCES_CHANGES_PROPERTY).toBool()) {
            AnnounceLater(label);
        }
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
        ReportNameChange(button);  // a focused button's new caption is spoken
    } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
        box->setEditText(text);
    } else {
        widget->setWindowTitle(text);
    }
}

std::string QtWindowOps::WindowText(int id) const {
    const QWidget* widget = GetDlgItem(id);
    QString text;
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        text = edit->text();
    } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        text = label->text();
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        text = button->text();
    } else if (const auto* box = qobject_cast<const QComboBox*>(widget)) {
        text = box->currentText();
    } else {
        text = widget->windowTitle();
    }
    return text.toStdString();
}

void QtWindowOps::EnableWindow(int id, bool enable) {
    GetDlgItem(id)->setEnabled(enable);
}

bool QtWindowOps::IsWindowEnabled(int id) const {
    return GetDlgItem(id)->isEnabled();
}

void QtWindowOps::CheckDlgButton(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
    if (button == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " is not a button");
    }
    button->setChecked(checked);  // emits toggled only; the handlers listen to clicked
}

bool QtWindowOps::IsDlgButtonChecked(int id) const {
    const auto* button = qobject_cast<const QAbstractButton*>(GetDlgItem(id));
    return button != nullptr && button->isChecked();
}

int QtWindowOps::InsertStrings(int id, int index, std::span<const std::string> utf8) {
    QComboBox* box = combo(id);
    if (index < -1 || index > box->count()) {
        return -1;
    }
    const int at = index == -1 ? box->count() : index;
    if (utf8.empty()) {
        return at;
    }
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(utf8.size()));
    for (const std::string& text : utf8) {
        texts.append(FromUtf8(text));
    }
    // Qt selects the first entry put into an empty list; the system keeps "no selection"
    // and leaves the edit part alone.
    const bool hadSelection = box->currentIndex() != -1;
    const QString editText = box->currentText();
    box->insertItems(at, texts);
    if (!hadSelection && box->currentIndex() != -1) {
        box->setCurrentIndex(-1);
        if (box->isEditable()) {
            box->setEditText(editText);
        }
    }
    return at;
}

void QtWindowOps::ResetContent(int id) {
    QComboBox* box = combo(id);
    box->clear();
    box->clearEditText();
}

int QtWindowOps::GetCount(int id) const {
    return combo(id)->count();
}

int QtWindowOps::GetCurSel(int id) const {
    return combo(id)->currentIndex();
}

int QtWindowOps::SetCurSel(int id, int index) {
    QComboBox* box = combo(id);
    if (index < 0 || index >= box->count()) {
        box->setCurrentIndex(-1);
        box->clearEditText();
        return -1;
    }
    box->setCurrentIndex(index);
    return index;
}

std::string QtWindowOps::GetLBText(int id, int index) const {
    const QComboBox* box = combo(id);
    if (index < 0 || index >= box->count()) {
        return {};
    }
    return box->itemText(index).toStdString();
}

void QtWindowOps::TextBound(int id) {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
    if (edit == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " cannot be bound to a text");
    }
    edit->setValidator(new AnsiValidator(edit));
}

void QtWindowOps::FocusEdit(int id) {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
    if (edit != nullptr) {
        edit->setFocus(Qt::OtherFocusReason);
        edit->selectAll();
    }
}

int QtWindowOps::MessageBox(std::string_view utf8) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), FromUtf8(utf8),
                    QMessageBox::Ok, &m_dialog);
    return box.exec();
}

void QtWindowOps::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    PostMessage(message, wParam, lParam, {});
}

void QtWindowOps::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                              std::vector<std::uint8_t> payload) {
    QCoreApplication::postEvent(
        &m_dialog, new WindowMessageEvent(message, wParam, lParam, std::move(payload)));
}

void QtWindowOps::EndDialog(int result) {
    if (result == ID_OK) {
        m_dialog.accept();
    } else if (result == ID_CANCEL) {
        m_dialog.reject();
    } else {
        m_dialog.done(result);
    }
}

void QtWindowOps::DoAboutBox() {
    CAboutDlg about(&m_dialog);
    about.exec();
}

void QtWindowOps::DefaultSysCommand(unsigned command) {
    switch (command & 0xFFF0u) {
        case SC_CLOSE_COMMAND:
            EndDialog(ID_CANCEL);  // WM_CLOSE: the dialog's cancel
            break;
        case SC_MINIMIZE_COMMAND:
            m_dialog.showMinimized();
            break;
        case SC_RESTORE_COMMAND:
            m_dialog.showNormal();
            break;
        default:
            break;
    }
}

void QtWindowOps::AppendSystemMenuSeparator() {
    m_systemMenu->addSeparator();
}

void QtWindowOps::AppendSystemMenuItem(unsigned command, std::string_view utf8) {
    QAction* action = m_systemMenu->addAction(FromUtf8(utf8));
    QObject::connect(action, &QAction::triggered, &m_dialog, [this, command] {
        WindowMessageEvent message(MSG_SYSCOMMAND, command, 0);
        QCoreApplication::sendEvent(&m_dialog, &message);
    });
}

std::string QtWindowOps::LoadString(int id) const {
    return id == IDS_ABOUTBOX ? IDS_ABOUTBOX_TEXT : "";
}

IconHandle QtWindowOps::LoadIcon(int resourceId) {
    if (resourceId != IDR_MAINFRAME) {
        return nullptr;
    }
    if (m_icon.isNull()) {
        m_icon = LoadApplicationIcon();
    }
    return &m_icon;
}

void QtWindowOps::SetIcon(IconHandle icon, bool /*big*/) {
    if (icon != nullptr) {
        m_dialog.setWindowIcon(Icon(icon));  // one QIcon serves both sizes
    }
}

bool QtWindowOps::IsIconic() const {
    return m_dialog.isMinimized();
}

Size QtWindowOps::ClientSize() const {
    return Size{m_dialog.width(), m_dialog.height()};
}

Size QtWindowOps::IconMetrics() const {
    const int extent = m_dialog.style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, &m_dialog);
    return Size{extent, extent};
}

void QtWindowOps::PaintIcon(IconHandle icon, Point origin) {
    QPainter painter(&m_dialog);
    // WM_ICONERASEBKGND
    painter.fillRect(m_dialog.rect(), m_dialog.palette().window());
    if (icon != nullptr) {
        const Size size = IconMetrics();
        Icon(icon).paint(&painter, QRect(origin.x, origin.y, size.cx, size.cy));
    }
}

}  // namespace kx::ui
