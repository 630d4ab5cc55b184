// The real program's device path on a real kernel: emulated chips on hidraw nodes made by
// uhid, listed, opened and written by the dialog through hidapi, plugged and unplugged under
// the libudev monitor with the kernel's own uevents (RealKernel); then chips on the kernel's
// USB bus (emulation/usbip) under udevd with our rule (UsbChip), their strings in any locale.
// Runs only in the VM (scripts/vmtest, which starts udevd between the two): it needs
// /dev/uhid, vhci-hcd and root.

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <deque>

#include "config/TextCodec.h"
#include "device/Protocol.h"
#include "device/hotplug/linux/UeventSource.h"
#include "device/linux/SystemDevices.h"
#include "emulation/uhid/UhidDevice.h"
#include "emulation/usbip/UsbipDevice.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/qt/UdevNotificationSource.h"

namespace kx::uitest {
namespace {

using emu::ChipIdentity;

constexpr int NODE_WAIT_MS = 5000;
constexpr int EVENT_WAIT_MS = 10000;

// Root passes every permission check through these capabilities; without them a node's
// mode bits decide, as for any user. Capabilities are per thread: this one probes.
bool SetFileAccessOverride(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    const std::uint32_t bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective = on ? data[0].effective | bits : data[0].effective & ~bits;
    return syscall(SYS_capset, &header, data) == 0;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The dialog over the system's devices: hidapi on hidraw, and the libudev monitor.
class RealKernel : public DialogTest {
  protected:
    ~RealKernel() override {
        dlg.reset();  // before the devices and the stack it borrows
        SetFileAccessOverride(true);
    }

    struct Plugged {
        std::unique_ptr<emu::uhid::UhidDevice> device;
        std::string node;
    };

    Plugged& plug(std::unique_ptr<emu::uhid::UhidDevice> device, const std::string& error) {
        EXPECT_NE(device.get(), nullptr) << error;
        Plugged p{std::move(device), {}};
        if (p.device) {
            p.node = p.device->hidrawNode(NODE_WAIT_MS);
        }
        EXPECT_FALSE(p.node.empty()) << "no hidraw node";
        plugged.push_back(std::move(p));
        return plugged.back();
    }
    Plugged& plugChip() {
        std::string error;
        auto d = emu::uhid::UhidDevice::createChip({}, &error);
        return plug(std::move(d), error);
    }
    Plugged& plugKeyboard() {
        std::string error;
        auto d = emu::uhid::UhidDevice::createKeyboard("USB Keyboard", &error);
        return plug(std::move(d), error);
    }

    void StartOnSystem() {
        dlg = std::make_unique<ui::QtConfigDialog>(system.library(), system.probe(), notifications);
        dlg->show();
    }

    // Waits, bounded, for the status line the kernel's uevent leads to.
    void AwaitStatus(const char* expected) {
        const bool arrived = QTest::qWaitFor([&] { return status() == expected; }, EVENT_WAIT_MS);
        ASSERT_TRUE(arrived) << "status still " << status();
    }

    void OpenNode(const std::string& node) {
        const auto list = entries(IDC_DEVICE_COMBO);
        const auto it = std::find(list.begin(), list.end(), Upper(node));
        ASSERT_NE(it, list.end()) << node;
        ops().SetCurSel(IDC_DEVICE_COMBO, static_cast<int>(it - list.begin()));
        OpenSelected();
    }

    SystemDevices system;
    hotplug::UdevNotificationSource notifications;
    std::deque<Plugged> plugged;  // references stay valid as devices are added
};

TEST_F(RealKernel, ListsOpenableNodesUpperCasedInReverseLibraryOrderLeavingOutALockedOne) {
    plugChip();
    plugKeyboard();
    const std::string locked = plugChip().node;
    plugChip();
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_TRUE(SetFileAccessOverride(false));
    StartOnSystem();

    std::vector<std::string> expected;  // the library's order is hidapi's, by sysfs path
    for (std::int32_t i = 0; i < 16; ++i) {
        std::array<char, DEVICE_PATH_BUFFER_SIZE> path{};
        if (system.library().KX4701GetDevicePath(i, path.data(), path.size()) &&
            path.data() != locked) {
            expected.insert(expected.begin(), Upper(path.data()));
        }
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), expected);
    EXPECT_EQ(ops().GetCurSel(IDC_DEVICE_COMBO), 0);
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");
}

TEST_F(RealKernel, DialogCommandsReachTheChipAndNeverTheKeyboard) {
    Plugged& chip = plugChip();
    Plugged& keyboard = plugKeyboard();
    StartOnSystem();

    OpenNode(chip.node);
    // hidapi takes the version from the USB device, which an emulated chip has none of.
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=3C5BPID=B207 VER=0 ");
    EXPECT_EQ(text(IDC_VID_EDIT), "3C5B");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "HID To Serial");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "12345678");

