// The real Win32 dialog, in-process over the stand-in KX4701DLL.DLL: made from the
// program's resource script (linked into this test program), driven with the messages the
// system sends for clicks, list selections and keys, and read back byte for byte in CP936.

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/win32/ConfigApp.h"
#include "config/TextCodec.h"
#include "device/win32/FileProbe.h"
#include "device/win32/LoadedDeviceLibrary.h"
#include "device/win32/standin/BenchControls.h"
#include "ui/ControlIds.h"
#include "ui/MessageTable.h"
#include "ui/win32/Win32ConfigDialog.h"

namespace {

using namespace kx;

// A UTF-8 literal as the dialog must show it: CP936 bytes.
std::string A(const char* utf8) {
    return text::Utf8ToAnsi(utf8).value();
}

// Every box the tested dialog owns (message box, about box) is recorded when it becomes
// active and answered with OK, from inside its modal loop.
struct Box {
    std::string caption;
    std::string text;
    int visibleButtons = 0;
    int visibleIcons = 0;
};
std::vector<Box> g_boxes;
HWND g_tested = nullptr;

BOOL CALLBACK CountChild(HWND child, LPARAM data) {
    auto* box = reinterpret_cast<Box*>(data);
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    // The box itself is not shown yet: its controls' own visibility counts.
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if ((style & WS_VISIBLE) != 0 && lstrcmpiA(cls, "Button") == 0) {
        ++box->visibleButtons;
    }
    if ((style & WS_VISIBLE) != 0 && lstrcmpiA(cls, "Static") == 0 &&
        (style & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0) != 0) {
        ++box->visibleIcons;
    }
    return TRUE;
}

LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
    const auto window = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && g_tested != nullptr && GetWindow(window, GW_OWNER) == g_tested) {
        Box box;
        char buffer[256] = {};
        GetWindowTextA(window, buffer, sizeof buffer);
        box.caption = buffer;
        GetDlgItemTextA(window, 0xFFFF, buffer, sizeof buffer);  // a message box's text
        box.text = buffer;
        EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&box));
        g_boxes.push_back(box);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// KX_SCREENSHOT names a .bmp file: the dialog as drawn, for the documentation.
void SaveScreenshot(HWND window) {
    char path[MAX_PATH] = {};
    RECT rect{};
    if (GetEnvironmentVariableA("KX_SCREENSHOT", path, MAX_PATH) == 0 ||
        !GetWindowRect(window, &rect)) {
        return;
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    BITMAPINFOHEADER info{
        sizeof info, rect.right - rect.left, rect.bottom - rect.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    info.biSizeImage = static_cast<DWORD>(((info.biWidth * 3 + 3) & ~3) * info.biHeight);
    BITMAPFILEHEADER file{0x4D42, 0, 0, 0, sizeof file + sizeof info};  // "BM"
    file.bfSize = file.bfOffBits + info.biSizeImage;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info),
                                                    DIB_RGB_COLORS, &bits, nullptr, 0));
    HDC screen = GetDC(nullptr);
    BitBlt(dc, 0, 0, info.biWidth, info.biHeight, screen, rect.left, rect.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &info, sizeof info, &written, nullptr);
    WriteFile(out, bits, info.biSizeImage, &written, nullptr);
    CloseHandle(out);
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
}

// Presses Escape in the running modal dialog once its loop runs; remembers the focus.
int g_focusedId = 0;
void CALLBACK PressEscape(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    g_focusedId = GetDlgCtrlID(GetFocus());
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
}

