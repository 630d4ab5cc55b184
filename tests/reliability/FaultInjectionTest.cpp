// Every write command cut after each report in turn, through the dialog: the chip keeps
// entirely the old settings or entirely the new ones, the status line reports the failure,
// and the removal that follows leaves the dialog clean. A chip that stops answering fails
// the command once the handle's timeout has passed.

#include <functional>
#include <string>

#include "config/IdentityRules.h"
#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

using bench::ChipIdentity;
using bench::SerialSettings;

// What a chip holds; the comparison is all-or-nothing over both records.
struct Stored {
    ChipIdentity identity;
    SerialSettings serial;
    friend bool operator==(const Stored&, const Stored&) = default;
};

const ChipIdentity OLD_IDENTITY{0x1111, 0x2222, 0x0100, "Old maker", "Old product", "OLD-1"};

// One write command as the user gives it: what to set up in the dialog first, the button,
// the status texts, and what the chip holds once it took the command.
class FaultInjection;

struct WriteCommand {
    const char* name;
    std::function<void(FaultInjection&)> prepare;
    int button;
    const char* succeeded;
    const char* failed;
    Stored expected;
};

class FaultInjection : public DialogTest {
  protected:
    // Plugs a chip holding the old settings and opens it; returns its id.
    int PlugAndOpen() {
        const int id = bench.plugChip(OLD_IDENTITY);
        Pump();
        EXPECT_EQ(ops().GetLBText(IDC_DEVICE_COMBO, ops().GetCurSel(IDC_DEVICE_COMBO)),
                  "VBENCH://KX4701/" + std::to_string(id));
        OpenSelected();
        return id;
    }

    Stored StoredOn(int id) { return {StoredIdentity(id), StoredSerial(id)}; }

    // The dialog with no device open and nothing left of the lost one.
    void ExpectClean() {
        EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
        EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
        EXPECT_EQ(text(IDC_EVENT_TEXT), "有HID设备离开");
        for (int id : {IDC_DEVICE_INFO, IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT,
                       IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
            EXPECT_EQ(text(id), "") << id;
        }
        for (int box :
             {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
            EXPECT_FALSE(checked(box)) << box;
        }
        EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
        EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
    }

    // Cuts `command` after 0, 1, 2, ... reports until one run completes; counts the cut
    // points in `injected`.
    void CutAtEveryReport(const WriteCommand& command, int busyPolls) {
        SCOPED_TRACE(std::string(command.name) + ", busy polls " + std::to_string(busyPolls));
        const Stored old{OLD_IDENTITY, SerialSettings{}};
        bool sawOld = false, sawNew = false, completed = false;
        for (int cut = 0; cut < 64 && !completed; ++cut) {
            SCOPED_TRACE("cut after " + std::to_string(cut) + " reports");
            const int id = PlugAndOpen();
            command.prepare(*this);
            ASSERT_EQ(StoredOn(id), old);
            bench.faults(id).busyPolls = busyPolls;
            bench.faults(id).vanishAfterReports = cut;
            Click(command.button);
            completed = bench.device(id).has_value();
            if (completed) {
                EXPECT_EQ(status(), std::string("操作状态:") + command.succeeded);
                EXPECT_EQ(StoredOn(id), command.expected);
                bench.faults(id).vanishAfterReports = -1;
                ASSERT_TRUE(bench.unplug(id));
            } else {
                ++injected;
                // The command saw the device go and said so, before the removal ran.
                EXPECT_EQ(status(), std::string("操作状态:") + command.failed);
                EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
            }
            Pump();
            ExpectClean();
            // Whatever reached the chip, it holds one whole set of settings.
            ASSERT_TRUE(bench.replug(id));
            const Stored now = StoredOn(id);
            EXPECT_TRUE(now == old || now == command.expected);
            sawOld = sawOld || now == old;
            sawNew = sawNew || now == command.expected;
            ASSERT_TRUE(bench.unplug(id));
            Pump();
        }
        EXPECT_TRUE(completed);
        EXPECT_TRUE(sawOld);
        EXPECT_TRUE(sawNew);
    }

    static std::vector<WriteCommand> Commands();

    int injected = 0;
};

std::vector<WriteCommand> FaultInjection::Commands() {
    Stored rate{OLD_IDENTITY, {13, 2, 2, 3, 0x30}};
    // Thirty bytes each: the texts travel in two data reports, so more places to cut.
    Stored identity{OLD_IDENTITY, SerialSettings{}};
    identity.identity.vid = 0xA1B2;
    identity.identity.pid = 0xC3D4;
    identity.identity.manufacturer = "Maker";
    identity.identity.product = std::string(30, 'P');
    identity.identity.serial = std::string(30, 'S');
    Stored reset{ChipIdentity{}, SerialSettings{}};
    return {
        {"serial defaults",
         [](FaultInjection& t) {
             t.Choose(IDC_BAUD_COMBO, "115200");
             t.Choose(IDC_PARITY_COMBO, "偶校验");
             t.Choose(IDC_STOP_COMBO, "2位");
             t.Choose(IDC_DATA_COMBO, "7位");
         },
         IDC_SET_RATE_BUTTON, "设置默认串口参数成功!", "设置默认串口参数失败!", rate},
        {"identity",
         [](FaultInjection& t) {
             t.Click(IDC_VID_CHECK);
             t.Click(IDC_PID_CHECK);
             t.Type(IDC_VID_EDIT, "a1b2");
             t.Type(IDC_PID_EDIT, "C3D4");
             t.Type(IDC_MANUF_EDIT, "Maker");
             t.Type(IDC_PRODUCT_EDIT, std::string(30, 'P').c_str());
             t.Type(IDC_SERIAL_EDIT, std::string(30, 'S').c_str());
         },
         IDC_SET_CFG_BUTTON, "参数设置成功!", "参数设置失败!", identity},
        {"factory reset", [](FaultInjection&) {}, IDC_FACTORY_BUTTON, "恢复出厂设置成功!",
         "恢复出厂设置失败!", reset},
    };
}

TEST_F(FaultInjection, EveryWriteCutAfterEachReportLeavesOldOrNewAndACleanDialog) {
    Start();
    for (const WriteCommand& command : Commands()) {
        for (int busy : {0, 1}) {
            CutAtEveryReport(command, busy);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
    // Rate: 2 reports, 3 with a busy poll; identity: 8 and 12; reset: 2 and 3.
    EXPECT_EQ(injected, 2 + 3 + 8 + 12 + 2 + 3);
    RecordProperty("fault_points", injected);
    std::printf("fault points injected: %d\n", injected);
}

TEST_F(FaultInjection, AChipThatStopsAnsweringFailsEachWriteAfterTheTimeout) {
    const int id = bench.plugChip(OLD_IDENTITY);
    Start();
    OpenSelected();
    ASSERT_EQ(library.timeouts.back(), (std::pair<std::uint32_t, std::uint32_t>{3000, 3000}));
    bench.faults(id).silent = true;
    for (const auto& w : WRITE_COMMANDS) {
        SetLastError(0);
        Click(w.button);
        EXPECT_EQ(status(), w.failedStatus);
        // Only a deadline that passed gives this error; a device error would give another.
        EXPECT_EQ(GetLastError(), ERROR_TIMEOUT_CODE);
        EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
        if (w.button == IDC_SET_CFG_BUTTON) {
            // The write stopped at its first unanswered report: no commit reached the chip.
            EXPECT_EQ(StoredIdentity(id), OLD_IDENTITY);
        }
    }
    // The dialog is still in charge: the chip answers again and the next write goes through.
    bench.faults(id).silent = false;
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
}

}  // namespace
}  // namespace kx::uitest
