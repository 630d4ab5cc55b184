// A device session follows a chip that enumerates again after a write, with and without our
// extension (the maker's DLL reads only the descriptors), and only where the caller says.

#include <gtest/gtest.h>

#include "device/DeviceSession.h"
#include "emulation/BenchDevices.h"

namespace kx {
namespace {

TEST(DeviceSession, FollowsTheChipWhereTheCallerAllowsAndSaysWhatItConfirmed) {
    const struct {
        bool extension, reenumerates, anywhere;
        bool found;
        unsigned verified;
    } rows[] = {
        {true, false, false, true, ALL_IDENTITY_FIELDS},
        {true, true, true, true, ALL_IDENTITY_FIELDS},
        {false, true, true, true, REPORTED_IDENTITY_FIELDS},
        {true, true, false, false, 0},  // back at a path the caller rules out
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.extension << row.reenumerates << row.anywhere);
        emu::BenchDevices stack;
        const int chip = stack.bench().plugChip();
        stack.bench().faults(chip).reenumerates = row.reenumerates;
        const DeviceStack devices{stack.library(), stack.probe(),
                                  row.extension ? &stack.kxLibrary() : nullptr};
        std::string error;
        auto session = DeviceSession::Open(devices, stack.bench().device(chip)->path, error);
        ASSERT_TRUE(session) << error;
        StoredIdentity target = FactoryIdentity();
        target.serial = "S-1";
        ASSERT_TRUE(session->writeIdentity(target)) << session->error();
        ChipReturn how;
        how.mayBeAt = [&](const std::string&) { return row.anywhere; };
        how.wait = std::chrono::seconds(row.found ? 10 : 0);
        how.poll = std::chrono::milliseconds(1);
        IdentityReadBack back;
        ASSERT_EQ(session->followIdentity(target, how, back), row.found) << session->error();
        EXPECT_EQ(session->path(), row.found ? stack.bench().device(chip)->path
                                             : "vbench://kx4701/" + std::to_string(chip));
        if (row.found) {
            EXPECT_EQ(back.path, session->path());
            EXPECT_EQ(back.identity, target);
            EXPECT_EQ(back.verified, row.verified);
        } else {
            EXPECT_NE(session->error().find("did not come back within 0 s"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace kx
