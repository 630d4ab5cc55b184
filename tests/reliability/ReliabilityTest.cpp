// The dialog over failing, foreign and vanishing devices, and a long random soak. The library's
// own answers to broken replies are checked in tests/device; here is what the user sees.

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

const emu::ChipIdentity OLD_IDENTITY{0x1111, 0x2222, 0x0100, "Old maker", "Old product", "OLD-1"};
using Stored = std::pair<emu::ChipIdentity, SerialDefaults>;
constexpr SerialDefaults FACTORY = emu::FACTORY_SERIAL_DEFAULTS;

class Reliability : public DialogTest {
  protected:
    Stored StoredOn(int id) { return {StoredIdentity(id), StoredSerial(id)}; }

    // No device open and nothing left of the lost one.
    void ExpectClean() {
        EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
        EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
        EXPECT_EQ(text(IDC_DEVICE_INFO) + text(IDC_VID_EDIT) + text(IDC_SERIAL_EDIT), "");
        EXPECT_FALSE(checked(IDC_VID_CHECK) || checked(IDC_PID_CHECK) || checked(IDC_SERIAL_CHECK));
        EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
        EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
    }
};

// Each write command cut after 0, 1, 2, ... reports until one run completes: the chip keeps
// entirely the old settings or entirely the new ones, the status line reports the failure,
// and the removal that follows leaves the dialog clean.
TEST_F(Reliability, EveryWriteCutAfterEachReportLeavesOldOrNewAndACleanDialog) {
    const std::string p30(30, 'P'), s30(30, 'S');
    // In the order of WRITE_COMMANDS: what the user picks (serial lists), types (edits) or
    // clicks (no text) first, and what the chip holds when the write completes.
    const struct {
        std::vector<int> controls;
        std::vector<std::string> inputs;
        Stored expected;
    } commands[] = {{{IDC_BAUD_COMBO, IDC_PARITY_COMBO, IDC_STOP_COMBO, IDC_DATA_COMBO},
                     {"115200", "偶校验", "2位", "7位"},
                     {OLD_IDENTITY, {13, 2, 2, 3, 0x30}}},
                    {{IDC_VID_CHECK, IDC_PID_CHECK, IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT,
                      IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT},
                     {"", "", "a1b2", "C3D4", "Maker", p30, s30},
                     {{0xA1B2, 0xC3D4, 0x0100, "Maker", p30, s30}, FACTORY}},
                    {{}, {}, {{}, FACTORY}}};
    const Stored old{OLD_IDENTITY, FACTORY};
    int injected = 0;
    Start();
    for (std::size_t c = 0; c < std::size(commands); ++c) {
        const auto& [controls, inputs, expected] = commands[c];
        for (int busy : {0, 1}) {
            bool completed = false, seen[2] = {false, false};  // old, new
            for (int cut = 0; cut < 64 && !completed; ++cut) {
                SCOPED_TRACE(std::string(WRITE_COMMANDS[c].failedStatus) + " busy " +
                             std::to_string(busy) + ", cut after " + std::to_string(cut));
                const int id = bench.plugChip(OLD_IDENTITY);
                Pump();
                OpenSelected();
                for (std::size_t i = 0; i < controls.size(); ++i) {
                    const char* input = inputs[i].c_str();
                    c == 0   ? Choose(controls[i], input)
                    : *input ? Type(controls[i], input)
                             : Click(controls[i]);
                }
                bench.faults(id) = {.vanishAfterReports = cut, .busyPolls = busy};
                Click(WRITE_COMMANDS[c].button);
                completed = bench.device(id).has_value();
                EXPECT_TRUE(completed ? status().ends_with("成功!")
                                      : status() == WRITE_COMMANDS[c].failedStatus)
                    << status();
                injected += !completed;
                // A failed command keeps the device open until its removal is handled.
                ASSERT_TRUE(completed ? bench.unplug(id) : dlg->m_hDevice != INVALID_DEVICE_HANDLE);
                Pump();
                ExpectClean();
                ASSERT_TRUE(bench.replug(id));
                const Stored now = StoredOn(id);
                EXPECT_TRUE(now == old || now == expected);
                seen[now == expected] = true;
                ASSERT_TRUE(bench.unplug(id));
                Pump();
            }
            EXPECT_TRUE(completed && seen[0] && seen[1]);
        }
    }
    // Rate: 2 reports, 3 with a busy poll; identity: 8 and 12; reset: 2 and 3; each after the
    // IDENTIFY of its first write, 2 and 3.
    EXPECT_EQ(injected, 2 + 3 + 8 + 12 + 2 + 3 + 3 * (2 + 3));
    std::printf("fault points injected: %d\n", injected);
}

// Paths differing only in case are never guessed between; an open sends no report.
TEST_F(Reliability, OpensThatCannotReachTheListedDeviceLeaveNoHandle) {
    const int twin = bench.plugChip({}, "vbench://kx/a");
    const int other = bench.plugChip({}, "vbench://KX/A");
    Start();
    ASSERT_EQ(entries(IDC_DEVICE_COMBO),
              (std::vector<std::string>{"VBENCH://KX/A", "VBENCH://KX/A"}));
    for (int entry : {0, 1}) {
        control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(entry);
        Click(IDC_OPEN_BUTTON);
        EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    }
    EXPECT_EQ(bench.device(twin)->reportsReceived + bench.device(other)->reportsReceived, 0u);
    ASSERT_TRUE(bench.unplug(twin) && bench.unplug(other));
    const int chip = bench.plugChip();
    Pump();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开设备成功!");
    EXPECT_EQ(bench.device(chip)->reportsReceived, 0u);
}

