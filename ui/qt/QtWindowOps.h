#pragma once
// The window operations over Qt widgets: the Linux toolkit of the dialog. Controls are the
// widgets the template builder made, found by the identifier they carry.
//
// Ownership: borrows the dialog and its widgets (the dialog owns them), which must outlive
// this object; owns the icon it loads and the menu that stands in for the system menu (a
// child of the dialog). Failures are reported as WindowOps says.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <QEvent>
#include <QIcon>

#include "ui/WindowOps.h"

class QComboBox;
class QDialog;
class QMenu;
class QWidget;

namespace kx::ui {

// A window message for the dialog: queued by PostMessage, or sent at once when a system
// menu entry is chosen. The dialog's host dispatches it through the message table.
// `payload` holds a copy of the record an lParam would point to, for messages that carry
// one.
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

class QtWindowOps final : public WindowOps {
  public:
    // `controls` as BuildDialog returned them.
    QtWindowOps(QDialog& dialog, const std::vector<QWidget*>& controls);

    QDialog& dialog() const { return m_dialog; }
    // GetDlgItem: the control of `id`; throws std::logic_error if there is none.
    QWidget* GetDlgItem(int id) const;
    // The menu that stands in for the system menu off Windows (the dialog's context menu).
    QMenu* SystemMenu() const { return m_systemMenu; }
    // The QIcon behind a handle LoadIcon returned.
    static const QIcon& Icon(IconHandle handle) { return *static_cast<const QIcon*>(handle); }

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
    // Captioned with QCoreApplication::applicationName(); returns QMessageBox::Ok.
    int MessageBox(std::string_view utf8) override;
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // The same with a copy of the record lParam stands for (a queued WM_DEVICECHANGE).
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::vector<std::uint8_t> payload);
    void EndDialog(int result) override;
    void DoAboutBox() override;
    void DefaultSysCommand(unsigned command) override;
    bool HasSystemMenu() const override { return true; }
    void AppendSystemMenuSeparator() override;
    void AppendSystemMenuItem(unsigned command, std::string_view utf8) override;
    std::string LoadString(int id) const override;
    IconHandle LoadIcon(int resourceId) override;
    void SetIcon(IconHandle icon, bool big) override;
    bool IsIconic() const override;
    Size ClientSize() const override;
    Size IconMetrics() const override;
    void PaintIcon(IconHandle icon, Point origin) override;
    void DefaultPaint() override {}  // Qt fills the background; the controls paint themselves

  protected:
    // Checks that `id` is an edit and keeps characters CP936 cannot encode out of it.
    void TextBound(int id) override;
    void FocusEdit(int id) override;

  private:
    QComboBox* combo(int id) const;

    QDialog& m_dialog;
    std::map<int, QWidget*> m_controls;
    QMenu* m_systemMenu;
    QIcon m_icon;
};

}  // namespace kx::ui
