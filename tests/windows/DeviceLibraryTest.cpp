// The device library as the Windows program gets it: KX4701DLL.DLL loaded at run time
// (our stand-in sits beside the test program), and the system's open probe on its paths.

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "device/DeviceNotify.h"
#include "device/LastError.h"
#include "device/hotplug/Win32NotificationSource.h"
#include "device/win32/FileProbe.h"
#include "device/win32/LoadedDeviceLibrary.h"
#include "device/win32/standin/BenchControls.h"

namespace {

using kx::win32::LoadedDeviceLibrary;
using kx::win32::LoadResult;

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    std::string name = info.param.name;
    std::erase_if(name, [](unsigned char ch) { return std::isalnum(ch) == 0; });
    return name;
}

struct LoadCase {
    const char* name;
    const char* file;  // null: the program's own folder
    bool loads;
    const char* missingFunction;
    DWORD systemError;
};

const LoadCase LOAD_CASES[] = {
    {"absent file", "KX4701DLL-absent.DLL", false, "", ERROR_MOD_NOT_FOUND},
    {"a DLL without the functions", "kernel32.dll", false, "KX4701DllInt", 0},
    {"the stand-in beside the program", nullptr, true, "", 0},
};

class Loading : public testing::TestWithParam<LoadCase> {};

