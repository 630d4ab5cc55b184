// The configuration dialog through its real widgets: start-up, discovery, open and close,
// the identity read, the three writes, device events, the message table and the keys.

#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalSpy>

#include "UiTestSupport.h"
#include "config/TextCodec.h"
#include "ui/MessageTable.h"

namespace kx::uitest {
namespace {

const int EDITS[] = {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT};
const int BOXES[] = {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_PRODUCT_CHECK,
                     IDC_SERIAL_CHECK};

std::string PathOf(int id) {
    return "VBENCH://KX4701/" + std::to_string(id);
}

// ---- Start-up and discovery -------------------------------------------------------------

TEST_F(DialogTest, StartUpShowsTheNewestOpenableDevicesUpperCasedAndTheInitialChoices) {
    const int first = bench.plugChip();
    bench.setHeld(bench.plugChip(), true);
    bench.plugChip({}, "vbench://kx4701/lower-case");
    Start();
    EXPECT_EQ(entries(IDC_DEVICE_COMBO),
              (std::vector<std::string>{"VBENCH://KX4701/LOWER-CASE", PathOf(first)}));
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
    EXPECT_EQ(entries(IDC_STOP_COMBO), (std::vector<std::string>{"1位", "2位"}));
    EXPECT_EQ(
        text(IDC_BAUD_COMBO) + text(IDC_STOP_COMBO) + text(IDC_PARITY_COMBO) + text(IDC_DATA_COMBO),
        "96001位无校验8位");
    for (int edit : EDITS) {
        EXPECT_FALSE(enabled(edit)) << edit;
    }
    EXPECT_EQ(status(), "操作状态:就绪");
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(dlg->windowTitle(), Q("KX4701配置工具"));
    EXPECT_EQ(dlg->focusWidget(), ops().GetDlgItem(IDC_OPEN_BUTTON));
    EXPECT_EQ(bench.sinkCount(), 1u);
    OpenSelected();
    EXPECT_EQ(library.openedPaths, std::vector<std::string>{"VBENCH://KX4701/LOWER-CASE"});
    Click(IDC_OPEN_BUTTON);
    dlg.reset();
    EXPECT_EQ(bench.sinkCount(), 0u) << "the registration outlived the dialog";
}

TEST_F(DialogTest, RegistrationFailureStopsInitialisation) {
    bench.plugChip();
    bench.setRegistrationFails(true);
    Start();
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO) + ops().GetCount(IDC_BAUD_COMBO), 0);
    EXPECT_TRUE(enabled(IDC_VID_EDIT));
    EXPECT_EQ(dlg->SerialDefaults, SerialDefaults{});
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
    bench.plugChip();
    Pump();
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0) << "an event arrived without registration";
}

TEST_F(DialogTest, ALibraryThatNeverEndsItsListCannotHangTheDialog) {
    library.endlessList = true;
    Start();
    EXPECT_EQ(library.pathCalls, CConfigDlg::DEVICE_INDEX_LIMIT);
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
}

// ---- Open, close and the identity read --------------------------------------------------

TEST_F(DialogTest, OpenShowsAttributesAndIdentityAndCloseClearsThem) {
    bench.plugChip({0x0A0B, 0x00C1, 0x01A0, "Maker", "\xD6\xD0\xCE\xC4", "SN-1"});
    Start();
    OpenSelected();
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=A0BPID=C1 VER=1A0 ");
    EXPECT_EQ(text(IDC_VID_EDIT) + text(IDC_PID_EDIT), "0A0B00C1");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "中文");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
    EXPECT_EQ(library.bufferLenCalls, 1);
    EXPECT_EQ(library.timeouts,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3000, 3000}}));
    // The string boxes are checked and their edits enabled; VID and PID stay as they were.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(checked(BOXES[i]), i >= 2) << BOXES[i];
        EXPECT_EQ(enabled(EDITS[i]), i >= 2) << EDITS[i];
    }
    Click(IDC_VID_CHECK);
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:关闭设备成功!");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(text(EDITS[i]), "") << EDITS[i];
        EXPECT_FALSE(checked(BOXES[i])) << BOXES[i];
    }
    EXPECT_EQ(text(IDC_DEVICE_INFO), "");
    EXPECT_FALSE(enabled(IDC_VID_EDIT));
    EXPECT_TRUE(enabled(IDC_MANUF_EDIT)) << "unchecking without a click leaves the edit alone";
    OpenSelected();
}

