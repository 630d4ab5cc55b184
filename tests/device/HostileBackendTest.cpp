// The library over a scripted device that answers whatever a test wants. Whatever comes back,
// the library fails cleanly and never writes outside the caller's buffer.

#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "Backends.h"

namespace kx {
namespace {

using testing::FailsWith;

using protocol::Frame;
using protocol::Status;
using Bytes = std::vector<std::uint8_t>;

// The fixture is the bus. Its device answers IDENTIFY with `identifyPayload`, the rest through
// `replier` (no bytes: the transport fails); strings fill the bound, terminated on request.
struct HostileBackend : ::testing::Test, HidBus {
    std::vector<HidDeviceInfo> enumerate() override {
        std::vector<HidDeviceInfo> out(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            out[i].path = paths[i];
            out[i].usagePage = protocol::VENDOR_USAGE_PAGE;
        }
        return out;
    }
    std::unique_ptr<HidConnection> open(const std::string&) override;
    bool canOpenReadWrite(const char*) override { return true; }

    DeviceHandle openChip() {
        const DeviceHandle h = lib.KX4701OpenDevicePath("/DEV/HIDRAW0");
        EXPECT_TRUE(lib.isIdentifiedChip(h));
        EXPECT_NE(lib.KX4701SetTimeOut(h, 30, 30), 0);
        return h;
    }

    std::function<Bytes(const Frame& request)> replier;
    Bytes identifyPayload = {'K', 'X', 'C', 'H', 0x01, 0x47, 0x00, 0x01};
    std::u16string strings;
    bool terminate = true;
    bool stringsFail = false;  // after writing the text
    int requests = 0;
    std::vector<std::string> paths{"/dev/hidraw0"};
    KxLibrary lib{*this};
};

struct ScriptedConnection : HidConnection {
    explicit ScriptedConnection(HostileBackend& b) : d(b) {}
    bool attributes(std::uint16_t* v, std::uint16_t* p, std::uint16_t* r) override {
        *v = *p = *r = 1;
        return true;
    }
    bool readString(HidString, char16_t* buffer, std::size_t units) override {
        for (std::size_t i = 0; i < units; ++i) {
            buffer[i] = i < d.strings.size() ? d.strings[i] : u'!';
        }
        if (d.terminate && d.strings.size() < units) {
            buffer[d.strings.size()] = 0;
        }
        return !d.stringsFail;
    }
    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int) override {
        std::copy_n(data, std::min(length, last.size()), last.begin());
        ++d.requests;
        return static_cast<int>(length);
    }
    int getFeatureReport(std::uint8_t* data, std::size_t length, int) override {
        const Frame f = protocol::EncodeReply(last[1], last[2], Status::Ok, d.identifyPayload);
        const Bytes reply = last[1] == static_cast<std::uint8_t>(protocol::Command::Identify)
                                ? Bytes(f.begin(), f.end())
                                : d.replier(last);
        std::copy_n(reply.begin(), std::min(reply.size(), length), data);
        // May claim more bytes than the buffer holds.
        return reply.empty() ? -1 : static_cast<int>(reply.size());
    }
    HostileBackend& d;
    Frame last{};
};

std::unique_ptr<HidConnection> HostileBackend::open(const std::string&) {
    return std::make_unique<ScriptedConnection>(*this);
}

// A well-formed final reply with byte `at` set to `value` (-1: the request's sequence number
// less one), cut or stretched to `length` bytes (1: the transport fails), or with `status`.
TEST_F(HostileBackend, EveryMalformedOrStaleReplyFailsTheCommandCleanly) {
    const struct {
        const char* name;
        int at, value;
        std::size_t length;
        Status status;
        std::uint32_t error;
    } rows[] = {
        {"truncated", 0, 0x4B, 2, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"report id zero", 0, 0x00, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"no reply flag", 1, 0x02, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"length beyond received", 4, 30, 8, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"claims 4096 bytes", 0, 0x4B, 4096, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"unknown status", 3, 0x08, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"stale sequence forever", 2, -1, 0, Status::Ok, ERROR_TIMEOUT_CODE},
        {"other command forever", 1, 0x81, 0, Status::Ok, ERROR_TIMEOUT_CODE},
        {"busy forever", 0, 0x4B, 0, Status::Busy, ERROR_TIMEOUT_CODE},
        {"transport error", 0, 0x4B, 1, Status::Ok, ERROR_GEN_FAILURE_CODE},
        {"refused", 0, 0x4B, 0, Status::Refused, ERROR_ACCESS_DENIED_CODE},
        {"bad checksum", 0, 0x4B, 0, Status::BadChecksum, ERROR_CRC_CODE},
        {"bad command", 0, 0x4B, 0, Status::BadCommand, ERROR_NOT_SUPPORTED_CODE},
    };
    const DeviceHandle h = openChip();
    for (const auto& r : rows) {
        replier = [&r](const Frame& req) {
            const Frame f = protocol::EncodeReply(req[1], req[2], r.status);
            Bytes b(f.begin(), f.end());
            b[r.at] = static_cast<std::uint8_t>(r.value >= 0 ? r.value : req[2] - 1);
            b.resize(r.length == 1 ? 0 : r.length != 0 ? r.length : b.size());
            return b;
        };
        EXPECT_TRUE(FailsWith(lib.KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40), r.error)) << r.name;
        EXPECT_TRUE(FailsWith(lib.KX4701ResetToDefault(h), r.error)) << r.name;
        EXPECT_EQ(lib.KX4701SetDeviceCfg(h, 1, 2, 50, "a", 1, "b", 1, "c", 1), 0) << r.name;
    }
    lib.KX4701CloseDevice(h);
}

