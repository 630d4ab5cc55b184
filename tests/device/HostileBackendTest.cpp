// The library over a scripted bus whose device answers whatever a test wants: malformed
// and stale replies, unterminated or invalid strings, awkward paths. Whatever comes back,
// the library fails cleanly and never writes outside the caller's buffer.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "device/KxLibrary.h"
#include "device/LastError.h"
#include "device/Protocol.h"

namespace kx {
namespace {

using protocol::Frame;
using protocol::Status;
using Bytes = std::vector<std::uint8_t>;

// Produces the bytes of one GET_FEATURE from the last request the device received.
using Replier = std::function<Bytes(const Frame& lastRequest)>;

Bytes Final(const Frame& req, Status status = Status::Ok) {
    const Frame f = protocol::EncodeReply(req[1], req[2], status);
    return Bytes(f.begin(), f.end());
}

// A well-behaved chip for IDENTIFY, `replier` for everything else.
struct ScriptedDevice {
    Replier replier = [](const Frame& req) { return Final(req); };
    std::u16string strings;    // what readString writes, unit for unit, up to the bound
    bool terminate = true;     // whether readString terminates within the bound
    bool stringsFail = false;  // readString writes its text and then reports failure
    Bytes identifyPayload = {'K', 'X', 'C', 'H', 0x01, 0x47, 0x00, 0x01};
    int requests = 0;
};

class ScriptedConnection : public HidConnection {
  public:
    explicit ScriptedConnection(ScriptedDevice& d) : d_(d) {}
    bool attributes(std::uint16_t* v, std::uint16_t* p, std::uint16_t* r) override {
        *v = 1;
        *p = 2;
        *r = 3;
        return true;
    }
    bool readString(HidString, char16_t* buffer, std::size_t units) override {
        // Hostile: fills the whole bound, terminator only if asked to.
        for (std::size_t i = 0; i < units; ++i) {
            buffer[i] = i < d_.strings.size() ? d_.strings[i] : u'!';
        }
        if (d_.terminate && d_.strings.size() < units) {
            buffer[d_.strings.size()] = 0;
        }
        return !d_.stringsFail;
    }
    int sendFeatureReport(const std::uint8_t* data, std::size_t length, int) override {
        std::copy_n(data, std::min(length, last_.size()), last_.begin());
        ++d_.requests;
        return static_cast<int>(length);
    }
    int getFeatureReport(std::uint8_t* data, std::size_t length, int) override {
        const bool identify = last_[1] == static_cast<std::uint8_t>(protocol::Command::Identify);
        if (identify) {
            const Frame f =
                protocol::EncodeReply(last_[1], last_[2], Status::Ok, d_.identifyPayload);
            std::copy(f.begin(), f.end(), data);
            return static_cast<int>(f.size());
        }
        const Bytes reply = d_.replier(last_);
        if (reply.empty()) {
            return -1;
        }
        std::copy_n(reply.begin(), std::min(reply.size(), length), data);
        // Hostile: may claim more bytes than the buffer holds.
        return static_cast<int>(reply.size());
    }

  private:
    ScriptedDevice& d_;
    Frame last_{};
};

class ScriptedBus : public HidBus {
  public:
    std::vector<HidDeviceInfo> enumerate() override {
        std::vector<HidDeviceInfo> out;
        for (const std::string& p : paths) {
            HidDeviceInfo info;
            info.path = p;
            info.usagePage = protocol::VENDOR_USAGE_PAGE;
            out.push_back(info);
        }
        return out;
    }
    std::unique_ptr<HidConnection> open(const std::string&) override {
        return std::make_unique<ScriptedConnection>(device);
    }
    bool canOpenReadWrite(const char*) override { return true; }