// The refusals of the open path, in the order the checks run.
TEST_F(DialogTest, OpenRefusalsInTheirOrder) {
    Start();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
    const int chip = bench.plugChip();
    Pump();
    ops().SetCurSel(IDC_DEVICE_COMBO, -1);
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:请选择一个HID设备!");
    ops().SetCurSel(IDC_DEVICE_COMBO, 0);
    bench.faults(chip).openFails = true;
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:打开HID设备失败!");
    bench.faults(chip).openFails = false;
    bench.faults(chip).attributesFail = true;
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备VID、PID失败!");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    bench.faults(chip).attributesFail = false;
    OpenSelected();
    // Only a caption that says "open" while a device is open reaches this check.
    ops().SetWindowText(IDC_OPEN_BUTTON, "打开设备");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:该设备已打开!");
    EXPECT_EQ(library.openedPaths.size(), 3u);
}

TEST_F(DialogTest, CloseActsOnTheOpenDeviceNotTheSelectedOne) {
    bench.plugChip();
    bench.plugChip();
    Start();
    OpenSelected();
    const DeviceHandle open = dlg->m_hDevice;
    Choose(IDC_DEVICE_COMBO, ops().GetLBText(IDC_DEVICE_COMBO, 1).c_str());
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(library.closed, std::vector<DeviceHandle>{open});
}

TEST_F(DialogTest, GetConfigReadsEachStringAloneAndOnlyTheFirstDecidesTheMessage) {
    const int chip = bench.plugChip();
    Start();
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    EXPECT_FALSE(checked(IDC_MANUF_CHECK));
    OpenSelected();
    Type(IDC_SERIAL_EDIT, "typed");
    bench.faults(chip).manufacturerFails = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数失败!");
    EXPECT_EQ(text(IDC_MANUF_EDIT) + "|" + text(IDC_SERIAL_EDIT), "|12345678");
    bench.faults(chip).manufacturerFails = false;
    bench.faults(chip).serialFails = true;
    // A library that fails without writing the buffer: no field shows an earlier read.
    library.productFailsUntouched = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
    EXPECT_EQ(text(IDC_MANUF_EDIT) + "|" + text(IDC_PRODUCT_EDIT) + "|" + text(IDC_SERIAL_EDIT),
              "KX-CHIPS||");
}

// ---- Writes -----------------------------------------------------------------------------

class Writes : public DialogTest {
  protected:
    int chip = 0;
    void SetUp() override {
        chip = bench.plugChip({0x3C5B, 0xB207, 0x0100, "Old Maker", "Old Product", "OLD"});
        Start();
        OpenSelected();
    }
    void CheckAndType(int box, int edit, const char* utf8) {
        if (!checked(box)) {
            Click(box);
        }
        Type(edit, utf8);
    }
    // Clicks "set configuration" and returns the message box text, or "" if none came.
    std::string SetConfig() {
        modals.seen.clear();
        Click(IDC_SET_CFG_BUTTON);
        return modals.seen.empty() ? "" : modals.seen[0].text.toStdString();
    }
};

TEST_F(Writes, SerialDefaultsFollowTheListsThroughMouseAndKeyboard) {
    Choose(IDC_BAUD_COMBO, "115200");
    Choose(IDC_PARITY_COMBO, "偶校验");
    Choose(IDC_DATA_COMBO, "7位");
    QTest::keyClick(control<QComboBox>(IDC_STOP_COMBO), Qt::Key_Down);
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
    EXPECT_EQ(StoredSerial(chip), (bench::SerialSettings{13, 2, 2, 3, 0x30}));
    Choose(IDC_BAUD_COMBO, "300");
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(StoredSerial(chip).timingByte, 0xC0);
    // Program selections and typed text are no user choices.
    ops().SetCurSel(IDC_BAUD_COMBO, 12);
    QTest::keyClicks(control<QComboBox>(IDC_PARITY_COMBO)->lineEdit(), "x");
    EXPECT_EQ(dlg->SerialDefaults.baudCode, 1);
    bench.faults(chip).refuseCommands = true;
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数失败!");
}

