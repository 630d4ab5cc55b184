// The dialog over failing, foreign and hostile devices, and a long random soak. The library's
// own answers to broken replies are checked in tests/device; here is what the user sees.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

using bench::ChipIdentity;
using bench::SerialSettings;

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

const ChipIdentity OLD_IDENTITY{0x1111, 0x2222, 0x0100, "Old maker", "Old product", "OLD-1"};

struct Stored {
    ChipIdentity identity;
    SerialSettings serial;
    friend bool operator==(const Stored&, const Stored&) = default;
};

class Reliability : public DialogTest {
  protected:
    Stored StoredOn(int id) { return {StoredIdentity(id), StoredSerial(id)}; }

    // The dialog with no device open and nothing left of the lost one.
    void ExpectClean() {
        EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
        EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
        for (int id : {IDC_DEVICE_INFO, IDC_VID_EDIT, IDC_MANUF_EDIT, IDC_SERIAL_EDIT}) {
            EXPECT_EQ(text(id), "") << id;
        }
        for (int box : {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_SERIAL_CHECK}) {
            EXPECT_FALSE(checked(box)) << box;
        }
        EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
        EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
    }

    void Select(const std::string& path) {
        const auto list = entries(IDC_DEVICE_COMBO);
        const auto it = std::find(list.begin(), list.end(), path);
        ASSERT_NE(it, list.end()) << path;
        control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(static_cast<int>(it - list.begin()));
    }
};

// Each write command cut after 0, 1, 2, ... reports until one run completes: the chip keeps
// entirely the old settings or entirely the new ones, the status line reports the failure,
// and the removal that follows leaves the dialog clean.
TEST_F(Reliability, EveryWriteCutAfterEachReportLeavesOldOrNewAndACleanDialog) {
    Stored rate{OLD_IDENTITY, {13, 2, 2, 3, 0x30}};
    Stored identity{{0xA1B2, 0xC3D4, 0x0100, "Maker", std::string(30, 'P'), std::string(30, 'S')},
                    {}};
    const struct {
        std::function<void()> prepare;
        int button;
        const char* succeeded;
        const char* failed;
        Stored expected;
    } commands[] = {
        {[&] {
             Choose(IDC_BAUD_COMBO, "115200");
             Choose(IDC_PARITY_COMBO, "偶校验");
             Choose(IDC_STOP_COMBO, "2位");
             Choose(IDC_DATA_COMBO, "7位");
         },
         IDC_SET_RATE_BUTTON, "设置默认串口参数成功!", "设置默认串口参数失败!", rate},
        {[&] {
             Click(IDC_VID_CHECK);
             Click(IDC_PID_CHECK);
             Type(IDC_VID_EDIT, "a1b2");
             Type(IDC_PID_EDIT, "C3D4");
             Type(IDC_MANUF_EDIT, "Maker");
             Type(IDC_PRODUCT_EDIT, std::string(30, 'P').c_str());
             Type(IDC_SERIAL_EDIT, std::string(30, 'S').c_str());
         },
         IDC_SET_CFG_BUTTON, "参数设置成功!", "参数设置失败!", identity},
        {[] {}, IDC_FACTORY_BUTTON, "恢复出厂设置成功!", "恢复出厂设置失败!", {}},
    };
    const Stored old{OLD_IDENTITY, {}};
    int injected = 0;
    Start();
    for (const auto& command : commands) {
        for (int busy : {0, 1}) {
            bool sawOld = false, sawNew = false, completed = false;
            for (int cut = 0; cut < 64 && !completed; ++cut) {
                SCOPED_TRACE(std::string(command.failed) + " busy " + std::to_string(busy) +
                             ", cut after " + std::to_string(cut));
                const int id = bench.plugChip(OLD_IDENTITY);
                Pump();
                OpenSelected();
                command.prepare();
                bench.faults(id).busyPolls = busy;
                bench.faults(id).vanishAfterReports = cut;
                Click(command.button);
                completed = bench.device(id).has_value();
                EXPECT_EQ(status(), std::string("操作状态:") +
                                        (completed ? command.succeeded : command.failed));
                if (completed) {
                    ASSERT_TRUE(bench.unplug(id));
                } else {
                    ++injected;
                    EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE) << "closed before the removal";
                }
                Pump();
                ExpectClean();
                ASSERT_TRUE(bench.replug(id));
                const Stored now = StoredOn(id);
                EXPECT_TRUE(now == old || now == command.expected);
                sawOld = sawOld || now == old;
                sawNew = sawNew || now == command.expected;
                ASSERT_TRUE(bench.unplug(id));
                Pump();
            }
            EXPECT_TRUE(completed && sawOld && sawNew);
        }
    }
    // Rate: 2 reports, 3 with a busy poll; identity: 8 and 12; reset: 2 and 3.
    EXPECT_EQ(injected, 2 + 3 + 8 + 12 + 2 + 3);
    std::printf("fault points injected: %d\n", injected);
}

