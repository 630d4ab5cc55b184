// The bench's own surface: notifications, enumeration order and counting, change
// callbacks, replugging.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/VirtualBench.h"

namespace kx::bench {
namespace {

struct Event {
    std::uint32_t code;
    std::uint32_t size, type;
    Guid guid;
};

class RecordingSink : public DeviceChangeSink {
  public:
    void deliverDeviceChange(std::uint32_t event, const void* data) override {
        Event e{event, 0, 0, {}};
        if (data != nullptr) {
            DEV_BROADCAST_DEVICEINTERFACE_A rec;
            std::memcpy(&rec, data, sizeof rec);
            e.size = rec.dbcc_size;
            e.type = rec.dbcc_devicetype;
            e.guid = rec.dbcc_classguid;
        }
        events.push_back(e);
    }
    std::vector<Event> events;
};

DEV_BROADCAST_DEVICEINTERFACE_A Filter(Guid guid = HID_CLASS_GUID) {
    DEV_BROADCAST_DEVICEINTERFACE_A f{};
    f.dbcc_size = sizeof f;
    f.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    f.dbcc_classguid = guid;
    return f;
}

TEST(VirtualBench, PlugAndUnplugNotifyRegisteredSinksSynchronously) {
    VirtualBench bench;
    RecordingSink sink;
    const auto filter = Filter();
    ASSERT_TRUE(bench.registerDeviceNotification(&sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    const int id = bench.plugChip();
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].code, DBT_DEVICEARRIVAL);
    EXPECT_EQ(sink.events[0].size, 32u);
    EXPECT_EQ(sink.events[0].type, DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_EQ(sink.events[0].guid, HID_CLASS_GUID);
    ASSERT_TRUE(bench.unplug(id));
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[1].code, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_FALSE(bench.unplug(id));
    EXPECT_EQ(sink.events.size(), 2u);

    bench.deliver(DBT_DEVNODES_CHANGED, nullptr);
    ASSERT_EQ(sink.events.size(), 3u);
    EXPECT_EQ(sink.events[2].code, DBT_DEVNODES_CHANGED);

    bench.unregister(&sink);
    bench.plugPlainHid();
    EXPECT_EQ(sink.events.size(), 3u);
}

TEST(VirtualBench, RegistrationRefusesMalformedFiltersAndOtherClassesHearNothing) {
    VirtualBench bench;
    RecordingSink sink;
    auto filter = Filter();
    filter.dbcc_devicetype = DBT_DEVTYP_VOLUME;
    EXPECT_FALSE(bench.registerDeviceNotification(&sink, &filter, 0));
    filter = Filter();
    EXPECT_FALSE(bench.registerDeviceNotification(&sink, &filter, 0x100));
    bench.setRegistrationFails(true);
    EXPECT_FALSE(bench.registerDeviceNotification(&sink, &filter, 0));
    bench.setRegistrationFails(false);
    const auto other = Filter(Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}});
    ASSERT_TRUE(bench.registerDeviceNotification(&sink, &other, 0));
    bench.plugChip();
    EXPECT_TRUE(sink.events.empty());
}

// Probe and open find devices by exact path; the lookup must follow every plug, unplug,
// replug and reuse of a path by another device.
TEST(VirtualBench, PathLookupFollowsPlugsUnplugsAndReusedPaths) {
    VirtualBench bench;
    std::vector<int> ids;
    for (int i = 0; i < 64; ++i) {
        ids.push_back(bench.plugChip());
        EXPECT_TRUE(bench.canOpenReadWrite(bench.device(ids.back())->path.c_str()));
    }
    EXPECT_FALSE(bench.canOpenReadWrite("VBENCH://KX4701/1")) << "the lookup is exact";
    EXPECT_FALSE(bench.canOpenReadWrite("vbench://kx4701/65"));

    const int first = bench.plugChip({}, "shared://path");
    ASSERT_TRUE(bench.unplug(first));
    EXPECT_FALSE(bench.canOpenReadWrite("shared://path"));
    EXPECT_EQ(bench.open("shared://path"), nullptr);
    const int second = bench.plugPlainHid("Pad", "shared://path");
    ASSERT_GT(second, 0) << "an unplugged device's path is free again";
    EXPECT_FALSE(bench.replug(first)) << "its path is taken by another device";
    ASSERT_TRUE(bench.unplug(second));
    ASSERT_TRUE(bench.replug(first));
    auto connection = bench.open("shared://path");
    ASSERT_NE(connection, nullptr);
    std::uint16_t vid = 0, pid = 0, version = 0;
    ASSERT_TRUE(connection->attributes(&vid, &pid, &version));
    EXPECT_EQ(vid, ChipIdentity{}.vid) << "the path leads to the replugged chip, not the pad";

    bench.setHeld(first, true);
    EXPECT_FALSE(bench.canOpenReadWrite("shared://path"));
    EXPECT_EQ(bench.open("shared://path"), nullptr);
}

}  // namespace
}  // namespace kx::bench
