#include "ui/WindowOps.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QValidator>

#include "config/TextCodec.h"
#include "ui/ControlIds.h"
#include "ui/DialogTemplate.h"

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

// Length of the longest prefix of `utf8` that fits `limit` bytes without splitting a
// character.
std::size_t Utf8Prefix(const std::string& utf8, std::size_t limit) {
    if (utf8.size() <= limit) {
        return utf8.size();
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) {
        --end;
    }
    return end;
}

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

WindowOps::WindowOps(QDialog& dialog, const std::vector<QWidget*>& controls) : m_dialog(dialog) {
    for (QWidget* widget : controls) {
        const int id = widget->property(CONTROL_ID_PROPERTY).toInt();
        if (id != IDC_STATIC_ID) {
            m_controls.emplace(id, widget);
        }
    }
}

QWidget* WindowOps::GetDlgItem(int id) const {
    const auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        throw std::logic_error("no control with identifier " + std::to_string(id));
    }
    return it->second;
}

QComboBox* WindowOps::combo(int id) const {
    auto* box = qobject_cast<QComboBox*>(GetDlgItem(id));
    if (box == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " is not a combo box");
    }
    return box;
}

void WindowOps::SetWindowText(int id, std::string_view utf8) {
    QWidget* widget = GetDlgItem(id);
    const QString text = FromUtf8(utf8);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
        box->setEditText(text);
    } else {
        widget->setWindowTitle(text);
    }
}

std::string WindowOps::WindowText(int id) const {
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

int WindowOps::GetWindowText(int id, char* buffer, int maxCount) const {
    if (buffer == nullptr || maxCount < 1) {
        return 0;
    }
    const std::string text = WindowText(id);
    const std::size_t length = Utf8Prefix(text, static_cast<std::size_t>(maxCount) - 1);
    std::copy_n(text.data(), length, buffer);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

void WindowOps::EnableWindow(int id, bool enable) {
    GetDlgItem(id)->setEnabled(enable);
}

bool WindowOps::IsWindowEnabled(int id) const {
    return GetDlgItem(id)->isEnabled();
}

void WindowOps::CheckDlgButton(int id, bool checked) {
    auto* button = qobject_cast<QAbstractButton*>(GetDlgItem(id));
    if (button == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " is not a button");
    }
    button->setChecked(checked);  // emits toggled only; the handlers listen to clicked
}

bool WindowOps::IsDlgButtonChecked(int id) const {
    const auto* button = qobject_cast<const QAbstractButton*>(GetDlgItem(id));
    return button != nullptr && button->isChecked();
}

int WindowOps::AddString(int id, std::string_view utf8) {
    return InsertString(id, -1, utf8);
}

int WindowOps::InsertString(int id, int index, std::string_view utf8) {
    const std::string text(utf8);
    return InsertStrings(id, index, std::span<const std::string>(&text, 1));
}

int WindowOps::InsertStrings(int id, int index, std::span<const std::string> utf8) {
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

void WindowOps::ResetContent(int id) {
    QComboBox* box = combo(id);
    box->clear();
    box->clearEditText();
}

int WindowOps::GetCount(int id) const {
    return combo(id)->count();
}

int WindowOps::GetCurSel(int id) const {
    return combo(id)->currentIndex();
}

int WindowOps::SetCurSel(int id, int index) {
    QComboBox* box = combo(id);
    if (index < 0 || index >= box->count()) {
        box->setCurrentIndex(-1);
        box->clearEditText();
        return -1;
    }
    box->setCurrentIndex(index);
    return index;
}

std::string WindowOps::GetLBText(int id, int index) const {
    const QComboBox* box = combo(id);
    if (index < 0 || index >= box->count()) {
        return {};
    }
    return box->itemText(index).toStdString();
}

void WindowOps::BindText(int id, std::string* member, std::string fieldName) {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id));
    if (edit == nullptr || member == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " cannot be bound to a text");
    }
    edit->setValidator(new AnsiValidator(edit));
    m_bindings.push_back(Binding{id, member, std::move(fieldName)});
}

bool WindowOps::UpdateData(bool saveAndValidate) {
    if (!saveAndValidate) {
        for (const Binding& binding : m_bindings) {
            SetWindowText(binding.id, text::AnsiToUtf8(*binding.member));
        }
        return true;
    }
    // Convert everything first so that a refused field leaves every member as it was.
    std::vector<std::string> converted;
    converted.reserve(m_bindings.size());
    for (const Binding& binding : m_bindings) {
        std::optional<std::string> ansi = text::Utf8ToAnsi(WindowText(binding.id));
        if (!ansi || ansi->find('\0') != std::string::npos) {
            MessageBox(binding.fieldName + " 中含有无法用 GBK(代码页936)表示的字符,请修改后重试。");
            auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(binding.id));
            edit->setFocus(Qt::OtherFocusReason);
            edit->selectAll();
            return false;
        }
        converted.push_back(std::move(*ansi));
    }
    for (std::size_t i = 0; i < m_bindings.size(); ++i) {
        *m_bindings[i].member = std::move(converted[i]);
    }
    return true;
}

int WindowOps::MessageBox(std::string_view utf8) {
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), FromUtf8(utf8),
                    QMessageBox::Ok, &m_dialog);
    return box.exec();
}

void WindowOps::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                            std::vector<std::uint8_t> payload) {
    QCoreApplication::postEvent(
        &m_dialog, new WindowMessageEvent(message, wParam, lParam, std::move(payload)));
}

}  // namespace kx::ui
