// The host's decoding of chip replies. Part one hands the raw input to the reply decoder;
// part two runs the device library against a device whose every reply, string and
// attribute comes from the input, and checks that a command succeeds only when the last
// reply it was given was a well-formed OK answer to the request it had just sent.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/TextCodec.h"
#include "device/KxLibrary.h"
#include "device/LastError.h"
#include "device/Protocol.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kx;
namespace proto = kx::protocol;

void CheckDecoder(const std::uint8_t* data, std::size_t size) {
    const proto::ReplyResult r = proto::DecodeReply(data, size);
    if (!r.ok()) {
        return;
    }
    KX_FUZZ_CHECK(size >= proto::REPLY_HEADER_SIZE && size <= proto::REPORT_SIZE);
    KX_FUZZ_CHECK(r.reply.length <= proto::MAX_REPLY_PAYLOAD);
    KX_FUZZ_CHECK(proto::REPLY_HEADER_SIZE + r.reply.length <= size);
    KX_FUZZ_CHECK(proto::IsKnownStatus(static_cast<std::uint8_t>(r.reply.status)));
    KX_FUZZ_CHECK(
        std::memcmp(r.reply.payload.data(), data + proto::REPLY_HEADER_SIZE, r.reply.length) == 0);
    if (const auto info = proto::DecodeIdentify(r.reply)) {
        KX_FUZZ_CHECK(r.reply.length >= 8 && r.reply.status == proto::Status::Ok);
        KX_FUZZ_CHECK(std::memcmp(r.reply.payload.data(), "KXCH", 4) == 0);
    }
}

// Everything the scripted device says comes from the input; it remembers what it was sent
// and the last reply it gave, for the oracle.
struct Script {
    explicit Script(FuzzedDataProvider& in) : in(in) {}
    FuzzedDataProvider& in;
    int getsLeftInExchange = 0;  // bounds the polling of one command
    proto::Frame lastSent{};
    bool haveSent = false;
    std::vector<std::uint8_t> lastReply;
    int sends = 0;
    // While opening, the library polls with its 1000 ms default: a stale or busy reply would
    // make it sleep, so the device then answers properly or not at all.
    bool opening = true;
};

class ScriptedConnection : public HidConnection {
  public:
    explicit ScriptedConnection(Script& s) : s_(s) {}

    bool attributes(std::uint16_t* vid, std::uint16_t* pid, std::uint16_t* rel) override {
        if (!s_.in.ConsumeBool()) {
            return false;
        }
        *vid = s_.in.ConsumeIntegral<std::uint16_t>();
        *pid = s_.in.ConsumeIntegral<std::uint16_t>();
        *rel = s_.in.ConsumeIntegral<std::uint16_t>();
        return true;
    }

    // Writes any units at all, terminated or not, valid UTF-16 or not, up to the bound.
    bool readString(HidString, char16_t* buffer, std::size_t units) override {
        const std::size_t n = s_.in.ConsumeIntegralInRange<std::size_t>(0, units);
        for (std::size_t i = 0; i < n; ++i) {
            buffer[i] = static_cast<char16_t>(s_.in.ConsumeIntegral<std::uint16_t>());
        }
        return s_.in.ConsumeBool();
    }

    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int) override {
        KX_FUZZ_CHECK(length == proto::REPORT_SIZE && data[0] == proto::REPORT_ID);
        std::memcpy(s_.lastSent.data(), data, length);
        s_.haveSent = true;
        ++s_.sends;
        s_.lastReply.clear();
        s_.getsLeftInExchange = 3;
        switch (s_.in.ConsumeIntegralInRange<int>(0, 7)) {
            case 0:
                return -1;
            case 1:
                return static_cast<int>(length) - 1;  // short write
            default:
                return static_cast<int>(length);
        }
    }

    int getFeatureReport(std::uint8_t* data, std::size_t length, int) override {
        KX_FUZZ_CHECK(length >= 1 && data[0] == proto::REPORT_ID);
        if (s_.getsLeftInExchange-- <= 0 || s_.in.remaining_bytes() == 0) {
            return -1;  // gone: ends the exchange without waiting
        }
        std::vector<std::uint8_t> reply;
        if (s_.in.ConsumeBool() && s_.haveSent) {
            // A header that answers the request, so that the payload and status get fuzzed.
            reply = {proto::REPORT_ID, static_cast<std::uint8_t>(s_.lastSent[1] | 0x80),
                     s_.lastSent[2], s_.in.ConsumeIntegralInRange<std::uint8_t>(0, 8),
                     s_.in.ConsumeIntegral<std::uint8_t>()};
        }
        const std::size_t extra = s_.in.ConsumeIntegralInRange<std::size_t>(0, 80);
        const std::vector<std::uint8_t> tail = s_.in.ConsumeBytes<std::uint8_t>(extra);
        reply.insert(reply.end(), tail.begin(), tail.end());
        const std::size_t n = std::min(reply.size(), length);
        if (s_.opening) {
            const proto::ReplyResult r = proto::DecodeReply(reply.data(), n);
            if (r.ok() && (r.reply.cmd != (s_.lastSent[1]) || r.reply.seq != s_.lastSent[2] ||
                           r.reply.status == proto::Status::Busy)) {
                return -1;
            }
        }
        std::copy_n(reply.begin(), n, data);
        s_.lastReply.assign(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }

  private:
    Script& s_;
};

