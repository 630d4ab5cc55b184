// The bench's device lookup. Its notifications are exercised by every dialog test that plugs
// a device.

#include <gtest/gtest.h>

#include <vector>

#include "device/VirtualBench.h"

namespace kx::bench {
namespace {

// Probe and open find devices by exact path; the lookup must follow every plug, unplug,
// replug and reuse of a path by another device.
TEST(VirtualBench, PathLookupFollowsPlugsUnplugsAndReusedPaths) {
    VirtualBench bench;
    for (int i = 0; i < 64; ++i) {
        EXPECT_TRUE(bench.canOpenReadWrite(bench.device(bench.plugChip())->path.c_str()));
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
    ASSERT_TRUE(bench.unplug(second) && bench.replug(first));
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
