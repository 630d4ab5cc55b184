// 10,000 random user and device actions on the bench, with the dialog's invariants checked
// after each: the handle and the caption agree, the library holds exactly the one handle
// the dialog owns, the list shows exactly the devices that could be opened at its last
// refresh, reports only ever reach the open device, and chips only ever hold whole,
// valid settings. Deterministic: a failure names the seed and the step.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

constexpr std::uint32_t SEED = 4701;
constexpr int STEPS = 10000;

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

enum Action {
    SelectDevice,
    OpenOrClose,
    GetConfig,
    SetRate,
    SetConfig,
    FactoryReset,
    ChangeList,
    ToggleBox,
    TypeText,
    PlugChip,
    PlugKeyboard,
    Unplug,
    Replug,
    Hold,
    ForeignNotification,
    RemovePending,
    CutNextCommand,
    ActionCount
};

const char* const ACTION_NAMES[] = {
    "select",         "open/close",      "get config", "set rate",  "set config",
    "factory reset",  "list change",     "toggle box", "type text", "plug chip",
    "plug keyboard",  "unplug",          "replug",     "hold",      "foreign notification",
    "remove pending", "cut next command"};
static_assert(std::size(ACTION_NAMES) == ActionCount);

// How often each action is drawn, out of the sum.
const int WEIGHTS[] = {8, 10, 5, 6, 6, 4, 8, 6, 6, 3, 2, 4, 3, 3, 2, 1, 1};
static_assert(std::size(WEIGHTS) == ActionCount);

const char* const TEXTS[] = {"",
                             "0",
                             "1a2B",
                             "FFFF",
                             "ABCDEF",
                             "中文",
                             "KX-CHIPS",
                             "串口",
                             "HID To Serial",
                             "123456789012345678901234567890",
                             "1234567890123456789012345678901",
                             "厂商厂商厂商厂商厂商厂商厂商厂商"};

class Soak : public DialogTest {
  protected:
    std::mt19937 rng{SEED};
    std::vector<int> ids;  // every device ever plugged
    std::vector<std::string> expectedList;
    std::map<int, std::uint64_t> reports;
    std::map<Action, int> counts;
    int writesDone = 0;  // writes that a chip took and confirmed

    std::size_t WriteCalls() const {
        return library.rates.size() + library.deviceCfgs.size() +
               static_cast<std::size_t>(library.resetCalls);
    }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    Action Draw() {
        std::discrete_distribution<int> d(std::begin(WEIGHTS), std::end(WEIGHTS));
        return static_cast<Action>(d(rng));
    }

    // The devices a refresh would list now: openable, newest first, upper case.
    std::vector<std::string> Openable() {
        std::vector<std::string> out;
        for (const auto& d : bench.devices()) {
            if (!d.held) {
                out.insert(out.begin(), Upper(d.path));
            }
        }
        return out;
    }

    // The bench id of the device the dialog has open, or 0.
    int OpenDevice() {
        if (dlg->m_hDevice == INVALID_DEVICE_HANDLE || opened.empty()) {
            return 0;
        }
        for (const auto& d : bench.devices()) {
            if (Upper(d.path) == opened) {
                return d.id;
            }
        }
        return 0;
    }

    std::string opened;  // the list text of the entry the dialog opened

    // A bench holds a handful of devices: past this, a plug becomes an unplug.
    static constexpr std::size_t MAX_PLUGGED = 6;

    void Do(Action a) {
        if ((a == PlugChip || a == PlugKeyboard || a == Replug) &&
            bench.devices().size() >= MAX_PLUGGED) {
            a = Unplug;
        }
        ++counts[a];
        QComboBox* combos[] = {
            control<QComboBox>(IDC_BAUD_COMBO), control<QComboBox>(IDC_PARITY_COMBO),
            control<QComboBox>(IDC_STOP_COMBO), control<QComboBox>(IDC_DATA_COMBO)};
        const int boxes[] = {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_PRODUCT_CHECK,
                             IDC_SERIAL_CHECK};
        const int edits[] = {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT,
                             IDC_SERIAL_EDIT};
        switch (a) {
            case SelectDevice:
                if (const int n = ops().GetCount(IDC_DEVICE_COMBO); n > 0) {
                    control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(Pick(n));
                }
                break;
            case OpenOrClose: {
                const bool opening = dlg->m_hDevice == INVALID_DEVICE_HANDLE;
                const int sel = ops().GetCurSel(IDC_DEVICE_COMBO);
                const std::string path = sel >= 0 ? ops().GetLBText(IDC_DEVICE_COMBO, sel) : "";
                Click(IDC_OPEN_BUTTON);
                if (opening && dlg->m_hDevice != INVALID_DEVICE_HANDLE) {
                    opened = path;
                }
                break;
            }
            case GetConfig:
                Click(IDC_GET_CFG_BUTTON);
                break;
            case SetRate:
                Click(IDC_SET_RATE_BUTTON);
                break;
            case SetConfig:
                Click(IDC_SET_CFG_BUTTON);
                break;
            case FactoryReset:
                Click(IDC_FACTORY_BUTTON);
                break;
            case ChangeList: {
                QComboBox* combo = combos[Pick(4)];
                QTest::keyClick(combo, Pick(2) == 0 ? Qt::Key_Up : Qt::Key_Down);
                break;
            }
            case ToggleBox:
                Click(boxes[Pick(5)]);
                break;
            case TypeText:
                ops().SetWindowText(edits[Pick(5)],
                                    TEXTS[Pick(static_cast<int>(std::size(TEXTS)))]);
                break;
            case PlugChip: {
                bench::ChipIdentity identity;
                identity.serial = "SOAK" + std::to_string(ids.size());
                ids.push_back(bench.plugChip(identity));
                break;
            }
            case PlugKeyboard:
                ids.push_back(bench.plugPlainHid());
                break;
            case Unplug:
                if (const auto devices = bench.devices(); !devices.empty()) {
                    bench.unplug(devices[Pick(static_cast<int>(devices.size()))].id);
                }
                break;
            case Replug:
                if (!ids.empty()) {
                    bench.replug(ids[Pick(static_cast<int>(ids.size()))]);
                }
                break;
            case Hold:
                if (const auto devices = bench.devices(); !devices.empty()) {
                    const auto& d = devices[Pick(static_cast<int>(devices.size()))];
                    bench.setHeld(d.id, !d.held);
                }
                break;
            case ForeignNotification: {
                DEV_BROADCAST_HDR port{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_PORT, 0};
                bench.deliver(DBT_DEVNODES_CHANGED, nullptr);
                bench.deliver(DBT_DEVICEARRIVAL, &port);
                break;
            }
            case RemovePending: {
                DEV_BROADCAST_DEVICEINTERFACE_A record{};
                record.dbcc_size = sizeof record;
                record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
                record.dbcc_classguid = HID_CLASS_GUID;
                bench.deliver(DBT_DEVICEREMOVEPENDING, &record);
                break;
            }
            case CutNextCommand:
                if (const int id = OpenDevice(); id != 0) {
                    bench.faults(id).vanishAfterReports = Pick(4);
                }
                break;
            case ActionCount:
                break;
        }
    }

