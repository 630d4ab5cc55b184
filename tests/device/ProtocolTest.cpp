// Frame encoding and total decoding of the chip protocol, host and chip side, and the
// virtual chip's reactions to requests the library itself never sends.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/Protocol.h"
#include "device/ReportDescriptor.h"
#include "device/VirtualChip.h"
#include "device/uhid/UhidDevice.h"

namespace kx::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Copies into a heap block of exactly the given size, so that a read past the end is a
// read past the allocation (caught under the sanitizer build).
std::unique_ptr<std::uint8_t[]> Exact(const Bytes& b) {
    auto p = std::make_unique<std::uint8_t[]>(b.size());
    std::copy(b.begin(), b.end(), p.get());
    return p;
}

ReplyResult Decode(const Bytes& b) {
    return DecodeReply(Exact(b).get(), b.size());
}

Bytes Prefix(const Frame& f, std::size_t n) {
    return Bytes(f.begin(), f.begin() + n);
}

// ---- Encoding ---------------------------------------------------------------------------

TEST(ProtocolEncode, RequestsHaveTheDocumentedLayoutAndZeroPadding) {
    const IdentityHeader header{0x3C5B, 0xB207, 50, 8, 13, 8};
    const struct {
        const char* name;
        Frame frame;
        Bytes head;
    } rows[] = {
        {"identify", EncodeIdentify(7), {0x4B, 0x01, 7, 0}},
        {"set default rate",
         EncodeSetDefaultRate(8, {13, 2, 2, 3, 0x30}),
         {0x4B, 0x02, 8, 5, 13, 2, 2, 3, 0x30}},
        {"cfg begin",
         EncodeCfgBegin(9, header),
         {0x4B, 0x10, 9, 8, 0x5B, 0x3C, 0x07, 0xB2, 50, 8, 13, 8}},
        {"cfg data", *EncodeCfgData(10, 59, Bytes{'a', 'b'}), {0x4B, 0x11, 10, 3, 59, 'a', 'b'}},
        {"cfg commit", EncodeCfgCommit(11, 0xBEEF), {0x4B, 0x12, 11, 2, 0xEF, 0xBE}},
        {"factory reset", EncodeFactoryReset(12), {0x4B, 0x20, 12, 0}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Prefix(r.frame, r.head.size()), r.head) << r.name;
        for (std::size_t i = r.head.size(); i < REPORT_SIZE; ++i) {
            ASSERT_EQ(r.frame[i], 0) << r.name << " byte " << i;
        }
    }
}

TEST(ProtocolEncode, OversizedPayloadsAreRefused) {
    EXPECT_TRUE(EncodeRequest(Command::CfgData, 1, Bytes(60, 1)).has_value());
    EXPECT_FALSE(EncodeRequest(Command::CfgData, 1, Bytes(61, 1)).has_value());
    EXPECT_TRUE(EncodeCfgData(1, 0, Bytes(59, 1)).has_value());
    EXPECT_FALSE(EncodeCfgData(1, 0, Bytes(60, 1)).has_value());
}

TEST(ProtocolEncode, Crc16IsCcittFalse) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16(Bytes(check.begin(), check.end())), 0x29B1);
    EXPECT_EQ(Crc16({}), 0xFFFF);
    // The commit checksum covers the header: another VID gives another CRC.
    const Bytes data(29, 'x');
    EXPECT_NE(IdentityCrc({1, 2, 50, 10, 10, 9}, data), IdentityCrc({2, 2, 50, 10, 10, 9}, data));
}

