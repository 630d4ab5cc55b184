#include "device/Protocol.h"

#include <algorithm>

namespace kx::protocol {
namespace {

void PutU16(std::uint8_t* out, std::uint16_t v) {
    out[0] = static_cast<std::uint8_t>(v & 0xFF);
    out[1] = static_cast<std::uint8_t>(v >> 8);
}

std::uint16_t GetU16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

Frame MakeRequest(Command cmd, std::uint8_t seq, std::span<const std::uint8_t> payload) {
    // Callers inside this file never pass more than the maximum.
    return *EncodeRequest(cmd, seq, payload);
}

}  // namespace

bool IsKnownCommand(std::uint8_t cmd) {
    switch (static_cast<Command>(cmd)) {
        case Command::Identify:
        case Command::SetDefaultRate:
        case Command::GetDefaultRate:
        case Command::CfgBegin:
        case Command::CfgData:
        case Command::CfgCommit:
        case Command::CfgRead:
        case Command::FactoryReset:
            return true;
    }
    return false;
}

bool IsKnownStatus(std::uint8_t status) {
    return status <= static_cast<std::uint8_t>(Status::BadValue);
}

std::optional<Frame> EncodeRequest(Command cmd, std::uint8_t seq,
                                   std::span<const std::uint8_t> payload) {
    if (payload.size() > MAX_REQUEST_PAYLOAD) {
        return std::nullopt;
    }
    Frame f{};
    f[0] = REPORT_ID;
    f[1] = static_cast<std::uint8_t>(cmd);
    f[2] = seq;
    f[3] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), f.begin() + REQUEST_HEADER_SIZE);
    return f;
}

ReplyResult DecodeReply(const std::uint8_t* data, std::size_t length) {
    ReplyResult r;
    if (data == nullptr || length < REPLY_HEADER_SIZE) {
        r.error = ReplyError::Short;
        return r;
    }
    if (length > REPORT_SIZE) {
        r.error = ReplyError::Oversized;
        return r;
    }
    if (data[0] != REPORT_ID) {
        r.error = ReplyError::WrongReportId;
        return r;
    }
    if ((data[1] & REPLY_FLAG) == 0) {
        r.error = ReplyError::NotAReply;
        return r;
    }
    r.reply.cmd = static_cast<std::uint8_t>(data[1] & ~REPLY_FLAG);
    r.reply.seq = data[2];
    const std::uint8_t len = data[4];
    if (len > MAX_REPLY_PAYLOAD || REPLY_HEADER_SIZE + len > length) {
        r.error = ReplyError::BadLength;
        return r;
    }
    if (!IsKnownStatus(data[3])) {
        r.error = ReplyError::UnknownStatus;
        return r;
    }
    r.reply.status = static_cast<Status>(data[3]);
    r.reply.length = len;
    std::copy_n(data + REPLY_HEADER_SIZE, len, r.reply.payload.begin());
    return r;
}

std::optional<ChipInfo> DecodeIdentify(const Reply& reply) {
    if (reply.cmd != static_cast<std::uint8_t>(Command::Identify) || reply.status != Status::Ok ||
        reply.length < 8) {
        return std::nullopt;
    }
    if (!std::equal(IDENTIFY_MAGIC.begin(), IDENTIFY_MAGIC.end(), reply.payload.begin())) {
        return std::nullopt;
    }
    return ChipInfo{GetU16(&reply.payload[4]), GetU16(&reply.payload[6])};
}

std::array<std::uint8_t, IDENTITY_HEADER_SIZE> EncodeIdentityHeader(const IdentityHeader& h) {
    std::array<std::uint8_t, IDENTITY_HEADER_SIZE> b{};
    PutU16(&b[0], h.vid);
    PutU16(&b[2], h.pid);
    b[4] = h.maxPower;
    b[5] = h.manufacturerLength;
    b[6] = h.productLength;
    b[7] = h.serialLength;
    return b;
}

std::optional<IdentityHeader> DecodeIdentityHeader(std::span<const std::uint8_t> payload) {
    if (payload.size() != IDENTITY_HEADER_SIZE) {
        return std::nullopt;
    }
    IdentityHeader h;
    h.vid = GetU16(&payload[0]);
    h.pid = GetU16(&payload[2]);
    h.maxPower = payload[4];
    h.manufacturerLength = payload[5];
    h.productLength = payload[6];
    h.serialLength = payload[7];
    return h;
}

bool IsValidIdentityHeader(const IdentityHeader& h) {
    auto okLength = [](std::uint8_t n) { return n >= 1 && n <= IDENTITY_STRING_MAX_BYTES; };
    return okLength(h.manufacturerLength) && okLength(h.productLength) &&
           okLength(h.serialLength) && h.maxPower >= 1 && h.maxPower <= MAX_POWER_LIMIT;
}

std::uint16_t Crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
    for (std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (b << 8));
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
        }
    }
    return crc;
}

std::uint16_t IdentityCrc(const IdentityHeader& h, std::span<const std::uint8_t> data) {
    const auto header = EncodeIdentityHeader(h);
    return Crc16(data, Crc16(header));
}

Frame EncodeIdentify(std::uint8_t seq) {
    return MakeRequest(Command::Identify, seq, {});
}

Frame EncodeSetDefaultRate(std::uint8_t seq, const SerialDefaults& p) {
    const std::array<std::uint8_t, 5> b{p.baudCode, p.parityCode, p.stopBitsCode, p.dataBitsCode,
                                        p.timingByte};
    return MakeRequest(Command::SetDefaultRate, seq, b);
}