TEST_F(Writes, UncheckedItemsWriteTheDefaultsIntoTheMembersNotTheEdits) {
    Type(IDC_MANUF_EDIT, "Typed");
    for (int box : {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        Click(box);
    }
    EXPECT_FALSE(enabled(IDC_MANUF_EDIT));
    EXPECT_EQ(SetConfig(), "");
    EXPECT_EQ(status(), "操作状态:参数设置成功!");
    EXPECT_EQ(StoredIdentity(chip), (bench::ChipIdentity{0x3C5B, 0xB207, 0x0100, "KX-CHIPS",
                                                         "HID To Serial", "12345678"}));
    EXPECT_EQ(library.lastMaxPower, 50);
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Typed");
    EXPECT_EQ(dlg->m_strManufacturer, "KX-CHIPS");
}

TEST_F(Writes, CheckedItemsAreValidatedInOrderAndOnlyValidOnesAreSent) {
    const std::string fifteen = "一二三四五六七八九十一二三四五";
    CheckAndType(IDC_MANUF_CHECK, IDC_MANUF_EDIT, fifteen.c_str());
    CheckAndType(IDC_VID_CHECK, IDC_VID_EDIT, "9G4F");
    CheckAndType(IDC_PID_CHECK, IDC_PID_EDIT, "beef");
    EXPECT_EQ(SetConfig(), "");
    EXPECT_EQ(text::AnsiToUtf8(StoredIdentity(chip).manufacturer), fifteen);
    EXPECT_EQ(StoredIdentity(chip).vid, 0x904F);
    EXPECT_EQ(StoredIdentity(chip).pid, 0xBEEF);
    const struct {
        int box, edit;
        std::string text;
        const char* message;
    } refused[] = {
        {IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT, "", "产品字符串长度不对"},
        {IDC_MANUF_CHECK, IDC_MANUF_EDIT, fifteen + "六", "厂商字符串长度超过30"},
        {IDC_PID_CHECK, IDC_PID_EDIT, "", "PID长度不对"},
        {IDC_VID_CHECK, IDC_VID_EDIT, "12A", "VID长度不对"},  // each before the ones above
    };
    const int sent = library.deviceCfgs;
    for (const auto& r : refused) {
        CheckAndType(r.box, r.edit, r.text.c_str());
        EXPECT_EQ(SetConfig(), r.message);
        EXPECT_EQ(modals.seen[0].title, QCoreApplication::applicationName());
        EXPECT_EQ(modals.seen[0].buttons, QMessageBox::Ok);
    }
    EXPECT_EQ(library.deviceCfgs, sent);
    EXPECT_EQ(StoredIdentity(chip).vid, 0x904F);
}

TEST_F(Writes, TextsOutsideCp936AreNeitherTypedNorSent) {
    QLineEdit* edit = control<QLineEdit>(IDC_MANUF_EDIT);
    Type(IDC_MANUF_EDIT, "ab");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, Q("😀"));
    QCoreApplication::sendEvent(edit, &press);
    QGuiApplication::clipboard()->setText(Q("x😀y"));
    edit->paste();
    TypeText(edit, Q("中"));
    EXPECT_EQ(edit->text(), Q("ab中"));
    ops().SetWindowText(IDC_SERIAL_EDIT, "SN😀");  // bypasses the validator
    EXPECT_EQ(SetConfig().rfind("Serial", 0), 0u);
    EXPECT_EQ(library.deviceCfgs, 0);
    EXPECT_EQ(dlg->m_strManufacturer, "Old Maker") << "no member changes for a refused text";
}

TEST_F(Writes, FactoryResetRestoresTheChipButNoField) {
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:恢复出厂设置成功!");
    EXPECT_EQ(StoredIdentity(chip), bench::ChipIdentity{});
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Old Maker");
    for (const auto& w : WRITE_COMMANDS) {
        bench.faults(chip).refuseCommands = true;
        Click(w.button);
        EXPECT_EQ(status(), w.failedStatus);
    }
}

