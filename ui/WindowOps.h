#pragma once
// The window operations the dialog's handlers use, addressed by control identifier as the
// framework's GetDlgItem/SetWindowText/CB_* calls are. Texts cross this layer as UTF-8;
// the identity texts, which the program keeps in CP936, are converted here in UpdateData
// and nowhere else.
//
// Failure: an identifier that names no control, or a control of the wrong kind, is a
// programming error and throws std::logic_error; every other operation reports the way the
// system call it stands for does (return value), and none raises a user notification
// (click or selection change) of its own.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QEvent>

#ifdef _WIN32
// The system headers define these operation names as macros; the layer keeps its names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef GetWindowText
#undef MessageBox
#undef PostMessage
#undef SetWindowText
#endif

class QComboBox;
class QDialog;
class QWidget;

namespace kx::ui {

// A window message queued to the dialog (PostMessageA). `payload` holds a copy of the
// record an lParam would point to, for messages that carry one.
class WindowMessageEvent : public QEvent {
  public:
    WindowMessageEvent(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                       std::vector<std::uint8_t> payload = {});

    static QEvent::Type eventType();

    std::uint32_t message() const { return m_message; }
    std::uintptr_t wParam() const { return m_wParam; }
    std::intptr_t lParam() const { return m_lParam; }
    // The copied record, or null when there is none.
    const void* data() const { return m_payload.empty() ? nullptr : m_payload.data(); }

  private:
    std::uint32_t m_message;
    std::uintptr_t m_wParam;
    std::intptr_t m_lParam;
    std::vector<std::uint8_t> m_payload;
};

class WindowOps {
  public:
    // `dialog` and `controls` (as BuildDialog returned them) must outlive this object.
    WindowOps(QDialog& dialog, const std::vector<QWidget*>& controls);

    QDialog& dialog() const { return m_dialog; }
    // GetDlgItem: the control of `id`; throws std::logic_error if there is none.
    QWidget* GetDlgItem(int id) const;

    // SetWindowText: replaces the whole text of an edit, label or button.
    void SetWindowText(int id, std::string_view utf8);
    // GetWindowText: copies at most maxCount - 1 bytes of the UTF-8 text, never splitting a
    // character, and a terminator into `buffer`; returns the bytes copied (0 if maxCount < 1).
    int GetWindowText(int id, char* buffer, int maxCount) const;
    // The whole text, for reading fields back (tests, diagnostics).
    std::string WindowText(int id) const;

    void EnableWindow(int id, bool enable);
    bool IsWindowEnabled(int id) const;

    // CheckDlgButton: sets the state; raises no click notification.
    void CheckDlgButton(int id, bool checked);
    bool IsDlgButtonChecked(int id) const;

    // Combo boxes. Indexes and results follow CB_*: -1 means none / failure.
    int AddString(int id, std::string_view utf8);
    int InsertString(int id, int index, std::string_view utf8);
    // Inserts all of `utf8` at `index` in one step, in the given order; same rules as
    // InsertString. Returns the position of the first, or -1 for a bad index.
    int InsertStrings(int id, int index, std::span<const std::string> utf8);
    void ResetContent(int id);
    int GetCount(int id) const;
    int GetCurSel(int id) const;
    // Selects `index` (-1 clears the selection); returns the new selection or -1 when
    // `index` is out of range. Raises no selection-change notification.
    int SetCurSel(int id, int index);
    // GetLBText: the entry's text; empty for an index out of range.
    std::string GetLBText(int id, int index) const;

    // DDX_Text registration: binds an edit to a CP936 member. `fieldName` names the field
    // in the conversion failure message. Bindings are transferred in registration order.
    // The member must outlive this object. Also installs, on the edit, a validator that
    // refuses characters CP936 cannot encode.
    void BindText(int id, std::string* member, std::string fieldName);

    // UpdateData(FALSE) copies the members (CP936) into the edits; UpdateData(TRUE) copies
    // the edit texts into the members. When an edit holds a character CP936 cannot encode,
    // TRUE changes no member, shows a message box naming the field, puts the focus on that
    // edit and returns false. FALSE always returns true.
    bool UpdateData(bool saveAndValidate = true);

    // AfxMessageBox(text, MB_OK): modal, no icon, captioned with the application's name.
    // Returns the button that ended it (QMessageBox::Ok).
    int MessageBox(std::string_view utf8);

    // PostMessageA to the dialog itself: queued behind the events already waiting.
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::vector<std::uint8_t> payload = {});

  private:
    QComboBox* combo(int id) const;

    struct Binding {
        int id;
        std::string* member;
        std::string fieldName;
    };

    QDialog& m_dialog;
    std::map<int, QWidget*> m_controls;
    std::vector<Binding> m_bindings;
};

}  // namespace kx::ui
