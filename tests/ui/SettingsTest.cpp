// Serial defaults, identity writes and the factory reset, checked on what the virtual chip
// stored.

#include <array>

#include <QClipboard>
#include <QKeyEvent>

#include "UiTestSupport.h"
#include "config/IdentityRules.h"
#include "config/TextCodec.h"

namespace kx::uitest {
namespace {

class SerialWrite : public DialogTest {
  protected:
    int chip = 0;
    void SetUp() override {
        chip = bench.plugChip();
        Start();
        OpenSelected();
    }
    void Write() {
        Click(IDC_SET_RATE_BUTTON);
        EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
    }
};

TEST_F(SerialWrite, UntouchedListsSendTheInitialDefaults) {
    Write();
    ASSERT_EQ(library.rates.size(), 1u);
    const auto& sent = library.rates[0];
    EXPECT_EQ((std::array<int, 5>{sent.baud, sent.parity, sent.stop, sent.data, sent.timing}),
              (std::array<int, 5>{6, 4, 1, 4, 0x40}));
    EXPECT_EQ(StoredSerial(chip), (bench::SerialSettings{6, 4, 1, 4, 0x40}));
}

TEST_F(SerialWrite, TimingByteFollowsTheBaudRate) {
    struct Step {
        const char* baud;
        std::uint8_t code;
        std::uint8_t timing;
    };
    for (const Step& step : {Step{"4800", 5, 0x30}, Step{"9600", 6, 0x40}, Step{"2400", 4, 0x40},
                             Step{"300", 1, 0xC0}, Step{"115200", 13, 0x30}}) {
        Choose(IDC_BAUD_COMBO, step.baud);
        Write();
        EXPECT_EQ(StoredSerial(chip).baudCode, step.code) << step.baud;
        EXPECT_EQ(StoredSerial(chip).timingByte, step.timing) << step.baud;
    }
}

TEST_F(SerialWrite, AllFourListsReachTheChip) {
    Choose(IDC_BAUD_COMBO, "115200");
    Choose(IDC_PARITY_COMBO, "偶校验");
    Choose(IDC_STOP_COMBO, "2位");
    Choose(IDC_DATA_COMBO, "7位");
    Write();
    EXPECT_EQ(StoredSerial(chip), (bench::SerialSettings{13, 2, 2, 3, 0x30}));
}

TEST_F(SerialWrite, ProgramSelectionsAndTypedTextChangeNothing) {
    ops().SetCurSel(IDC_BAUD_COMBO, 12);
    QTest::keyClicks(control<QComboBox>(IDC_PARITY_COMBO)->lineEdit(), "x");
    // A typed text equal to an entry, then leaving the field or pressing Enter in it.
    QLineEdit* dataEdit = control<QComboBox>(IDC_DATA_COMBO)->lineEdit();
    dataEdit->setText(Q("5位"));
    emit dataEdit->editingFinished();
    emit dataEdit->returnPressed();
    QTest::keyClicks(control<QComboBox>(IDC_STOP_COMBO)->lineEdit(), "2");
    EXPECT_EQ(text(IDC_STOP_COMBO), "1位2");
    EXPECT_EQ(dlg->SerialDefaults, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(ops().GetCurSel(IDC_DATA_COMBO), 3);
}

TEST_F(SerialWrite, KeyboardSelectionCountsAsAUserChoice) {
    QTest::keyClick(control<QComboBox>(IDC_STOP_COMBO), Qt::Key_Down);
    EXPECT_EQ(dlg->SerialDefaults.stopBitsCode, 2);
}

TEST_F(SerialWrite, RefusedWriteIsReported) {
    bench.faults(chip).refuseCommands = true;
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数失败!");
}

TEST_F(DialogTest, SerialWriteWithoutDeviceSendsNothing) {
    const int chip = bench.plugChip();
    Start();
    Choose(IDC_BAUD_COMBO, "115200");
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    EXPECT_TRUE(library.rates.empty());
    EXPECT_EQ(bench.device(chip)->reportsReceived, 0u);
}

class IdentitySettings : public DialogTest {
  protected:
    int chip = 0;
    void SetUp() override {
        bench::ChipIdentity identity;
        identity.manufacturer = "Old Maker";
        identity.product = "Old Product";
        identity.serial = "OLD";
        chip = bench.plugChip(identity);
        Start();
        OpenSelected();
    }
    void Uncheck(int box) {
        if (checked(box)) {
            Click(box);
        }
    }
    void CheckAndType(int box, int edit, const char* utf8) {
        if (!checked(box)) {
            Click(box);
        }
        Type(edit, utf8);
    }
    void ExpectRefused(const char* message) {
        ASSERT_EQ(modals.seen.size(), 1u);
        EXPECT_EQ(modals.seen[0].text, Q(message));
        EXPECT_EQ(modals.seen[0].title, QCoreApplication::applicationName());
        EXPECT_EQ(modals.seen[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(modals.seen[0].buttons, QMessageBox::Ok);
        EXPECT_TRUE(library.deviceCfgs.empty());
        EXPECT_EQ(StoredIdentity(chip).manufacturer, "Old Maker");
    }
};

TEST_F(IdentitySettings, AllUncheckedWritesTheDefaultsWhateverTheEditsShow) {
    Type(IDC_MANUF_EDIT, "Typed");
    for (int box : {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK}) {
        Uncheck(box);
    }
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:参数设置成功!");
    ASSERT_EQ(library.deviceCfgs.size(), 1u);
    const auto& sent = library.deviceCfgs[0];
    EXPECT_EQ(sent.vid, 0x3C5B);
    EXPECT_EQ(sent.pid, 0xB207);
    EXPECT_EQ(sent.maxPower, 50);
    EXPECT_EQ(sent.manufacturer, DEFAULT_MANUFACTURER);
    EXPECT_EQ(sent.manufacturer.size(), 8u);
    EXPECT_EQ(sent.product, "HID To Serial");
    EXPECT_EQ(sent.serial, "12345678");
    EXPECT_EQ(StoredIdentity(chip).product, "HID To Serial");
    // The default went into the member, not into the edit.
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Typed");
    EXPECT_EQ(dlg->m_strManufacturer, DEFAULT_MANUFACTURER);
}

TEST_F(IdentitySettings, HexTextsAreParsedFromTheirFirstFourBytes) {
    struct Case {
        const char* text;
        std::uint16_t value;
    };
    for (const Case& c : {Case{"1a2B", 0x1A2B}, Case{"9G4F", 0x904F}, Case{"ABCDEF", 0xABCD},
                          Case{"中文", 0x0000}}) {
        library.deviceCfgs.clear();
        CheckAndType(IDC_VID_CHECK, IDC_VID_EDIT, c.text);
        CheckAndType(IDC_PID_CHECK, IDC_PID_EDIT, "beef");
        Click(IDC_SET_CFG_BUTTON);
        ASSERT_EQ(library.deviceCfgs.size(), 1u) << c.text;
        EXPECT_EQ(library.deviceCfgs[0].vid, c.value) << c.text;
        EXPECT_EQ(library.deviceCfgs[0].pid, 0xBEEF);
        EXPECT_EQ(StoredIdentity(chip).vid, c.value) << c.text;
    }
    EXPECT_TRUE(modals.seen.empty());
}

TEST_F(IdentitySettings, ShortVidIsRefusedAndNothingIsSent) {
    CheckAndType(IDC_VID_CHECK, IDC_VID_EDIT, "12A");
    Click(IDC_SET_CFG_BUTTON);
    ExpectRefused("VID长度不对");
}

TEST_F(IdentitySettings, ShortPidIsRefused) {
    CheckAndType(IDC_PID_CHECK, IDC_PID_EDIT, "");
    Click(IDC_SET_CFG_BUTTON);
    ExpectRefused("PID长度不对");
}

TEST_F(IdentitySettings, ThirtyBytesOfChineseAreAcceptedThirtyTwoAreNot) {
    const std::string fifteen = "一二三四五六七八九十一二三四五";
    CheckAndType(IDC_MANUF_CHECK, IDC_MANUF_EDIT, fifteen.c_str());
    Click(IDC_SET_CFG_BUTTON);
    ASSERT_EQ(library.deviceCfgs.size(), 1u);
    EXPECT_EQ(library.deviceCfgs[0].manufacturer.size(), 30u);
    EXPECT_EQ(kx::text::AnsiToUtf8(StoredIdentity(chip).manufacturer), fifteen);

    CheckAndType(IDC_MANUF_CHECK, IDC_MANUF_EDIT, (fifteen + "六").c_str());
    Click(IDC_SET_CFG_BUTTON);
    ASSERT_EQ(modals.seen.size(), 1u);
    EXPECT_EQ(modals.seen[0].text, Q("厂商字符串长度超过30"));
    EXPECT_EQ(library.deviceCfgs.size(), 1u);
}

TEST_F(IdentitySettings, EmptyStringsAreRefusedInItemOrder) {
    struct Case {
        int box;
        int edit;
        const char* message;
    };
    for (const Case& c : {Case{IDC_MANUF_CHECK, IDC_MANUF_EDIT, "厂商字符串长度不对"},
                          Case{IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT, "产品字符串长度不对"},
                          Case{IDC_SERIAL_CHECK, IDC_SERIAL_EDIT, "序列号字符串长度不对"}}) {
        modals.seen.clear();
        Click(IDC_GET_CFG_BUTTON);  // all three filled and checked again
        CheckAndType(c.box, c.edit, "");
        Click(IDC_SET_CFG_BUTTON);
        ASSERT_EQ(modals.seen.size(), 1u) << c.message;
        EXPECT_EQ(modals.seen[0].text, Q(c.message));
    }
    EXPECT_TRUE(library.deviceCfgs.empty());
}

TEST_F(IdentitySettings, OnlyTheFirstFailureIsShown) {
    CheckAndType(IDC_VID_CHECK, IDC_VID_EDIT, "12");
    CheckAndType(IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT, "");
    Click(IDC_SET_CFG_BUTTON);
    ExpectRefused("VID长度不对");
}

TEST_F(IdentitySettings, UncheckingKeepsTheTextButStopsWritingIt) {
    CheckAndType(IDC_PRODUCT_CHECK, IDC_PRODUCT_EDIT, "Custom");
    Click(IDC_PRODUCT_CHECK);
    EXPECT_FALSE(enabled(IDC_PRODUCT_EDIT));
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "Custom");
    Click(IDC_SET_CFG_BUTTON);
    ASSERT_EQ(library.deviceCfgs.size(), 1u);
    EXPECT_EQ(library.deviceCfgs[0].product, "HID To Serial");
    EXPECT_EQ(library.deviceCfgs[0].manufacturer, "Old Maker");  // still checked
    // Checking again enables the edit with the text it kept.
    Click(IDC_PRODUCT_CHECK);
    EXPECT_TRUE(enabled(IDC_PRODUCT_EDIT));
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "Custom");
}

TEST_F(IdentitySettings, ACharacterOutsideCp936CannotBeTyped) {
    QLineEdit* edit = control<QLineEdit>(IDC_MANUF_EDIT);
    Type(IDC_MANUF_EDIT, "ab");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, Q("😀"));
    QCoreApplication::sendEvent(edit, &press);
    EXPECT_EQ(edit->text(), Q("ab"));
    QKeyEvent lone(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0xD83D)));
    QCoreApplication::sendEvent(edit, &lone);
    EXPECT_EQ(edit->text(), Q("ab"));
    QGuiApplication::clipboard()->setText(Q("x😀y"));
    edit->paste();
    EXPECT_EQ(edit->text(), Q("ab"));
    // Chinese text is fine.
    TypeText(edit, Q("中"));
    EXPECT_EQ(edit->text(), Q("ab中"));
}