class ScriptedBus : public HidBus {
  public:
    explicit ScriptedBus(Script& s) : s_(s) {}
    std::vector<HidDeviceInfo> enumerate() override {
        HidDeviceInfo info;
        info.path = "fuzz://chip";
        info.usagePage = proto::VENDOR_USAGE_PAGE;
        info.usage = proto::VENDOR_USAGE;
        return {info};
    }
    std::unique_ptr<HidConnection> open(const std::string&) override {
        return std::make_unique<ScriptedConnection>(s_);
    }
    bool canOpenReadWrite(const char*) override { return true; }

  private:
    Script& s_;
};

// A command reported success: the last reply must be an OK answer to the last request.
void CheckSucceededHonestly(const Script& s) {
    KX_FUZZ_CHECK(s.haveSent);
    const proto::ReplyResult r = proto::DecodeReply(s.lastReply.data(), s.lastReply.size());
    KX_FUZZ_CHECK(r.ok());
    KX_FUZZ_CHECK(r.reply.cmd == (s.lastSent[1]) && r.reply.seq == s.lastSent[2]);
    KX_FUZZ_CHECK(r.reply.status == proto::Status::Ok);
}

void CheckString(KxLibrary& lib, DeviceHandle h, int which) {
    // Guard units on both sides: any write outside the caller's 64 units shows up here.
    std::array<char16_t, STRING_BUFFER_UNITS + 2> guarded;
    guarded.fill(0xBEEF);
    char16_t* buffer = guarded.data() + 1;
    int ok = 0;
    switch (which) {
        case 0:
            ok = lib.KX4701GetManufacturerString(h, buffer, STRING_BUFFER_UNITS);
            break;
        case 1:
            ok = lib.KX4701GetProductString(h, buffer, STRING_BUFFER_UNITS);
            break;
        default:
            ok = lib.KX4701GetSerialNumberString(h, buffer, STRING_BUFFER_UNITS);
            break;
    }
    KX_FUZZ_CHECK(guarded.front() == 0xBEEF && guarded.back() == 0xBEEF);
    const std::size_t length = std::char_traits<char16_t>::length(buffer);
    KX_FUZZ_CHECK(length < STRING_BUFFER_UNITS);
    if (ok == 0) {
        KX_FUZZ_CHECK(length == 0);
    }
    const std::string ansi = text::Utf16ToAnsi(buffer, STRING_BUFFER_UNITS);
    KX_FUZZ_CHECK(ansi.size() < text::ANSI_CONVERSION_BUFFER);
}

void RunLibrary(FuzzedDataProvider& in) {
    Script script(in);
    ScriptedBus bus(script);
    KxLibrary lib(bus);
    const DeviceHandle h = lib.KX4701OpenDevicePath("FUZZ://CHIP");
    KX_FUZZ_CHECK(h != INVALID_DEVICE_HANDLE);
    script.opening = false;
    if (lib.isIdentifiedChip(h)) {
        CheckSucceededHonestly(script);
        const auto r = proto::DecodeReply(script.lastReply.data(), script.lastReply.size());
        KX_FUZZ_CHECK(r.reply.length >= 8 && r.reply.payload[4] == 0x01 &&
                      r.reply.payload[5] == 0x47);
    }
    // From here on no command waits: a stale or busy reply ends it at once.
    (void)lib.KX4701SetTimeOut(h, 0, 0);  // on an open handle it cannot fail
    static const char manufacturer[] = "KX-CHIPS";
    static const std::string longText(30, 'x');
    while (in.remaining_bytes() > 0) {
        const int before = script.sends;
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
            case 0:
                if (lib.KX4701SetDefaultRate(h, 13, 2, 2, 3, 0x30) != 0) {
                    CheckSucceededHonestly(script);
                    KX_FUZZ_CHECK(script.lastSent[1] == 0x02);
                }
                break;
            case 1:
                if (lib.KX4701SetDeviceCfg(h, 0x1234, 0x5678, 50, manufacturer, 8, longText.data(),
                                           30, longText.data(), 30) != 0) {
                    CheckSucceededHonestly(script);
                    KX_FUZZ_CHECK(script.lastSent[1] == 0x12);
                }
                break;
            case 2:
                if (lib.KX4701ResetToDefault(h) != 0) {
                    CheckSucceededHonestly(script);
                    KX_FUZZ_CHECK(script.lastSent[1] == 0x20);
                }
                break;
            case 3: {
                std::uint16_t v = 1, p = 2, r = 3;
                (void)lib.KX4701GetAttributes(h, &v, &p, &r);  // sends nothing: any reply is fine
                break;
            }
            default:
                CheckString(lib, h, in.ConsumeIntegralInRange<int>(0, 2));
                break;
        }
        // Writes to an unidentified device never reach it.
        if (!lib.isIdentifiedChip(h)) {
            KX_FUZZ_CHECK(script.sends == before);
        }
    }
    KX_FUZZ_CHECK(lib.KX4701CloseDevice(h) == 1);
    KX_FUZZ_CHECK(lib.openHandleCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckDecoder(data, size);
    FuzzedDataProvider in(data, size);
    RunLibrary(in);
    return 0;
}
