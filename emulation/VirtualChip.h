#pragma once
// The chip side of the KX4701 protocol (docs/protocol.md), as firmware would run it: it
// parses feature reports the host sets, keeps one pending reply for the host to get, stages
// an identity write in RAM and applies it to its stored settings all at once on commit.
// No transport here; VirtualBench carries the reports.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/IdentityRules.h"
#include "config/SerialDefaults.h"
#include "device/Protocol.h"

namespace kx::emu {

// The USB identity a chip stores. Texts are CP936 bytes, as the host sends them. A new chip
// carries what the dialog writes for unchecked items: the tool's defaults are the chip's
// factory identity by design.
struct ChipIdentity {
    std::uint16_t vid = DEFAULT_VID, pid = DEFAULT_PID, version = 0x0100;
    std::string manufacturer{DEFAULT_MANUFACTURER}, product{DEFAULT_PRODUCT},
        serial{DEFAULT_SERIAL};
    std::uint8_t maxPower = IDENTITY_MAX_POWER;
    friend bool operator==(const ChipIdentity&, const ChipIdentity&) = default;
};

// The chip ships with the serial defaults the dialog starts with, by design.
inline constexpr SerialDefaults FACTORY_SERIAL_DEFAULTS = INITIAL_SERIAL_DEFAULTS;

inline constexpr std::uint16_t VIRTUAL_FIRMWARE = 0x0100;

class VirtualChip {
  public:
    // `factory` is what a factory reset restores; the chip starts with `stored` and `serial`.
    explicit VirtualChip(ChipIdentity stored, ChipIdentity factory = {},
                         SerialDefaults serial = FACTORY_SERIAL_DEFAULTS);

    // A SET_FEATURE of `length` bytes (report id first). False when the report is not one
    // the chip has (wrong id, too long, too short to carry a header): nothing changes.
    bool receive(const std::uint8_t* data, std::size_t length);

    // A GET_FEATURE: copies the pending reply (at most `length` bytes) and returns the byte
    // count. Before any request the reply is the idle frame (cmd 0, seq 0).
    int reply(std::uint8_t* data, std::size_t length);

    const ChipIdentity& identity() const { return identity_; }
    const SerialDefaults& serial() const { return serial_; }

    // Fault knobs the bench sets: answer every write with REFUSED; answer BUSY this many
    // times before each final reply.
    bool refuseWrites = false;
    int busyPolls = 0;
    // A firmware fault: writes are answered OK and nothing is stored.
    bool forgetWrites = false;

    // Staged data is RAM: lost when the chip loses power.
    void powerCycle();

    // Called after the stored identity or serial settings changed.
    std::function<void()> onStoredChange;

  private:
    protocol::Status handle(const protocol::Request& req, std::vector<std::uint8_t>& payload);
    // GET_DEFAULT_RATE and CFG_READ: reads, answered even while writes are refused.
    protocol::Status handleRead(const protocol::Request& req, std::vector<std::uint8_t>& payload);
    protocol::Status handleCfgData(const protocol::Request& req);
    protocol::Status handleCfgCommit(const protocol::Request& req);
    void storedChanged();

    ChipIdentity identity_;
    ChipIdentity factory_;
    SerialDefaults serial_ = FACTORY_SERIAL_DEFAULTS;

    bool staging_ = false;
    protocol::IdentityHeader stagedHeader_;
    std::vector<std::uint8_t> stagedData_;

    protocol::Frame pending_{};
    protocol::Frame final_{};
    int busyLeft_ = 0;
};

}  // namespace kx::emu