TEST(ProtocolEncode, IdentityHeaderValidation) {
    const struct {
        IdentityHeader h;
        bool valid;
    } rows[] = {
        {{1, 2, 50, 1, 1, 1}, true},   {{1, 2, 50, 30, 30, 30}, true}, {{1, 2, 50, 0, 1, 1}, false},
        {{1, 2, 50, 1, 31, 1}, false}, {{1, 2, 50, 1, 1, 255}, false}, {{1, 2, 0, 1, 1, 1}, false},
        {{1, 2, 251, 1, 1, 1}, false}, {{1, 2, 250, 1, 1, 1}, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(IsValidIdentityHeader(r.h), r.valid)
            << int(r.h.maxPower) << " " << int(r.h.manufacturerLength) << " "
            << int(r.h.productLength) << " " << int(r.h.serialLength);
    }
}

// ---- Reply decoding ---------------------------------------------------------------------

TEST(ProtocolDecodeReply, HostileRepliesAreErrorsNotReads) {
    Frame full = EncodeReply(0x01, 5, Status::Ok);
    const Bytes ok(full.begin(), full.end());
    auto with = [&](std::size_t i, std::uint8_t v) {
        Bytes b = ok;
        b[i] = v;
        return b;
    };
    Bytes oversized = ok;
    oversized.resize(65);
    const struct {
        const char* name;
        Bytes bytes;
        ReplyError error;
    } rows[] = {
        {"empty", {}, ReplyError::Short},
        {"report id only", {0x4B}, ReplyError::Short},
        {"header cut", {0x4B, 0x81, 5, 0}, ReplyError::Short},
        {"over 64 bytes", oversized, ReplyError::Oversized},
        {"wrong report id", with(0, 0x4C), ReplyError::WrongReportId},
        {"report id zero", with(0, 0x00), ReplyError::WrongReportId},
        {"request echoed back", with(1, 0x01), ReplyError::NotAReply},
        {"length 60", with(4, 60), ReplyError::BadLength},
        {"length 255", with(4, 255), ReplyError::BadLength},
        {"length beyond received", {0x4B, 0x81, 5, 0, 3, 0xAA, 0xBB}, ReplyError::BadLength},
        {"unknown status", with(3, 0x08), ReplyError::UnknownStatus},
        {"status 0xFF", with(3, 0xFF), ReplyError::UnknownStatus},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Decode(r.bytes).error, r.error) << r.name;
    }
    EXPECT_EQ(DecodeReply(nullptr, 64).error, ReplyError::Short);
}

TEST(ProtocolDecodeReply, IdentifyNeedsMagicOkStatusAndEightBytes) {
    const Frame good = EncodeIdentifyReply(3, {CHIP_FAMILY, 0x0123});
    const auto info = DecodeIdentify(Decode(Bytes(good.begin(), good.end())).reply);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->family, 0x4701);
    EXPECT_EQ(info->firmware, 0x0123);

    const Bytes magic{'K', 'X', 'C', 'H', 0x01, 0x47, 0, 1};
    const struct {
        const char* name;
        Frame frame;
    } rows[] = {
        {"wrong magic", EncodeReply(0x01, 3, Status::Ok, Bytes{'K', 'X', 'C', 'X', 1, 0x47, 0, 1})},
        {"seven bytes", EncodeReply(0x01, 3, Status::Ok, std::span(magic).first(7))},
        {"refused", EncodeReply(0x01, 3, Status::Refused, magic)},
        {"answer to another command", EncodeReply(0x02, 3, Status::Ok, magic)},
    };
    for (const auto& r : rows) {
        const ReplyResult decoded = Decode(Bytes(r.frame.begin(), r.frame.end()));
        ASSERT_TRUE(decoded.ok()) << r.name;
        EXPECT_FALSE(DecodeIdentify(decoded.reply).has_value()) << r.name;
    }
}

// ---- The virtual chip -------------------------------------------------------------------

class ChipTest : public ::testing::Test {
  protected:
    // Sends a request and returns the chip's final reply.
    Reply send(const Frame& f) { return send(Bytes(f.begin(), f.end())); }
    Reply send(const Bytes& b) {
        EXPECT_TRUE(chip.receive(b.data(), b.size()));
        Frame out{};
        const int n = chip.reply(out.data(), out.size());
        const ReplyResult r = DecodeReply(out.data(), static_cast<std::size_t>(n));
        EXPECT_TRUE(r.ok());
        return r.reply;
    }
    Status beginAndSend(const IdentityHeader& h, const Bytes& texts) {
        if (Reply r = send(EncodeCfgBegin(seq++, h)); r.status != Status::Ok) {
            return r.status;
        }
        return send(*EncodeCfgData(seq++, 0, texts)).status;
    }

    bench::VirtualChip chip{bench::ChipIdentity{}};
    std::uint8_t seq = 1;
    const IdentityHeader header{0x1111, 0x2222, 50, 2, 2, 2};
    const Bytes data{'m', 'm', 'p', 'p', 's', 's'};
};

