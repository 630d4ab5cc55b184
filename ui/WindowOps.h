#pragma once
// The window operations the dialog's handlers use, addressed by control identifier as the
// framework's GetDlgItem/SetWindowText/CB_* calls are. The dialog logic (ui/ConfigDlg.h) is
// written once against this interface; each toolkit implements it once (ui/qt/ on Linux,
// ui/win32/ on Windows) and the build picks one.
//
// Texts cross this layer as UTF-8; the identity texts, which the program keeps in CP936,
// are converted here in UpdateData and nowhere else.
//
// Failure: an identifier that names no control, or a control of the wrong kind, is a
// programming error and throws std::logic_error; every other operation reports the way the
// system call it stands for does (return value), and none raises a user notification
// (click or selection change) of its own.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kx::ui {

// An icon as the toolkit holds it (HICON, or a QIcon the Qt operations own). Valid as long
// as the window operations that loaded it.
using IconHandle = const void*;

struct Size {
    int cx;
    int cy;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Point {
    int x;
    int y;
    friend bool operator==(const Point&, const Point&) = default;
};

// Results of a modal dialog.
inline constexpr int ID_OK = 1;
inline constexpr int ID_CANCEL = 2;

class WindowOps {
  public:
    virtual ~WindowOps() = default;

    // SetWindowText: replaces the whole text of an edit, label or button.
    virtual void SetWindowText(int id, std::string_view utf8) = 0;
    // The whole text, as UTF-8.
    virtual std::string WindowText(int id) const = 0;
    // GetWindowText: copies at most maxCount - 1 bytes of the UTF-8 text, never splitting a
    // character, and a terminator into `buffer`; returns the bytes copied (0 if maxCount < 1).
    int GetWindowText(int id, char* buffer, int maxCount) const;

    virtual void EnableWindow(int id, bool enable) = 0;
    virtual bool IsWindowEnabled(int id) const = 0;

    // CheckDlgButton: sets the state; raises no click notification.
    virtual void CheckDlgButton(int id, bool checked) = 0;
    virtual bool IsDlgButtonChecked(int id) const = 0;

    // Combo boxes. Indexes and results follow CB_*: -1 means none / failure.
    int AddString(int id, std::string_view utf8);
    int InsertString(int id, int index, std::string_view utf8);
    // Inserts all of `utf8` at `index` (-1: at the end) in one step, in the given order; an
    // empty list has no selection afterwards if it had none before. Returns the position of
    // the first, or -1 for a bad index.
    virtual int InsertStrings(int id, int index, std::span<const std::string> utf8) = 0;
    virtual void ResetContent(int id) = 0;
    virtual int GetCount(int id) const = 0;
    virtual int GetCurSel(int id) const = 0;
    // Selects `index` (-1 clears the selection and the edit part); returns the new selection
    // or -1 when `index` is out of range. Raises no selection-change notification.
    virtual int SetCurSel(int id, int index) = 0;
    // GetLBText: the entry's text; empty for an index out of range.
    virtual std::string GetLBText(int id, int index) const = 0;

    // DDX_Text registration: binds an edit to a CP936 member. `fieldName` names the field
    // in the conversion failure message. Bindings are transferred in registration order.
    // The member must outlive this object.
    void BindText(int id, std::string* member, std::string fieldName);

    // UpdateData(FALSE) copies the members (CP936) into the edits; UpdateData(TRUE) copies
    // the edit texts into the members. When an edit holds a character CP936 cannot encode,
    // TRUE changes no member, shows a message box naming the field, puts the focus on that
    // edit and returns false. FALSE always returns true.
    bool UpdateData(bool saveAndValidate = true);

    // AfxMessageBox(text, MB_OK): modal, no icon, captioned with the application's name.
    // Returns the button that ended it.
    virtual int MessageBox(std::string_view utf8) = 0;

    // PostMessageA to the dialog itself: queued behind the messages already waiting.
    virtual void PostMessage(std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) = 0;

    // EndDialog: the modal run ends with `result` (ID_OK, ID_CANCEL).
    virtual void EndDialog(int result) = 0;
    // The about box (template 100), modal over the dialog.
    virtual void DoAboutBox() = 0;
    // What the system does with a system command the dialog leaves alone.
    virtual void DefaultSysCommand(unsigned command) = 0;

    // The system menu: false when the window has none. The entry sends WM_SYSCOMMAND with
    // `command` to the dialog when chosen.
    virtual bool HasSystemMenu() const = 0;
    virtual void AppendSystemMenuSeparator() = 0;
    virtual void AppendSystemMenuItem(unsigned command, std::string_view utf8) = 0;
    // LoadString: the string resource `id`, empty when there is none.
    virtual std::string LoadString(int id) const = 0;

    // LoadIcon of an application resource; null when there is none.
    virtual IconHandle LoadIcon(int resourceId) = 0;
    // WM_SETICON, big or small.
    virtual void SetIcon(IconHandle icon, bool big) = 0;

    // Painting. IsIconic: the dialog is minimised. PaintIcon runs the whole minimised paint:
    // begin painting, erase the background (WM_ICONERASEBKGND), draw `icon` with its top
    // left corner at `origin` in client coordinates. DefaultPaint: the toolkit paints.
    virtual bool IsIconic() const = 0;
    virtual Size ClientSize() const = 0;
    virtual Size IconMetrics() const = 0;  // SM_CXICON, SM_CYICON
    virtual void PaintIcon(IconHandle icon, Point origin) = 0;
    virtual void DefaultPaint() = 0;

  protected:
    // A text was bound to edit `id`: a toolkit may check the control or restrict its input.
    virtual void TextBound(int /*id*/) {}
    // Puts the focus on edit `id` and selects its text (after a refused transfer).
    virtual void FocusEdit(int id) = 0;

  private:
    struct Binding {
        int id;
        std::string* member;
        std::string fieldName;
    };
    std::vector<Binding> m_bindings;
};

}  // namespace kx::ui
