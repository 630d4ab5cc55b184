// One suite for every backend the device library runs over. Writes go to the bench and to
// emulated chips on real hidraw nodes (the VM test); reads also to a KX4701 attached here.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <set>
#include <thread>
#include <type_traits>

#include "Backends.h"

namespace kx::testing {
namespace {

using emu::ChipIdentity;

#define REQUIRE_RIG()                                                                    \
    if (this->backend.rig() == nullptr) {                                                \
        GTEST_SKIP() << TypeParam::NAME << ": writes only to an emulated chip (vmtest)"; \
    }                                                                                    \
    auto& rig = *this->backend.rig()

// Every `step`th letter upper case.
std::string Upper(std::string s, std::size_t step = 1) {
    for (std::size_t i = 0; i < s.size(); i += step) {
        s[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
    }
    return s;
}

// The texts of a new identity, in CP936: "中文厂商" and two ASCII texts.
const ChipIdentity NEW_IDENTITY{
    0x1A2B, 0x3C4D, 0x0100, "\xD6\xD0\xCE\xC4\xB3\xA7\xC9\xCC", "New Product", "SN-0001", 50};
// The longest texts travel in two chunks.
const ChipIdentity LONGEST{
    1,  2, 0x0100, std::string(30, 'M'), "PPPPPPPPPPPPPPPQQQQQQQQQQQQQQQ", std::string(30, '9'),
    250};

template <class Backend>
class LibraryConformance : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!backend.chipPath) {
            GTEST_SKIP() << Backend::NAME << ": no KX4701 attached";
        }
        SetLastError(0);
    }
    void TearDown() override {
        EXPECT_EQ(backend.library.openHandleCount(), 0u) << "leaked handles";
    }

    // Counted on the bench only: the library calls every bus alike.
    std::uint64_t enumerations() {
        if constexpr (std::is_same_v<Backend, BenchBackend>) {
            return backend.bus.enumerationCount();
        }
        return 0;
    }

    DeviceHandle openChip(std::size_t step = 1) {
        const DeviceHandle h =
            backend.library.KX4701OpenDevicePath(Upper(*backend.chipPath, step).c_str());
        EXPECT_NE(h, INVALID_DEVICE_HANDLE);
        return h;
    }

    // Reads a string through the library into a 64-unit buffer.
    std::u16string read(DeviceHandle h,
                        int (KxLibrary::*call)(DeviceHandle, char16_t*, std::uint32_t)) {
        std::array<char16_t, STRING_BUFFER_UNITS> buffer;
        buffer.fill(u'#');
        EXPECT_TRUE((backend.library.*call)(h, buffer.data(), buffer.size()));
        EXPECT_NE(std::find(buffer.begin(), buffer.end(), 0), buffer.end()) << "unterminated";
        return std::u16string(buffer.data());
    }

    int writeIdentity(DeviceHandle h, const ChipIdentity& id) {
        return backend.library.KX4701SetDeviceCfg(
            h, id.vid, id.pid, id.maxPower, id.manufacturer.data(),
            static_cast<std::uint8_t>(id.manufacturer.size()), id.product.data(),
            static_cast<std::uint8_t>(id.product.size()), id.serial.data(),
            static_cast<std::uint8_t>(id.serial.size()));
    }

    // What the chip stores, through the extension; the version is not part of it (every chip
    // here has the default one).
    std::optional<ChipIdentity> stored(DeviceHandle h) {
        ChipIdentity id;
        char t[3][30];
        std::uint8_t n[3];
        if (backend.library.KX4701GetDeviceCfg(h, &id.vid, &id.pid, &id.maxPower, t[0], &n[0], t[1],
                                               &n[1], t[2], &n[2]) == 0) {
            return std::nullopt;
        }
        id.manufacturer.assign(t[0], n[0]);
        id.product.assign(t[1], n[1]);
        id.serial.assign(t[2], n[2]);
        return id;
    }
    std::optional<SerialDefaults> storedSerial(DeviceHandle h) {
        SerialDefaults s{};
        if (backend.library.KX4701GetDefaultRate(h, &s.baudCode, &s.parityCode, &s.stopBitsCode,
                                                 &s.dataBitsCode, &s.timingByte) == 0) {
            return std::nullopt;
        }
        return s;
    }

    Backend backend;
};

