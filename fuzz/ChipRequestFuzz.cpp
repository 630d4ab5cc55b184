// The virtual chip's decoding of host commands. The input is a sequence of SET_FEATURE
// reports (any length, any bytes, sometimes with a valid header around fuzzed fields),
// each followed by GET_FEATUREs. Whatever arrives, the chip keeps a stored identity and
// serial settings a real chip could hold, its replies are well-formed for the host, and
// its stored identity only ever changes to exactly what one complete, checksummed
// transfer announced.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/Protocol.h"
#include "emulation/VirtualChip.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kx;
namespace proto = kx::protocol;
using emu::ChipIdentity;

bool ValidText(const std::string& s) {
    return !s.empty() && s.size() <= IDENTITY_STRING_MAX_BYTES;
}

void CheckStored(const emu::VirtualChip& chip) {
    const ChipIdentity& id = chip.identity();
    KX_FUZZ_CHECK(ValidText(id.manufacturer) && ValidText(id.product) && ValidText(id.serial));
    KX_FUZZ_CHECK(id.maxPower >= 1 && id.maxPower <= proto::MAX_POWER_LIMIT);
    const SerialDefaults& s = chip.serial();
    KX_FUZZ_CHECK(s.baudCode >= 1 && s.baudCode <= 13);
    KX_FUZZ_CHECK(s.parityCode >= 1 && s.parityCode <= 4);
    KX_FUZZ_CHECK(s.stopBitsCode >= 1 && s.stopBitsCode <= 2);
    KX_FUZZ_CHECK(s.dataBitsCode >= 1 && s.dataBitsCode <= 4);
}

// What the host side sent since the last CFG_BEGIN that the chip accepted, kept
// independently of the chip: the identity a commit may apply.
struct Transfer {
    bool begun = false;
    proto::IdentityHeader header;
    std::vector<std::uint8_t> data;
};

ChipIdentity Expected(const ChipIdentity& before, const Transfer& t) {
    ChipIdentity next = before;
    next.vid = t.header.vid;
    next.pid = t.header.pid;
    next.maxPower = t.header.maxPower;
    const auto text = [&t](std::size_t from, std::size_t n) {
        return std::string(t.data.begin() + static_cast<std::ptrdiff_t>(from),
                           t.data.begin() + static_cast<std::ptrdiff_t>(from + n));
    };
    const std::size_t m = t.header.manufacturerLength, p = t.header.productLength;
    next.manufacturer = text(0, m);
    next.product = text(m, p);
    next.serial = text(m + p, t.header.serialLength);
    return next;
}

