// Start-up state, device discovery, opening and closing, and the identity read.

#include "UiTestSupport.h"

namespace kx::uitest {
namespace {

class StartUp : public DialogTest {};

TEST_F(StartUp, OneChipShowsItsUpperCasePathAndTheInitialChoices) {
    const int chip = bench.plugChip();
    Start();

    EXPECT_EQ(entries(IDC_DEVICE_COMBO),
              std::vector<std::string>{"VBENCH://KX4701/" + std::to_string(chip)});
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
    EXPECT_EQ(text(IDC_BAUD_COMBO), "9600");
    EXPECT_EQ(text(IDC_STOP_COMBO), "1位");
    EXPECT_EQ(text(IDC_PARITY_COMBO), "无校验");
    EXPECT_EQ(text(IDC_DATA_COMBO), "8位");
    for (int edit :
         {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
        EXPECT_FALSE(enabled(edit)) << edit;
        EXPECT_EQ(text(edit), "") << edit;
    }
    for (int box :
         {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        EXPECT_FALSE(checked(box)) << box;
    }
    EXPECT_EQ(status(), "操作状态:就绪");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(dlg->windowTitle(), Q("KX4701配置工具"));
    EXPECT_FALSE(dlg->windowIcon().isNull());
    // The default focus is the first tab stop.
    EXPECT_EQ(dlg->focusWidget(), ops().GetDlgItem(IDC_OPEN_BUTTON));
}

TEST_F(StartUp, TheFourListsOfferTheirTablesInOrder) {
    Start();
    EXPECT_EQ(entries(IDC_BAUD_COMBO),
              (std::vector<std::string>{"300", "600", "1200", "2400", "4800", "9600", "14400",
                                        "19200", "28800", "38400", "57600", "76800", "115200"}));
    EXPECT_EQ(entries(IDC_STOP_COMBO), (std::vector<std::string>{"1位", "2位"}));
    EXPECT_EQ(entries(IDC_PARITY_COMBO),
              (std::vector<std::string>{"奇校验", "偶校验", "空白位", "无校验"}));
    EXPECT_EQ(entries(IDC_DATA_COMBO), (std::vector<std::string>{"5位", "6位", "7位", "8位"}));
}

TEST_F(StartUp, NoDeviceLeavesTheListEmptyAndUnselected) {
    Start();
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "");
}

TEST_F(StartUp, RegistrationFailureStopsInitialisation) {
    bench.plugChip();
    bench.setRegistrationFails(true);
    Start();

    for (int list :
         {IDC_DEVICE_COMBO, IDC_BAUD_COMBO, IDC_STOP_COMBO, IDC_PARITY_COMBO, IDC_DATA_COMBO}) {
        EXPECT_EQ(ops().GetCount(list), 0) << list;
    }
    for (int edit :
         {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
        EXPECT_TRUE(enabled(edit)) << edit;
    }
    EXPECT_EQ(dlg->SerialDefaults, SerialDefaults{});
    EXPECT_EQ(bench.sinkCount(), 0u);
    EXPECT_EQ(qobject_cast<QPushButton*>(dlg->focusWidget()), nullptr);
    // Nothing can be opened.
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
    EXPECT_TRUE(library.openedPaths.empty());
}

TEST_F(StartUp, RegistersOnceAndWithdrawsWhenDestroyed) {
    Start();
    EXPECT_EQ(bench.sinkCount(), 1u);
    dlg.reset();
    EXPECT_EQ(bench.sinkCount(), 0u);
}

class Discovery : public DialogTest {};

TEST_F(Discovery, HeldMiddleDeviceIsLeftOutAndTheLastFoundIsSelected) {
    const int first = bench.plugChip();
    const int middle = bench.plugChip();
    const int last = bench.plugChip();
    bench.setHeld(middle, true);
    Start();

    EXPECT_EQ(entries(IDC_DEVICE_COMBO),
              (std::vector<std::string>{"VBENCH://KX4701/" + std::to_string(last),
                                        "VBENCH://KX4701/" + std::to_string(first)}));
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
}

TEST_F(Discovery, TheUpperCasePathIsWhatTheOpenCallGets) {
    bench.plugChip({}, "vbench://kx4701/lower-case");
    Start();
    OpenSelected();
    EXPECT_EQ(library.openedPaths, std::vector<std::string>{"VBENCH://KX4701/LOWER-CASE"});
}

TEST_F(Discovery, ALibraryThatNeverEndsItsListCannotHangTheDialog) {
    library.endlessList = true;
    Start();
    EXPECT_EQ(library.pathCalls, CConfigDlg::DEVICE_INDEX_LIMIT);
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
}

TEST_F(Discovery, FoundDeviceOverwritesTheEventText) {
    bench.plugChip();
    Start();
    ops().SetWindowText(IDC_EVENT_TEXT, "x");
    ops().ResetContent(IDC_DEVICE_COMBO);
    dlg->RefreshDeviceList();
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
}

class OpenButton : public DialogTest {};

TEST_F(OpenButton, OpenShowsAttributesIdentityAndRelabelsTheButton) {
    bench::ChipIdentity identity;
    identity.vid = 0x0A0B;
    identity.pid = 0x00C1;
    identity.version = 0x01A0;
    identity.manufacturer = "Maker";
    identity.product = "\xD6\xD0\xCE\xC4";  // "中文" in CP936
    identity.serial = "SN-1";
    bench.plugChip(identity);
    Start();
    OpenSelected();

    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=A0BPID=C1 VER=1A0 ");
    EXPECT_EQ(text(IDC_VID_EDIT), "0A0B");
    EXPECT_EQ(text(IDC_PID_EDIT), "00C1");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Maker");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "中文");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "SN-1");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
    EXPECT_EQ(library.bufferLenCalls, 1);
    EXPECT_EQ(library.timeouts,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3000, 3000}}));
    EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(dlg->m_strProduct, "\xD6\xD0\xCE\xC4");

