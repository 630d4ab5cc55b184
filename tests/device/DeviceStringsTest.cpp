// A hidraw node's strings read from a sysfs tree laid out as the kernel's (a folder per
// device, the node's "device" link, uevent files), under every locale the machine has: the
// result must not change with it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "device/DeviceStrings.h"

namespace kx::hid {
namespace {

namespace fs = std::filesystem;

struct Folder {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files;
};

Folder Usb(const std::string& manufacturer, const std::string& product) {
    return {"1-1",
            {{"uevent", "MAJOR=189\nDEVTYPE=usb_device\nPRODUCT=3c5b/b207/100\n"},
             {"manufacturer", manufacturer + "\n"},
             {"product", product + "\n"}}};
}
const Folder PCI{"pci0000:00", {{"uevent", "DRIVER=pcieport\n"}}};
const Folder INTERFACE{"1-1:1.0", {{"uevent", "DEVTYPE=usb_interface\nDRIVER=usbhid\n"}}};

Folder Hid(const char* bus, const std::string& name, const std::string& uniq) {
    return {std::string(bus) + ":3C5B:B207.0001",
            {{"uevent", "DRIVER=hid-generic\nHID_ID=" + std::string(bus) +
                            ":00003C5B:0000B207\nHID_NAME=" + name +
                            "\nHID_PHYS=usb-0000:00:14.0-1/input0\nHID_UNIQ=" + uniq + "\n"}}};
}

// Fifteen Chinese characters: the 30 bytes a chip's text holds in CP936.
const std::string LONGEST = "一二三四五六七八九十甲乙丙丁戊";
const std::u16string LONGEST16 = u"一二三四五六七八九十甲乙丙丁戊";

class SysfsTree {
  public:
    SysfsTree() : root_(fs::temp_directory_path() / ("kx-sysfs-" + std::to_string(::getpid()))) {
        fs::remove_all(root_);
    }
    ~SysfsTree() { fs::remove_all(root_); }
    std::string root() const { return root_.string(); }

    // The folders from the top down to the HID device, and the node below it.
    void add(const std::string& node, const std::vector<Folder>& chain) {
        fs::path dir = root_ / "devices" / ("platform-" + node);  // no uevent: the walk ends here
        for (const Folder& folder : chain) {
            dir /= folder.name;
            fs::create_directories(dir);
            for (const auto& [file, text] : folder.files) {
                std::ofstream(dir / file, std::ios::binary) << text;
            }
        }
        const fs::path hidraw = dir / "hidraw" / node;
        fs::create_directories(hidraw);
        fs::create_symlink("../..", hidraw / "device");
        fs::create_directories(root_ / "class" / "hidraw");
        fs::create_symlink(hidraw, root_ / "class" / "hidraw" / node);
    }

  private:
    fs::path root_;
};

TEST(DeviceStrings, AsTheKernelHoldsThemUnderEveryLocale) {
    const struct {
        const char* what;
        std::vector<Folder> chain;
        std::optional<DeviceStrings> strings;
    } rows[] = {
        {"Chinese on the USB bus",
         {PCI, Usb("厂商", "第二次"), INTERFACE, Hid("0003", "厂商 第二次", "USB-B1")},
         DeviceStrings{u"厂商", u"第二次", u"USB-B1"}},
        {"mixed",
         {PCI, Usb("KX 芯片 Ltd", "USB 转串口"), INTERFACE, Hid("0003", "x", "序列-01")},
         DeviceStrings{u"KX 芯片 Ltd", u"USB 转串口", u"序列-01"}},
        {"30 bytes each",
         {PCI, Usb(LONGEST, LONGEST), INTERFACE, Hid("0003", "x", LONGEST)},
         DeviceStrings{LONGEST16, LONGEST16, LONGEST16}},
        {"bytes that are not UTF-8: a stray byte, a cut and an overlong sequence",
         {PCI, Usb("A\xFF-B", "\xE8\xBD"), INTERFACE, Hid("0003", "x", "S\xC0\xAF")},
         DeviceStrings{u"A\uFFFD-B", u"\uFFFD\uFFFD", u"S\uFFFD\uFFFD"}},
        {"a USB device without strings",
         {PCI, {"1-1", {{"uevent", "DEVTYPE=usb_device\n"}}}, INTERFACE, Hid("0003", "x", "")},
         DeviceStrings{}},
        {"uhid: no USB parent, the HID name as the product",
         {{"virtual", {}},
          {"misc", {}},
          {"uhid", {{"uevent", "DEVNAME=uhid\n"}}},
          Hid("0003", "转换器", "12345678")},
         DeviceStrings{u"", u"转换器", u"12345678"}},
        {"Bluetooth behind a USB dongle: the dongle's strings are not the device's",
         {PCI, Usb("Dongle", "BT"), INTERFACE, Hid("0005", "键盘", "aa:bb")},
         DeviceStrings{u"", u"键盘", u"aa:bb"}},
        {"a receiver's paired device, three levels below the USB device",
         {PCI, Usb("厂商", "接收器"), INTERFACE, Hid("0003", "r", ""), Hid("0003", "m", "2")},
         DeviceStrings{u"厂商", u"接收器", u"2"}},
        {"no HID_UNIQ: hidapi lists no such device",
         {PCI, {"hid", {{"uevent", "HID_ID=0003:00003C5B:0000B207\nHID_NAME=x\n"}}}},
         std::nullopt},
        {"a HID_ID cut short",
         {PCI, {"hid", {{"uevent", "HID_ID=0003:00003C5B\nHID_NAME=x\nHID_UNIQ=\n"}}}},
         std::nullopt},
    };
    SysfsTree sysfs;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        sysfs.add("hidraw" + std::to_string(i), rows[i].chain);
    }
    std::vector<std::string> tried;
    for (const char* locale : {"C", "C.UTF-8", "POSIX", "en_US.ISO-8859-1", "zh_CN.GB18030"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) {
            continue;  // not installed here
        }
        tried.emplace_back(std::setlocale(LC_ALL, nullptr));
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(std::string(rows[i].what) + " in locale " + locale);
            const auto read = ReadDeviceStrings("/dev/hidraw" + std::to_string(i), sysfs.root());
            EXPECT_EQ(read, rows[i].strings);
            EXPECT_EQ(std::setlocale(LC_ALL, nullptr), tried.back()) << "the read changed it";
        }
    }
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(tried.front(), "C");
    EXPECT_EQ(ReadDeviceStrings("/dev/hidraw99", sysfs.root()), std::nullopt) << "gone";
    EXPECT_EQ(ReadDeviceStrings("/dev/ttyS0", sysfs.root()), std::nullopt);
}

}  // namespace
}  // namespace kx::hid
