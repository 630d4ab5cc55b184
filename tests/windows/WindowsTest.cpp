// The Windows build under wine, over our stand-in KX4701DLL.DLL beside the test program: the
// loader, the open probe, and the real dialog from the program's resource script.

#include "config/win32/WinApi.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/win32/ConfigApp.h"
#include "config/TextCodec.h"
#include "device/LastError.h"
#include "device/hotplug/win32/NotificationSource.h"
#include "device/win32/FileProbe.h"
#include "device/win32/LoadedDeviceLibrary.h"
#include "emulation/standin/BenchControls.h"
#include "ui/ControlIds.h"
#include "ui/MessageTable.h"
#include "ui/win32/Win32ConfigDialog.h"

namespace {

using namespace kx;
using win32::LoadedDeviceLibrary;

// A UTF-8 literal as the dialog must show it: CP936 bytes.
std::string A(const char* utf8) {
    return text::Utf8ToAnsi(utf8).value();
}

std::string WindowText(HWND window) {
    char buffer[256] = {};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

std::string Upper(std::string text) {
    CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

HWND g_tested = nullptr;
std::vector<std::string> g_boxes;  // "caption|text", then " button" or " icon" for each shown
std::vector<WPARAM> g_heard;

// Records each box the tested dialog owns once it is made (not shown yet: its controls' own
// visibility counts) and answers it with OK, and each WM_DEVICECHANGE for an HID interface.
LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
    const auto& sent = *reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(sent.lParam);
    if (sent.message == WM_DEVICECHANGE && sent.hwnd == g_tested && record != nullptr &&
        record->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
        ClassGuidOf(*record) == HID_CLASS_GUID) {
        g_heard.push_back(sent.wParam);
    }
    if (sent.message == WM_INITDIALOG && g_tested && GetWindow(sent.hwnd, GW_OWNER) == g_tested) {
        // 0xFFFF: a message box's text.
        std::string& box = g_boxes.emplace_back(WindowText(sent.hwnd) + "|" +
                                                WindowText(GetDlgItem(sent.hwnd, 0xFFFF)));
        char cls[16] = {};
        for (HWND c = GetWindow(sent.hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            GetClassNameA(c, cls, sizeof cls);
            const LONG style = GetWindowLongA(c, GWL_STYLE);
            if ((style & WS_VISIBLE) != 0 && lstrcmpiA(cls, "Button") == 0) {
                box += " button";
            } else if ((style & WS_VISIBLE) != 0 && SendMessageA(c, STM_GETICON, 0, 0) != 0) {
                box += " icon";
            }
        }
        PostMessageA(sent.hwnd, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// KX_SCREENSHOT names a .bmp file: the dialog as drawn, for the documentation.
void SaveScreenshot(HWND window) {
    char path[MAX_PATH] = {};
    RECT r{};
    if (!GetEnvironmentVariableA("KX_SCREENSHOT", path, MAX_PATH) || !GetWindowRect(window, &r)) {
        return;
    }
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    BITMAPINFOHEADER info{
        sizeof info, r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    info.biSizeImage = static_cast<DWORD>((info.biWidth * 3 + 3) / 4 * 4 * info.biHeight);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file{0x4D42 /* BM */, offset + info.biSizeImage, 0, 0, offset};
    char* bits = nullptr;
    HDC screen = GetDC(nullptr), dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info), 0,
                                                    reinterpret_cast<void**>(&bits), nullptr, 0));
    BitBlt(dc, 0, 0, info.biWidth, info.biHeight, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(&file), sizeof file)
        .write(reinterpret_cast<const char*>(&info), sizeof info)
        .write(bits, info.biSizeImage);
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

class Windows : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        hook = SetWindowsHookExA(WH_CALLWNDPROCRET, Watch, nullptr, GetCurrentThreadId());
    }
    static void TearDownTestSuite() { UnhookWindowsHookEx(hook); }
    // Unloading the stand-in drops its chips: every test starts again from two.
    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u) << "the texts are CP936: run with LANG=zh_CN.UTF-8";
        library = LoadedDeviceLibrary::LoadBesideProgram().library;
        ASSERT_NE(library, nullptr);
        g_boxes.clear();
        g_heard.clear();
    }
    void TearDown() override { Stop(); }
    template <class Fn>
    static Fn Bench(const char* name) {
        return reinterpret_cast<Fn>(
            reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("KX4701DLL.DLL"), name)));
    }
    // Discovery's loop over the library: every path it reports, in its order.
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        kx::SetLastError(0);
        for (int index = 0; kx::GetLastError() != ERROR_NO_MORE_ITEMS && index < 64; ++index) {
            char buffer[DEVICE_PATH_BUFFER_SIZE] = {};
            if (library->KX4701GetDevicePath(index, buffer, sizeof buffer) != 0) {
                paths.emplace_back(buffer);
            }
        }
        return paths;
    }

    void Start() {
        dlg = std::make_unique<ui::Win32ConfigDialog>(*library, probe);
        window = g_tested = dlg->Create();
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOW);
        Pump();
    }
    void Stop() {
        if (dlg && dlg->m_hDevice != INVALID_DEVICE_HANDLE) {
            library->KX4701CloseDevice(dlg->m_hDevice);
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
    LRESULT Send(int id, UINT message, WPARAM w = 0, const void* l = nullptr) {
        return SendMessageA(GetDlgItem(window, id), message, w, reinterpret_cast<LPARAM>(l));
    }
    // Pairs of a control and its text.
    template <class... More>
    void ExpectTexts(int id, const char* utf8, More... more) {
        EXPECT_EQ(WindowText(GetDlgItem(window, id)), A(utf8)) << id;
        if constexpr (sizeof...(more) > 0) {
            ExpectTexts(more...);
        }
    }
    std::string Chip(int index) {
        char buffer[DEVICE_PATH_BUFFER_SIZE] = {};
        Send(IDC_DEVICE_COMBO, CB_GETLBTEXT, static_cast<WPARAM>(index), buffer);
        return buffer;
    }
    bool Checked(int id) { return Send(id, BM_GETCHECK) == BST_CHECKED; }
    void Click(int id) { Send(id, BM_CLICK); }
    // Arrow keys in the list's edit part: the list raises its own CBN_SELCHANGE.
    void Choose(int id, const char* utf8) {
        const LRESULT index = Send(id, CB_FINDSTRINGEXACT, WPARAM(-1), A(utf8).c_str());
        ASSERT_GE(index, 0) << utf8;
        Send(id, CB_SETCURSEL, static_cast<WPARAM>(index > 0 ? index - 1 : 1));
        SendMessageA(GetWindow(GetDlgItem(window, id), GW_CHILD), WM_KEYDOWN,
                     index > 0 ? VK_DOWN : VK_UP, 0);
        ASSERT_EQ(Send(id, CB_GETCURSEL), index) << utf8;
    }

    std::unique_ptr<LoadedDeviceLibrary> library;
    win32::FileProbe probe;
    std::unique_ptr<ui::Win32ConfigDialog> dlg;
    HWND window = nullptr;
    static inline HHOOK hook = nullptr;
};

TEST_F(Windows, LoadingGivesTheLibraryOrNamesWhatIsMissing) {
    const struct {
        const char* file;  // null: KX4701DLL.DLL beside the program
        const char* missingFunction;
        DWORD systemError;
    } cases[] = {{"KX4701DLL-absent.DLL", "", ERROR_MOD_NOT_FOUND},
                 {"kernel32.dll", "KX4701DllInt", 0},
                 {nullptr, "", 0}};
    for (const auto& c : cases) {
        const win32::LoadResult r =
            c.file ? LoadedDeviceLibrary::Load(c.file) : LoadedDeviceLibrary::LoadBesideProgram();
        EXPECT_EQ(std::tie(r.missingFunction, r.systemError),
                  std::tuple(std::string(c.missingFunction), c.systemError));
        EXPECT_EQ(r.library != nullptr, c.file == nullptr) << r.file;
        EXPECT_EQ(r.Message().empty(), c.file == nullptr) << r.Message();
        EXPECT_NE(r.Message().find(c.file ? c.file : ""), std::string::npos) << r.Message();
        EXPECT_NE(r.Message().find(c.missingFunction), std::string::npos) << r.Message();
        EXPECT_NE(r.file.find(c.file ? c.file : "\\KX4701DLL.DLL"), std::string::npos) << r.file;
    }
}

// All fourteen functions through the loader, with the argument widths the 32-bit __stdcall
// build must get right; discovery ends on the library's last error (259), the system's own.
TEST_F(Windows, EveryFunctionWorksThroughTheLoaderAndSetsTheSystemsLastError) {
    kx::SetLastError(ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(::GetLastError(), 259u);
    ::SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(kx::GetLastError(), ERROR_ACCESS_DENIED_CODE);
    Guid guid{};
    EXPECT_TRUE(library->KX4701DllInt() != 0 && library->KX4701GetHidGuid(&guid) != 0);
    EXPECT_EQ(guid, HID_CLASS_GUID);
    const std::vector<std::string> paths = Paths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(kx::GetLastError(), ERROR_NO_MORE_ITEMS);
    const std::string upper = Upper(paths[1]);
    EXPECT_NE(upper, paths[1]) << "the stand-in reports lower-case paths";
    EXPECT_TRUE(probe.canOpenReadWrite(upper.c_str()));

    const DeviceHandle handle = library->KX4701OpenDevicePath(upper.c_str());
    ASSERT_NE(handle, INVALID_DEVICE_HANDLE);
    std::uint16_t vid = 0, pid = 0, version = 0, in = 0, out = 0;
    EXPECT_TRUE(library->KX4701GetAttributes(handle, &vid, &pid, &version) != 0 &&
                library->KX4701GetBufferLen(handle, &in, &out) != 0 && in > 0 &&
                library->KX4701SetTimeOut(handle, 3000, 3000) != 0 &&
                library->KX4701SetDefaultRate(handle, 13, 4, 1, 4, 0x30) != 0);
    EXPECT_EQ(std::tuple(vid, pid, version), std::tuple(0x3C5B, 0xB207, 0x0100));
    const auto strings = [&] {
        char16_t m[STRING_BUFFER_UNITS], p[STRING_BUFFER_UNITS], s[STRING_BUFFER_UNITS];
        EXPECT_TRUE(library->KX4701GetManufacturerString(handle, m, std::size(m)) != 0 &&
                    library->KX4701GetProductString(handle, p, std::size(p)) != 0 &&
                    library->KX4701GetSerialNumberString(handle, s, std::size(s)) != 0);
        return std::u16string(m) + u"|" + p + u"|" + s;
    };
    EXPECT_EQ(strings(), u"KX-CHIPS|HID To Serial|12345678");
    // Code page 936 bytes in, UTF-16 out: "测试" is B2 E2 CA D4.
    EXPECT_TRUE(library->KX4701SetDeviceCfg(handle, 0x1234, 0x5678, 50, "\xB2\xE2\xCA\xD4", 4,
                                            "Box", 3, "S1", 2));
    EXPECT_EQ(strings(), u"测试|Box|S1");
    EXPECT_TRUE(library->KX4701ResetToDefault(handle));
    EXPECT_EQ(strings(), u"KX-CHIPS|HID To Serial|12345678");

    EXPECT_NE(library->KX4701CloseDevice(handle), 0);
    ::SetLastError(0);
    EXPECT_EQ(library->KX4701GetAttributes(handle, &vid, &pid, &version), 0);
    EXPECT_NE(::GetLastError(), 0u) << "a failure sets the calling thread's last error";
}

// The probe opens what the system would, as does the library. The last two cases pin its
// access and share mode: writing, shared both ways with another program that has the chip.
TEST_F(Windows, ProbeOpensWhatTheSystemWould) {
    const DWORD NOBODY = 0, BENCH = ~0u;
    const struct {
        int chip;      // index into the stand-in's paths, or -1 for a path that does not exist
        DWORD holder;  // or the share mode of another program's open
        DWORD error;   // 0: it opens
    } cases[] = {{0, NOBODY, 0},
                 {0, BENCH, ERROR_SHARING_VIOLATION},
                 {-1, NOBODY, ERROR_FILE_NOT_FOUND},
                 {1, FILE_SHARE_READ | FILE_SHARE_WRITE, 0},
                 {1, FILE_SHARE_READ, ERROR_SHARING_VIOLATION}};
    const std::vector<std::string> paths = Paths();
    ASSERT_EQ(paths.size(), 2u);
    const auto hold = Bench<win32::KxBenchHoldPathFn>(win32::BENCH_HOLD_PATH);
    for (const auto& c : cases) {
        const std::string path = c.chip < 0 ? paths[0] + "-absent" : paths[c.chip];
        SCOPED_TRACE(path + " held by " + std::to_string(c.holder));
        ASSERT_TRUE(c.holder != BENCH || hold(path.c_str(), 1) != 0);
        const HANDLE other = c.holder == NOBODY || c.holder == BENCH
                                 ? INVALID_HANDLE_VALUE
                                 : CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, c.holder,
                                               nullptr, OPEN_EXISTING, 0, nullptr);
        ::SetLastError(0);
        EXPECT_EQ(probe.canOpenReadWrite(path.c_str()), c.error == 0);
        EXPECT_EQ(c.error ? ::GetLastError() : 0, c.error);
        if (other == INVALID_HANDLE_VALUE) {
            const DeviceHandle handle = library->KX4701OpenDevicePath(path.c_str());
            EXPECT_EQ(handle != INVALID_DEVICE_HANDLE, c.error == 0);
            library->KX4701CloseDevice(handle);
        }
        CloseHandle(other);
        ASSERT_TRUE(c.holder != BENCH || hold(path.c_str(), 0) != 0);
    }
}

TEST_F(Windows, DialogShowsWritesAndRefusesThroughTheWin32Controls) {
    Start();
    SaveScreenshot(window);
    EXPECT_EQ(WindowText(window), A("KX4701配置工具"));
    char listed[4096] = {};  // the stand-in's chip paths, in lower case
    Bench<win32::KxBenchListPathsFn>(win32::BENCH_LIST_PATHS)(listed, 4096);
    EXPECT_EQ(Send(IDC_DEVICE_COMBO, CB_GETCOUNT), 2);
    EXPECT_EQ(Chip(1) + "\n" + Chip(0) + "\n", Upper(listed));  // the newest first
    EXPECT_EQ(Send(IDC_DEVICE_COMBO, CB_GETCURSEL), 0);
    ExpectTexts(IDC_EVENT_TEXT, "有设备接入", IDC_BAUD_COMBO, "9600", IDC_STOP_COMBO, "1位",
                IDC_PARITY_COMBO, "无校验", IDC_DATA_COMBO, "8位", IDC_STATUS, "操作状态:就绪",
                IDC_OPEN_BUTTON, "打开设备");
    for (int id : {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, id))) << id;
        ExpectTexts(id, "");
    }
    ASSERT_NE(dlg->m_hIcon, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_QUERYDRAGICON, 0, 0),
              reinterpret_cast<LRESULT>(dlg->m_hIcon));

    Click(IDC_OPEN_BUTTON);
    ExpectTexts(IDC_STATUS, "操作状态:打开设备成功!", IDC_DEVICE_INFO,
                "设备已连接,VID=3C5BPID=B207 VER=100 ", IDC_OPEN_BUTTON, "关闭设备", IDC_VID_EDIT,
                "3C5B", IDC_PID_EDIT, "B207", IDC_MANUF_EDIT, "KX-CHIPS", IDC_PRODUCT_EDIT,
                "HID To Serial", IDC_SERIAL_EDIT, "12345678");
    EXPECT_TRUE(Checked(IDC_MANUF_CHECK) && Checked(IDC_PRODUCT_CHECK) &&
                Checked(IDC_SERIAL_CHECK));
    Click(IDC_OPEN_BUTTON);
    ExpectTexts(IDC_STATUS, "操作状态:关闭设备成功!", IDC_OPEN_BUTTON, "打开设备", IDC_DEVICE_INFO,
                "");
    EXPECT_FALSE(Checked(IDC_MANUF_CHECK));

    // The system menu ends with a separator and the about entry, which opens the about box.
    HMENU menu = GetSystemMenu(window, FALSE);
    const int last = GetMenuItemCount(menu) - 1;
    char entry[64] = {};
    GetMenuStringA(menu, static_cast<UINT>(last), entry, sizeof entry, MF_BYPOSITION);
    EXPECT_EQ(entry, A("关于 KX4701SetCfg(&A)..."));
    EXPECT_EQ(GetMenuItemID(menu, last), IDM_ABOUTBOX);
    EXPECT_NE(GetMenuState(menu, static_cast<UINT>(last - 1), MF_BYPOSITION) & MF_SEPARATOR, 0u);
    SendMessageA(window, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_TRUE(g_boxes[0].starts_with(A("关于 KX4701SetCfg|"))) << g_boxes[0];

    Click(IDC_SET_RATE_BUTTON);
    ExpectTexts(IDC_STATUS, "操作状态:设备尚未打开!");
    Click(IDC_OPEN_BUTTON);
    Choose(IDC_BAUD_COMBO, "115200");
    Choose(IDC_PARITY_COMBO, "奇校验");
    Choose(IDC_STOP_COMBO, "2位");
    Choose(IDC_DATA_COMBO, "5位");
    EXPECT_EQ(dlg->SerialDefaults, (SerialDefaults{13, 1, 2, 1, 0x30}));  // each list's own field
    Click(IDC_SET_RATE_BUTTON);
    ExpectTexts(IDC_STATUS, "操作状态:设置默认串口参数成功!");

    for (int box : {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        Click(box);  // unchecked: the default is written, and the edit is disabled
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, box + 1))) << box;
    }
    SetDlgItemTextA(window, IDC_MANUF_EDIT, A("中文厂商").c_str());
    Click(IDC_SET_CFG_BUTTON);
    ExpectTexts(IDC_STATUS, "操作状态:参数设置成功!");
    EXPECT_EQ(dlg->m_strManufacturer, "KX-CHIPS");
    Click(IDC_VID_CHECK);
    SetDlgItemTextA(window, IDC_VID_EDIT, "12");
    Click(IDC_SET_CFG_BUTTON);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[1], "windows_tests|" + A("VID长度不对") + " button");  // MB_OK, no icon
    Click(IDC_FACTORY_BUTTON);
    ExpectTexts(IDC_STATUS, "操作状态:恢复出厂设置成功!");
}