    Choose(IDC_BAUD_COMBO, "115200");
    Choose(IDC_PARITY_COMBO, "偶校验");
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
    EXPECT_EQ(chip.device->state().serial, (SerialDefaults{13, 2, 1, 4, 0x30}));

    // uhid devices carry no manufacturer string: its box is unticked, so the default goes.
    Click(IDC_MANUF_CHECK);
    Click(IDC_VID_CHECK);
    Type(IDC_VID_EDIT, "1a2B");
    Type(IDC_PRODUCT_EDIT, "VM Product");
    Click(IDC_SET_CFG_BUTTON);
    EXPECT_EQ(status(), "操作状态:参数设置成功!");
    const ChipIdentity written = chip.device->state().identity;
    EXPECT_EQ(written.vid, 0x1A2B);
    EXPECT_EQ(written.pid, 0xB207);
    EXPECT_EQ(written.manufacturer, ChipIdentity{}.manufacturer);
    EXPECT_EQ(written.product, "VM Product");
    EXPECT_EQ(written.serial, "12345678");

    Click(IDC_FACTORY_BUTTON);
    EXPECT_EQ(status(), "操作状态:恢复出厂设置成功!");
    EXPECT_EQ(chip.device->state().identity, ChipIdentity{});
    EXPECT_EQ(chip.device->state().serial, emu::FACTORY_SERIAL_DEFAULTS);

    Click(IDC_OPEN_BUTTON);  // close
    OpenNode(keyboard.node);
    Click(IDC_MANUF_CHECK);  // the keyboard has no manufacturer or serial string either
    Click(IDC_SERIAL_CHECK);
    for (const WriteCommand& command : WRITE_COMMANDS) {
        Click(command.button);
        EXPECT_EQ(status(), command.failedStatus);
    }
    EXPECT_EQ(keyboard.device->state().setReports, 0u);
    EXPECT_EQ(keyboard.device->state().getReports, 0u);
    EXPECT_TRUE(modals.seen.empty());
}

TEST_F(RealKernel, KernelUeventsRebuildTheListAndARemovalClosesTheOpenChip) {
    Plugged& first = plugChip();
    StartOnSystem();
    OpenNode(first.node);

    const std::string second = plugChip().node;
    AwaitStatus("操作状态:检测到设备已连接!");
    EXPECT_EQ(entries(IDC_DEVICE_COMBO),
              (std::vector<std::string>{Upper(second), Upper(first.node)}));
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备") << "an arrival leaves the open chip open";
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有设备接入");

    plugged.back().device.reset();  // the second chip leaves
    AwaitStatus("操作状态:检测到设备已断开连接!");
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (std::vector<std::string>{Upper(first.node)}));
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(text(IDC_DEVICE_INFO), "");
    EXPECT_EQ(system.kxLibrary().openHandleCount(), 0u);

    first.device.reset();  // the last one
    EXPECT_TRUE(QTest::qWaitFor([&] { return entries(IDC_DEVICE_COMBO).empty(); }, EVENT_WAIT_MS));
    EXPECT_EQ(text(IDC_EVENT_TEXT), "有HID设备离开");
}

// What udevd recorded for a node: its properties, with TAGS among them.
std::string UdevProperties(const std::string& node) {
    std::string out;
    if (FILE* p = ::popen(("udevadm info --query=property --name=" + node).c_str(), "r")) {
        for (int c; (c = std::fgetc(p)) != EOF;) {
            out += static_cast<char>(c);
        }
        ::pclose(p);
    }
    return out;
}

// Tagged for the seat by our rule, and never writable by others.
bool SeatAccess(const std::string& node) {
    const std::string props = UdevProperties(node);
    struct stat st {};
    const bool tagged = props.find("\nKX4701_CHIP=1\n") != std::string::npos &&
                        props.find("TAGS=") != std::string::npos &&
                        props.find(":uaccess:") != std::string::npos;
    EXPECT_EQ(::stat(node.c_str(), &st), 0) << node;
    EXPECT_EQ(st.st_mode & S_IWOTH, 0u) << node;
    return tagged;
}