using Backends = ::testing::Types<BenchBackend, HidrawBackend>;
struct BackendNames {
    template <class T>
    static std::string GetName(int) {
        return T::NAME;
    }
};
TYPED_TEST_SUITE(LibraryConformance, Backends, BackendNames);

TYPED_TEST(LibraryConformance, DiscoveryEndsWith259AndAttributesAndStringsMatchEnumeration) {
    KxLibrary& lib = this->backend.library;
    const std::uint64_t before = this->enumerations();
    std::vector<std::string> paths;
    std::array<char, DEVICE_PATH_BUFFER_SIZE> buffer;
    for (std::int32_t i = 0; GetLastError() != ERROR_NO_MORE_ITEMS && i < 1000; ++i) {
        if (lib.KX4701GetDevicePath(i, buffer.data(), buffer.size())) {
            EXPECT_EQ(GetLastError(), 0u) << "a success must leave the last error alone";
            paths.emplace_back(buffer.data());
        }
    }
    EXPECT_LE(this->enumerations() - before, 1u) << "one enumeration per refresh";
    const std::vector<HidDeviceInfo> all = this->backend.bus.enumerate();
    EXPECT_EQ(paths.size(), all.size());
    ASSERT_NE(std::find(paths.begin(), paths.end(), *this->backend.chipPath), paths.end());
    buffer.fill('x');
    EXPECT_TRUE(FailsWith(lib.KX4701GetDevicePath(1000, buffer.data(), buffer.size()),
                          ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(buffer[0], '\0');

    // Every path is longer than 7 bytes: it must not be cut, and the buffer stays a text.
    EXPECT_TRUE(
        FailsWith(lib.KX4701GetDevicePath(0, buffer.data(), 8), ERROR_INSUFFICIENT_BUFFER_CODE));
    EXPECT_EQ(buffer[0], '\0');

    const HidDeviceInfo info = *std::find_if(all.begin(), all.end(), [&](const HidDeviceInfo& i) {
        return i.path == *this->backend.chipPath;
    });
    const DeviceHandle h = this->openChip();
    std::uint16_t vid = 0, pid = 0, version = 0, in = 0, out = 0;
    ASSERT_TRUE(lib.KX4701GetAttributes(h, &vid, &pid, &version));
    EXPECT_EQ(std::vector({vid, pid, version}),
              std::vector({info.vendorId, info.productId, info.releaseNumber}));
    ASSERT_TRUE(lib.KX4701GetBufferLen(h, &in, &out));
    if (this->backend.rig() != nullptr) {
        // The emulated chip's reports are alike on every transport: the protocol's size, id
        // byte included, as hidraw counts it.
        EXPECT_EQ(std::vector({in, out}), std::vector<std::uint16_t>(2, protocol::REPORT_SIZE));
    }
    EXPECT_TRUE(FailsWith(lib.KX4701GetAttributes(h, nullptr, &pid, &version),
                          ERROR_INVALID_PARAMETER_CODE));
    const std::u16string full = this->read(h, &KxLibrary::KX4701GetProductString);
    if (!info.product.empty()) {  // hidraw's enumeration leaves the strings to the open device
        EXPECT_EQ(this->read(h, &KxLibrary::KX4701GetManufacturerString), info.manufacturer);
        EXPECT_EQ(this->read(h, &KxLibrary::KX4701GetSerialNumberString), info.serialNumber);
        EXPECT_EQ(full, info.product);
    }

    // A short buffer gets a terminated prefix and nothing past its bound; no buffer, nothing.
    std::array<char16_t, 8> units;
    units.fill(u'#');
    EXPECT_TRUE(lib.KX4701GetProductString(h, units.data(), 4));
    EXPECT_EQ(lib.KX4701GetProductString(h, units.data() + 4, 0), 0);
    EXPECT_EQ(lib.KX4701GetProductString(h, nullptr, 64), 0);
    EXPECT_EQ(std::u16string(units.begin(), units.end()),
              full.substr(0, 3) + std::u16string(1, 0) + u"####");
    lib.KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, WritesAreCheckedStoredReadBackAndResetUntilTheChipLeaves) {
    KxLibrary& lib = this->backend.library;
    REQUIRE_RIG();
    const int id = this->backend.chipId;
    DeviceHandle h = this->openChip();
    // Invalid arguments send nothing (after IDENTIFY, which the open did not send).
    ASSERT_TRUE(lib.isIdentifiedChip(h));
    const std::uint64_t before = rig.device(id)->reportsReceived;
    const char* t = "abcdefghijklmnopqrstuvwxyz0123456789";
    struct Row {
        const char* serial;
        std::uint8_t manufacturerLength, productLength, power;
    };  // empty, 31 bytes, none at all, over 500 mA
    for (const Row& r :
         {Row{t, 0, 5, 50}, Row{t, 5, 31, 50}, Row{nullptr, 5, 5, 50}, Row{t, 5, 5, 251}}) {
        EXPECT_TRUE(FailsWith(lib.KX4701SetDeviceCfg(h, 1, 2, r.power, t, r.manufacturerLength, t,
                                                     r.productLength, r.serial, 5),
                              ERROR_INVALID_PARAMETER_CODE));
    }
    EXPECT_EQ(rig.device(id)->reportsReceived, before);

    EXPECT_TRUE(lib.KX4701SetDefaultRate(h, 13, 2, 2, 3, 0x30));
    EXPECT_TRUE(
        FailsWith(lib.KX4701SetDefaultRate(h, 14, 2, 2, 3, 0x30), ERROR_INVALID_PARAMETER_CODE));
    EXPECT_EQ(rig.device(id)->serial, (SerialDefaults{13, 2, 2, 3, 0x30}));
    EXPECT_EQ(this->storedSerial(h), (SerialDefaults{13, 2, 2, 3, 0x30}));
    std::uint16_t family = 0, firmware = 0;
    EXPECT_TRUE(lib.KX4701GetChipInfo(h, &family, &firmware) && family == 0x4701 &&
                firmware == 0x0100);
    for (const ChipIdentity& identity : {LONGEST, NEW_IDENTITY}) {
        ASSERT_TRUE(this->writeIdentity(h, identity));
        EXPECT_EQ(rig.device(id)->identity, identity);
        EXPECT_EQ(this->stored(h), identity) << "read back in one chunk or two";
    }
    // The host sees a new identity when the chip enumerates again.
    lib.KX4701CloseDevice(h);
    ASSERT_TRUE(rig.unplug(id) && rig.replug(id));
    const std::string path = rig.device(id)->path;
    h = lib.KX4701OpenDevicePath(path.c_str());
    for (const HidDeviceInfo& i : this->backend.bus.enumerate()) {
        if (i.path == path && !i.manufacturer.empty()) {  // uhid devices have none
            EXPECT_EQ(this->read(h, &KxLibrary::KX4701GetManufacturerString), u"中文厂商");
        }
    }
    EXPECT_EQ(this->read(h, &KxLibrary::KX4701GetProductString), u"New Product");
    EXPECT_EQ(this->read(h, &KxLibrary::KX4701GetSerialNumberString), u"SN-0001");
    ASSERT_TRUE(lib.KX4701ResetToDefault(h));
    EXPECT_EQ(rig.device(id)->identity, ChipIdentity{});
    EXPECT_EQ(rig.device(id)->serial, emu::FACTORY_SERIAL_DEFAULTS);
    EXPECT_EQ(this->stored(h), ChipIdentity{});
    EXPECT_EQ(this->storedSerial(h), emu::FACTORY_SERIAL_DEFAULTS);
    // Gone and back: a new arrival, the old handle stays dead. A fresh handle, since hidapi
    // answers string reads of a handle from what it read while the device was there.
    lib.KX4701CloseDevice(h);
    h = lib.KX4701OpenDevicePath(path.c_str());
    ASSERT_TRUE(rig.unplug(id) && rig.replug(id));
    EXPECT_TRUE(FailsWith(lib.KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40), ERROR_GEN_FAILURE_CODE));
    std::array<char16_t, 4> buffer{u'#'};
    EXPECT_EQ(lib.KX4701GetSerialNumberString(h, buffer.data(), 4), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(lib.KX4701CloseDevice(h));
}

TYPED_TEST(LibraryConformance, NonChipDeviceReceivesNoReportAtAll) {
    KxLibrary& lib = this->backend.library;
    REQUIRE_RIG();
    const int plain = rig.plugPlainHid("Mouse");
    const DeviceHandle h = lib.KX4701OpenDevicePath(rig.device(plain)->path.c_str());
    EXPECT_FALSE(lib.isIdentifiedChip(h));
    EXPECT_EQ(this->read(h, &KxLibrary::KX4701GetProductString), u"Mouse");
    EXPECT_TRUE(FailsWith(lib.KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40), ERROR_NOT_SUPPORTED_CODE));
    EXPECT_TRUE(FailsWith(this->writeIdentity(h, NEW_IDENTITY), ERROR_NOT_SUPPORTED_CODE));
    EXPECT_TRUE(FailsWith(lib.KX4701ResetToDefault(h), ERROR_NOT_SUPPORTED_CODE));
    EXPECT_FALSE(this->stored(h) || this->storedSerial(h));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
    std::uint16_t family = 0, firmware = 0;
    EXPECT_TRUE(FailsWith(lib.KX4701GetChipInfo(h, &family, &firmware), ERROR_NOT_SUPPORTED_CODE));
    int chip = 1;
    EXPECT_TRUE(lib.KX4701IsChip(h, &chip) && chip == 0);
    EXPECT_EQ(rig.device(plain)->reportsReceived, 0u);
    lib.KX4701CloseDevice(h);
}

// Opens by path in any letter case; a handle closed and reopened never aliases one still open.
TYPED_TEST(LibraryConformance, HandlesAreDistinctValidAndAllReleased) {
    KxLibrary& lib = this->backend.library;
    std::vector<DeviceHandle> handles;
    for (std::size_t step : {1, 2, 1000, 1}) {
        handles.push_back(this->openChip(step));
        int chip = 0;
        EXPECT_TRUE(lib.KX4701IsChip(handles.back(), &chip) && chip == 1) << step;
        EXPECT_TRUE(lib.isIdentifiedChip(handles.back())) << step;
    }
    EXPECT_TRUE(lib.KX4701CloseDevice(handles[1]));
    handles[1] = this->openChip();
    EXPECT_EQ(std::set(handles.begin(), handles.end()).size(), 4u);
    for (DeviceHandle h : handles) {
        EXPECT_TRUE(lib.KX4701CloseDevice(h));
    }
    EXPECT_EQ(lib.KX4701CloseDevice(handles[0]), 0);
    EXPECT_EQ(lib.KX4701CloseDevice(INVALID_DEVICE_HANDLE), 0);
    EXPECT_TRUE(FailsWith(lib.KX4701SetTimeOut(handles[0], 1, 1), ERROR_INVALID_HANDLE_CODE));
}

// Several threads over one library: each walks the bus, opens a chip (two threads per chip),
// writes, reads back and closes, over and over; a silent chip holds up only its own thread.
TYPED_TEST(LibraryConformance, SeveralThreadsAtOnce) {
    KxLibrary& lib = this->backend.library;
    REQUIRE_RIG();
    std::vector<int> chips = {this->backend.chipId};
    for (int i = 0; i < 3; ++i) {
        chips.push_back(rig.plugChip());
    }
    const int silent = rig.plugChip();
    constexpr bool BENCH = std::is_same_v<TypeParam, BenchBackend>;
    if constexpr (BENCH) {
        rig.faults(silent).silent = true;
    }
    std::vector<std::thread> threads;
    std::vector<int> failures(9, 0);
    for (int t = 0; t < 9; ++t) {
        const std::string mine =
            rig.device(t == 8 ? silent : chips[std::size_t(t) % chips.size()])->path;
        threads.emplace_back([&, t, mine] {
            for (int round = 0; round < (t == 8 ? 1 : 20); ++round) {
                std::array<char, DEVICE_PATH_BUFFER_SIZE> buffer{};
                bool listed = false;
                for (int i = 0; lib.KX4701GetDevicePath(i, buffer.data(), buffer.size()); ++i) {
                    listed = listed || buffer.data() == mine;
                }
                const DeviceHandle h = lib.KX4701OpenDevicePath(mine.c_str());
                const auto b = static_cast<std::uint8_t>(1 + (t + round) % 13);
                const bool ok = listed && lib.KX4701SetTimeOut(h, 200, 200) &&
                                lib.KX4701SetDefaultRate(h, b, 4, 1, 4, 0x30) &&
                                this->storedSerial(h) && this->stored(h);
                failures[std::size_t(t)] += !ok;
                lib.KX4701CloseDevice(h);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, BENCH ? 1 : 0}));
    for (int id : chips) {
        EXPECT_EQ(rig.device(id)->identity, ChipIdentity{});
    }
}

}  // namespace
}  // namespace kx::testing