TEST_F(DialogTest, WritesWithoutADeviceSendAndValidateNothing) {
    const int chip = bench.plugChip();
    Start();
    Click(IDC_VID_CHECK);
    EXPECT_TRUE(enabled(IDC_VID_EDIT));  // boxes work without a device
    Type(IDC_VID_EDIT, "1");
    for (const auto& w : WRITE_COMMANDS) {
        ops().SetWindowText(IDC_STATUS, "");
        Click(w.button);
        EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    }
    EXPECT_TRUE(modals.seen.empty());
    EXPECT_EQ(library.rates + library.deviceCfgs + library.resetCalls, 0);
    EXPECT_EQ(bench.device(chip)->reportsReceived, 0u);
}

// ---- Device events ----------------------------------------------------------------------

class Hotplug : public DialogTest {
  protected:
    // Records the window messages posted to the dialog before it handles them.
    struct Posted : QObject {
        std::vector<std::uintptr_t> codes;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == ui::WindowMessageEvent::eventType()) {
                codes.push_back(static_cast<ui::WindowMessageEvent*>(event)->wParam());
            }
            return false;
        }
    } posted;
    void Start() {
        DialogTest::Start();
        dlg->installEventFilter(&posted);
    }
    static DEV_BROADCAST_DEVICEINTERFACE_A Record(std::uint32_t type) {
        DEV_BROADCAST_DEVICEINTERFACE_A record{};
        record.dbcc_size = sizeof record;
        record.dbcc_devicetype = type;
        record.dbcc_classguid = HID_CLASS_GUID;
        return record;
    }
};

TEST_F(Hotplug, AnArrivalIsHandledWhenItsPostedEventRunsAndKeepsTheOpenDevice) {
    const int first = bench.plugChip();
    Start();
    OpenSelected();
    const DeviceHandle open = dlg->m_hDevice;
    QSignalSpy eventText(control<QLineEdit>(IDC_EVENT_TEXT), &QLineEdit::textChanged);
    const int second = bench.plugChip();
    EXPECT_EQ(status(), "操作状态:打开设备成功!") << "handled inside the notification";
    Pump();
    EXPECT_EQ(posted.codes, std::vector<std::uintptr_t>{ui::DEVICE_EVENT_ARRIVAL});
    EXPECT_EQ(status(), "操作状态:检测到设备已连接!");
    EXPECT_EQ(dlg->m_hDevice, open);
    ASSERT_EQ(eventText.count(), 2);
    EXPECT_EQ(eventText[0][0].toString(), Q("有HID设备到达"));
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (std::vector<std::string>{PathOf(second), PathOf(first)}));
}

TEST_F(Hotplug, AnyRemovalClosesTheOpenDeviceOnceAndRebuildsTheList) {
    const int other = bench.plugChip();
    const int mine = bench.plugChip();
    Start();
    OpenSelected();  // the newest: `mine`
    const DeviceHandle open = dlg->m_hDevice;
    const auto record = Record(DBT_DEVTYP_DEVICEINTERFACE);
    bench.deliver(DBT_DEVICEREMOVEPENDING, &record);
    Pump();
    EXPECT_EQ(library.closed, std::vector<DeviceHandle>{open});
    EXPECT_EQ(status(), "操作状态:检测到设备已断开连接!");
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "");
    bench.unplug(other);
    Pump();
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(posted.codes, (std::vector<std::uintptr_t>{ui::DEVICE_EVENT_REMOVE_PENDING,
                                                         ui::DEVICE_EVENT_REMOVE_COMPLETE}));
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), std::vector<std::string>{PathOf(mine)});
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
    OpenSelected();
    bench.unplug(mine);
    Pump();
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有HID设备离开");
}