// 10,000 random user and device actions, with the dialog's invariants checked after each:
// handle, caption and library agree; the list shows what could be opened at its last
// rebuild; reports reach only the open device; chips hold whole settings. Seed 4701.
TEST_F(Reliability, TenThousandRandomActionsKeepTheDialogConsistent) {
    std::mt19937 rng{4701};
    const auto pick = [&rng](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    const auto upper = [](const std::string& s) {
        return QString::fromStdString(s).toUpper().toStdString();
    };
    std::vector<int> ids{bench.plugChip(), bench.plugPlainHid()};
    std::string opened;  // the list text of the entry the dialog opened
    const auto openDevice = [&] {
        const auto all = bench.devices();
        const auto it = std::ranges::find_if(all, [&](auto& d) { return upper(d.path) == opened; });
        return dlg->m_hDevice == INVALID_DEVICE_HANDLE || it == all.end() ? 0 : it->id;
    };
    const auto openable = [&] {
        std::vector<std::string> out;
        for (const auto& d : bench.devices()) {
            if (!d.held) {
                out.insert(out.begin(), upper(d.path));
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
    std::size_t plugged = 0;
    int any = 0, openBefore = 0, confirmedWrites = 0;
    const auto openOrClose = [&] {
        const bool opening = dlg->m_hDevice == INVALID_DEVICE_HANDLE;
        const std::string selected = text(IDC_DEVICE_COMBO);
        Click(IDC_OPEN_BUTTON);
        opened = opening && dlg->m_hDevice != INVALID_DEVICE_HANDLE ? selected : opened;
    };
    const auto click = [&] {
        Click(buttons[pick(std::size(buttons))]);
        confirmedWrites += status().ends_with("成功!") && !status().ends_with("获取设备参数成功!");
    };
    const auto plug = [&](bool chip) {  // the bench keeps at most six devices plugged
        plugged < 6 ? ids.push_back(chip ? bench.plugChip() : bench.plugPlainHid())
                    : void(bench.unplug(any));
    };
    const auto unplug = [&] { bench.unplug(any); };
    const std::function<void()> actions[] = {
        openOrClose,
        openOrClose,
        click,
        click,
        [&] {
            const int n = ops().GetCount(IDC_DEVICE_COMBO);
            control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(n > 0 ? int(pick(n)) : -1);
        },
        [&] {
            QTest::keyClick(control<QComboBox>(lists[pick(4)]),
                            pick(2) == 0 ? Qt::Key_Up : Qt::Key_Down);
        },
        [&] { ops().SetWindowText(edits[pick(4)], texts[pick(4)]); },
        [&] { plug(true); },
        [&] { plug(false); },
        unplug,
        unplug,
        [&] { bench.replug(ids[pick(ids.size())]); },
        [&] { any != 0 ? bench.setHeld(any, !bench.device(any)->held) : void(); },
        [&] {
            bench.deliver(DBT_DEVNODES_CHANGED, nullptr), bench.deliver(DBT_DEVICEARRIVAL, &port);
        },
        [&] { bench.deliver(DBT_DEVICEREMOVEPENDING, &pending); },
        [&] {  // cut the open chip's next command
            openBefore != 0 ? void(bench.faults(openBefore).vanishAfterReports = int(pick(4)))
                            : void();
        }};
    Start();
    std::vector<std::string> expectedList = openable();
    std::map<int, std::uint64_t> reports;
    for (int step = 0; step < 10000 && !HasFailure(); ++step) {
        const std::size_t action = pick(std::size(actions));
        SCOPED_TRACE("seed 4701, step " + std::to_string(step) + ", action " +
                     std::to_string(action));
        openBefore = openDevice();
        const int pathCalls = library.pathCalls;
        const auto devices = bench.devices();
        plugged = devices.size();
        any = devices.empty() ? 0 : devices[pick(devices.size())].id;
        actions[action]();
        Pump();
        const bool open = dlg->m_hDevice != INVALID_DEVICE_HANDLE;
        EXPECT_EQ(text(IDC_OPEN_BUTTON), open ? "关闭设备" : "打开设备");
        EXPECT_EQ(kxLibrary.openHandleCount(), open ? 1u : 0u);
        EXPECT_TRUE(!open || openDevice() != 0) << "open handle for a device that is gone";
        // A hold raises no notification: the list knows of it at the next rebuild only.
        expectedList = library.pathCalls != pathCalls ? openable() : expectedList;
        EXPECT_EQ(entries(IDC_DEVICE_COMBO), expectedList);
        const int openAfter = openDevice();
        std::map<int, std::uint64_t> now;
        for (const auto& d : bench.devices()) {
            now[d.id] = d.reportsReceived;
            const auto last = reports.find(d.id);
            EXPECT_TRUE(last == reports.end() || d.reportsReceived == last->second ||
                        (d.isChip && (d.id == openBefore || d.id == openAfter)))
                << "device " << d.id << " received a report it was not meant to";
            EXPECT_TRUE(!d.isChip || (d.identity.product.size() - 1 < 30 &&
                                      d.serial.baudCode >= 1 && d.serial.baudCode <= 13));
        }
        reports = std::move(now);
    }
    EXPECT_GT(confirmedWrites, 100) << "a soak of closed dialogs proves little";
}

}  // namespace
}  // namespace kx::uitest