TEST_F(ChipTest, BrokenIdentityTransfersChangeNothing) {
    const auto commit = [&](std::uint16_t crc) { return send(EncodeCfgCommit(seq++, crc)).status; };
    const std::uint16_t crc = IdentityCrc(header, data);
    // Commit without a begin.
    EXPECT_EQ(commit(crc), Status::BadState);
    // Commit before all data arrived.
    ASSERT_EQ(send(EncodeCfgBegin(seq++, header)).status, Status::Ok);
    ASSERT_EQ(send(*EncodeCfgData(seq++, 0, Bytes{'m', 'm'})).status, Status::Ok);
    EXPECT_EQ(commit(crc), Status::BadState);
    // A chunk out of order abandons the transfer for good.
    ASSERT_EQ(send(EncodeCfgBegin(seq++, header)).status, Status::Ok);
    EXPECT_EQ(send(*EncodeCfgData(seq++, 2, Bytes{'p', 'p', 's', 's'})).status, Status::BadState);
    EXPECT_EQ(send(*EncodeCfgData(seq++, 0, data)).status, Status::BadState);
    EXPECT_EQ(commit(crc), Status::BadState);
    // More data than announced.
    ASSERT_EQ(send(EncodeCfgBegin(seq++, header)).status, Status::Ok);
    EXPECT_EQ(send(*EncodeCfgData(seq++, 0, Bytes(7, 'x'))).status, Status::BadLength);
    // A checksum that does not match, then a correct one: the transfer is gone.
    ASSERT_EQ(beginAndSend(header, data), Status::Ok);
    EXPECT_EQ(commit(static_cast<std::uint16_t>(crc ^ 1)), Status::BadChecksum);
    EXPECT_EQ(commit(crc), Status::BadState);
    // Invalid header.
    EXPECT_EQ(send(EncodeCfgBegin(seq++, {1, 2, 50, 0, 2, 2})).status, Status::BadValue);
    // Power lost between data and commit.
    ASSERT_EQ(beginAndSend(header, data), Status::Ok);
    chip.powerCycle();
    EXPECT_EQ(commit(crc), Status::BadState);

    EXPECT_EQ(chip.identity(), bench::ChipIdentity{});
}

}  // namespace
}  // namespace kx::protocol

// ---- Report descriptors -----------------------------------------------------------------

namespace kx::hid {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The emulated chip's descriptor (64-byte input and output reports and the 0x4B feature
// report, all with report ids) and a boot keyboard without report ids (8 input bytes, 1
// output byte: 5 LEDs and padding).
const Bytes VENDOR = uhid::ChipReportDescriptor();
const Bytes KEYBOARD = uhid::KeyboardReportDescriptor();

TEST(ReportDescriptor, LengthsIncludeTheReportIdByteAsWindowsCountsThem) {
    const auto vendor = ParseReportLengths(VENDOR);
    ASSERT_TRUE(vendor.has_value());
    EXPECT_EQ(vendor->input, 65);
    EXPECT_EQ(vendor->output, 65);
    const auto keyboard = ParseReportLengths(KEYBOARD);
    ASSERT_TRUE(keyboard.has_value());
    EXPECT_EQ(keyboard->input, 9);
    EXPECT_EQ(keyboard->output, 2);
}

TEST(ReportDescriptor, MalformedDescriptorsAreRejectedWithoutOverreading) {
    const struct {
        const char* name;
        Bytes bytes;
    } rows[] = {
        {"item data cut", {0x06, 0x47}},
        {"four-byte item cut", {0x97, 1, 2}},
        {"long item cut", {0xFE, 10, 0x01, 1, 2}},
        {"long item header cut", {0xFE, 1}},
        {"pop without push", {0xB4}},
        {"absurd report", {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}},
    };
    for (const auto& r : rows) {
        auto exact = std::make_unique<std::uint8_t[]>(r.bytes.size());
        std::copy(r.bytes.begin(), r.bytes.end(), exact.get());
        EXPECT_FALSE(ParseReportLengths(std::span(exact.get(), r.bytes.size())).has_value())
            << r.name;
    }
    // A well-formed long item is skipped.
    const Bytes withLong = {0xFE, 2, 0x01, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02};
    EXPECT_EQ(ParseReportLengths(withLong)->input, 3);
}

}  // namespace
}  // namespace kx::hid