TEST_F(IdentitySettings, AnUnencodableTextThatGetsThereIsNotSent) {
    ops().SetWindowText(IDC_SERIAL_EDIT, "SN😀");  // bypasses the validator
    Click(IDC_SET_CFG_BUTTON);
    ASSERT_EQ(modals.seen.size(), 1u);
    EXPECT_TRUE(modals.seen[0].text.startsWith(Q("Serial"))) << modals.seen[0].text.toStdString();
    EXPECT_TRUE(library.deviceCfgs.empty());
    // No member changed, not even those transferred before the refused one.
    EXPECT_EQ(dlg->m_strManufacturer, "Old Maker");
    EXPECT_EQ(dlg->m_strSerial, "OLD");
    EXPECT_EQ(status(), "操作状态:打开设备成功!");
}

TEST_F(IdentitySettings, RefusedWriteIsReported) {
    bench.faults(chip).refuseCommands = true;
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:参数设置失败!");
}

TEST_F(DialogTest, IdentityWriteWithoutDeviceValidatesNothing) {
    bench.plugChip();
    Start();
    Click(IDC_VID_CHECK);
    EXPECT_TRUE(enabled(IDC_VID_EDIT));  // boxes work without a device
    Type(IDC_VID_EDIT, "1");
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    EXPECT_TRUE(modals.seen.empty());
    EXPECT_TRUE(library.deviceCfgs.empty());
}

class FactoryReset : public IdentitySettings {};

TEST_F(FactoryReset, RestoresTheFactoryIdentityAndRefreshesNoField) {
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:恢复出厂设置成功!");
    EXPECT_EQ(library.resetCalls, 1);
    EXPECT_EQ(StoredIdentity(chip), bench::ChipIdentity{});
    EXPECT_EQ(text(IDC_MANUF_EDIT), "Old Maker");
}

TEST_F(FactoryReset, RefusedResetIsReported) {
    bench.faults(chip).refuseCommands = true;
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:恢复出厂设置失败!");
}

TEST_F(DialogTest, FactoryResetWithoutDeviceSendsNothing) {
    bench.plugChip();
    Start();
    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:设备尚未打开!");
    EXPECT_EQ(library.resetCalls, 0);
}

}  // namespace
}  // namespace kx::uitest
