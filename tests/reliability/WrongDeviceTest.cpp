// A plain HID device on the bench, chosen in the dialog like a chip: it can be listed,
// opened and its identity read, but no write command ever sends it a report, and each
// one reports its failure. A chip beside it never hears what was meant for the keyboard.

#include <string>

#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

class WrongDevice : public DialogTest {
  protected:
    // Selects the list entry whose text is `path` (the list shows upper-case paths).
    void Select(const std::string& path) {
        for (int i = 0; i < ops().GetCount(IDC_DEVICE_COMBO); ++i) {
            if (ops().GetLBText(IDC_DEVICE_COMBO, i) == path) {
                control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(i);
                return;
            }
        }
        FAIL() << path << " is not listed";
    }

    // Clicks every write command with the keyboard open and checks what each reported. The
    // keyboard has no serial number: one is typed so that the identity passes the rules.
    void EveryWriteFails() {
        Type(IDC_SERIAL_EDIT, "0001");
        for (const auto& w : WRITE_COMMANDS) {
            SetLastError(0);
            Click(w.button);
            EXPECT_EQ(status(), w.failedStatus);
            EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
            EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);  // still open, still usable
        }
    }
};

TEST_F(WrongDevice, KeyboardIsListedOpenedAndReadButReceivesNoReport) {
    const int keyboard = bench.plugPlainHid("USB Keyboard");
    Start();
    ASSERT_EQ(entries(IDC_DEVICE_COMBO),
              std::vector<std::string>{"VBENCH://HID/" + std::to_string(keyboard)});
    OpenSelected();
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=46DPID=C31C VER=110 ");
    EXPECT_EQ(text(IDC_VID_EDIT), "046D");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Generic");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "USB Keyboard");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "");  // it has no serial number string

    // Every identity item checked and valid: the rules pass, the library refuses.
    Click(IDC_VID_CHECK);
    Click(IDC_PID_CHECK);
    Type(IDC_VID_EDIT, "1234");
    Type(IDC_PID_EDIT, "5678");
    EveryWriteFails();
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");

    EXPECT_EQ(bench.device(keyboard)->reportsReceived, 0u);
    // The dialog asked; the library said no.
    EXPECT_EQ(library.rates.size(), 1u);
    EXPECT_EQ(library.deviceCfgs.size(), 1u);
    EXPECT_EQ(library.resetCalls, 1);
}

TEST_F(WrongDevice, WritesMeantForTheKeyboardNeverReachTheChipBesideIt) {
    const int chip = bench.plugChip();
    const int keyboard = bench.plugPlainHid();
    Start();
    const std::uint64_t chipReports = bench.device(chip)->reportsReceived;
    Select("VBENCH://HID/" + std::to_string(keyboard));
    OpenSelected();
    EveryWriteFails();
    EXPECT_EQ(bench.device(keyboard)->reportsReceived, 0u);
    EXPECT_EQ(bench.device(chip)->reportsReceived, chipReports);
    EXPECT_EQ(StoredIdentity(chip), bench::ChipIdentity{});
    EXPECT_EQ(StoredSerial(chip), bench::SerialSettings{});

    // Closing the keyboard and opening the chip: now the same clicks do reach the chip.
    Click(IDC_OPEN_BUTTON);
    Select("VBENCH://KX4701/" + std::to_string(chip));
    OpenSelected();
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:恢复出厂设置成功!");
    EXPECT_GT(bench.device(chip)->reportsReceived, chipReports);
    EXPECT_EQ(bench.device(keyboard)->reportsReceived, 0u);
}

TEST_F(WrongDevice, TwoDevicesWhosePathsDifferOnlyInCaseAreNeverGuessedBetween) {
    // The list shows both as the same upper-case text; opening either would be a guess.
    const int chip = bench.plugChip({}, "vbench://kx/a");
    const int other = bench.plugChip({}, "vbench://KX/A");
    Start();
    ASSERT_EQ(entries(IDC_DEVICE_COMBO),
              (std::vector<std::string>{"VBENCH://KX/A", "VBENCH://KX/A"}));
    for (int entry : {0, 1}) {
        control<QComboBox>(IDC_DEVICE_COMBO)->setCurrentIndex(entry);
        Click(IDC_OPEN_BUTTON);
        EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
        EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    }
    EXPECT_EQ(bench.device(chip)->reportsReceived, 0u);
    EXPECT_EQ(bench.device(other)->reportsReceived, 0u);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
}

}  // namespace
}  // namespace kx::uitest
