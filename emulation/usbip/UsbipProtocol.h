#pragma once
// The USB/IP messages between the kernel's virtual host controller (vhci-hcd) and a device
// served over a socket: the kernel sends USBIP_CMD_SUBMIT (one URB) and USBIP_CMD_UNLINK
// (cancel one), the device answers USBIP_RET_SUBMIT and USBIP_RET_UNLINK. Every field is
// big-endian, every header 48 bytes. Pure: parsing reads only the bytes it is given.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

namespace kx::emu::usbip {

inline constexpr std::size_t HEADER_SIZE = 48;
inline constexpr std::uint32_t CMD_SUBMIT = 1, CMD_UNLINK = 2, RET_SUBMIT = 3, RET_UNLINK = 4;
inline constexpr std::uint32_t DIR_OUT = 0, DIR_IN = 1;
// OUT data the device accepts in one URB: a HID report never exceeds the kernel's
// HID_MAX_BUFFER_SIZE.
inline constexpr std::size_t MAX_OUT_BYTES = 16384;

// The eight bytes of a control request (little-endian, as on the bus).
struct Setup {
    std::uint8_t requestType = 0, request = 0;
    std::uint16_t value = 0, index = 0, length = 0;
    friend bool operator==(const Setup&, const Setup&) = default;
};

struct Submit {
    std::uint32_t seqnum = 0, devid = 0, direction = 0, ep = 0;
    std::uint32_t transferLength = 0;  // bytes the host expects (IN) or sends (OUT)
    Setup setup;                       // endpoint 0 only
    std::vector<std::uint8_t> out;     // the OUT data, transferLength bytes
};

struct Unlink {
    std::uint32_t seqnum = 0, devid = 0, direction = 0, ep = 0;
    std::uint32_t unlinkSeqnum = 0;  // the submit to cancel
};

struct NeedMore {};   // the buffer ends inside a message
struct Malformed {};  // not a message this device can take: the connection must end

// One message from the front of `bytes`; `consumed` is how many bytes it took (0 unless a
// Submit or Unlink came out). Malformed: an unknown command, a direction other than IN or
// OUT, an endpoint above 15, isochronous packets, a negative or oversized OUT length.
struct Parsed {
    std::variant<NeedMore, Malformed, Submit, Unlink> message;
    std::size_t consumed = 0;
};
[[nodiscard]] Parsed ParseMessage(std::span<const std::uint8_t> bytes);

// A RET_SUBMIT for `seqnum`: `status` 0 or a negative errno (-EPIPE for a stall), then the IN
// data (empty for OUT, whose `outLength` says how many bytes were taken).
[[nodiscard]] std::vector<std::uint8_t> EncodeRetSubmit(std::uint32_t seqnum, std::int32_t status,
                                                        std::span<const std::uint8_t> inData,
                                                        std::uint32_t outLength = 0);
// A RET_UNLINK for the unlink `seqnum`: -ECONNRESET when the URB was still pending (now
// cancelled), 0 when it had already been answered.
[[nodiscard]] std::vector<std::uint8_t> EncodeRetUnlink(std::uint32_t seqnum, std::int32_t status);

[[nodiscard]] Setup DecodeSetup(std::span<const std::uint8_t, 8> bytes);

}  // namespace kx::emu::usbip
