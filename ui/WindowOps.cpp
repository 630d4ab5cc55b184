#include "ui/WindowOps.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "config/TextCodec.h"

namespace kx::ui {
namespace {

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

int WindowOps::AddString(int id, std::string_view utf8) {
    return InsertString(id, -1, utf8);
}

int WindowOps::InsertString(int id, int index, std::string_view utf8) {
    const std::string text(utf8);
    return InsertStrings(id, index, std::span<const std::string>(&text, 1));
}

void WindowOps::BindText(int id, std::string* member, std::string fieldName) {
    if (member == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " bound to no text");
    }
    TextBound(id);
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
            FocusEdit(binding.id);
            return false;
        }
        converted.push_back(std::move(*ansi));
    }
    for (std::size_t i = 0; i < m_bindings.size(); ++i) {
        *m_bindings[i].member = std::move(converted[i]);
    }
    return true;
}

}  // namespace kx::ui