// The dialog over chips on the kernel's USB bus, with udevd running our rule.
class UsbChip : public RealKernel {
  protected:
    UsbChip() { EXPECT_EQ(hotplug::DefaultUeventOrigin(), hotplug::UeventOrigin::Udev); }
    // The next test's dialog must not hear of this one's devices leaving.
    ~UsbChip() override {
        dlg.reset();
        for (Attached& a : attached) {
            a.device.reset();
            EXPECT_TRUE(QTest::qWaitFor([&] { return ::access(a.node.c_str(), F_OK) != 0; },
                                        EVENT_WAIT_MS));
        }
        Settle();
    }

    struct Attached {
        std::unique_ptr<emu::usbip::UsbipDevice> device;
        std::string node;
    };
    Attached& attach(std::unique_ptr<emu::usbip::UsbipDevice> device, const std::string& error) {
        EXPECT_NE(device.get(), nullptr) << error;
        Attached a{std::move(device), {}};
        if (a.device) {
            a.node = a.device->hidrawNode(EVENT_WAIT_MS);
        }
        EXPECT_FALSE(a.node.empty()) << "no hidraw node";
        attached.push_back(std::move(a));
        return attached.back();
    }
    Attached& attachChip(const ChipIdentity& identity = {}) {
        std::string error;
        auto d = emu::usbip::UsbipDevice::createChip(identity, &error);
        return attach(std::move(d), error);
    }
    Attached& attachKeyboard(const ChipIdentity& identity) {
        std::string error;
        auto d = emu::usbip::UsbipDevice::createKeyboard(identity, &error);
        return attach(std::move(d), error);
    }
    // Waits, bounded, until udevd has handled every event so far.
    static void Settle() { ASSERT_EQ(std::system("udevadm settle --timeout=20"), 0); }

    // Clicks a write and waits for the chip to leave (the dialog closes it) and come back;
    // returns the node it came back on.
    std::string WriteAndAwaitReenumeration(Attached& chip, int button, const char* success) {
        const int before = chip.device->attachments();
        Click(button);
        EXPECT_EQ(status(), success);
        const bool back = QTest::qWaitFor(
            [&] {
                return chip.device->attachments() == before + 1 &&
                       status() == "操作状态:检测到设备已连接!";
            },
            EVENT_WAIT_MS);
        EXPECT_TRUE(back) << "status " << status();
        EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备") << "the removal closed the chip";
        EXPECT_EQ(text(IDC_DEVICE_INFO), "");
        EXPECT_EQ(system.kxLibrary().openHandleCount(), 0u);
        chip.node = chip.device->hidrawNode(EVENT_WAIT_MS);
        return chip.node;
    }

    std::deque<Attached> attached;  // detached after the dialog has closed
};

// In the C locale, as a service or a minimal image starts the dialog (Qt may have left
// another): the strings come through the device library alike in every locale.
TEST_F(UsbChip, ListedAndOpenedWithItsVersionAndChineseStringsInTheCLocaleAndWritten) {
    struct Locale {
        std::string before = std::setlocale(LC_ALL, nullptr);
        ~Locale() { std::setlocale(LC_ALL, before.c_str()); }
    } restored;
    ASSERT_STREQ(std::setlocale(LC_ALL, "C"), "C");
    Attached& chip = attachChip({0x3C5B, 0xB207, 0x0100, text::Utf8ToAnsi("厂商").value_or(""),
                                 text::Utf8ToAnsi("USB 转串口").value_or(""),
                                 text::Utf8ToAnsi("序列一").value_or(""), 50});
    attachKeyboard(emu::usbip::UsbipDevice::KeyboardIdentity("USB Keyboard"));
    StartOnSystem();
    const auto list = entries(IDC_DEVICE_COMBO);
    EXPECT_NE(std::find(list.begin(), list.end(), Upper(chip.node)), list.end());

    OpenNode(chip.node);
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=3C5BPID=B207 VER=100 ");
    EXPECT_EQ(text(IDC_MANUF_EDIT), "厂商");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "USB 转串口");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "序列一");

    Choose(IDC_BAUD_COMBO, "115200");
    Click(IDC_SET_RATE_BUTTON);
    EXPECT_EQ(status(), "操作状态:设置默认串口参数成功!");
    EXPECT_EQ(chip.device->state().serial.baudCode, 13);
    EXPECT_EQ(chip.device->attachments(), 1) << "serial defaults are no new descriptors";

    // Its reports are the protocol's size, as on the bench and over uhid.
    KxLibrary& lib = system.kxLibrary();
    const DeviceHandle h = lib.KX4701OpenDevicePath(chip.node.c_str());
    std::uint16_t in = 0, out = 0;
    EXPECT_TRUE(lib.KX4701GetBufferLen(h, &in, &out));
    EXPECT_EQ(std::vector({in, out}), std::vector<std::uint16_t>(2, protocol::REPORT_SIZE));
    EXPECT_TRUE(lib.KX4701CloseDevice(h));
}