TEST_F(Hotplug, OtherEventsAndRecordTypesAreIgnored) {
    bench.plugChip();
    Start();
    OpenSelected();
    const auto volume = Record(DBT_DEVTYP_VOLUME);
    const auto port = Record(DBT_DEVTYP_PORT);
    const auto iface = Record(DBT_DEVTYP_DEVICEINTERFACE);
    const std::uint64_t enumerations = bench.enumerationCount();
    for (const auto& [event, record] :
         {std::pair<std::uint32_t, const void*>{DBT_DEVNODES_CHANGED, nullptr},
          {DBT_DEVICEQUERYREMOVE, &iface},
          {DBT_DEVICEARRIVAL, &volume},
          {DBT_DEVICEREMOVECOMPLETE, &port},
          {DBT_DEVICEARRIVAL, nullptr}}) {
        bench.deliver(event, record);
    }
    Pump();
    EXPECT_TRUE(posted.codes.empty());
    EXPECT_EQ(bench.enumerationCount(), enumerations);
    EXPECT_NE(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
}

// ---- Message table, keys, system menu ---------------------------------------------------

TEST_F(DialogTest, EveryControlReachesItsOwnHandler) {
    bench.plugChip();
    Start();
    OpenSelected();
    for (int i = 0; i < 5; ++i) {
        Click(BOXES[i]);
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(enabled(EDITS[j]), checked(BOXES[j])) << BOXES[i] << " touched " << EDITS[j];
        }
    }
    const struct {
        int list;
        const char* entry;
        std::uint8_t SerialDefaults::*field;
        int code;
    } lists[] = {{IDC_PARITY_COMBO, "奇校验", &SerialDefaults::parityCode, 1},
                 {IDC_DATA_COMBO, "5位", &SerialDefaults::dataBitsCode, 1},
                 {IDC_BAUD_COMBO, "600", &SerialDefaults::baudCode, 2},
                 {IDC_STOP_COMBO, "2位", &SerialDefaults::stopBitsCode, 2}};
    for (const auto& l : lists) {
        Choose(l.list, l.entry);
        EXPECT_EQ(dlg->SerialDefaults.*l.field, l.code) << l.entry;
    }
    Click(IDC_SET_RATE_BUTTON);
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(library.rates + library.resetCalls, 2);
    // Window messages go through the table too; one without an entry is not handled.
    EXPECT_EQ(ui::DispatchWindowMessage(*dlg, 0x0201, 0, 0, nullptr), std::nullopt);
    ops().PostMessage(ui::WM_DEVICE_EVENT, ui::DEVICE_EVENT_REMOVE_COMPLETE, 0);
    Pump();
    EXPECT_EQ(dlg->m_hDevice, INVALID_DEVICE_HANDLE);
}

TEST_F(DialogTest, KeysEndTheDialogUnlessAPushButtonHasTheFocus) {
    bench.plugChip();
    Start();
    QApplication::setActiveWindow(dlg.get());
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Return);
    EXPECT_EQ(status(), "操作状态:打开设备成功!");
    QComboBox* baud = control<QComboBox>(IDC_BAUD_COMBO);
    baud->setFocus();
    baud->setEditText("115200");
    QTest::keyClick(baud, Qt::Key_Enter);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
    dlg->show();
    QTest::keyClick(ops().GetDlgItem(IDC_SERIAL_EDIT), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(DialogTest, TheAboutEntryEndsTheSystemMenuAndOpensTheAboutBox) {
    Start();
    const QList<QAction*> actions = dlg->SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.last()->text(), Q("关于 KX4701SetCfg(&A)..."));
    actions.last()->trigger();
    dlg->OnSysCommand(0xF010);              // SC_MOVE
    dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);  // the low four bits are the system's
    ASSERT_EQ(modals.seen.size(), 2u);
    EXPECT_EQ(modals.seen[0].className, "CAboutDlg");
    EXPECT_EQ(modals.seen[1].title, Q("关于 KX4701SetCfg"));
    dlg->OnSysCommand(0xF060);  // SC_CLOSE
    EXPECT_FALSE(dlg->isVisible());
}

TEST(MinimizedIcon, IsCentredWithTheRoundingRule) {
    EXPECT_EQ(CConfigDlg::MinimizedIconOrigin({100, 80}, {32, 32}), (ui::Point{34, 24}));
    EXPECT_EQ(CConfigDlg::MinimizedIconOrigin({101, 81}, {32, 32}), (ui::Point{35, 25}));
}

}  // namespace
}  // namespace kx::uitest
