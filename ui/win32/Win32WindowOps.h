#pragma once
// The window operations over a real Win32 dialog: the Windows toolkit of the dialog. Texts
// go to the controls in the ANSI code page (CP936) through the A functions; they are read
// back as UTF-16, so that a character CP936 cannot hold is seen and refused rather than
// silently turned into '?'.
//
// Ownership: addresses the dialog window it is attached to and owns nothing of it; the icon
// it loads is a shared resource icon, never destroyed. Failures are reported as WindowOps
// says.

#include <cstdint>
#include <string>
#include <string_view>

#include "config/win32/WinApi.h"
#include "ui/WindowOps.h"

namespace kx::ui {

class Win32WindowOps final : public WindowOps {
  public:
    // The dialog window, once the system has made it (WM_INITDIALOG); null before.
    void Attach(HWND dialog) { m_hwnd = dialog; }
    HWND Window() const { return m_hwnd; }
    // GetDlgItem: the control of `id`; throws std::logic_error if there is none.
    HWND GetDlgItem(int id) const;
    // True, and cleared, when the handler of the message being dispatched left it to the
    // system's default processing (the dialog procedure then returns FALSE).
    bool TakeDefaultRequest();

    void SetWindowText(int id, std::string_view utf8) override;
    std::string WindowText(int id) const override;
    void EnableWindow(int id, bool enable) override;
    bool IsWindowEnabled(int id) const override;
    void CheckDlgButton(int id, bool checked) override;
    bool IsDlgButtonChecked(int id) const override;
    int InsertStrings(int id, int index, std::span<const std::string> utf8) override;
    void ResetContent(int id) override;
    int GetCount(int id) const override;
    int GetCurSel(int id) const override;
    int SetCurSel(int id, int index) override;
    std::string GetLBText(int id, int index) const override;
    // MessageBoxA with MB_OK, captioned with the program file's name without extension.
    int MessageBox(std::string_view utf8) override;
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void EndDialog(int result) override;
    void DoAboutBox() override;
    void DefaultSysCommand(unsigned command) override;
    bool HasSystemMenu() const override;
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned command, std::string_view utf8) override;
    std::string LoadString(int id) const override;
    IconHandle LoadIcon(int resourceId) override;
    void SetIcon(IconHandle icon, bool big) override;
    bool IsIconic() const override;
    Size ClientSize() const override;
    Size IconMetrics() const override;
    void PaintIcon(IconHandle icon, Point origin) override;
    void DefaultPaint() override;

    // The program file's name without folder and extension, in the ANSI code page.
    static std::string ApplicationName();

  protected:
    void FocusEdit(int id) override;

  private:
    HWND combo(int id) const;

    HWND m_hwnd = nullptr;
    bool m_defaultRequested = false;
};

}  // namespace kx::ui
