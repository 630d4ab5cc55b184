#pragma once
// The KX4701 chip protocol over HID feature reports, both sides: what the host library
// sends and reads back, and what the chip parses and answers. Pure functions over byte
// buffers; docs/protocol.md describes the same layout byte by byte.
//
// Every decoder is total: it reads only the bytes it is given and reports malformed input
// as an error value, never by reading past the end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "config/IdentityRules.h"
#include "config/SerialDefaults.h"

namespace kx::protocol {

inline constexpr std::uint8_t REPORT_ID = 0x4B;
inline constexpr std::size_t REPORT_SIZE = 64;  // report id included
inline constexpr std::size_t REQUEST_HEADER_SIZE = 4;
inline constexpr std::size_t REPLY_HEADER_SIZE = 5;
inline constexpr std::size_t MAX_REQUEST_PAYLOAD = REPORT_SIZE - REQUEST_HEADER_SIZE;  // 60
inline constexpr std::size_t MAX_REPLY_PAYLOAD = REPORT_SIZE - REPLY_HEADER_SIZE;      // 59
inline constexpr std::uint8_t REPLY_FLAG = 0x80;

// The top-level collection the chip declares; only devices on this page are spoken to.
inline constexpr std::uint16_t VENDOR_USAGE_PAGE = 0xFF47;
inline constexpr std::uint16_t VENDOR_USAGE = 0x0001;

inline constexpr std::array<std::uint8_t, 4> IDENTIFY_MAGIC = {'K', 'X', 'C', 'H'};
inline constexpr std::uint16_t CHIP_FAMILY = 0x4701;

inline constexpr std::size_t MAX_CFG_CHUNK = MAX_REQUEST_PAYLOAD - 1;  // after the offset
inline constexpr std::uint8_t MAX_POWER_LIMIT = 250;                   // 500 mA in 2 mA units

using Frame = std::array<std::uint8_t, REPORT_SIZE>;

enum class Command : std::uint8_t {
    Identify = 0x01,
    SetDefaultRate = 0x02,
    GetDefaultRate = 0x03,
    CfgBegin = 0x10,
    CfgData = 0x11,
    CfgCommit = 0x12,
    CfgRead = 0x13,
    FactoryReset = 0x20,
};

enum class Status : std::uint8_t {
    Ok = 0x00,
    Busy = 0x01,  // not final: the host polls again
    BadCommand = 0x02,
    BadLength = 0x03,
    BadState = 0x04,
    BadChecksum = 0x05,
    Refused = 0x06,
    BadValue = 0x07,
};

[[nodiscard]] bool IsKnownCommand(std::uint8_t cmd);
[[nodiscard]] bool IsKnownStatus(std::uint8_t status);

// ---- Host side --------------------------------------------------------------------------

// A request frame, zero-padded to REPORT_SIZE; nullopt when the payload exceeds 60 bytes.
[[nodiscard]] std::optional<Frame> EncodeRequest(Command cmd, std::uint8_t seq,
                                                 std::span<const std::uint8_t> payload = {});

enum class ReplyError {
    None,
    Short,      // fewer bytes than the reply header
    Oversized,  // more bytes than a report holds
    WrongReportId,
    NotAReply,  // the reply flag is missing
    BadLength,  // length field beyond 59 or beyond the bytes received
    UnknownStatus,
};

// A decoded reply. `payload` is a copy, so it never refers to the caller's buffer.
struct Reply {
    std::uint8_t cmd = 0;  // without the reply flag
    std::uint8_t seq = 0;
    Status status = Status::Ok;
    std::uint8_t length = 0;
    std::array<std::uint8_t, MAX_REPLY_PAYLOAD> payload{};

    std::span<const std::uint8_t> data() const { return {payload.data(), length}; }
    bool answers(Command c, std::uint8_t s) const {
        return cmd == static_cast<std::uint8_t>(c) && seq == s;
    }
};

struct ReplyResult {
    ReplyError error = ReplyError::None;
    Reply reply;
    bool ok() const { return error == ReplyError::None; }
};

[[nodiscard]] ReplyResult DecodeReply(const std::uint8_t* data, std::size_t length);

struct ChipInfo {
    std::uint16_t family = 0;
    std::uint16_t firmware = 0;
};

// The chip's answer to IDENTIFY, if the reply is an OK IDENTIFY reply with the magic.
// A different family is still returned; the caller decides what it accepts.
[[nodiscard]] std::optional<ChipInfo> DecodeIdentify(const Reply& reply);

// What CFG_BEGIN announces: the fixed identity fields and the three text lengths.
struct IdentityHeader {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint8_t maxPower = 0;  // bMaxPower, units of 2 mA
    std::uint8_t manufacturerLength = 0, productLength = 0, serialLength = 0;