TEST_F(Reliability, AChipThatStopsAnsweringFailsEachWriteAfterTheTimeoutAndStaysUsable) {
    const int id = bench.plugChip(OLD_IDENTITY);
    Start();
    OpenSelected();
    ASSERT_EQ(library.timeouts.back(), (std::pair<std::uint32_t, std::uint32_t>{3000, 3000}));
    bench.faults(id).silent = true;
    for (const auto& w : WRITE_COMMANDS) {
        SetLastError(0);
        Click(w.button);
        EXPECT_EQ(status(), w.failedStatus);
        EXPECT_EQ(GetLastError(), ERROR_TIMEOUT_CODE);
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
        if (w.button == IDC_SET_CFG_BUTTON) {
            // The write stopped at its first unanswered report: no commit reached the chip.
            EXPECT_EQ(StoredIdentity(id), OLD_IDENTITY);
        }
    }
    bench.faults(id).silent = false;
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
}

// A keyboard can be listed, opened and read like a chip, but no write ever sends it a
// report, and a chip beside it never hears what was meant for the keyboard.
TEST_F(Reliability, WritesMeantForAKeyboardReachNeitherItNorTheChipBesideIt) {
    const int chip = bench.plugChip();
    const int keyboard = bench.plugPlainHid("USB Keyboard");
    Start();
    const std::uint64_t chipReports = bench.device(chip)->reportsReceived;
    Select("VBENCH://HID/" + std::to_string(keyboard));
    OpenSelected();
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=46DPID=C31C VER=110 ");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "USB Keyboard");
    Click(IDC_VID_CHECK);
    Type(IDC_VID_EDIT, "1234");
    Type(IDC_SERIAL_EDIT, "0001");  // the keyboard has none; the rules want one
    for (const auto& w : WRITE_COMMANDS) {
        SetLastError(0);
        Click(w.button);
        EXPECT_EQ(status(), w.failedStatus);
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
    }
    EXPECT_EQ(library.deviceCfgs, 1) << "the dialog asked; the library said no";
    EXPECT_EQ(bench.device(keyboard)->reportsReceived, 0u);
    EXPECT_EQ(bench.device(chip)->reportsReceived, chipReports);
    EXPECT_EQ(StoredOn(chip), Stored{});
}

TEST_F(Reliability, PathsDifferingOnlyInCaseAreNeverGuessedBetween) {
    const int chip = bench.plugChip({}, "vbench://kx/a");
    const int other = bench.plugChip({}, "vbench://KX/A");
    Start();
    ASSERT_EQ(entries(IDC_DEVICE_COMBO),
              (std::vector<std::string>{"VBENCH://KX/A", "VBENCH://KX/A"}));
    for (int entry : {0, 1}) {
        control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(entry);
        Click(IDC_OPEN_BUTTON);
        EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    }
    EXPECT_EQ(bench.device(chip)->reportsReceived + bench.device(other)->reportsReceived, 0u);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
}

TEST_F(Reliability, ADeviceGoneBeforeOrWhileItOpensLeavesNoHandle) {
    const int chip = bench.plugChip();
    Start();
    ASSERT_TRUE(bench.unplug(chip));  // gone before its removal has been handled
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    Pump();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
    ASSERT_TRUE(bench.replug(chip));
    Pump();
    bench.setHeld(chip, true);  // held by another program after the list was made
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    bench.setHeld(chip, false);
    // Gone at the request and at the reply of the open's identification exchange.
    for (int cut : {0, 1}) {
        bench.faults(chip).vanishAfterReports = cut;
        Click(IDC_OPEN_BUTTON);
        EXPECT_EQ(status(), "操作状态:获取设备VID、PID失败!");
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
        EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
        Pump();
        ASSERT_TRUE(bench.replug(chip));
        Pump();
    }
    OpenSelected();
}