class Win32Dialog : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_loaded =
            std::make_unique<win32::LoadResult>(win32::LoadedDeviceLibrary::LoadBesideProgram());
    }
    static void TearDownTestSuite() { s_loaded.reset(); }

    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u) << "the texts are CP936: run with LANG=zh_CN.UTF-8";
        ASSERT_TRUE(s_loaded->library) << s_loaded->Message();
        hook = SetWindowsHookExA(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
        g_boxes.clear();
        g_tested = nullptr;
    }
    void TearDown() override {
        Stop();
        UnhookWindowsHookEx(hook);
    }

    DeviceLibrary& library() { return *s_loaded->library; }
    template <class Fn>
    static Fn Control(const char* name) {
        return reinterpret_cast<Fn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KX4701DLL.DLL"), name)));
    }
    void Start() {
        dlg = std::make_unique<ui::Win32ConfigDialog>(library(), probe);
        window = dlg->Create();
        ASSERT_NE(window, nullptr);
        g_tested = window;
        ShowWindow(window, SW_SHOW);
        Pump();
    }
    void Stop() {
        if (dlg && dlg->m_hDevice != INVALID_DEVICE_HANDLE) {
            library().KX4701CloseDevice(dlg->m_hDevice);
        }
        dlg.reset();
        g_tested = nullptr;
    }
    // The dialog's own message loop: posted messages, and keys through IsDialogMessageA.
    void Pump() {
        MSG msg;
        for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
            if (!IsDialogMessageA(window, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    HWND Item(int id) { return GetDlgItem(window, id); }
    std::string Text(int id) {
        char buffer[1100] = {};
        GetDlgItemTextA(window, id, buffer, sizeof buffer);
        return buffer;
    }
    std::string Status() { return Text(IDC_STATUS); }
    std::string Entry(int id, int index) {
        char buffer[1100] = {};
        SendMessageA(Item(id), CB_GETLBTEXT, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }
    int Count(int id) { return static_cast<int>(SendMessageA(Item(id), CB_GETCOUNT, 0, 0)); }
    bool Checked(int id) { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Click(int id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
    // Picks an entry with the arrow keys in the list's edit part: the list raises its own
    // CBN_SELCHANGE.
    void Choose(int id, const char* utf8) {
        const std::string text = A(utf8);
        const auto index =
            static_cast<int>(SendMessageA(Item(id), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                          reinterpret_cast<LPARAM>(text.c_str())));
        ASSERT_GE(index, 0) << utf8;
        SendMessageA(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index > 0 ? index - 1 : index + 1),
                     0);
        HWND edit = GetWindow(Item(id), GW_CHILD);
        SendMessageA(edit, WM_KEYDOWN, index > 0 ? VK_DOWN : VK_UP, 0);
        ASSERT_EQ(SendMessageA(Item(id), CB_GETCURSEL, 0, 0), index) << utf8;
    }
    void Type(int id, const char* utf8) { SetDlgItemTextA(window, id, A(utf8).c_str()); }
    // Focuses the control as the dialog manager does, and presses `key` there.
    void Key(int id, WPARAM key) {
        SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
        PostMessageA(GetFocus(), WM_KEYDOWN, key, 0);
        Pump();
    }

    static inline std::unique_ptr<win32::LoadResult> s_loaded;
    win32::FileProbe probe;
    std::unique_ptr<ui::Win32ConfigDialog> dlg;
    HWND window = nullptr;
    HHOOK hook = nullptr;
};

TEST_F(Win32Dialog, StartsWithTheListsTheDefaultsAndDisabledIdentityFields) {
    Start();
    SaveScreenshot(window);
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_EQ(caption, A("KX4701配置工具"));
    char paths[4096] = {};  // the stand-in's chip paths, in lower case
    const int chips = Control<win32::KxBenchListPathsFn>(win32::BENCH_LIST_PATHS)(paths, 4096);
    ASSERT_EQ(Count(IDC_DEVICE_COMBO), chips);
    for (int i = 0; i < chips; ++i) {
        std::string upper = Entry(IDC_DEVICE_COMBO, i);
        CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
        EXPECT_EQ(Entry(IDC_DEVICE_COMBO, i), upper);
        EXPECT_NE(std::string(paths).find(CharLowerA(upper.data())), std::string::npos);
    }
    EXPECT_EQ(SendMessageA(Item(IDC_DEVICE_COMBO), CB_GETCURSEL, 0, 0), 0);
    const std::pair<int, const char*> shown[] = {
        {IDC_EVENT_TEXT, "有设备接入"}, {IDC_BAUD_COMBO, "9600"}, {IDC_STOP_COMBO, "1位"},
        {IDC_PARITY_COMBO, "无校验"},   {IDC_DATA_COMBO, "8位"},  {IDC_STATUS, "操作状态:就绪"},
        {IDC_OPEN_BUTTON, "打开设备"}};
    for (const auto& [id, utf8] : shown) {
        EXPECT_EQ(Text(id), A(utf8)) << id;
    }
    for (int id : {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
        EXPECT_FALSE(IsWindowEnabled(Item(id))) << id;
        EXPECT_EQ(Text(id), "") << id;
    }
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
    ASSERT_NE(dlg->m_hIcon, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_QUERYDRAGICON, 0, 0),
              reinterpret_cast<LRESULT>(dlg->m_hIcon));
    // The system menu ends with a separator and the about entry, which opens the about box.
    HMENU menu = GetSystemMenu(window, FALSE);
    const int items = GetMenuItemCount(menu);
    char entry[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(items - 1), entry, sizeof entry, MF_BYPOSITION);
    EXPECT_EQ(entry, A("关于 KX4701SetCfg(&A)..."));
    EXPECT_EQ(GetMenuItemID(menu, items - 1), IDM_ABOUTBOX);
    EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(items - 2), MF_BYPOSITION) & MF_SEPARATOR,
              MF_SEPARATOR);
    SendMessageA(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].caption, A("关于 KX4701SetCfg"));
}

TEST_F(Win32Dialog, OpensShowsTheChipAndClosesAgain) {
    Start();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(Status(), A("操作状态:打开设备成功!"));
    const std::pair<int, const char*> open[] = {
        {IDC_DEVICE_INFO, "设备已连接,VID=3C5BPID=B207 VER=100 "},
        {IDC_OPEN_BUTTON, "关闭设备"},
        {IDC_VID_EDIT, "3C5B"},
        {IDC_PID_EDIT, "B207"},
        {IDC_MANUF_EDIT, "KX-CHIPS"},
        {IDC_PRODUCT_EDIT, "HID To Serial"},
        {IDC_SERIAL_EDIT, "12345678"}};
    for (const auto& [id, utf8] : open) {
        EXPECT_EQ(Text(id), A(utf8)) << id;
    }
    EXPECT_TRUE(Checked(IDC_MANUF_CHECK) && Checked(IDC_PRODUCT_CHECK) &&
                Checked(IDC_SERIAL_CHECK));
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(Status(), A("操作状态:关闭设备成功!"));
    EXPECT_EQ(Text(IDC_OPEN_BUTTON), A("打开设备"));
    EXPECT_EQ(Text(IDC_DEVICE_INFO), "");
    EXPECT_FALSE(Checked(IDC_MANUF_CHECK));
}

TEST_F(Win32Dialog, ListSelectionsSetTheSerialDefaultsThatAreWritten) {
    struct Pick {
        int id;
        const char* entry;
        SerialDefaults after;
    };
    const Pick picks[] = {
        {IDC_BAUD_COMBO, "115200", {13, 4, 1, 4, 0x30}},
        {IDC_PARITY_COMBO, "奇校验", {13, 1, 1, 4, 0x30}},
        {IDC_STOP_COMBO, "2位", {13, 1, 2, 4, 0x30}},
        {IDC_DATA_COMBO, "5位", {13, 1, 2, 1, 0x30}},
    };
    Start();
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(Status(), A("操作状态:设备尚未打开!"));
    Click(IDC_OPEN_BUTTON);
    for (const Pick& pick : picks) {
        Choose(pick.id, pick.entry);
        EXPECT_EQ(dlg->SerialDefaults, pick.after) << pick.entry;
    }
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(Status(), A("操作状态:设置默认串口参数成功!"));
}

TEST_F(Win32Dialog, IdentityWriteTakesDefaultsAndRefusesABadVidInABox) {
    Start();
    Click(IDC_OPEN_BUTTON);
    for (int box : {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        Click(box);  // unchecked: the default is written, and the edit is disabled
        EXPECT_FALSE(IsWindowEnabled(Item(box + 1))) << box;
    }
    Type(IDC_MANUF_EDIT, "中文厂商");
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(Status(), A("操作状态:参数设置成功!"));
    EXPECT_EQ(dlg->m_strManufacturer, "KX-CHIPS");
    Click(IDC_VID_CHECK);
    Type(IDC_VID_EDIT, "12");
    Click(IDC_SET_CFG_BUTTON);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, A("VID长度不对"));
    EXPECT_EQ(g_boxes[0].caption, "windows_dialog_tests");
    EXPECT_EQ(g_boxes[0].visibleButtons, 1);
    EXPECT_EQ(g_boxes[0].visibleIcons, 0);
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(Status(), A("操作状态:恢复出厂设置成功!"));
}

TEST_F(Win32Dialog, PlugAndUnplugArePostedAndRebuildTheList) {
    Start();
    const int before = Count(IDC_DEVICE_COMBO);
    DEV_BROADCAST_DEVICEINTERFACE_A record{};
    record.dbcc_size = sizeof record;
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record));
    EXPECT_EQ(Status(), A("操作状态:就绪"));  // the reaction waits for the posted event
    MSG posted{};
    ASSERT_TRUE(
        PeekMessageA(&posted, window, ui::WM_DEVICE_EVENT, ui::WM_DEVICE_EVENT, PM_NOREMOVE));
    EXPECT_EQ(posted.wParam, ui::DEVICE_EVENT_ARRIVAL);
    Pump();
    EXPECT_EQ(Status(), A("操作状态:检测到设备已连接!"));
    EXPECT_EQ(Text(IDC_EVENT_TEXT), A("有设备接入"));  // the rebuilt list found chips

    const int chip = Control<win32::KxBenchPlugChipFn>(win32::BENCH_PLUG_CHIP)();
    ASSERT_GT(chip, 0);
    Pump();
    EXPECT_EQ(Count(IDC_DEVICE_COMBO), before + 1);
    Click(IDC_OPEN_BUTTON);  // the newest chip heads the list
    ASSERT_EQ(Status(), A("操作状态:打开设备成功!"));
    ASSERT_NE(Control<win32::KxBenchUnplugPathFn>(win32::BENCH_UNPLUG_PATH)(
                  Entry(IDC_DEVICE_COMBO, 0).c_str()),
              0);
    Pump();
    EXPECT_EQ(Status(), A("操作状态:检测到设备已断开连接!"));
    EXPECT_EQ(Text(IDC_OPEN_BUTTON), A("打开设备"));
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(Count(IDC_DEVICE_COMBO), before);
}

// The program's start-up runs the dialog modally with the default focus on the first tab
// stop, and the dialog's own loop takes Escape, which ends the run.
TEST_F(Win32Dialog, StartUpRunsTheDialogModallyUntilEscape) {
    CConfigApp app(library(), probe);
    SetTimer(nullptr, 0, 0, PressEscape);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(g_focusedId, IDC_OPEN_BUTTON);
}

TEST_F(Win32Dialog, EnterAndEscapeEndTheDialogButEnterClicksAFocusedButton) {
    struct Press {
        int focus;
        WPARAM key;
        bool ends;
    };
    const Press presses[] = {
        {IDC_OPEN_BUTTON, VK_RETURN, false},
        {IDC_DEVICE_COMBO, VK_RETURN, true},
        {IDC_EVENT_TEXT, VK_RETURN, true},
        {IDC_OPEN_BUTTON, VK_ESCAPE, true},
    };
    for (const Press& press : presses) {
        Start();
        Key(press.focus, press.key);
        EXPECT_EQ(IsWindowVisible(window) == FALSE, press.ends) << press.focus << " " << press.key;
        if (!press.ends) {
            EXPECT_EQ(Status(), A("操作状态:打开设备成功!"));
        }
        Stop();
    }
}

}  // namespace
