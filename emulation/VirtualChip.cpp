#include "emulation/VirtualChip.h"

#include <algorithm>
#include <utility>

namespace kx::emu {

using protocol::Command;
using protocol::Status;

VirtualChip::VirtualChip(ChipIdentity stored, ChipIdentity factory, SerialDefaults serial)
    : identity_(std::move(stored)), factory_(std::move(factory)), serial_(serial) {
    pending_ = protocol::EncodeReply(0, 0, Status::Ok);
    final_ = pending_;
}

bool VirtualChip::receive(const std::uint8_t* data, std::size_t length) {
    const protocol::RequestResult r = protocol::DecodeRequest(data, length);
    switch (r.error) {
        case protocol::RequestError::Short:
        case protocol::RequestError::Oversized:
        case protocol::RequestError::WrongReportId:
            return false;
        case protocol::RequestError::BadLength:
            staging_ = false;
            final_ = protocol::EncodeReply(r.request.cmd, r.request.seq, Status::BadLength);
            busyLeft_ = 0;
            return true;
        case protocol::RequestError::None:
            break;
    }
    std::vector<std::uint8_t> payload;
    const Status status = handle(r.request, payload);
    final_ = protocol::EncodeReply(r.request.cmd, r.request.seq, status, payload);
    busyLeft_ = std::max(busyPolls, 0);
    pending_ = protocol::EncodeReply(r.request.cmd, r.request.seq, Status::Busy);
    return true;
}

int VirtualChip::reply(std::uint8_t* data, std::size_t length) {
    const protocol::Frame& f = busyLeft_ > 0 ? pending_ : final_;
    if (busyLeft_ > 0) {
        --busyLeft_;
    }
    const std::size_t n = std::min(length, f.size());
    std::copy_n(f.begin(), n, data);
    return static_cast<int>(n);
}

void VirtualChip::powerCycle() {
    staging_ = false;
    stagedData_.clear();
    busyLeft_ = 0;
    final_ = protocol::EncodeReply(0, 0, Status::Ok);
}

void VirtualChip::storedChanged() {
    if (onStoredChange) {
        onStoredChange();
    }
}

Status VirtualChip::handle(const protocol::Request& req, std::vector<std::uint8_t>& payload) {
    if (!protocol::IsKnownCommand(req.cmd)) {
        return Status::BadCommand;
    }
    const auto cmd = static_cast<Command>(req.cmd);
    if (cmd == Command::Identify) {
        if (req.length != 0) {
            return Status::BadLength;
        }
        const protocol::Frame f =
            protocol::EncodeIdentifyReply(req.seq, {protocol::CHIP_FAMILY, VIRTUAL_FIRMWARE});
        payload.assign(f.begin() + protocol::REPLY_HEADER_SIZE,
                       f.begin() + protocol::REPLY_HEADER_SIZE + f[4]);
        return Status::Ok;
    }
    if (cmd == Command::GetDefaultRate || cmd == Command::CfgRead) {
        return handleRead(req, payload);
    }
    // Every other command writes; a failed step of an identity write abandons it so that a
    // later commit cannot apply a partial transfer.
    if (refuseWrites) {
        staging_ = false;
        return Status::Refused;
    }
    switch (cmd) {
        case Command::SetDefaultRate: {
            if (req.length != 5) {
                return Status::BadLength;
            }
            const auto* p = req.payload.data();
            const SerialDefaults asked{p[0], p[1], p[2], p[3], p[4]};
            if (!HasListedCodes(asked)) {
                return Status::BadValue;
            }
            if (!forgetWrites) {
                serial_ = asked;
                storedChanged();
            }
            return Status::Ok;
        }
        case Command::CfgBegin: {
            staging_ = false;
            const auto h = protocol::DecodeIdentityHeader(req.data());
            if (!h) {
                return Status::BadLength;
            }
            if (!protocol::IsValidIdentityHeader(*h)) {
                return Status::BadValue;
            }
            staging_ = true;
            stagedHeader_ = *h;
            stagedData_.clear();
            return Status::Ok;
        }
        case Command::CfgData: {
            const Status s = handleCfgData(req);
            if (s != Status::Ok) {
                staging_ = false;
            }
            return s;
        }
        case Command::CfgCommit: {
            const Status s = handleCfgCommit(req);
            staging_ = false;
            return s;
        }
        case Command::FactoryReset:
            if (req.length != 0) {
                return Status::BadLength;
            }
            staging_ = false;
            identity_ = factory_;
            serial_ = FACTORY_SERIAL_DEFAULTS;
            storedChanged();
            return Status::Ok;
        case Command::Identify:
        case Command::GetDefaultRate:
        case Command::CfgRead:
            break;
    }
    return Status::BadCommand;
}

Status VirtualChip::handleRead(const protocol::Request& req, std::vector<std::uint8_t>& payload) {
    if (static_cast<Command>(req.cmd) == Command::GetDefaultRate) {
        if (req.length != 0) {
            return Status::BadLength;
        }
        const SerialDefaults& s = serial_;
        payload = {s.baudCode, s.parityCode, s.stopBitsCode, s.dataBitsCode, s.timingByte};
        return Status::Ok;
    }
    if (req.length != 1) {
        return Status::BadLength;
    }
    const protocol::IdentityHeader header{identity_.vid,
                                          identity_.pid,
                                          identity_.maxPower,
                                          static_cast<std::uint8_t>(identity_.manufacturer.size()),
                                          static_cast<std::uint8_t>(identity_.product.size()),
                                          static_cast<std::uint8_t>(identity_.serial.size())};
    const std::string text = identity_.manufacturer + identity_.product + identity_.serial;
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(text.data()),
                                             text.size());
    const std::size_t offset = req.payload[0];
    if (offset > data.size()) {
        return Status::BadValue;
    }
    const protocol::Frame f = protocol::EncodeCfgReadReply(
        req.seq, header, protocol::IdentityCrc(header, data), data.subspan(offset));
    payload.assign(f.begin() + protocol::REPLY_HEADER_SIZE,
                   f.begin() + protocol::REPLY_HEADER_SIZE + f[4]);
    return Status::Ok;
}