// 10,000 random user and device actions, with the dialog's invariants checked after each:
// handle, caption and library agree; the list shows what could be opened at its last
// rebuild; reports reach only the open device; chips hold whole settings. Seed 4701.
TEST_F(Reliability, TenThousandRandomActionsKeepTheDialogConsistent) {
    std::mt19937 rng{4701};
    const auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    std::vector<int> ids{bench.plugChip(), bench.plugPlainHid()};
    std::string opened;  // the list text of the entry the dialog opened
    const auto openDevice = [&] {
        for (const auto& d : bench.devices()) {
            if (dlg->m_hDevice != INVALID_DEVICE_HANDLE && Upper(d.path) == opened) {
                return d.id;
            }
        }
        return 0;
    };
    const auto openable = [&] {
        std::vector<std::string> out;
        for (const auto& d : bench.devices()) {
            if (!d.held) {
                out.insert(out.begin(), Upper(d.path));
            }
        }
        return out;
    };
    const int buttons[] = {IDC_GET_CFG_BUTTON, IDC_SET_RATE_BUTTON, IDC_SET_CFG_BUTTON,
                           IDC_FACTORY_BUTTON, IDC_VID_CHECK,       IDC_PID_CHECK,
                           IDC_MANUF_CHECK,    IDC_PRODUCT_CHECK,   IDC_SERIAL_CHECK};
    const int edits[] = {IDC_VID_EDIT, IDC_PID_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT};
    const int lists[] = {IDC_BAUD_COMBO, IDC_PARITY_COMBO, IDC_STOP_COMBO, IDC_DATA_COMBO};
    const char* const texts[] = {"", "1a2B", "中文", "1234567890123456789012345678901"};
    const DEV_BROADCAST_DEVICEINTERFACE_A pending{
        sizeof pending, DBT_DEVTYP_DEVICEINTERFACE, 0, HID_CLASS_GUID, {}};
    const DEV_BROADCAST_HDR port{sizeof port, DBT_DEVTYP_PORT, 0};
    Start();
    std::vector<std::string> expectedList = openable();
    std::map<int, std::uint64_t> reports;
    int confirmedWrites = 0;
    for (int step = 0; step < 10000 && !HasFailure(); ++step) {
        const std::size_t action = pick(16);
        SCOPED_TRACE("seed 4701, step " + std::to_string(step) + ", action " +
                     std::to_string(action));
        const int openBefore = openDevice();
        const int pathCalls = library.pathCalls;
        const auto devices = bench.devices();
        const int any = devices.empty() ? 0 : devices[pick(devices.size())].id;
        switch (action) {
            case 0:
            case 1: {  // open or close
                const int sel = ops().GetCurSel(IDC_DEVICE_COMBO);
                const bool opening = dlg->m_hDevice == INVALID_DEVICE_HANDLE;
                const std::string path = sel >= 0 ? ops().GetLBText(IDC_DEVICE_COMBO, sel) : "";
                Click(IDC_OPEN_BUTTON);
                opened = opening && dlg->m_hDevice != INVALID_DEVICE_HANDLE ? path : opened;
                break;
            }
            case 2:
            case 3:
                Click(buttons[pick(std::size(buttons))]);
                confirmedWrites +=
                    status().ends_with("成功!") && !status().ends_with("获取设备参数成功!");
                break;
            case 4:
                if (const int n = ops().GetCount(IDC_DEVICE_COMBO); n > 0) {
                    control<QComboBox>(IDC_DEVICE_COMBO)
                        ->setCurrentIndex(int(pick(std::size_t(n))));
                }
                break;
            case 5:
                QTest::keyClick(control<QComboBox>(lists[pick(4)]),
                                pick(2) == 0 ? Qt::Key_Up : Qt::Key_Down);
                break;
            case 6:
                ops().SetWindowText(edits[pick(4)], texts[pick(4)]);
                break;
            case 7:
            case 8:
                devices.size() < 6
                    ? ids.push_back(action == 7 ? bench.plugChip() : bench.plugPlainHid())
                    : void(bench.unplug(any));
                break;
            case 9:
            case 10:
                bench.unplug(any);
                break;
            case 11:
                bench.replug(ids[pick(ids.size())]);
                break;
            case 12:
                if (any != 0) {
                    bench.setHeld(any, !bench.device(any)->held);
                }
                break;
            case 13:
                bench.deliver(DBT_DEVNODES_CHANGED, nullptr);
                bench.deliver(DBT_DEVICEARRIVAL, &port);
                break;
            case 14:
                bench.deliver(DBT_DEVICEREMOVEPENDING, &pending);
                break;
            default:
                if (const int id = openDevice(); id != 0) {
                    bench.faults(id).vanishAfterReports = int(pick(4));
                }
                break;
        }
        Pump();
        const bool open = dlg->m_hDevice != INVALID_DEVICE_HANDLE;
        EXPECT_EQ(text(IDC_OPEN_BUTTON), open ? "关闭设备" : "打开设备");
        EXPECT_EQ(kxLibrary.openHandleCount(), open ? 1u : 0u);
        EXPECT_TRUE(!open || openDevice() != 0) << "open handle for a device that is gone";
        // A hold raises no notification: the list knows of it at the next rebuild only.
        if (library.pathCalls != pathCalls) {
            expectedList = openable();
        }
        EXPECT_EQ(entries(IDC_DEVICE_COMBO), expectedList);
        const int openAfter = openDevice();
        std::map<int, std::uint64_t> now;
        for (const auto& d : bench.devices()) {
            now[d.id] = d.reportsReceived;
            const auto last = reports.find(d.id);
            if (last != reports.end() && d.reportsReceived != last->second) {
                EXPECT_TRUE(d.isChip && (d.id == openBefore || d.id == openAfter))
                    << "device " << d.id << " received a report it was not meant to";
            }
            EXPECT_TRUE(!d.isChip || (d.identity.product.size() - 1 < 30 &&
                                      d.serial.baudCode >= 1 && d.serial.baudCode <= 13));
        }
        reports = std::move(now);
    }
    EXPECT_GT(confirmedWrites, 100) << "a soak of closed dialogs proves little";
}

}  // namespace
}  // namespace kx::uitest