// The dialog reacts to WM_DEVICECHANGE through a posted WM_DEVICE_EVENT; the bench's plugging
// reaches discovery, and the dialog's window as the system's HID notifications would.
TEST_F(Windows, PlugAndUnplugReachDiscoveryAndTheDialog) {
    Start();
    DEV_BROADCAST_DEVICEINTERFACE_A record{sizeof record, DBT_DEVTYP_DEVICEINTERFACE, 0, {}, {}};
    SetClassGuid(record, HID_CLASS_GUID);
    hotplug::Win32NotificationSource source(window);
    EXPECT_FALSE(
        source.registerDeviceNotification(dlg.get(), nullptr, DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_TRUE(source.registerDeviceNotification(dlg.get(), &record, DEVICE_NOTIFY_WINDOW_HANDLE));

    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&record));
    ExpectTexts(IDC_STATUS, "操作状态:就绪");  // the reaction waits for the posted event
    MSG posted{};
    ASSERT_TRUE(
        PeekMessageA(&posted, window, ui::WM_DEVICE_EVENT, ui::WM_DEVICE_EVENT, PM_NOREMOVE));
    EXPECT_EQ(posted.wParam, ui::DEVICE_EVENT_ARRIVAL);
    Pump();
    ExpectTexts(IDC_STATUS, "操作状态:检测到设备已连接!", IDC_EVENT_TEXT, "有设备接入");
    g_heard.clear();

    char list[4096];
    const auto listPaths = Bench<win32::KxBenchListPathsFn>(win32::BENCH_LIST_PATHS);
    ASSERT_GT(Bench<win32::KxBenchPlugChipFn>(win32::BENCH_PLUG_CHIP)(), 0);
    Pump();
    EXPECT_EQ(Send(IDC_DEVICE_COMBO, CB_GETCOUNT), 3);
    EXPECT_EQ(listPaths(list, sizeof list), 3);
    EXPECT_EQ(listPaths(list, 8), -1);
    EXPECT_EQ(list[0], '\0');
    EXPECT_EQ(Paths().size(), 3u);
    Click(IDC_OPEN_BUTTON);  // the newest chip heads the list
    ExpectTexts(IDC_STATUS, "操作状态:打开设备成功!");
    const std::string opened = Chip(0);
    const auto unplug = Bench<win32::KxBenchUnplugPathFn>(win32::BENCH_UNPLUG_PATH);
    EXPECT_NE(unplug(opened.c_str()), 0);
    EXPECT_EQ(unplug(opened.c_str()), 0);
    Pump();
    ExpectTexts(IDC_STATUS, "操作状态:检测到设备已断开连接!", IDC_OPEN_BUTTON, "打开设备");
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(Send(IDC_DEVICE_COMBO, CB_GETCOUNT), 2);
    EXPECT_EQ(Paths().size(), 2u);
    EXPECT_FALSE(probe.canOpenReadWrite(opened.c_str()));
    EXPECT_EQ(g_heard, (std::vector<WPARAM>{DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE}));
    Stop();
    library.reset();
    SetUp();
    EXPECT_EQ(Paths().size(), 2u);
}