Frame EncodeCfgBegin(std::uint8_t seq, const IdentityHeader& h) {
    return MakeRequest(Command::CfgBegin, seq, EncodeIdentityHeader(h));
}

std::optional<Frame> EncodeCfgData(std::uint8_t seq, std::uint8_t offset,
                                   std::span<const std::uint8_t> chunk) {
    if (chunk.size() > MAX_CFG_CHUNK) {
        return std::nullopt;
    }
    std::array<std::uint8_t, MAX_REQUEST_PAYLOAD> b{};
    b[0] = offset;
    std::copy(chunk.begin(), chunk.end(), b.begin() + 1);
    return EncodeRequest(Command::CfgData, seq, std::span(b.data(), chunk.size() + 1));
}

Frame EncodeCfgCommit(std::uint8_t seq, std::uint16_t crc) {
    std::array<std::uint8_t, 2> b{};
    PutU16(b.data(), crc);
    return MakeRequest(Command::CfgCommit, seq, b);
}

Frame EncodeFactoryReset(std::uint8_t seq) {
    return MakeRequest(Command::FactoryReset, seq, {});
}

Frame EncodeGetDefaultRate(std::uint8_t seq) {
    return MakeRequest(Command::GetDefaultRate, seq, {});
}

std::optional<SerialDefaults> DecodeDefaultRate(const Reply& reply) {
    if (reply.cmd != static_cast<std::uint8_t>(Command::GetDefaultRate) ||
        reply.status != Status::Ok || reply.length != 5) {
        return std::nullopt;
    }
    const auto& p = reply.payload;
    return SerialDefaults{p[0], p[1], p[2], p[3], p[4]};
}

Frame EncodeCfgRead(std::uint8_t seq, std::uint8_t offset) {
    const std::array<std::uint8_t, 1> b{offset};
    return MakeRequest(Command::CfgRead, seq, b);
}

std::optional<CfgReadChunk> DecodeCfgRead(const Reply& reply) {
    if (reply.cmd != static_cast<std::uint8_t>(Command::CfgRead) || reply.status != Status::Ok ||
        reply.length < CFG_READ_PREFIX) {
        return std::nullopt;
    }
    CfgReadChunk c;
    c.header = *DecodeIdentityHeader(std::span(reply.payload).first(IDENTITY_HEADER_SIZE));
    c.crc = GetU16(&reply.payload[IDENTITY_HEADER_SIZE]);
    c.length = static_cast<std::uint8_t>(reply.length - CFG_READ_PREFIX);
    std::copy_n(reply.payload.begin() + CFG_READ_PREFIX, c.length, c.data.begin());
    return c;
}

RequestResult DecodeRequest(const std::uint8_t* data, std::size_t length) {
    RequestResult r;
    if (data == nullptr || length < REQUEST_HEADER_SIZE) {
        r.error = RequestError::Short;
        return r;
    }
    if (data[0] != REPORT_ID) {
        r.error = RequestError::WrongReportId;
        return r;
    }
    r.request.cmd = data[1];
    r.request.seq = data[2];
    if (length > REPORT_SIZE) {
        r.error = RequestError::Oversized;
        return r;
    }
    const std::uint8_t len = data[3];
    if (len > MAX_REQUEST_PAYLOAD || REQUEST_HEADER_SIZE + len > length) {
        r.error = RequestError::BadLength;
        return r;
    }
    r.request.length = len;
    std::copy_n(data + REQUEST_HEADER_SIZE, len, r.request.payload.begin());
    return r;
}

Frame EncodeReply(std::uint8_t cmd, std::uint8_t seq, Status status,
                  std::span<const std::uint8_t> payload) {
    const std::size_t n = std::min(payload.size(), MAX_REPLY_PAYLOAD);
    Frame f{};
    f[0] = REPORT_ID;
    f[1] = static_cast<std::uint8_t>(cmd | REPLY_FLAG);
    f[2] = seq;
    f[3] = static_cast<std::uint8_t>(status);
    f[4] = static_cast<std::uint8_t>(n);
    std::copy_n(payload.begin(), n, f.begin() + REPLY_HEADER_SIZE);
    return f;
}

Frame EncodeIdentifyReply(std::uint8_t seq, const ChipInfo& info) {
    std::array<std::uint8_t, 8> b{};
    std::copy(IDENTIFY_MAGIC.begin(), IDENTIFY_MAGIC.end(), b.begin());
    PutU16(&b[4], info.family);
    PutU16(&b[6], info.firmware);
    return EncodeReply(static_cast<std::uint8_t>(Command::Identify), seq, Status::Ok, b);
}

Frame EncodeCfgReadReply(std::uint8_t seq, const IdentityHeader& header, std::uint16_t crc,
                         std::span<const std::uint8_t> chunk) {
    std::array<std::uint8_t, MAX_REPLY_PAYLOAD> b{};
    const auto h = EncodeIdentityHeader(header);
    std::copy(h.begin(), h.end(), b.begin());
    PutU16(&b[IDENTITY_HEADER_SIZE], crc);
    const std::size_t n = std::min(chunk.size(), MAX_CFG_READ_CHUNK);
    std::copy_n(chunk.begin(), n, b.begin() + CFG_READ_PREFIX);
    return EncodeReply(static_cast<std::uint8_t>(Command::CfgRead), seq, Status::Ok,
                       std::span(b.data(), CFG_READ_PREFIX + n));
}

}  // namespace kx::protocol
