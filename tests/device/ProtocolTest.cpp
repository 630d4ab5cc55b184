// Request encoding, the virtual chip and bench, report descriptors. Replies are decoded
// through the library, in HostileBackendTest.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/Protocol.h"
#include "device/ReportDescriptor.h"
#include "emulation/ReportDescriptors.h"
#include "emulation/VirtualBench.h"

namespace kx::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Protocol, RequestsHaveTheDocumentedLayoutAndZeroPadding) {
    const struct {
        Frame frame;
        Bytes head;
    } rows[] = {
        {EncodeSetDefaultRate(8, {13, 2, 2, 3, 0x30}), {0x4B, 0x02, 8, 5, 13, 2, 2, 3, 0x30}},
        {EncodeCfgBegin(9, {0x3C5B, 0xB207, 50, 8, 13, 8}),
         {0x4B, 0x10, 9, 8, 0x5B, 0x3C, 0x07, 0xB2, 50, 8, 13, 8}},
        {EncodeCfgData(10, 59, Bytes(59, 'a')).value_or(Frame{}), {0x4B, 0x11, 10, 60, 59, 'a'}},
        {EncodeCfgCommit(11, 0xBEEF), {0x4B, 0x12, 11, 2, 0xEF, 0xBE}}};
    for (const auto& r : rows) {
        EXPECT_EQ(Bytes(r.frame.begin(), r.frame.begin() + r.head.size()), r.head);
        const std::size_t end = r.head[3] == 60 ? 64 : r.head.size();
        EXPECT_EQ(Bytes(r.frame.begin() + end, r.frame.end()), Bytes(REPORT_SIZE - end, 0));
    }
    EXPECT_FALSE(EncodeCfgData(1, 0, Bytes(60, 1)).has_value());
    // The library maps any status it does not know alike: the decoder alone must refuse one.
    Frame reply = EncodeReply(0x01, 5, Status::Ok);
    reply[3] = 0x08;
    EXPECT_EQ(DecodeReply(reply.data(), reply.size()).error, ReplyError::UnknownStatus);

    EXPECT_EQ(Crc16(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0x29B1);
    // The commit checksum covers the header: another VID gives another CRC.
    EXPECT_NE(IdentityCrc({1, 2, 50, 1, 1, 1}, Bytes(3)),
              IdentityCrc({2, 2, 50, 1, 1, 1}, Bytes(3)));
}

TEST(Protocol, BrokenIdentityTransfersChangeNothingOnTheChip) {
    emu::VirtualChip chip{emu::ChipIdentity{}};
    std::uint8_t seq = 1;
    const auto send = [&](const Frame& f) {
        EXPECT_TRUE(chip.receive(f.data(), f.size()));
        Frame out{};
        const int n = chip.reply(out.data(), out.size());
        return DecodeReply(out.data(), static_cast<std::size_t>(n)).reply.status;
    };
    const IdentityHeader header{0x1111, 0x2222, 50, 2, 2, 2};
    const Bytes data{'m', 'm', 'p', 'p', 's', 's'};
    const std::uint16_t crc = IdentityCrc(header, data);
    const auto begin = [&] { return send(EncodeCfgBegin(seq++, header)); };
    const auto chunk = [&](std::uint8_t at, const Bytes& b) {
        return send(*EncodeCfgData(seq++, at, b));
    };
    EXPECT_EQ(send(EncodeCfgCommit(seq++, crc)), Status::BadState) << "without a begin";
    ASSERT_EQ(begin(), Status::Ok);
    EXPECT_EQ(chunk(2, {'p', 'p', 's', 's'}), Status::BadState) << "out of order";
    EXPECT_EQ(send(EncodeCfgBegin(seq++, {1, 2, 50, 0, 2, 2})), Status::BadValue);
    ASSERT_EQ(begin(), Status::Ok);
    ASSERT_EQ(chunk(0, data), Status::Ok);
    EXPECT_EQ(send(EncodeCfgCommit(seq++, static_cast<std::uint16_t>(crc ^ 1))),
              Status::BadChecksum);
    EXPECT_EQ(send(EncodeCfgCommit(seq++, crc)), Status::BadState) << "a wrong checksum ends it";
    EXPECT_EQ(chip.identity(), emu::ChipIdentity{});
}

// Probe and open find devices by path; the lookup must follow every plug, unplug, replug
// and reuse of a path by another device.
TEST(VirtualBench, PathLookupFollowsPlugsUnplugsAndReusedPaths) {
    emu::VirtualBench bench;
    const int first = bench.plugChip({}, "shared://path");
    ASSERT_TRUE(bench.unplug(first));
    EXPECT_FALSE(bench.canOpenReadWrite("shared://path"));
    const int second = bench.plugPlainHid("Pad", "shared://path");
    ASSERT_GT(second, 0) << "an unplugged device's path is free again";
    EXPECT_FALSE(bench.replug(first)) << "its path is taken by another device";
    ASSERT_TRUE(bench.unplug(second) && bench.replug(first));
    EXPECT_TRUE(bench.device(first) && bench.canOpenReadWrite("shared://path"));
    bench.setHeld(first, true);
    EXPECT_FALSE(bench.canOpenReadWrite("shared://path"));
    EXPECT_EQ(bench.open("shared://path"), nullptr);
}

// Lengths include the report id byte, as Windows counts them: the chip's reports carry ids,
// the boot keyboard's (8 input bytes, 5 LEDs and padding out) do not.
TEST(ReportDescriptor, LengthsOfWellFormedAndRejectionOfMalformedDescriptors) {
    const auto vendor = hid::ParseReportLengths(emu::ChipReportDescriptor());
    const auto keyboard = hid::ParseReportLengths(emu::KeyboardReportDescriptor());
    ASSERT_TRUE(vendor && keyboard);
    EXPECT_EQ(std::vector({vendor->input, vendor->output, keyboard->input, keyboard->output}),
              std::vector<decltype(vendor->input)>({64, 64, 9, 2}));
    // A well-formed long item is skipped.
    const Bytes withLong = {0xFE, 2, 0x01, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02};
    EXPECT_EQ(hid::ParseReportLengths(withLong)->input, 3);

    const Bytes huge = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02};
    const Bytes malformed[] = {{0x06, 0x47}, {0x97, 1, 2}, {0xFE, 10, 0x01, 1, 2},
                               {0xFE, 1},    {0xB4},       huge};
    for (const Bytes& b : malformed) {
        // Exactly the bytes given on the heap: an overread is caught by the sanitizer build.
        const auto exact = std::make_unique<std::uint8_t[]>(b.size());
        std::copy(b.begin(), b.end(), exact.get());
        EXPECT_FALSE(hid::ParseReportLengths(std::span(exact.get(), b.size()))) << b.size();
    }
}

}  // namespace
}  // namespace kx::protocol