TEST_P(Loading, GivesTheLibraryOrNamesWhatIsMissing) {
    const LoadCase& c = GetParam();
    const LoadResult result = c.file == nullptr ? LoadedDeviceLibrary::LoadBesideProgram()
                                                : LoadedDeviceLibrary::Load(c.file);
    EXPECT_EQ(result.library != nullptr, c.loads);
    EXPECT_EQ(result.missingFunction, c.missingFunction);
    EXPECT_EQ(result.systemError, c.systemError);
    const std::string message = result.Message();
    if (c.loads) {
        EXPECT_EQ(message, "");
        EXPECT_NE(result.file.find("\\KX4701DLL.DLL"), std::string::npos) << result.file;
    } else {
        EXPECT_NE(message.find(c.file), std::string::npos) << message;
        EXPECT_NE(message.find(c.missingFunction), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(WindowsDeviceLibrary, Loading, testing::ValuesIn(LOAD_CASES),
                         CaseName<LoadCase>);

// The stand-in, loaded afresh for every test (unloading it drops its chips), with its
// bench controls.
class StandIn : public testing::Test {
  protected:
    void SetUp() override {
        LoadResult result = LoadedDeviceLibrary::LoadBesideProgram();
        ASSERT_NE(result.library, nullptr) << result.Message();
        library_ = std::move(result.library);
        module_ = GetModuleHandleA("KX4701DLL.DLL");
        ASSERT_NE(module_, nullptr);
    }

    template <typename Fn>
    Fn Control(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
    }

    // Discovery's loop over the library: every path it reports, in its order.
    std::vector<std::string> Paths() {
        std::vector<std::string> paths;
        kx::SetLastError(0);
        for (int index = 0; kx::GetLastError() != ERROR_NO_MORE_ITEMS && index < 64; ++index) {
            char buffer[kx::DEVICE_PATH_BUFFER_SIZE] = {};
            if (library_->KX4701GetDevicePath(index, buffer, sizeof buffer) != 0) {
                paths.emplace_back(buffer);
            }
        }
        return paths;
    }

    std::unique_ptr<LoadedDeviceLibrary> library_;
    HMODULE module_ = nullptr;
};

// Every one of the fourteen functions, through the loader, with the argument widths the
// 32-bit __stdcall build must get exactly right.
TEST_F(StandIn, EveryFunctionWorksThroughTheLoader) {
    EXPECT_NE(library_->KX4701DllInt(), 0);
    kx::Guid guid{};
    EXPECT_NE(library_->KX4701GetHidGuid(&guid), 0);
    EXPECT_EQ(guid, kx::HID_CLASS_GUID);

    const std::vector<std::string> paths = Paths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(kx::GetLastError(), ERROR_NO_MORE_ITEMS);
    kx::win32::FileProbe probe;
    std::string upper = paths[1];
    CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    EXPECT_NE(upper, paths[1]) << "the stand-in reports lower-case paths";
    EXPECT_TRUE(probe.canOpenReadWrite(upper.c_str()));

    const kx::DeviceHandle handle = library_->KX4701OpenDevicePath(upper.c_str());
    ASSERT_NE(handle, kx::INVALID_DEVICE_HANDLE);
    std::uint16_t vid = 0, pid = 0, version = 0, in = 0, out = 0;
    ASSERT_NE(library_->KX4701GetAttributes(handle, &vid, &pid, &version), 0);
    EXPECT_EQ(vid, 0x3C5B);
    EXPECT_EQ(pid, 0xB207);
    EXPECT_EQ(version, 0x0100);
    EXPECT_NE(library_->KX4701GetBufferLen(handle, &in, &out), 0);
    EXPECT_GT(in, 0);
    EXPECT_NE(library_->KX4701SetTimeOut(handle, 3000, 3000), 0);
    EXPECT_NE(library_->KX4701SetDefaultRate(handle, 13, 4, 1, 4, 0x30), 0);

    const auto strings = [&] {
        char16_t m[kx::STRING_BUFFER_UNITS], p[kx::STRING_BUFFER_UNITS], s[kx::STRING_BUFFER_UNITS];
        const bool ok = library_->KX4701GetManufacturerString(handle, m, std::size(m)) != 0 &&
                        library_->KX4701GetProductString(handle, p, std::size(p)) != 0 &&
                        library_->KX4701GetSerialNumberString(handle, s, std::size(s)) != 0;
        EXPECT_TRUE(ok);
        return std::u16string(m) + u"|" + p + u"|" + s;
    };
    EXPECT_EQ(strings(), u"KX-CHIPS|HID To Serial|12345678");

    // Code page 936 bytes in, UTF-16 out: "测试" is B2 E2 CA D4.
    const char manufacturer[] = "\xB2\xE2\xCA\xD4";
    ASSERT_NE(library_->KX4701SetDeviceCfg(handle, 0x1234, 0x5678, 50, manufacturer, 4, "Box", 3,
                                           "S1", 2),
              0);
    EXPECT_EQ(strings(), u"测试|Box|S1");
    ASSERT_NE(library_->KX4701ResetToDefault(handle), 0);
    EXPECT_EQ(strings(), u"KX-CHIPS|HID To Serial|12345678");

    EXPECT_NE(library_->KX4701CloseDevice(handle), 0);
    ::SetLastError(0);
    EXPECT_EQ(library_->KX4701GetAttributes(handle, &vid, &pid, &version), 0);
    EXPECT_NE(::GetLastError(), 0u) << "a failure sets the calling thread's last error";
}

// Who else has the chip open while the probe runs.
enum class Holder { Nobody, BenchHold, SharingReadWrite, SharingReadOnly };

struct ProbeCase {
    const char* name;
    int chip;  // index into the stand-in's paths, or -1 for a path that does not exist
    Holder holder;
    bool opens;
    DWORD lastError;  // when it does not open
};

// The last two pin the probe's access and share mode: it must ask for writing, and must
// share both ways with a program that has the chip open, as this tool itself may.
const ProbeCase PROBE_CASES[] = {
    {"free chip", 0, Holder::Nobody, true, 0},
    {"chip held exclusively", 0, Holder::BenchHold, false, ERROR_SHARING_VIOLATION},
    {"path that does not exist", -1, Holder::Nobody, false, ERROR_FILE_NOT_FOUND},
    {"chip open elsewhere shared", 1, Holder::SharingReadWrite, true, 0},
    {"chip open elsewhere read-shared", 1, Holder::SharingReadOnly, false, ERROR_SHARING_VIOLATION},
};

class Probing : public StandIn, public testing::WithParamInterface<ProbeCase> {};

TEST_P(Probing, OpensExactlyWhatTheSystemWould) {
    const ProbeCase& c = GetParam();
    const std::vector<std::string> paths = Paths();
    ASSERT_EQ(paths.size(), 2u);
    const std::string path = c.chip < 0 ? paths[0] + "-absent" : paths[c.chip];
    HANDLE other = INVALID_HANDLE_VALUE;
    if (c.holder == Holder::BenchHold) {
        ASSERT_NE(
            Control<kx::win32::KxBenchHoldPathFn>(kx::win32::BENCH_HOLD_PATH)(path.c_str(), 1), 0);
    } else if (c.holder != Holder::Nobody) {
        const DWORD share = c.holder == Holder::SharingReadWrite
                                ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                : FILE_SHARE_READ;
        other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
    }
    kx::win32::FileProbe probe;
    ::SetLastError(0);
    EXPECT_EQ(probe.canOpenReadWrite(path.c_str()), c.opens);
    if (!c.opens) {
        EXPECT_EQ(::GetLastError(), c.lastError);
    }
    if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
    } else {
        // The library agrees: what the probe turns down cannot be opened either.
        const kx::DeviceHandle handle = library_->KX4701OpenDevicePath(path.c_str());
        EXPECT_EQ(handle != kx::INVALID_DEVICE_HANDLE, c.opens);
        library_->KX4701CloseDevice(handle);
    }
}

INSTANTIATE_TEST_SUITE_P(WindowsDeviceLibrary, Probing, testing::ValuesIn(PROBE_CASES),
                         CaseName<ProbeCase>);

std::vector<std::pair<WPARAM, kx::Guid>> heardChanges;

LRESULT CALLBACK RecordDeviceChanges(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DEVICECHANGE && l != 0 &&
        reinterpret_cast<const DEV_BROADCAST_HDR*>(l)->dbch_devicetype ==
            DBT_DEVTYP_DEVICEINTERFACE) {
        heardChanges.emplace_back(
            w, kx::ClassGuidOf(*reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(l)));
    }
    return DefWindowProcA(window, message, w, l);
}

// Plugging and unplugging through the bench controls changes what discovery finds, and a
// window registered through the notification source hears it as WM_DEVICECHANGE with an HID
// interface record, the way the dialog will. A reloaded stand-in starts again from two chips.
TEST_F(StandIn, PlugAndUnplugReachDiscoveryAndARegisteredWindow) {
    heardChanges.clear();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = RecordDeviceChanges;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KxNotificationTestWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    {
        struct NoSink : kx::DeviceChangeSink {
            void deliverDeviceChange(std::uint32_t, const void*) override {}
        } sink;
        kx::hotplug::Win32NotificationSource source(window);
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        kx::SetClassGuid(filter, kx::HID_CLASS_GUID);
        EXPECT_FALSE(
            source.registerDeviceNotification(&sink, nullptr, DEVICE_NOTIFY_WINDOW_HANDLE));
        ASSERT_TRUE(source.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));

        char list[4096];
        const auto listPaths = Control<kx::win32::KxBenchListPathsFn>(kx::win32::BENCH_LIST_PATHS);
        ASSERT_GT(Control<kx::win32::KxBenchPlugChipFn>(kx::win32::BENCH_PLUG_CHIP)(), 0);
        EXPECT_EQ(Paths().size(), 3u);
        EXPECT_EQ(listPaths(list, sizeof list), 3);
        EXPECT_EQ(listPaths(list, 8), -1);
        EXPECT_EQ(list[0], '\0');

        const std::string first = Paths().front();  // discovery order is plug order
        const auto unplug = Control<kx::win32::KxBenchUnplugPathFn>(kx::win32::BENCH_UNPLUG_PATH);
        EXPECT_NE(unplug(first.c_str()), 0);
        EXPECT_EQ(unplug(first.c_str()), 0);
        EXPECT_EQ(Paths().size(), 2u);
        EXPECT_FALSE(kx::win32::FileProbe().canOpenReadWrite(first.c_str()));
    }
    DestroyWindow(window);
    UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
    const std::vector<std::pair<WPARAM, kx::Guid>> expected = {
        {DBT_DEVICEARRIVAL, kx::HID_CLASS_GUID}, {DBT_DEVICEREMOVECOMPLETE, kx::HID_CLASS_GUID}};
    EXPECT_EQ(heardChanges, expected);

    library_.reset();
    SetUp();
    EXPECT_EQ(Paths().size(), 2u);
}

}  // namespace