// Start-up runs the dialog modally, focus on the first tab stop, until Escape in its own loop.
int g_focusedId = 0;
void CALLBACK PressEscape(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    g_focusedId = GetDlgCtrlID(GetFocus());
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
}

TEST_F(Windows, StartUpRunsTheDialogModallyUntilEscape) {
    CConfigApp app(*library, probe);
    SetTimer(nullptr, 0, 0, PressEscape);
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(g_focusedId, IDC_OPEN_BUTTON);
}

// Tab from the open button, with the chip open and VID checked: every enabled input control
// in template order, the push buttons last.
TEST_F(Windows, TabReachesEveryEnabledInputControlInTemplateOrder) {
    Start();
    Click(IDC_OPEN_BUTTON);
    Click(IDC_VID_CHECK);
    SendMessageA(window, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(GetDlgItem(window, IDC_OPEN_BUTTON)), TRUE);
    std::vector<int> order;
    while (order.size() < 40 && (order.empty() || order.back() != IDC_OPEN_BUTTON)) {
        PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
        Pump();
        const HWND focus = GetFocus();
        order.push_back(GetDlgCtrlID(GetParent(focus) == window ? focus : GetParent(focus)));
    }
    EXPECT_EQ(order, (std::vector<int>{IDC_SET_RATE_BUTTON, IDC_SET_CFG_BUTTON, IDC_GET_CFG_BUTTON,
                                       IDC_FACTORY_BUTTON,  IDC_DEVICE_COMBO,   IDC_DEVICE_INFO,
                                       IDC_EVENT_TEXT,      IDC_BAUD_COMBO,     IDC_STOP_COMBO,
                                       IDC_PARITY_COMBO,    IDC_DATA_COMBO,     IDC_VID_CHECK,
                                       IDC_VID_EDIT,        IDC_PID_CHECK,      IDC_MANUF_CHECK,
                                       IDC_MANUF_EDIT,      IDC_PRODUCT_CHECK,  IDC_PRODUCT_EDIT,
                                       IDC_SERIAL_CHECK,    IDC_SERIAL_EDIT,    IDC_OPEN_BUTTON}));
}

TEST_F(Windows, EnterAndEscapeEndTheDialogButEnterClicksAFocusedButton) {
    const struct {
        int focus;
        WPARAM key;
        const char* status;  // null: the dialog ends
    } presses[] = {{IDC_OPEN_BUTTON, VK_RETURN, "操作状态:打开设备成功!"},
                   {IDC_DEVICE_COMBO, VK_RETURN, nullptr},
                   {IDC_EVENT_TEXT, VK_RETURN, nullptr},
                   {IDC_OPEN_BUTTON, VK_ESCAPE, nullptr}};
    for (const auto& press : presses) {
        Start();
        // Focus as the dialog manager does it, then the key where the focus is.
        SendMessageA(window, WM_NEXTDLGCTL,
                     reinterpret_cast<WPARAM>(GetDlgItem(window, press.focus)), TRUE);
        PostMessageA(GetFocus(), WM_KEYDOWN, press.key, 0);
        Pump();
        EXPECT_EQ(IsWindowVisible(window) != FALSE, press.status != nullptr) << press.focus;
        ExpectTexts(IDC_STATUS, press.status ? press.status : "操作状态:就绪");
        Stop();
    }
}

}  // namespace
