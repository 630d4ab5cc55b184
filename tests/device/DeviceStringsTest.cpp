// A hidraw node's strings read from a sysfs tree laid out as the kernel's (a folder per
// device, the node's "device" link, uevent files), under every locale the machine has: the
// result must not change with it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/linux/DeviceStrings.h"

namespace kx::hid {
namespace {

namespace fs = std::filesystem;

// A folder of the device tree: its name and files.
using Folder = std::pair<std::string, std::map<std::string, std::string>>;

const Folder PCI{"pci0000:00", {{"uevent", "DRIVER=pcieport\n"}}};
const Folder INTERFACE{"1-1:1.0", {{"uevent", "DEVTYPE=usb_interface\n"}}};

Folder Usb(const std::string& manufacturer, const std::string& product) {
    return {"1-1",
            {{"uevent", "DEVTYPE=usb_device\n"},
             {"manufacturer", manufacturer + "\n"},
             {"product", product + "\n"}}};
}

Folder Hid(const std::string& bus, const std::string& name, const std::string& uniq) {
    return {bus + ":3C5B:B207.0001",
            {{"uevent", "HID_ID=" + bus + ":00003C5B:0000B207\nHID_NAME=" + name +
                            "\nHID_PHYS=usb-0000:00:14.0-1/input0\nHID_UNIQ=" + uniq + "\n"}}};
}

// Fifteen Chinese characters: the 30 bytes a chip's text holds in CP936.
const std::string LONGEST = "一二三四五六七八九十甲乙丙丁戊";
const std::u16string LONGEST16 = u"一二三四五六七八九十甲乙丙丁戊";

// The folders of `chain` from the top down to the HID device, the hidraw node `node` below
// it, and the node's link in class/hidraw.
void Lay(const fs::path& sysfs, const std::string& node, const std::vector<Folder>& chain) {
    fs::path dir = sysfs / "devices" / ("platform-" + node);  // no uevent: the walk ends here
    for (const auto& [name, files] : chain) {
        fs::create_directories(dir /= name);
        for (const auto& [file, text] : files) {
            std::ofstream(dir / file, std::ios::binary) << text;
        }
    }
    fs::create_directories(dir / "hidraw" / node);
    fs::create_symlink("../..", dir / "hidraw" / node / "device");
    fs::create_directories(sysfs / "class" / "hidraw");
    fs::create_symlink(dir / "hidraw" / node, sysfs / "class" / "hidraw" / node);
}

TEST(DeviceStrings, AsTheKernelHoldsThemUnderEveryLocale) {
    const struct {
        std::vector<Folder> chain;
        std::optional<DeviceStrings> strings;
    } rows[] = {
        {{PCI, Usb("厂商", "第二次"), INTERFACE, Hid("0003", "厂商 第二次", "USB-B1")},
         DeviceStrings{u"厂商", u"第二次", u"USB-B1"}},
        {{PCI, Usb("KX 芯片 Ltd", "USB 转串口"), INTERFACE, Hid("0003", "x", "序列-01")},
         DeviceStrings{u"KX 芯片 Ltd", u"USB 转串口", u"序列-01"}},
        {{PCI, Usb(LONGEST, LONGEST), INTERFACE, Hid("0003", "x", LONGEST)},
         DeviceStrings{LONGEST16, LONGEST16, LONGEST16}},
        // Not UTF-8: a stray byte, a cut sequence, an overlong one.
        {{PCI, Usb("A\xFF-B", "\xE8\xBD"), INTERFACE, Hid("0003", "x", "S\xC0\xAF")},
         DeviceStrings{u"A\uFFFD-B", u"\uFFFD\uFFFD", u"S\uFFFD\uFFFD"}},
        // uhid: no USB parent, the HID name as the product.
        {{{"misc", {}}, {"uhid", {{"uevent", "DEVNAME=uhid\n"}}}, Hid("0003", "转换器", "1")},
         DeviceStrings{u"", u"转换器", u"1"}},
        // Bluetooth behind a USB dongle: the dongle's strings are not the device's.
        {{PCI, Usb("Dongle", "BT"), INTERFACE, Hid("0005", "键盘", "aa:bb")},
         DeviceStrings{u"", u"键盘", u"aa:bb"}},
        // A receiver's paired device, three levels below the USB device.
        {{PCI, Usb("厂商", "接收器"), INTERFACE, Hid("0003", "r", ""), Hid("0003", "m", "2")},
         DeviceStrings{u"厂商", u"接收器", u"2"}},
        // No HID_UNIQ (hidapi lists no such device), a HID_ID cut short.
        {{PCI, {"hid", {{"uevent", "HID_ID=0003:00003C5B:0000B207\nHID_NAME=x\n"}}}}, std::nullopt},
        {{PCI, {"hid", {{"uevent", "HID_ID=0003:00003C5B\nHID_NAME=x\nHID_UNIQ=\n"}}}},
         std::nullopt},
    };
    const fs::path sysfs = fs::temp_directory_path() / ("kx-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(sysfs);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        Lay(sysfs, "hidraw" + std::to_string(i), rows[i].chain);
    }
    for (const char* locale : {"C", "C.UTF-8", "POSIX", "en_US.ISO-8859-1", "zh_CN.GB18030"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) {
            continue;  // not installed here
        }
        const std::string set = std::setlocale(LC_ALL, nullptr);
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE("row " + std::to_string(i) + " in locale " + set);
            EXPECT_EQ(ReadDeviceStrings("/dev/hidraw" + std::to_string(i), sysfs.string()),
                      rows[i].strings);
            EXPECT_EQ(std::setlocale(LC_ALL, nullptr), set) << "the read changed it";
        }
    }
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(HidDeviceOf("/dev/hidraw0", sysfs.string()), "0003:3C5B:B207.0001");
    EXPECT_EQ(UsbPortOf("/dev/hidraw0", sysfs.string()), "1-1");
    EXPECT_EQ(UsbPortOf("/dev/hidraw4", sysfs.string()), "") << "uhid";
    EXPECT_EQ(HidDeviceOf("/dev/hidraw99", sysfs.string()), "") << "gone";
    EXPECT_EQ(ReadDeviceStrings("/dev/hidraw99", sysfs.string()), std::nullopt) << "gone";
    EXPECT_EQ(ReadDeviceStrings("/dev/ttyS0", sysfs.string()), std::nullopt);
    fs::remove_all(sysfs);
}

}  // namespace
}  // namespace kx::hid
