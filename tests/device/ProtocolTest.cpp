// Frame encoding and total decoding of the chip protocol, the virtual chip's reactions to
// transfers the library itself never sends, and report descriptor parsing.

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

// A heap block of exactly the bytes given, so that a read past the end is a read past the
// allocation (caught under the sanitizer build).
std::unique_ptr<std::uint8_t[]> Exact(const Bytes& b) {
    auto p = std::make_unique<std::uint8_t[]>(b.size());
    std::copy(b.begin(), b.end(), p.get());
    return p;
}

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

    const std::string check = "123456789";
    EXPECT_EQ(Crc16(Bytes(check.begin(), check.end())), 0x29B1);
    // The commit checksum covers the header: another VID gives another CRC.
    EXPECT_NE(IdentityCrc({1, 2, 50, 1, 1, 1}, Bytes(3)),
              IdentityCrc({2, 2, 50, 1, 1, 1}, Bytes(3)));

    const struct {
        IdentityHeader h;
        bool valid;
    } headers[] = {{{1, 2, 50, 1, 1, 1}, true},  {{1, 2, 250, 30, 30, 30}, true},
                   {{1, 2, 50, 0, 1, 1}, false}, {{1, 2, 50, 1, 31, 1}, false},
                   {{1, 2, 0, 1, 1, 1}, false},  {{1, 2, 251, 1, 1, 1}, false}};
    for (const auto& r : headers) {
        EXPECT_EQ(IsValidIdentityHeader(r.h), r.valid)
            << int(r.h.maxPower) << " " << int(r.h.productLength);
    }
}

TEST(Protocol, HostileRepliesAreErrorsNotReads) {
    Frame full = EncodeReply(0x01, 5, Status::Ok);
    auto with = [&](std::size_t i, std::uint8_t v) {
        Bytes b(full.begin(), full.end());
        b[i] = v;
        return b;
    };
    Bytes oversized(full.begin(), full.end());
    oversized.resize(65);
    const struct {
        const char* name;
        Bytes bytes;
        ReplyError error;
    } rows[] = {
        {"empty", {}, ReplyError::Short},
        {"header cut", {0x4B, 0x81, 5, 0}, ReplyError::Short},
        {"over 64 bytes", oversized, ReplyError::Oversized},
        {"wrong report id", with(0, 0x4C), ReplyError::WrongReportId},
        {"report id zero", with(0, 0x00), ReplyError::WrongReportId},
        {"request echoed back", with(1, 0x01), ReplyError::NotAReply},
        {"length 60", with(4, 60), ReplyError::BadLength},
        {"length beyond received", {0x4B, 0x81, 5, 0, 3, 0xAA, 0xBB}, ReplyError::BadLength},
        {"unknown status", with(3, 0x08), ReplyError::UnknownStatus}};
    for (const auto& r : rows) {
        EXPECT_EQ(DecodeReply(Exact(r.bytes).get(), r.bytes.size()).error, r.error) << r.name;
    }
    EXPECT_EQ(DecodeReply(nullptr, 64).error, ReplyError::Short);
}

TEST(Protocol, BrokenIdentityTransfersChangeNothingOnTheChip) {
    bench::VirtualChip chip{bench::ChipIdentity{}};
    std::uint8_t seq = 1;
    const auto send = [&](const Frame& f) {
        EXPECT_TRUE(chip.receive(f.data(), f.size()));
        Frame out{};
        const int n = chip.reply(out.data(), out.size());
        return DecodeReply(out.data(), static_cast<std::size_t>(n)).reply.status;
    };
    const IdentityHeader header{0x1111, 0x2222, 50, 2, 2, 2};
    const Bytes data{'m', 'm', 'p', 'p', 's', 's'};
    const auto begin = [&] { return send(EncodeCfgBegin(seq++, header)); };
    const auto chunk = [&](std::uint8_t at, const Bytes& b) {
        return send(*EncodeCfgData(seq++, at, b));
    };
    const auto commit = [&](int flip = 0) {
        return send(
            EncodeCfgCommit(seq++, static_cast<std::uint16_t>(IdentityCrc(header, data) ^ flip)));
    };
    EXPECT_EQ(commit(), Status::BadState) << "without a begin";
    ASSERT_EQ(begin(), Status::Ok);
    ASSERT_EQ(chunk(0, {'m', 'm'}), Status::Ok);
    EXPECT_EQ(commit(), Status::BadState) << "before all data arrived";
    ASSERT_EQ(begin(), Status::Ok);
    EXPECT_EQ(chunk(2, {'p', 'p', 's', 's'}), Status::BadState) << "out of order";
    EXPECT_EQ(chunk(0, data), Status::BadState) << "the transfer is abandoned for good";
    ASSERT_EQ(begin(), Status::Ok);
    EXPECT_EQ(chunk(0, Bytes(7, 'x')), Status::BadLength);
    ASSERT_EQ(begin(), Status::Ok);
    ASSERT_EQ(chunk(0, data), Status::Ok);
    EXPECT_EQ(commit(1), Status::BadChecksum);
    EXPECT_EQ(commit(), Status::BadState) << "a wrong checksum ends the transfer";
    EXPECT_EQ(send(EncodeCfgBegin(seq++, {1, 2, 50, 0, 2, 2})), Status::BadValue);
    ASSERT_EQ(begin(), Status::Ok);
    ASSERT_EQ(chunk(0, data), Status::Ok);
    chip.powerCycle();
    EXPECT_EQ(commit(), Status::BadState) << "power lost before the commit";
    EXPECT_EQ(chip.identity(), bench::ChipIdentity{});
}

}  // namespace
}  // namespace kx::protocol

namespace kx::hid {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Lengths include the report id byte, as Windows counts them: the chip's reports carry ids,
// the boot keyboard's (8 input bytes, 5 LEDs and padding out) do not.
TEST(ReportDescriptor, LengthsOfWellFormedAndRejectionOfMalformedDescriptors) {
    const auto vendor = ParseReportLengths(uhid::ChipReportDescriptor());
    const auto keyboard = ParseReportLengths(uhid::KeyboardReportDescriptor());
    ASSERT_TRUE(vendor && keyboard);
    EXPECT_EQ(std::vector({vendor->input, vendor->output, keyboard->input, keyboard->output}),
              std::vector<decltype(vendor->input)>({65, 65, 9, 2}));
    // A well-formed long item is skipped.
    const Bytes withLong = {0xFE, 2, 0x01, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02};
    EXPECT_EQ(ParseReportLengths(withLong)->input, 3);

    const Bytes malformed[] = {
        {0x06, 0x47},
        {0x97, 1, 2},
        {0xFE, 10, 0x01, 1, 2},
        {0xFE, 1},
        {0xB4},
        {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}};
    for (const Bytes& b : malformed) {
        EXPECT_FALSE(ParseReportLengths(std::span(protocol::Exact(b).get(), b.size())).has_value())
            << b.size() << " bytes";
    }
}

}  // namespace
}  // namespace kx::hid