    std::vector<std::string> paths{"/dev/hidraw0"};
    ScriptedDevice device;
};

class HostileBackend : public ::testing::Test {
  protected:
    DeviceHandle open() {
        const DeviceHandle h = lib.KX4701OpenDevicePath("/DEV/HIDRAW0");
        EXPECT_TRUE(lib.isIdentifiedChip(h));
        lib.KX4701SetTimeOut(h, 30, 30);
        return h;
    }
    ScriptedBus bus;
    KxLibrary lib{bus};
};

TEST_F(HostileBackend, EveryMalformedOrStaleReplyFailsTheCommandCleanly) {
    // A well-formed final reply with one byte changed (at `at`, unless it is -1), cut or
    // stretched to `length` bytes (unless 0), or with the status given.
    const struct {
        const char* name;
        int at;
        int value;  // -1: the request's sequence number less one
        std::size_t length;
        Status status;
        std::uint32_t error;
    } rows[] = {
        {"truncated", -1, 0, 2, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"wrong report id", 0, 0x01, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"no reply flag", 1, 0x02, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"length field 200", 4, 200, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"length beyond received", 4, 30, 8, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"claims 4096 bytes", -1, 0, 4096, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"unknown status", 3, 0x99, 0, Status::Ok, ERROR_INVALID_DATA_CODE},
        {"stale sequence forever", 2, -1, 0, Status::Ok, ERROR_TIMEOUT_CODE},
        {"other command forever", 1, 0x81, 0, Status::Ok, ERROR_TIMEOUT_CODE},
        {"busy forever", -1, 0, 0, Status::Busy, ERROR_TIMEOUT_CODE},
        {"transport error", -1, 0, 1, Status::Ok, ERROR_GEN_FAILURE_CODE},
        {"refused", -1, 0, 0, Status::Refused, ERROR_ACCESS_DENIED_CODE},
        {"bad checksum", -1, 0, 0, Status::BadChecksum, ERROR_CRC_CODE},
        {"bad command", -1, 0, 0, Status::BadCommand, ERROR_NOT_SUPPORTED_CODE},
    };
    const DeviceHandle h = open();
    for (const auto& r : rows) {
        bus.device.replier = [&r](const Frame& req) {
            Bytes b = Final(req, r.status);
            if (r.at >= 0) {
                b[r.at] = static_cast<std::uint8_t>(r.value >= 0 ? r.value : req[2] - 1);
            }
            if (r.length == 1) {
                return Bytes{};  // the transport fails
            }
            b.resize(r.length != 0 ? r.length : b.size());
            return b;
        };
        SetLastError(0);
        EXPECT_EQ(lib.KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40), 0) << r.name;
        EXPECT_EQ(GetLastError(), r.error) << r.name;
        EXPECT_EQ(lib.KX4701SetDeviceCfg(h, 1, 2, 50, "a", 1, "b", 1, "c", 1), 0) << r.name;
        EXPECT_EQ(lib.KX4701ResetToDefault(h), 0) << r.name;
    }
    lib.KX4701CloseDevice(h);
}

TEST_F(HostileBackend, StaleRepliesAreSkippedUntilTheRightOneArrives) {
    int polls = 0;
    bus.device.replier = [&](const Frame& r) {
        Bytes b = Final(r);
        if (++polls < 3) {
            b[2] = static_cast<std::uint8_t>(r[2] + 1);
        }
        return b;
    };
    const DeviceHandle h = open();
    EXPECT_TRUE(lib.KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40));
    EXPECT_EQ(polls, 3);
    lib.KX4701CloseDevice(h);
}

TEST_F(HostileBackend, WrongFamilyOrMagicIsNotAChip) {
    const struct {
        const char* name;
        Bytes payload;
    } rows[] = {
        {"other family", {'K', 'X', 'C', 'H', 0x02, 0x47, 0, 1}},
        {"no magic", {0, 0, 0, 0, 0x01, 0x47, 0, 1}},
        {"short", {'K', 'X', 'C', 'H', 0x01, 0x47}},
    };
    for (const auto& r : rows) {
        bus.device.identifyPayload = r.payload;
        const DeviceHandle h = lib.KX4701OpenDevicePath("/dev/hidraw0");
        ASSERT_NE(h, INVALID_DEVICE_HANDLE) << r.name;
        EXPECT_FALSE(lib.isIdentifiedChip(h)) << r.name;
        const int sentBefore = bus.device.requests;
        EXPECT_EQ(lib.KX4701ResetToDefault(h), 0) << r.name;
        EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE) << r.name;
        EXPECT_EQ(bus.device.requests, sentBefore) << r.name;
        lib.KX4701CloseDevice(h);
    }
}

