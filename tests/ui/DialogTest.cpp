// The configuration dialog through its real widgets: start-up, discovery, open and close,
// the identity read, the three writes, device events, the message table and the keys.

#include <QAccessible>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>

#include "UiTestSupport.h"
#include "config/TextCodec.h"
#include "device/Discovery.h"
#include "ui/MessageTable.h"

namespace kx::uitest {
namespace {

const int EDITS[] = {IDC_VID_EDIT, IDC_PID_EDIT, IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT};
const int BOXES[] = {IDC_VID_CHECK, IDC_PID_CHECK, IDC_MANUF_CHECK, IDC_PRODUCT_CHECK,
                     IDC_SERIAL_CHECK};
using Paths = std::vector<std::string>;

std::string PathOf(int id) {
    return "VBENCH://KX4701/" + std::to_string(id);
}

class Dialog : public DialogTest {
  protected:
    // Each identity item as its text, its box (+ checked) and its edit (e enabled).
    std::string Items() {
        std::string items;
        for (int i = 0; i < 5; ++i) {
            items += text(EDITS[i]) + (checked(BOXES[i]) ? "+" : "-") +
                     (enabled(EDITS[i]) ? "e|" : "d|");
        }
        return items;
    }
};

TEST_F(Dialog, StartUpListsTheNewestOpenableDevicesFirstUpperCased) {
    const int first = bench.plugChip();
    bench.setHeld(bench.plugChip(), true);
    bench.plugChip({}, "vbench://kx4701/lower-case");
    Start();
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (Paths{"VBENCH://KX4701/LOWER-CASE", PathOf(first)}));
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(text(IDC_EVENT_TEXT) + text(IDC_BAUD_COMBO) + text(IDC_STOP_COMBO),
              "有设备接入96001位");
    EXPECT_EQ(Items(), "-d|-d|-d|-d|-d|");
    EXPECT_EQ(status() + dlg->windowTitle().toStdString(), "操作状态:就绪KX4701配置工具");
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(bench.sinkCount(), 1u);
    dlg.reset();
    EXPECT_EQ(bench.sinkCount(), 0u) << "the registration outlived the dialog";
}

TEST_F(Dialog, RegistrationFailureStopsInitialisation) {
    bench.plugChip();
    bench.setRegistrationFails(true);
    Start();
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO) + ops().GetCount(IDC_BAUD_COMBO), 0);
    EXPECT_EQ(dlg->SerialDefaults, SerialDefaults{});
}

TEST_F(Dialog, ALibraryThatNeverEndsItsListCannotHangTheDialog) {
    library.endlessList = true;
    Start();
    EXPECT_EQ(library.pathCalls, DEVICE_INDEX_LIMIT);
    EXPECT_EQ(ops().GetCount(IDC_DEVICE_COMBO), 0);
}

TEST_F(Dialog, OpenShowsTheIdentityEveryBoxWorksAloneAndCloseClosesTheOpenDevice) {
    bench.plugChip();
    bench.plugChip({0x0A0B, 0x00C1, 0x01A0, "Maker", "\xD6\xD0\xCE\xC4", "SN-1"});
    Start();
    OpenSelected();
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=A0BPID=C1 VER=1A0 ");
    EXPECT_EQ(library.timeouts,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3000, 3000}}));
    EXPECT_EQ(Items(), "0A0B-d|00C1-d|Maker+e|中文+e|SN-1+e|");
    for (int i = 0; i < 10; ++i) {  // each box twice
        Click(BOXES[i / 2]);
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(enabled(EDITS[j]), checked(BOXES[j])) << BOXES[i / 2] << " touched " << j;
        }
    }
    EXPECT_EQ(ui::DispatchWindowMessage(*dlg, 0x0201, 0, 0, nullptr), std::nullopt);
    const DeviceHandle open = dlg->m_hDevice;
    Click(IDC_VID_CHECK);
    Choose(IDC_DEVICE_COMBO, ops().GetLBText(IDC_DEVICE_COMBO, 1).c_str());
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:关闭设备成功!");
    EXPECT_EQ(library.closed, std::vector<DeviceHandle>{open});
    EXPECT_EQ(text(IDC_OPEN_BUTTON) + text(IDC_DEVICE_INFO), "打开设备");
    // Unchecking without a click leaves the edits alone.
    EXPECT_EQ(Items(), "-d|-d|-e|-e|-e|");
}