    // The string boxes are checked and their edits enabled; VID and PID stay as they were.
    for (int box : {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        EXPECT_TRUE(checked(box)) << box;
    }
    for (int edit : {IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT}) {
        EXPECT_TRUE(enabled(edit)) << edit;
    }
    EXPECT_FALSE(checked(IDC_VID_CHECK));
    EXPECT_FALSE(checked(IDC_PID_CHECK));
    EXPECT_FALSE(enabled(IDC_VID_EDIT));
    EXPECT_FALSE(enabled(IDC_PID_EDIT));
}

// The five refusals of the open path, in the order the checks run.
TEST_F(OpenButton, EmptyListIsReportedBeforeAnythingElse) {
    Start();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
}

TEST_F(OpenButton, NoSelectionIsRefused) {
    bench.plugChip();
    Start();
    ops().SetCurSel(IDC_DEVICE_COMBO, -1);
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:请选择一个HID设备!");
    EXPECT_TRUE(library.openedPaths.empty());
}

TEST_F(OpenButton, ASecondOpenWithTheOpenCaptionIsRefused) {
    bench.plugChip();
    Start();
    OpenSelected();
    const DeviceHandle open = dlg->m_hDevice;
    // Only a caption that says "open" while a device is open reaches this check.
    ops().SetWindowText(IDC_OPEN_BUTTON, "打开设备");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:该设备已打开!");
    EXPECT_EQ(dlg->m_hDevice, open);
    EXPECT_EQ(library.openedPaths.size(), 1u);
}

TEST_F(OpenButton, FailedOpenIsReported) {
    const int chip = bench.plugChip();
    Start();
    bench.faults(chip).openFails = true;
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
}

TEST_F(OpenButton, FailedAttributeReadClosesAndAllowsANewTry) {
    const int chip = bench.plugChip();
    Start();
    bench.faults(chip).attributesFail = true;
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备VID、PID失败!");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);

    bench.faults(chip).attributesFail = false;
    OpenSelected();
}

TEST_F(OpenButton, OpenCloseOpenSucceedsTwice) {
    bench.plugChip();
    Start();
    OpenSelected();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:关闭设备成功!");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    OpenSelected();
    EXPECT_EQ(library.openedPaths.size(), 2u);
}

TEST_F(OpenButton, CloseClearsTheFieldsButKeepsTheMembers) {
    bench.plugChip();
    Start();
    OpenSelected();
    Click(IDC_VID_CHECK);
    ASSERT_TRUE(enabled(IDC_VID_EDIT));
    Click(IDC_OPEN_BUTTON);

    for (int field : {IDC_DEVICE_INFO, IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT,
                      IDC_SERIAL_EDIT}) {
        EXPECT_EQ(text(field), "") << field;
    }
    for (int box :
         {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        EXPECT_FALSE(checked(box)) << box;
    }
    EXPECT_FALSE(enabled(IDC_VID_EDIT));
    EXPECT_FALSE(enabled(IDC_PID_EDIT));
    // Unchecking without a click leaves the string edits enabled.
    EXPECT_TRUE(enabled(IDC_MANUF_EDIT));
    EXPECT_EQ(dlg->m_strManufacturer, "KX-CHIPS");
}

TEST_F(OpenButton, CloseActsOnTheOpenDeviceNotTheSelectedOne) {
    bench.plugChip();
    bench.plugChip();
    Start();
    OpenSelected();
    const DeviceHandle open = dlg->m_hDevice;
    Choose(IDC_DEVICE_COMBO, ops().GetLBText(IDC_DEVICE_COMBO, 1).c_str());
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(library.closed, std::vector<DeviceHandle>{open});
    EXPECT_EQ(status(), "操作状态:关闭设备成功!");
    EXPECT_EQ(library.openedPaths.size(), 1u);
}

class GetConfig : public DialogTest {};

TEST_F(GetConfig, WithoutADeviceChangesNoField) {
    bench.plugChip();
    Start();
    ops().SetWindowText(IDC_MANUF_EDIT, "kept");
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "kept");
    EXPECT_FALSE(checked(IDC_MANUF_CHECK));
}

TEST_F(GetConfig, FailedManufacturerReadStillShowsTheProduct) {
    const int chip = bench.plugChip();
    Start();
    OpenSelected();
    bench.faults(chip).manufacturerFails = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数失败!");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "HID To Serial");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "12345678");
}

TEST_F(GetConfig, AFailedReadNeverShowsAnEarlierReadsText) {
    bench.plugChip();
    Start();
    OpenSelected();
    // A library that reports failure without writing the buffer at all: the product field
    // must not show the manufacturer read just before it.
    library.productFailsUntouched = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "KX-CHIPS");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "12345678");
}

TEST_F(GetConfig, OnlyTheFirstReadDecidesTheMessage) {
    const int chip = bench.plugChip();
    Start();
    OpenSelected();
    bench.faults(chip).productFails = true;
    bench.faults(chip).serialFails = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "KX-CHIPS");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "");
}

TEST_F(GetConfig, RereadReplacesWhatTheUserTyped) {
    bench.plugChip();
    Start();
    OpenSelected();
    Type(IDC_SERIAL_EDIT, "typed");
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "12345678");
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
}

}  // namespace
}  // namespace kx::uitest