TEST_F(UsbChip, AnIdentityWriteReenumeratesTheChipWhichKeepsItsAccessAndComesBackAsWritten) {
    Attached& chip = attachChip();
    Settle();
    EXPECT_TRUE(SeatAccess(chip.node));
    StartOnSystem();
    OpenNode(chip.node);

    Click(IDC_VID_CHECK);
    Type(IDC_VID_EDIT, "1A2B");
    Type(IDC_PRODUCT_EDIT, "VM 产品");
    Type(IDC_SERIAL_EDIT, "SN-2");
    const std::string node =
        WriteAndAwaitReenumeration(chip, IDC_SET_CFG_BUTTON, "操作状态:参数设置成功!");
    const ChipIdentity written = chip.device->state().identity;
    EXPECT_EQ(written.vid, 0x1A2B);
    EXPECT_EQ(written.manufacturer, "KX-CHIPS");
    EXPECT_EQ(written.product, "VM \xB2\xFA\xC6\xB7");  // CP936
    EXPECT_EQ(written.serial, "SN-2");
    EXPECT_TRUE(SeatAccess(node)) << "the new ids keep the seat's access";
    OpenNode(node);
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=1A2BPID=B207 VER=100 ");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "VM 产品");
    EXPECT_EQ(text(IDC_SERIAL_EDIT), "SN-2");

    WriteAndAwaitReenumeration(chip, IDC_FACTORY_BUTTON, "操作状态:恢复出厂设置成功!");
    EXPECT_EQ(chip.device->state().identity, ChipIdentity{});
    OpenNode(chip.node);
    EXPECT_EQ(text(IDC_DEVICE_INFO), "设备已连接,VID=3C5BPID=B207 VER=100 ");
    EXPECT_EQ(text(IDC_PRODUCT_EDIT), "HID To Serial");
}

TEST_F(UsbChip, UdevGrantsAccessByReportDescriptorNeverByIds) {
    ChipIdentity impostor = emu::usbip::UsbipDevice::KeyboardIdentity("Fake chip");
    impostor.vid = ChipIdentity{}.vid;
    impostor.pid = ChipIdentity{}.pid;
    ChipIdentity rewritten;
    rewritten.vid = 0x1A2B;
    rewritten.pid = 0x3C4D;
    const struct {
        Attached& device;
        bool access;
    } rows[] = {
        {attachChip(rewritten), true},
        {attachKeyboard(emu::usbip::UsbipDevice::KeyboardIdentity("USB Keyboard")), false},
        {attachKeyboard(impostor), false},
    };
    Settle();
    for (const auto& row : rows) {
        EXPECT_EQ(SeatAccess(row.device.node), row.access) << UdevProperties(row.device.node);
    }
}

TEST_F(UsbChip, UdevEventsReachTheDialogAfterTheRuleAndAnUnplugClosesTheOpenChip) {
    Attached& first = attachChip();
    StartOnSystem();
    OpenNode(first.node);

    const std::string second = attachChip().node;
    AwaitStatus("操作状态:检测到设备已连接!");
    EXPECT_TRUE(SeatAccess(second)) << "udevd had run the rule when the dialog heard of it";
    EXPECT_EQ(entries(IDC_DEVICE_COMBO).size(), 2u);
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "关闭设备");

    first.device.reset();  // the open chip leaves
    AwaitStatus("操作状态:检测到设备已断开连接!");
    EXPECT_EQ(entries(IDC_DEVICE_COMBO), (std::vector<std::string>{Upper(second)}));
    EXPECT_EQ(text(IDC_OPEN_BUTTON), "打开设备");
    EXPECT_EQ(system.kxLibrary().openHandleCount(), 0u);
}

}  // namespace
}  // namespace kx::uitest