// The refusals of the open path, in the order the checks run.
TEST_F(Dialog, OpenRefusalsInTheirOrder) {
    Start();
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:当前系统没有可打开的HID设备!");
    const int chip = bench.plugChip();
    Pump();
    ops().SetCurSel(IDC_DEVICE_COMBO, -1);
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:请选择一个HID设备!");
    ops().SetCurSel(IDC_DEVICE_COMBO, 0);
    for (const auto& [faults, message] :
         {std::pair{emu::Faults{.openFails = true}, "操作状态:打开HID设备失败!"},
          {emu::Faults{.attributesFail = true}, "操作状态:获取设备VID、PID失败!"}}) {
        bench.faults(chip) = faults;
        Click(IDC_OPEN_BUTTON);
        EXPECT_EQ(status() + text(IDC_OPEN_BUTTON), message + std::string("打开设备"));
    }
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    bench.faults(chip) = {};
    OpenSelected();
    // Only a caption that says "open" while a device is open reaches this check.
    ops().SetWindowText(IDC_OPEN_BUTTON, "打开设备");
    Click(IDC_OPEN_BUTTON);
    EXPECT_EQ(status(), "操作状态:该设备已打开!");
    EXPECT_EQ(kxLibrary.openHandleCount(), 1u);
}

TEST_F(Dialog, WithoutADeviceNothingIsSentAndGetConfigReadsEachStringAlone) {
    const int chip = bench.plugChip();
    Start();
    Click(IDC_VID_CHECK);
    EXPECT_TRUE(enabled(IDC_VID_EDIT));  // boxes work without a device
    Type(IDC_VID_EDIT, "1");
    for (int button :
         {IDC_GET_CFG_BUTTON, IDC_SET_RATE_BUTTON, IDC_SET_CFG_BUTTON, IDC_FACTORY_BUTTON}) {
        ops().SetWindowText(IDC_STATUS, "");
        Click(button);
        EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    }
    EXPECT_TRUE(modals.seen.empty()) << "nothing validated";
    EXPECT_EQ(bench.device(chip)->reportsReceived, 0u);
    OpenSelected();
    Type(IDC_SERIAL_EDIT, "typed");
    bench.faults(chip).manufacturerFails = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数失败!");
    EXPECT_EQ(text(IDC_MANUF_EDIT) + "|" + text(IDC_SERIAL_EDIT), "|12345678");
    bench.faults(chip) = {.serialFails = true};
    // A library that fails without writing the buffer: no field shows an earlier read.
    library.productFailsUntouched = true;
    Click(IDC_GET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:获取设备参数成功!");
    EXPECT_EQ(text(IDC_MANUF_EDIT) + "|" + text(IDC_PRODUCT_EDIT) + "|" + text(IDC_SERIAL_EDIT),
              "KX-CHIPS||");
}

class Writes : public Dialog {
  protected:
    int chip = 0;
    void SetUp() override {
        chip = bench.plugChip({0x3C5B, 0xB207, 0x0100, "Old Maker", "Old Product", "OLD"});
        Start();
        OpenSelected();
    }
    // Clicks "set configuration" and returns the message box text, or "" if none came.
    std::string SetConfig() {
        modals.seen.clear();
        Click(IDC_SET_CFG_BUTTON);
        if (modals.seen.empty()) {
            return "";
        }
        EXPECT_TRUE(modals.seen[0].plainOk);
        EXPECT_EQ(modals.seen[0].title, QCoreApplication::applicationName());
        return modals.seen[0].text.toStdString();
    }
};

TEST_F(Writes, SerialDefaultsFollowTheUsersChoicesAndFactoryResetRestoresTheChipOnly) {
    Choose(IDC_BAUD_COMBO, "115200");
    Choose(IDC_PARITY_COMBO, "偶校验");
    Choose(IDC_DATA_COMBO, "7位");
    QTest::keyClick(control<QComboBox>(IDC_STOP_COMBO), Qt::Key_Down);
    ops().SetCurSel(IDC_BAUD_COMBO, 12);  // the program's selection is no user choice
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
    EXPECT_EQ(StoredSerial(chip), (SerialDefaults{13, 2, 2, 3, 0x30}));
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:恢复出厂设置成功!");
    EXPECT_EQ(StoredIdentity(chip), emu::ChipIdentity{});
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Old Maker");
    bench.faults(chip).refuseCommands = true;
    for (const auto& w : WRITE_COMMANDS) {
        Click(w.button);
        EXPECT_EQ(status(), w.failedStatus);
    }
}

TEST_F(Writes, UncheckedItemsSendTheDefaultsAndCheckedOnesAreValidatedInOrder) {
    Type(IDC_MANUF_EDIT, "Typed");
    for (int box : {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        Click(box);
    }
    EXPECT_EQ(SetConfig(), "");
    EXPECT_EQ(status(), "操作状态:参数设置成功!");
    EXPECT_EQ(StoredIdentity(chip),
              (emu::ChipIdentity{0x3C5B, 0xB207, 0x0100, "KX-CHIPS", "HID To Serial", "12345678"}));
    EXPECT_EQ(text(IDC_MANUF_EDIT) + "|" + dlg->m_strManufacturer, "Typed|KX-CHIPS");
    const std::string fifteen = "一二三四五六七八九十一二三四五";
    const struct {
        int box, edit;
        std::string text;
        const char* message;  // null: typed, not yet sent
    } steps[] = {
        {IDC_MANUF_CHECK, IDC_MANUF_EDIT, fifteen, nullptr},
        {IDC_VID_CHECK, IDC_VID_EDIT, "9G4F", nullptr},
        {IDC_PID_CHECK, IDC_PID_EDIT, "beef", ""},
        {IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT, "", "产品字符串长度不对"},
        {IDC_MANUF_CHECK, IDC_MANUF_EDIT, fifteen + "六", "厂商字符串长度超过30"},
        {IDC_PID_CHECK, IDC_PID_EDIT, "", "PID长度不对"},
        {IDC_VID_CHECK, IDC_VID_EDIT, "12A", "VID长度不对"},  // each before the ones above
    };
    for (const auto& r : steps) {
        if (!checked(r.box)) {
            Click(r.box);
        }
        Type(r.edit, r.text.c_str());
        if (r.message != nullptr) {
            EXPECT_EQ(SetConfig(), r.message) << r.text;
        }
    }
    EXPECT_EQ(library.deviceCfgs, 2) << "only valid identities are sent";
    EXPECT_EQ(text::AnsiToUtf8(StoredIdentity(chip).manufacturer), fifteen);
    EXPECT_EQ(StoredIdentity(chip).vid + StoredIdentity(chip).pid * 0x10000u, 0xBEEF904Fu);
}

TEST_F(Writes, TextsOutsideCp936AreNeitherTypedNorSent) {
    QLineEdit* edit = control<QLineEdit>(IDC_MANUF_EDIT);
    Type(IDC_MANUF_EDIT, "ab中");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, Q("😀"));
    QCoreApplication::sendEvent(edit, &press);
    QGuiApplication::clipboard()->setText(Q("x😀y"));
    edit->paste();
    QAccessible::queryAccessibleInterface(edit)->editableTextInterface()->insertText(0, Q("😀"));
    EXPECT_EQ(edit->text(), Q("ab中")) << "neither typed, pasted nor put in by a screen reader";
    ops().SetWindowText(IDC_SERIAL_EDIT, "SN😀");  // bypasses the validator
    EXPECT_EQ(SetConfig().rfind("Serial", 0), 0u);
    EXPECT_EQ(library.deviceCfgs, 0);
    EXPECT_EQ(dlg->m_strManufacturer, "Old Maker") << "no member changes for a refused text";
}

// Records the window messages posted to the dialog before it handles them.
struct Posted : QObject {
    std::vector<std::uintptr_t> codes;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == ui::WindowMessageEvent::eventType()) {
            codes.push_back(static_cast<ui::WindowMessageEvent*>(event)->wParam());
        }
        return false;
    }
};

