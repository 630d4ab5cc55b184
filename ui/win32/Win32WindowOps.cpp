#include "ui/win32/Win32WindowOps.h"

#include <array>
#include <stdexcept>
#include <vector>

#include "config/TextCodec.h"
#include "ui/win32/AboutDlg.h"

namespace kx::ui {
namespace {

// wchar_t is UTF-16 on Windows.
std::string Narrow(const wchar_t* wide, int units) {
    return text::Utf16ToUtf8(std::u16string(wide, wide + units));
}

// The program's texts in CP936, as an A function takes them.
std::string ToAnsi(std::string_view utf8) {
    return text::Utf8ToAnsiForDisplay(utf8);
}

std::string WindowTextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, buffer.data(), length + 1);
    return Narrow(buffer.data(), copied);
}

}  // namespace

HWND Win32WindowOps::GetDlgItem(int id) const {
    HWND control = m_hwnd != nullptr ? ::GetDlgItem(m_hwnd, id) : nullptr;
    if (control == nullptr) {
        throw std::logic_error("no control with identifier " + std::to_string(id));
    }
    return control;
}

HWND Win32WindowOps::combo(int id) const {
    HWND control = GetDlgItem(id);
    std::array<char, 16> name{};
    GetClassNameA(control, name.data(), static_cast<int>(name.size()));
    if (lstrcmpiA(name.data(), "ComboBox") != 0) {
        throw std::logic_error("control " + std::to_string(id) + " is not a combo box");
    }
    return control;
}

bool Win32WindowOps::TakeDefaultRequest() {
    const bool requested = m_defaultRequested;
    m_defaultRequested = false;
    return requested;
}

void Win32WindowOps::SetWindowText(int id, std::string_view utf8) {
    SetWindowTextA(GetDlgItem(id), ToAnsi(utf8).c_str());
}

std::string Win32WindowOps::WindowText(int id) const {
    return WindowTextOf(GetDlgItem(id));
}

void Win32WindowOps::EnableWindow(int id, bool enable) {
    ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

bool Win32WindowOps::IsWindowEnabled(int id) const {
    return ::IsWindowEnabled(GetDlgItem(id)) != FALSE;
}

void Win32WindowOps::CheckDlgButton(int id, bool checked) {
    SendMessageA(GetDlgItem(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32WindowOps::IsDlgButtonChecked(int id) const {
    return SendMessageA(GetDlgItem(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int Win32WindowOps::InsertStrings(int id, int index, std::span<const std::string> utf8) {
    HWND box = combo(id);
    const auto count = static_cast<int>(SendMessageA(box, CB_GETCOUNT, 0, 0));
    if (index < -1 || index > count) {
        return -1;
    }
    const int first = index == -1 ? count : index;
    WPARAM at = index == -1 || index == count ? static_cast<WPARAM>(-1) : first;
    for (const std::string& text : utf8) {
        const std::string ansi = ToAnsi(text);
        SendMessageA(box, CB_INSERTSTRING, at, reinterpret_cast<LPARAM>(ansi.c_str()));
        if (at != static_cast<WPARAM>(-1)) {
            ++at;
        }
    }
    return first;
}

void Win32WindowOps::ResetContent(int id) {
    SendMessageA(combo(id), CB_RESETCONTENT, 0, 0);
}

int Win32WindowOps::GetCount(int id) const {
    return static_cast<int>(SendMessageA(combo(id), CB_GETCOUNT, 0, 0));
}

int Win32WindowOps::GetCurSel(int id) const {
    return static_cast<int>(SendMessageA(combo(id), CB_GETCURSEL, 0, 0));
}

int Win32WindowOps::SetCurSel(int id, int index) {
    return static_cast<int>(SendMessageA(combo(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0));
}

std::string Win32WindowOps::GetLBText(int id, int index) const {
    HWND box = combo(id);
    const auto length = SendMessageW(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (index < 0 || length == CB_ERR) {
        return {};
    }
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                     reinterpret_cast<LPARAM>(buffer.data()));
    return copied == CB_ERR ? std::string() : Narrow(buffer.data(), static_cast<int>(copied));
}

std::string Win32WindowOps::ApplicationName() {
    std::array<char, MAX_PATH> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    std::string name(path.data(), length < MAX_PATH ? length : 0);
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

int Win32WindowOps::MessageBox(std::string_view utf8) {
    return MessageBoxA(m_hwnd, ToAnsi(utf8).c_str(), ApplicationName().c_str(), MB_OK);
}

void Win32WindowOps::PostMessage(std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    PostMessageA(m_hwnd, message, wParam, lParam);
}

void Win32WindowOps::EndDialog(int result) {
    ::EndDialog(m_hwnd, result);
}

void Win32WindowOps::DoAboutBox() {
    CAboutDlg about(m_hwnd);
    about.DoModal();
}

void Win32WindowOps::DefaultSysCommand(unsigned /*command*/) {
    m_defaultRequested = true;
}

bool Win32WindowOps::HasSystemMenu() const {
    return GetSystemMenu(m_hwnd, FALSE) != nullptr;
}

void Win32WindowOps::AppendSystemMenuSeparator() {
    AppendMenuA(GetSystemMenu(m_hwnd, FALSE), MF_SEPARATOR, 0, nullptr);
}

void Win32WindowOps::AppendSystemMenuItem(unsigned command, std::string_view utf8) {
    AppendMenuA(GetSystemMenu(m_hwnd, FALSE), MF_STRING, command, ToAnsi(utf8).c_str());
}

std::string Win32WindowOps::LoadString(int id) const {
    // A zero length asks for a read-only pointer to the resource text itself.
    const wchar_t* text = nullptr;
    const int units = LoadStringW(GetModuleHandleA(nullptr), static_cast<UINT>(id),
                                  reinterpret_cast<LPWSTR>(&text), 0);
    return units > 0 && text != nullptr ? Narrow(text, units) : std::string();
}

IconHandle Win32WindowOps::LoadIcon(int resourceId) {
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId));
}

void Win32WindowOps::SetIcon(IconHandle icon, bool big) {
    SendMessageA(m_hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(const_cast<void*>(icon)));
}

bool Win32WindowOps::IsIconic() const {
    return ::IsIconic(m_hwnd) != FALSE;
}

Size Win32WindowOps::ClientSize() const {
    RECT rect{};
    GetClientRect(m_hwnd, &rect);
    return Size{rect.right - rect.left, rect.bottom - rect.top};
}

Size Win32WindowOps::IconMetrics() const {
    return Size{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
}

void Win32WindowOps::PaintIcon(IconHandle icon, Point origin) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(m_hwnd, &paint);
    SendMessageA(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    DrawIcon(dc, origin.x, origin.y, static_cast<HICON>(const_cast<void*>(icon)));
    EndPaint(m_hwnd, &paint);
}

void Win32WindowOps::DefaultPaint() {
    m_defaultRequested = true;
}

void Win32WindowOps::FocusEdit(int id) {
    HWND edit = GetDlgItem(id);
    SendMessageA(m_hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

}  // namespace kx::ui
