#include "device/hotplug/UeventTranslation.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace kx::hotplug {
namespace {

TEST(TranslateUevent, OnlyHidrawAddAndRemoveBecomeNotifications) {
    const struct {
        Uevent in;
        std::optional<std::uint32_t> event;
        const char* name;
    } cases[] = {
        {{"add", "hidraw", "/dev/hidraw0", "hidraw0"}, DBT_DEVICEARRIVAL, "/dev/hidraw0"},
        {{"remove", "hidraw", "/dev/hidraw0", "hidraw0"}, DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw0"},
        {{"add", "hidraw", "", "hidraw7"}, DBT_DEVICEARRIVAL, "hidraw7"},
        {{"remove", "hidraw", "", "hidraw7"}, DBT_DEVICEREMOVECOMPLETE, "hidraw7"},
        {{"change", "hidraw", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"bind", "hidraw", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"unbind", "hidraw", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"move", "hidraw", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"add", "hid", "", "0003:3C5B:B207.0007"}, std::nullopt, nullptr},
        {{"add", "usb", "/dev/bus/usb/001/009", "1-2"}, std::nullopt, nullptr},
        {{"remove", "input", "/dev/input/event5", "event5"}, std::nullopt, nullptr},
        {{"ADD", "hidraw", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"add", "HIDRAW", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"", "hidraw", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"add", "", "/dev/hidraw0", "hidraw0"}, std::nullopt, nullptr},
        {{"add", "hidraw", "", ""}, std::nullopt, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.action + " " + c.in.subsystem + " " + c.in.devnode);
        const auto out = TranslateUevent(c.in);
        ASSERT_EQ(out.has_value(), c.event.has_value());
        if (out) {
            EXPECT_EQ(out->event, *c.event);
            EXPECT_EQ(out->record.name(), c.name);
            EXPECT_EQ(out->record.get()->dbcc_classguid, HID_CLASS_GUID);
        }
    }
}

TEST(DeviceInterfaceRecord, KeepsTheWindowsHeaderLayout) {
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_size) == 0);
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_devicetype) == 4);
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_reserved) == 8);
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_classguid) == 12);
    static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) == 28);

    const DeviceInterfaceRecord record(HID_CLASS_GUID, "/dev/hidraw12");
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.get());
    // As a window sees it: the common header first.
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record.get());
    EXPECT_EQ(header->dbch_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_EQ(header->dbch_reserved, 0u);
    // {4D1E55B2-F16F-11CF-88CB-001111000030} in memory order.
    const unsigned char guid[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                    0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    EXPECT_EQ(std::memcmp(bytes + 12, guid, sizeof guid), 0);
    EXPECT_EQ(std::memcmp(bytes + 28, "/dev/hidraw12", 14), 0);  // with its terminator
    EXPECT_EQ(header->dbch_size, 28u + 13u + 1u);
}

TEST(DeviceInterfaceRecord, SizeIsNeverBelowTheHeader) {
    // The header's own size already has room for a three-byte name and its terminator.
    const struct {
        std::string_view name;
        std::uint32_t size;
    } cases[] = {{"", 32}, {"a", 32}, {"abc", 32}, {"abcd", 33}, {"hidraw", 35}};
    for (const auto& c : cases) {
        const DeviceInterfaceRecord record(HID_CLASS_GUID, c.name);
        EXPECT_EQ(record.get()->dbcc_size, c.size) << c.name;
        EXPECT_EQ(record.name(), c.name);
    }
}

}  // namespace
}  // namespace kx::hotplug