DEV_BROADCAST_DEVICEINTERFACE_A Record(std::uint32_t type) {
    return {sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), type, 0, HID_CLASS_GUID, {}};
}

TEST_F(Dialog, DeviceEventsAreHandledWhenPostedAndOnlyRemovalsCloseTheOpenDevice) {
    const int mine = bench.plugChip();
    Start();
    Posted posted;
    dlg->installEventFilter(&posted);
    OpenSelected();
    const DeviceHandle open = dlg->m_hDevice;
    const int other = bench.plugChip();
    EXPECT_EQ(status(), "操作状态:打开设备成功!") << "handled inside the notification";
    Pump();
    EXPECT_EQ(status(), "操作状态:检测到设备已连接!");
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (Paths{PathOf(other), PathOf(mine)}));
    const std::uint64_t enumerations = bench.enumerationCount();
    for (const auto& [event, type] : {std::pair{DBT_DEVNODES_CHANGED, 0u},
                                      {DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE},
                                      {DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME},
                                      {DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_PORT},
                                      {DBT_DEVICEARRIVAL, 0u}}) {
        const auto record = Record(type);
        bench.deliver(event, type != 0 ? &record : nullptr);
    }
    Pump();
    EXPECT_EQ(bench.enumerationCount(), enumerations);
    EXPECT_EQ(dlg->m_hDevice, open);
    const auto iface = Record(DBT_DEVTYP_DEVICEINTERFACE);
    bench.deliver(DBT_DEVICEREMOVEPENDING, &iface);
    Pump();
    EXPECT_EQ(library.closed, std::vector<DeviceHandle>{open});
    bench.unplug(other);
    Pump();
    EXPECT_EQ(library.closed.size(), 1u);
    EXPECT_EQ(posted.codes, (std::vector<std::uintptr_t>{ui::DEVICE_EVENT_ARRIVAL,
                                                         ui::DEVICE_EVENT_REMOVE_PENDING,
                                                         ui::DEVICE_EVENT_REMOVE_COMPLETE}));
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), Paths{PathOf(mine)});
    OpenSelected();
    bench.unplug(mine);
    Pump();
    EXPECT_EQ(kxLibrary.openHandleCount(), 0u);
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), -1);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有HID设备离开");
}

TEST_F(Dialog, KeysEndTheDialogUnlessAPushButtonHasTheFocus) {
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
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS) << "typed text is no choice";
    dlg->show();
    QTest::keyClick(ops().GetDlgItem(IDC_SERIAL_EDIT), Qt::Key_Escape);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(Dialog, TheAboutEntryEndsTheSystemMenuAndOpensTheAboutBox) {
    Start();
    const QList<QAction*> actions = dlg->SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.last()->text(), Q("关于 KX4701SetCfg(&A)..."));
    actions.last()->trigger();
    dlg->OnSysCommand(IDM_ABOUTBOX | 0x3);  // the low four bits are the system's
    ASSERT_EQ(modals.seen.size(), 2u);
    EXPECT_EQ(modals.seen[0].className, "CAboutDlg");
    EXPECT_EQ(modals.seen[1].title, Q("关于 KX4701SetCfg"));
    dlg->OnSysCommand(0xF060);  // SC_CLOSE
    EXPECT_FALSE(dlg->isVisible());
}

}  // namespace
}  // namespace kx::uitest