    std::size_t dataLength() const {
        return std::size_t{manufacturerLength} + productLength + serialLength;
    }
};
inline constexpr std::size_t IDENTITY_HEADER_SIZE = 8;

[[nodiscard]] std::array<std::uint8_t, IDENTITY_HEADER_SIZE> EncodeIdentityHeader(
    const IdentityHeader& h);
[[nodiscard]] std::optional<IdentityHeader> DecodeIdentityHeader(
    std::span<const std::uint8_t> payload);
// Lengths 1..30 each and bMaxPower 1..250: what a chip accepts.
[[nodiscard]] bool IsValidIdentityHeader(const IdentityHeader& h);

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, no reflection, no final xor).
[[nodiscard]] std::uint16_t Crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0xFFFF);
// The commit checksum: CRC over the 8 header bytes, then the concatenated texts.
[[nodiscard]] std::uint16_t IdentityCrc(const IdentityHeader& h,
                                        std::span<const std::uint8_t> data);

[[nodiscard]] Frame EncodeIdentify(std::uint8_t seq);
[[nodiscard]] Frame EncodeSetDefaultRate(std::uint8_t seq, const SerialDefaults& p);
[[nodiscard]] Frame EncodeCfgBegin(std::uint8_t seq, const IdentityHeader& h);
// `chunk` is at most MAX_CFG_CHUNK bytes (nullopt otherwise).
[[nodiscard]] std::optional<Frame> EncodeCfgData(std::uint8_t seq, std::uint8_t offset,
                                                 std::span<const std::uint8_t> chunk);
[[nodiscard]] Frame EncodeCfgCommit(std::uint8_t seq, std::uint16_t crc);
[[nodiscard]] Frame EncodeFactoryReset(std::uint8_t seq);

// Reading back what the chip stores (docs/protocol.md, GET_DEFAULT_RATE and CFG_READ).
[[nodiscard]] Frame EncodeGetDefaultRate(std::uint8_t seq);
// The five bytes of an OK GET_DEFAULT_RATE reply; nullopt for any other reply.
[[nodiscard]] std::optional<SerialDefaults> DecodeDefaultRate(const Reply& reply);

// A CFG_READ reply carries the stored identity header, the CRC of the whole stored identity
// (IdentityCrc) and up to 49 bytes of the text data from the requested offset, so that a host
// reading in several chunks can tell a torn read (the identity changed in between).
inline constexpr std::size_t CFG_READ_PREFIX = IDENTITY_HEADER_SIZE + 2;
inline constexpr std::size_t MAX_CFG_READ_CHUNK = MAX_REPLY_PAYLOAD - CFG_READ_PREFIX;  // 49

[[nodiscard]] Frame EncodeCfgRead(std::uint8_t seq, std::uint8_t offset);

struct CfgReadChunk {
    IdentityHeader header;
    std::uint16_t crc = 0;
    std::uint8_t length = 0;  // text bytes in this chunk
    std::array<std::uint8_t, MAX_CFG_READ_CHUNK> data{};

    std::span<const std::uint8_t> bytes() const { return {data.data(), length}; }
};
// An OK CFG_READ reply with at least its prefix; nullopt for any other reply. The header is
// returned as the chip sent it; the caller checks it.
[[nodiscard]] std::optional<CfgReadChunk> DecodeCfgRead(const Reply& reply);

// ---- Chip side --------------------------------------------------------------------------

enum class RequestError {
    None,
    Short,  // fewer bytes than the request header: nothing can be answered
    Oversized,
    WrongReportId,  // not ours: nothing can be answered
    BadLength,      // length field beyond 60 or beyond the bytes received
};

struct Request {
    std::uint8_t cmd = 0;
    std::uint8_t seq = 0;
    std::uint8_t length = 0;
    std::array<std::uint8_t, MAX_REQUEST_PAYLOAD> payload{};

    std::span<const std::uint8_t> data() const { return {payload.data(), length}; }
};

struct RequestResult {
    RequestError error = RequestError::None;
    Request request;  // cmd and seq are filled whenever the header could be read
    bool ok() const { return error == RequestError::None; }
};

[[nodiscard]] RequestResult DecodeRequest(const std::uint8_t* data, std::size_t length);

// A reply frame; payloads beyond 59 bytes are cut (the chip never builds one).
[[nodiscard]] Frame EncodeReply(std::uint8_t cmd, std::uint8_t seq, Status status,
                                std::span<const std::uint8_t> payload = {});
[[nodiscard]] Frame EncodeIdentifyReply(std::uint8_t seq, const ChipInfo& info);
// The chip's CFG_READ reply: `header`, `crc`, then at most 49 bytes of `chunk`.
[[nodiscard]] Frame EncodeCfgReadReply(std::uint8_t seq, const IdentityHeader& header,
                                       std::uint16_t crc, std::span<const std::uint8_t> chunk);

}  // namespace kx::protocol