TEST_F(HostileBackend, UnterminatedAndInvalidStringsStayWithinTheBound) {
    const DeviceHandle h = open();
    const struct {
        const char* name;
        std::u16string strings;
        bool terminate;
        std::u16string expected;
    } rows[] = {
        {"unterminated filler", u"", false, std::u16string(7, u'!')},
        {"exactly the bound", u"ABCDEFGH", false, u"ABCDEFG"},
        {"high surrogate cut by the bound", u"ABCDEF\xD83D\xDE00", false, u"ABCDEF"},
        {"lone low surrogate kept for the converter", u"AB\xDC00", true, u"AB\xDC00"},
        {"inner zero ends the text", std::u16string(u"AB\0CD", 5), true, u"AB"},
    };
    for (const auto& r : rows) {
        bus.device.strings = r.strings;
        bus.device.terminate = r.terminate;
        std::array<char16_t, 12> buffer;
        buffer.fill(u'#');
        EXPECT_TRUE(lib.KX4701GetProductString(h, buffer.data(), 8)) << r.name;
        EXPECT_EQ(std::u16string(buffer.data()), r.expected) << r.name;
        EXPECT_EQ(std::u16string(buffer.begin() + 8, buffer.end()), u"####") << r.name;
    }
    // A failed read hands back nothing of what the device wrote.
    bus.device.stringsFail = true;
    std::array<char16_t, 8> buffer{};
    EXPECT_EQ(lib.KX4701GetProductString(h, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(buffer[0], 0);
    lib.KX4701CloseDevice(h);
}

TEST_F(HostileBackend, PathsThatCannotBeReportedWhole) {
    bus.paths = {std::string(1023, 'a'), std::string(1024, 'b'), std::string("x\0y", 3), ""};
    std::array<char, DEVICE_PATH_BUFFER_SIZE + 1> buffer;
    buffer.fill('#');
    ASSERT_TRUE(lib.KX4701GetDevicePath(0, buffer.data(), DEVICE_PATH_BUFFER_SIZE));
    EXPECT_EQ(std::string(buffer.data()), std::string(1023, 'a'));
    const std::uint32_t errors[] = {ERROR_INSUFFICIENT_BUFFER_CODE, ERROR_INVALID_DATA_CODE,
                                    ERROR_INVALID_DATA_CODE, ERROR_NO_MORE_ITEMS};
    for (std::int32_t i = 1; i <= 4; ++i) {
        buffer.fill('#');
        EXPECT_EQ(lib.KX4701GetDevicePath(i, buffer.data(), DEVICE_PATH_BUFFER_SIZE), 0) << i;
        EXPECT_EQ(GetLastError(), errors[i - 1]) << i;
        EXPECT_EQ(buffer[0], '\0') << i;
        EXPECT_EQ(buffer[DEVICE_PATH_BUFFER_SIZE], '#') << i;
    }
    // A zero-size buffer is never written.
    buffer.fill('#');
    EXPECT_EQ(lib.KX4701GetDevicePath(0, buffer.data(), 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(buffer[0], '#');
}

TEST_F(HostileBackend, LaterIndexesReadTheSnapshotTakenAtIndexZero) {
    bus.paths = {"/dev/hidraw0", "/dev/hidraw1"};
    std::array<char, DEVICE_PATH_BUFFER_SIZE> buffer{};
    ASSERT_TRUE(lib.KX4701GetDevicePath(0, buffer.data(), buffer.size()));
    bus.paths = {"/dev/hidraw0"};  // a device leaves mid-refresh
    ASSERT_TRUE(lib.KX4701GetDevicePath(1, buffer.data(), buffer.size()));
    EXPECT_EQ(std::string(buffer.data()), "/dev/hidraw1");
    // The next refresh sees the bus as it is now.
    ASSERT_TRUE(lib.KX4701GetDevicePath(0, buffer.data(), buffer.size()));
    EXPECT_EQ(lib.KX4701GetDevicePath(1, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
}

}  // namespace
}  // namespace kx
