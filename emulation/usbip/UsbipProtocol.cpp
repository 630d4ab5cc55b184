#include "emulation/usbip/UsbipProtocol.h"

namespace kx::emu::usbip {

namespace {

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
           std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

std::vector<std::uint8_t> Header(std::uint32_t command, std::uint32_t seqnum) {
    std::vector<std::uint8_t> h;
    h.reserve(HEADER_SIZE);
    Put32(h, command);
    Put32(h, seqnum);
    Put32(h, 0);  // devid, direction and endpoint are not read back by the host
    Put32(h, 0);
    Put32(h, 0);
    return h;
}

}  // namespace

Setup DecodeSetup(std::span<const std::uint8_t, 8> b) {
    const auto le = [&](std::size_t at) {
        return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
    };
    return {b[0], b[1], le(2), le(4), le(6)};
}

Parsed ParseMessage(std::span<const std::uint8_t> b) {
    if (b.size() < HEADER_SIZE) {
        return {NeedMore{}};
    }
    const std::uint32_t command = Get32(b, 0);
    const std::uint32_t direction = Get32(b, 12);
    const std::uint32_t ep = Get32(b, 16);
    if ((command != CMD_SUBMIT && command != CMD_UNLINK) || direction > DIR_IN || ep > 15) {
        return {Malformed{}};
    }
    if (command == CMD_UNLINK) {
        return {Unlink{Get32(b, 4), Get32(b, 8), direction, ep, Get32(b, 20)}, HEADER_SIZE};
    }
    Submit s{Get32(b, 4), Get32(b, 8), direction, ep, Get32(b, 24), {}, {}};
    const std::uint32_t packets = Get32(b, 32);
    // Non-isochronous URBs carry 0 packets (older hosts write 0xFFFFFFFF); this device has
    // no isochronous endpoint.
    if (packets != 0 && packets != 0xFFFFFFFFu) {
        return {Malformed{}};
    }
    s.setup = DecodeSetup(b.subspan(40).first<8>());
    if (direction == DIR_IN) {
        return {std::move(s), HEADER_SIZE};
    }
    if (s.transferLength > MAX_OUT_BYTES) {  // a negative length reads as huge here
        return {Malformed{}};
    }
    if (b.size() - HEADER_SIZE < s.transferLength) {
        return {NeedMore{}};
    }
    s.out.assign(b.begin() + HEADER_SIZE, b.begin() + HEADER_SIZE + s.transferLength);
    return {std::move(s), HEADER_SIZE + s.transferLength};
}

std::vector<std::uint8_t> EncodeRetSubmit(std::uint32_t seqnum, std::int32_t status,
                                          std::span<const std::uint8_t> inData,
                                          std::uint32_t outLength) {
    std::vector<std::uint8_t> m = Header(RET_SUBMIT, seqnum);
    Put32(m, static_cast<std::uint32_t>(status));
    Put32(m, inData.empty() ? outLength : static_cast<std::uint32_t>(inData.size()));
    m.resize(HEADER_SIZE, 0);  // start frame, packets, error count, padding
    m.insert(m.end(), inData.begin(), inData.end());
    return m;
}

std::vector<std::uint8_t> EncodeRetUnlink(std::uint32_t seqnum, std::int32_t status) {
    std::vector<std::uint8_t> m = Header(RET_UNLINK, seqnum);
    Put32(m, static_cast<std::uint32_t>(status));
    m.resize(HEADER_SIZE, 0);
    return m;
}

}  // namespace kx::emu::usbip