std::vector<std::uint8_t> NextReport(FuzzedDataProvider& in, const Transfer& t) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {  // raw bytes: lengths and ids of every kind
            const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 80);
            return in.ConsumeBytes<std::uint8_t>(n);
        }
        case 1: {  // a well-formed CFG_DATA continuing the transfer, perhaps corrupted
            const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(1, proto::MAX_CFG_CHUNK);
            const std::vector<std::uint8_t> chunk = in.ConsumeBytes<std::uint8_t>(n);
            auto f = proto::EncodeCfgData(in.ConsumeIntegral<std::uint8_t>(),
                                          static_cast<std::uint8_t>(t.data.size()), chunk);
            return f ? std::vector<std::uint8_t>(f->begin(), f->end())
                     : std::vector<std::uint8_t>{};
        }
        case 2: {  // a commit with the right checksum for what was sent
            const std::uint16_t crc = proto::IdentityCrc(t.header, t.data);
            const auto f = proto::EncodeCfgCommit(in.ConsumeIntegral<std::uint8_t>(), crc);
            return {f.begin(), f.end()};
        }
        default: {  // any command and payload inside a valid header
            std::vector<std::uint8_t> r(proto::REPORT_SIZE, 0);
            r[0] = proto::REPORT_ID;
            r[1] = in.ConsumeIntegral<std::uint8_t>();
            r[2] = in.ConsumeIntegral<std::uint8_t>();
            r[3] = in.ConsumeIntegralInRange<std::uint8_t>(0, 64);
            const std::vector<std::uint8_t> body =
                in.ConsumeBytes<std::uint8_t>(proto::MAX_REQUEST_PAYLOAD);
            std::copy(body.begin(), body.end(), r.begin() + proto::REQUEST_HEADER_SIZE);
            r.resize(in.ConsumeIntegralInRange<std::size_t>(0, proto::REPORT_SIZE + 2));
            return r;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    emu::VirtualChip chip(ChipIdentity{});
    chip.busyPolls = in.ConsumeIntegralInRange<int>(0, 2);
    chip.refuseWrites = in.ConsumeIntegralInRange<int>(0, 15) == 0;
    Transfer transfer;
    while (in.remaining_bytes() > 0) {
        if (in.ConsumeIntegralInRange<int>(0, 31) == 0) {
            chip.powerCycle();
            transfer = {};
        }
        const std::vector<std::uint8_t> report = NextReport(in, transfer);
        const ChipIdentity before = chip.identity();
        const proto::RequestResult request = proto::DecodeRequest(report.data(), report.size());
        const bool taken = chip.receive(report.data(), report.size());
        KX_FUZZ_CHECK(taken == (request.error == proto::RequestError::None ||
                                request.error == proto::RequestError::BadLength));
        CheckStored(chip);

        // The final reply (after any BUSY ones) answers the request and decodes cleanly.
        proto::Reply final;
        for (int poll = 0; poll < 4; ++poll) {
            std::uint8_t buffer[proto::REPORT_SIZE + 8];
            std::memset(buffer, 0xEE, sizeof buffer);
            const int n = chip.reply(buffer, proto::REPORT_SIZE);
            KX_FUZZ_CHECK(n == static_cast<int>(proto::REPORT_SIZE));
            KX_FUZZ_CHECK(buffer[proto::REPORT_SIZE] == 0xEE);
            const proto::ReplyResult r = proto::DecodeReply(buffer, static_cast<std::size_t>(n));
            KX_FUZZ_CHECK(r.ok());
            final = r.reply;
            if (r.reply.status != proto::Status::Busy) {
                break;
            }
        }
        const bool ok = taken && final.status == proto::Status::Ok;
        if (taken) {
            // Replies carry seven bits of command: 0x80 and up are no commands anyway.
            KX_FUZZ_CHECK(final.cmd == (request.request.cmd & 0x7F) &&
                          final.seq == request.request.seq);
            KX_FUZZ_CHECK(final.status != proto::Status::Busy);
        }

        // The independent record of the transfer. It forgets a transfer only where the
        // chip must; where it keeps one longer, the chip's commit fails and is checked as
        // "nothing changed".
        const std::uint8_t cmd = request.request.cmd;
        if (!taken) {
        } else if (request.error == proto::RequestError::BadLength) {
            transfer = {};
        } else if (cmd == 0x10) {
            transfer = {};
            if (ok) {
                transfer.begun = true;
                transfer.header = *proto::DecodeIdentityHeader(request.request.data());
            }
        } else if (cmd == 0x11) {
            if (ok) {
                KX_FUZZ_CHECK(transfer.begun);
                const auto chunk = request.request.data().subspan(1);
                transfer.data.insert(transfer.data.end(), chunk.begin(), chunk.end());
                KX_FUZZ_CHECK(transfer.data.size() <= transfer.header.dataLength());
            } else {
                transfer = {};
            }
        }
        if (taken && cmd == 0x12 && ok) {
            KX_FUZZ_CHECK(transfer.begun);
            KX_FUZZ_CHECK(chip.identity() == Expected(before, transfer));
        } else if (taken && cmd == 0x20 && ok) {
            KX_FUZZ_CHECK(chip.identity() == ChipIdentity{});
        } else {
            KX_FUZZ_CHECK(chip.identity() == before);
        }
        if (taken && (cmd == 0x12 || (cmd == 0x20 && ok))) {
            transfer = {};
        }
    }
    return 0;
}