Status VirtualChip::handleCfgData(const protocol::Request& req) {
    if (!staging_) {
        return Status::BadState;
    }
    if (req.length < 2) {
        return Status::BadLength;
    }
    const std::size_t offset = req.payload[0];
    const std::size_t n = req.length - 1u;
    // Chunks must arrive in order; a gap or repeat means a lost report.
    if (offset != stagedData_.size()) {
        return Status::BadState;
    }
    if (offset + n > stagedHeader_.dataLength()) {
        return Status::BadLength;
    }
    stagedData_.insert(stagedData_.end(), req.payload.begin() + 1, req.payload.begin() + 1 + n);
    return Status::Ok;
}

Status VirtualChip::handleCfgCommit(const protocol::Request& req) {
    if (!staging_ || stagedData_.size() != stagedHeader_.dataLength()) {
        return Status::BadState;
    }
    if (req.length != 2) {
        return Status::BadLength;
    }
    const auto crc = static_cast<std::uint16_t>(req.payload[0] | (req.payload[1] << 8));
    if (crc != protocol::IdentityCrc(stagedHeader_, stagedData_)) {
        return Status::BadChecksum;
    }
    const auto text = [this](std::size_t from, std::size_t n) {
        return std::string(stagedData_.begin() + static_cast<std::ptrdiff_t>(from),
                           stagedData_.begin() + static_cast<std::ptrdiff_t>(from + n));
    };
    const auto& h = stagedHeader_;
    ChipIdentity next = identity_;
    next.vid = h.vid;
    next.pid = h.pid;
    next.maxPower = h.maxPower;
    next.manufacturer = text(0, h.manufacturerLength);
    next.product = text(h.manufacturerLength, h.productLength);
    next.serial = text(std::size_t{h.manufacturerLength} + h.productLength, h.serialLength);
    if (!forgetWrites) {
        identity_ = std::move(next);
        storedChanged();
    }
    return Status::Ok;
}

}  // namespace kx::emu