    void Check(int openBefore, int pathCallsBefore) {
        // Handle, caption and library agree.
        const bool open = dlg->m_hDevice != INVALID_DEVICE_HANDLE;
        EXPECT_EQ(text(IDC_OPEN_BUTTON), open ? "关闭设备" : "打开设备");
        EXPECT_EQ(kxLibrary.openHandleCount(), open ? 1u : 0u);
        // An open device is one still plugged in: a removal would have closed it.
        if (open) {
            EXPECT_NE(OpenDevice(), 0) << "open handle for a device that is gone: " << opened;
        }
        // The list: exactly what could be opened when it was last rebuilt (a hold raises no
        // notification, so the list cannot know of it until the next one).
        if (library.pathCalls != pathCallsBefore) {
            expectedList = Openable();
        }
        EXPECT_EQ(entries(IDC_DEVICE_COMBO), expectedList);
        // Reports reach only the device that was (or is now) open.
        const int openAfter = OpenDevice();
        std::map<int, std::uint64_t> now;
        for (const auto& d : bench.devices()) {
            now[d.id] = d.reportsReceived;
            // A device back from an unplug may have taken reports just before it went (a cut
            // command to the open device); its count starts over here.
            const auto last = reports.find(d.id);
            if (last != reports.end() && d.reportsReceived != last->second) {
                EXPECT_TRUE(d.id == openBefore || d.id == openAfter)
                    << "device " << d.id << " received a report it was not meant to";
                EXPECT_TRUE(d.isChip) << "a keyboard received a report";
            }
            // Whole, valid settings only.
            if (d.isChip) {
                for (const std::string* s :
                     {&d.identity.manufacturer, &d.identity.product, &d.identity.serial}) {
                    EXPECT_TRUE(!s->empty() && s->size() <= 30) << *s;
                }
                EXPECT_TRUE(d.serial.baudCode >= 1 && d.serial.baudCode <= 13);
            }
        }
        reports = std::move(now);
    }
};

TEST_F(Soak, TenThousandRandomActionsKeepTheDialogConsistent) {
    ids.push_back(bench.plugChip());
    ids.push_back(bench.plugPlainHid());
    Start();
    expectedList = Openable();
    for (int step = 0; step < STEPS; ++step) {
        const Action a = Draw();
        SCOPED_TRACE("seed " + std::to_string(SEED) + ", step " + std::to_string(step) + ": " +
                     ACTION_NAMES[a]);
        const int openBefore = OpenDevice();
        const int pathCalls = library.pathCalls;
        const std::size_t writeCalls = WriteCalls();
        Do(a);
        const std::string shown = status();
        writesDone += WriteCalls() > writeCalls &&
                      (shown == "操作状态:设置默认串口参数成功!" ||
                       shown == "操作状态:参数设置成功!" || shown == "操作状态:恢复出厂设置成功!");
        Pump();
        Check(openBefore, pathCalls);
        if (HasFailure()) {
            std::printf("soak failed: seed %u, step %d (%s)\n", SEED, step, ACTION_NAMES[a]);
            return;
        }
    }
    std::printf("soak: %d steps, seed %u:", STEPS, SEED);
    for (const auto& [a, n] : counts) {
        std::printf(" %s %d,", ACTION_NAMES[a], n);
    }
    std::printf(" confirmed writes %d\n", writesDone);
    RecordProperty("soak_steps", STEPS);
    // Not a soak of closed dialogs: many steps found a chip open and wrote to it.
    EXPECT_GT(writesDone, STEPS / 50);
}

}  // namespace
}  // namespace kx::uitest