// The stored identity, read in two chunks: a chunk that disagrees with the first (the
// identity changed in between), data that fails the CRC, or a reply that does not add up
// fails the read with ERROR_INVALID_DATA and writes nothing to the caller's outputs.
TEST_F(HostileBackend, TornOrInconsistentStoredReadsFail) {
    const std::string text = std::string(30, 'M') + std::string(30, 'P') + std::string(30, 'S');
    const protocol::IdentityHeader header{1, 2, 50, 30, 30, 30};
    const std::uint16_t crc = protocol::IdentityCrc(
        header, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    const auto chunk = [&](const Frame& req, const protocol::IdentityHeader& h, std::uint16_t c,
                           std::size_t extra = 0) {
        const std::size_t at = req[4];
        const auto data =
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const Frame f =
            protocol::EncodeCfgReadReply(req[2], h, c, data.subspan(std::min(at, data.size())));
        Bytes b(f.begin(), f.end());
        b[4] = static_cast<std::uint8_t>(std::min<std::size_t>(b[4] + extra, 59));
        return b;
    };
    protocol::IdentityHeader other = header;
    other.vid = 9;
    protocol::IdentityHeader empty = header;
    empty.serialLength = 0;
    const struct {
        const char* name;
        std::function<Bytes(const Frame&)> reply;
        bool ok;
    } rows[] = {
        {"consistent", [&](const Frame& r) { return chunk(r, header, crc); }, true},
        {"header changed", [&](const Frame& r) { return chunk(r, r[4] ? other : header, crc); },
         false},
        {"CRC changed", [&](const Frame& r) { return chunk(r, header, r[4] ? crc ^ 1 : crc); },
         false},
        {"CRC wrong", [&](const Frame& r) { return chunk(r, header, crc ^ 1); }, false},
        {"a text of length 0", [&](const Frame& r) { return chunk(r, empty, crc); }, false},
        {"more than announced", [&](const Frame& r) { return chunk(r, header, crc, r[4] ? 9 : 0); },
         false},
        {"prefix cut",
         [&](const Frame& r) {
             Bytes b = chunk(r, header, crc);
             b[4] = 9;
             return b;
         },
         false},
    };
    const DeviceHandle h = openChip();
    for (const auto& row : rows) {
        replier = row.reply;
        std::uint16_t vid = 0xEEEE, pid = 0xEEEE;
        std::uint8_t power = 0xEE, n[3] = {0xEE, 0xEE, 0xEE};
        char t[3][30] = {};
        const int got =
            lib.KX4701GetDeviceCfg(h, &vid, &pid, &power, t[0], &n[0], t[1], &n[1], t[2], &n[2]);
        EXPECT_EQ(got != 0, row.ok) << row.name;
        EXPECT_EQ(row.ok ? 0 : GetLastError(), row.ok ? 0u : ERROR_INVALID_DATA_CODE) << row.name;
        EXPECT_EQ(vid == 1 && n[2] == 30, row.ok) << row.name << " wrote its outputs";
    }
    lib.KX4701CloseDevice(h);
}

TEST_F(HostileBackend, WrongFamilyOrMagicIsNotAChipAndIsSentNothing) {
    for (const Bytes& payload :
         {Bytes{'K', 'X', 'C', 'H', 0x02, 0x47, 0, 1}, Bytes{0, 0, 0, 0, 0x01, 0x47, 0, 1},
          Bytes{'K', 'X', 'C', 'H', 1, 0x47}}) {
        identifyPayload = payload;
        const DeviceHandle h = lib.KX4701OpenDevicePath("/dev/hidraw0");
        EXPECT_FALSE(lib.isIdentifiedChip(h)) << int(payload[0]) << int(payload[4]);
        EXPECT_TRUE(FailsWith(lib.KX4701ResetToDefault(h), ERROR_NOT_SUPPORTED_CODE));
        EXPECT_TRUE(lib.KX4701CloseDevice(h));
    }
    EXPECT_EQ(requests, 3) << "nothing but IDENTIFY";
}

TEST_F(HostileBackend, UnterminatedAndInvalidStringsStayWithinTheBound) {
    const DeviceHandle h = openChip();
    const struct {
        std::u16string strings;
        bool terminate;
        std::u16string expected;
    } rows[] = {
        {u"", false, std::u16string(7, u'!')},  // unterminated filler
        {u"ABCDEFGH", false, u"ABCDEFG"},
        {u"ABCDEF\xD83D\xDE00", false, u"ABCDEF"},  // a high surrogate cut by the bound
        {u"AB\xDC00", true, u"AB\xDC00"},           // a lone low one is left to the converter
    };
    std::array<char16_t, 12> buffer;
    for (const auto& r : rows) {
        strings = r.strings;
        terminate = r.terminate;
        buffer.fill(u'#');
        EXPECT_TRUE(lib.KX4701GetProductString(h, buffer.data(), 8));
        EXPECT_EQ(std::u16string(buffer.data()), r.expected);
        EXPECT_EQ(std::u16string(buffer.begin() + 8, buffer.end()), u"####");
    }
    // A failed read hands back nothing of what the device wrote.
    stringsFail = true;
    EXPECT_EQ(lib.KX4701GetProductString(h, buffer.data(), 8), 0);
    EXPECT_EQ(buffer[0], 0);
    lib.KX4701CloseDevice(h);
}

TEST_F(HostileBackend, PathsThatCannotBeReportedWholeAndTheSnapshotTakenAtIndexZero) {
    paths = {std::string(1023, 'a'), std::string(1024, 'b'), std::string("x\0y", 3), ""};
    std::array<char, DEVICE_PATH_BUFFER_SIZE + 1> buffer;
    buffer.fill('#');
    EXPECT_TRUE(
        FailsWith(lib.KX4701GetDevicePath(0, buffer.data(), 0), ERROR_INSUFFICIENT_BUFFER_CODE));
    EXPECT_TRUE(
        FailsWith(lib.KX4701GetDevicePath(-1, buffer.data(), 8), ERROR_INVALID_PARAMETER_CODE));
    EXPECT_EQ(buffer[0], '#') << "a zero-size buffer is never written";
    EXPECT_TRUE(FailsWith(lib.KX4701OpenDevicePath(nullptr), ERROR_INVALID_PARAMETER_CODE, -1));
    EXPECT_TRUE(FailsWith(lib.KX4701OpenDevicePath("/dev/other"), ERROR_FILE_NOT_FOUND_CODE, -1));
    ASSERT_TRUE(lib.KX4701GetDevicePath(0, buffer.data(), DEVICE_PATH_BUFFER_SIZE));
    EXPECT_EQ(std::string(buffer.data()), std::string(1023, 'a'));
    const std::uint32_t errors[] = {ERROR_INSUFFICIENT_BUFFER_CODE, ERROR_INVALID_DATA_CODE,
                                    ERROR_INVALID_DATA_CODE, ERROR_NO_MORE_ITEMS};
    paths.clear();  // later indexes read the snapshot taken at index 0
    for (std::int32_t i = 1; i <= 4; ++i) {
        buffer.fill('#');
        EXPECT_EQ(lib.KX4701GetDevicePath(i, buffer.data(), DEVICE_PATH_BUFFER_SIZE), 0) << i;
        EXPECT_EQ(GetLastError(), errors[i - 1]) << i;
        EXPECT_EQ(buffer[0], '\0') << i;
        EXPECT_EQ(buffer[DEVICE_PATH_BUFFER_SIZE], '#') << i;
    }
    EXPECT_TRUE(FailsWith(lib.KX4701GetDevicePath(0, buffer.data(), DEVICE_PATH_BUFFER_SIZE),
                          ERROR_NO_MORE_ITEMS))
        << "a new refresh sees the bus as it is";
}

}  // namespace
}  // namespace kx
