// One suite for every backend the device library runs over. Tests that break a device run on
// the virtual bench only; tests that write or plug devices run on the bench and on emulated
// chips on real hidraw nodes (the VM test); the others also run on a KX4701 attached here.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "Backends.h"
#include "config/TextCodec.h"
#include "device/LastError.h"

namespace kx::testing {
namespace {

using bench::ChipIdentity;
using bench::SerialSettings;
using bench::VirtualBench;

#define REQUIRE_RIG()                                                                    \
    if (this->backend.rig() == nullptr) {                                                \
        GTEST_SKIP() << TypeParam::NAME << ": writes only to an emulated chip (vmtest)"; \
    }                                                                                    \
    DeviceRig& rig = *this->backend.rig()

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string MixedCase(std::string s) {
    for (std::size_t i = 0; i < s.size(); i += 2) {
        s[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
    }
    return s;
}

// The texts of a new identity, in CP936: "中文厂商" and two ASCII texts.
const ChipIdentity NEW_IDENTITY{
    0x1A2B, 0x3C4D, 0x0100, "\xD6\xD0\xCE\xC4\xB3\xA7\xC9\xCC", "New Product", "SN-0001", 50};

template <class Backend>
class LibraryConformance : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!backend.available()) {
            GTEST_SKIP() << Backend::NAME << ": no KX4701 attached";
        }
        SetLastError(0);
    }
    void TearDown() override { EXPECT_EQ(lib().openHandleCount(), 0u) << "leaked handles"; }

    KxLibrary& lib() { return backend.library(); }

    // Discovery's loop: last error 0 first, then index by index until 259.
    std::vector<std::string> discover() {
        std::vector<std::string> paths;
        SetLastError(0);
        for (std::int32_t i = 0; GetLastError() != ERROR_NO_MORE_ITEMS && i < 1000; ++i) {
            std::array<char, DEVICE_PATH_BUFFER_SIZE> buffer{};
            if (lib().KX4701GetDevicePath(i, buffer.data(), buffer.size())) {
                EXPECT_EQ(GetLastError(), 0u) << "a success must leave the last error alone";
                paths.emplace_back(buffer.data());
            }
        }
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        return paths;
    }

    DeviceHandle openChip() {
        const DeviceHandle h = lib().KX4701OpenDevicePath(Upper(backend.chipPath()).c_str());
        EXPECT_NE(h, INVALID_DEVICE_HANDLE);
        return h;
    }

    // Reads a string through the library into a 64-unit buffer.
    std::u16string read(DeviceHandle h, HidString which, int* ok = nullptr) {
        std::array<char16_t, STRING_BUFFER_UNITS> buffer;
        buffer.fill(u'#');
        int r = 0;
        switch (which) {
            case HidString::Manufacturer:
                r = lib().KX4701GetManufacturerString(h, buffer.data(), buffer.size());
                break;
            case HidString::Product:
                r = lib().KX4701GetProductString(h, buffer.data(), buffer.size());
                break;
            case HidString::SerialNumber:
                r = lib().KX4701GetSerialNumberString(h, buffer.data(), buffer.size());
                break;
        }
        if (ok != nullptr) {
            *ok = r;
        }
        EXPECT_NE(std::find(buffer.begin(), buffer.end(), 0), buffer.end()) << "unterminated";
        return std::u16string(buffer.data());
    }

    int writeIdentity(DeviceHandle h, const ChipIdentity& id) {
        return lib().KX4701SetDeviceCfg(
            h, id.vid, id.pid, id.maxPower, id.manufacturer.data(),
            static_cast<std::uint8_t>(id.manufacturer.size()), id.product.data(),
            static_cast<std::uint8_t>(id.product.size()), id.serial.data(),
            static_cast<std::uint8_t>(id.serial.size()));
    }

    Backend backend;
};

using Backends = ::testing::Types<BenchBackend, HidrawBackend>;
class BackendNames {
  public:
    template <class T>
    static std::string GetName(int) {
        return T::NAME;
    }
};
TYPED_TEST_SUITE(LibraryConformance, Backends, BackendNames);

// ---- Enumeration ------------------------------------------------------------------------

TYPED_TEST(LibraryConformance, DiscoveryListsEveryDeviceWithOneEnumerationAndEndsWith259) {
    const int before = this->backend.counting().enumerations;
    const std::vector<std::string> paths = this->discover();
    EXPECT_EQ(this->backend.counting().enumerations, before + 1);
    EXPECT_EQ(paths.size(), this->backend.bus().enumerate().size());
    EXPECT_NE(std::find(paths.begin(), paths.end(), this->backend.chipPath()), paths.end());
    for (std::int32_t i : {static_cast<std::int32_t>(paths.size()), 1000}) {
        std::array<char, DEVICE_PATH_BUFFER_SIZE> buffer;
        buffer.fill('x');
        EXPECT_EQ(this->lib().KX4701GetDevicePath(i, buffer.data(), buffer.size()), 0);
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        EXPECT_EQ(buffer[0], '\0');
    }
}

TYPED_TEST(LibraryConformance, BadPathArgumentsAreRefused) {
    std::array<char, 8> small;
    small.fill('x');
    EXPECT_EQ(this->lib().KX4701GetDevicePath(-1, small.data(), small.size()), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_CODE);
    // Every path here is longer than 7 bytes: it must not be cut, and the buffer stays a text.
    EXPECT_EQ(this->lib().KX4701GetDevicePath(0, small.data(), small.size()), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(small[0], '\0');
    EXPECT_EQ(this->lib().KX4701OpenDevicePath("no such device"), INVALID_DEVICE_HANDLE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND_CODE);
    EXPECT_EQ(this->lib().KX4701OpenDevicePath(nullptr), INVALID_DEVICE_HANDLE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_CODE);
}

TYPED_TEST(LibraryConformance, OpensByPathInAnyLetterCase) {
    const std::string path = this->backend.chipPath();
    for (const std::string& variant : {path, Upper(path), MixedCase(path)}) {
        const DeviceHandle h = this->lib().KX4701OpenDevicePath(variant.c_str());
        ASSERT_NE(h, INVALID_DEVICE_HANDLE) << variant;
        EXPECT_TRUE(this->lib().isIdentifiedChip(h)) << variant;
        this->lib().KX4701CloseDevice(h);
    }
}

TYPED_TEST(LibraryConformance, AttributesAndBufferLengthsMatchEnumeration) {
    HidDeviceInfo info;
    for (const HidDeviceInfo& i : this->backend.bus().enumerate()) {
        if (i.path == this->backend.chipPath()) {
            info = i;
        }
    }
    const DeviceHandle h = this->openChip();
    std::uint16_t vid = 0, pid = 0, version = 0;
    ASSERT_TRUE(this->lib().KX4701GetAttributes(h, &vid, &pid, &version));
    EXPECT_EQ(vid, info.vendorId);
    EXPECT_EQ(pid, info.productId);
    EXPECT_EQ(version, info.releaseNumber);
    std::uint16_t in = 0, out = 0;
    ASSERT_TRUE(this->lib().KX4701GetBufferLen(h, &in, &out));
    EXPECT_EQ(in, info.inputReportLength);
    EXPECT_EQ(out, info.outputReportLength);
    EXPECT_EQ(this->lib().KX4701GetAttributes(h, nullptr, &pid, &version), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_CODE);
    this->lib().KX4701CloseDevice(h);

    Guid guid{};
    EXPECT_TRUE(this->lib().KX4701GetHidGuid(&guid));
    EXPECT_EQ(guid, HID_CLASS_GUID);
    EXPECT_EQ(guid.data1, 0x4D1E55B2u);
}

TYPED_TEST(LibraryConformance, StringsReadBackAsTheDeviceReportsThem) {
    HidDeviceInfo info;
    for (const HidDeviceInfo& i : this->backend.bus().enumerate()) {
        if (i.path == this->backend.chipPath()) {
            info = i;
        }
    }
    const DeviceHandle h = this->openChip();
    EXPECT_EQ(this->read(h, HidString::Manufacturer), info.manufacturer);
    EXPECT_EQ(this->read(h, HidString::Product), info.product);
    EXPECT_EQ(this->read(h, HidString::SerialNumber), info.serialNumber);
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, StringsStayWithinTheCallersUnitsAndAreTerminated) {
    const DeviceHandle h = this->openChip();
    const std::u16string full = this->read(h, HidString::Product);
    for (std::uint32_t units : {1u, 2u, 4u}) {
        std::array<char16_t, 8> buffer;
        buffer.fill(u'#');
        EXPECT_TRUE(this->lib().KX4701GetProductString(h, buffer.data(), units)) << units;
        EXPECT_EQ(std::u16string(buffer.data()), full.substr(0, units - 1));
        EXPECT_TRUE(
            std::all_of(buffer.begin() + units, buffer.end(), [](char16_t c) { return c == u'#'; }))
            << "wrote past " << units << " units";
    }
    std::array<char16_t, 4> buffer;
    buffer.fill(u'#');
    EXPECT_EQ(this->lib().KX4701GetProductString(h, buffer.data(), 0), 0);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(this->lib().KX4701GetProductString(h, nullptr, 64), 0);
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, DefaultRateIsStoredAndOutOfRangeCodesAreRejected) {
    REQUIRE_RIG();
    const int id = this->backend.chipId();
    const DeviceHandle h = this->openChip();
    EXPECT_TRUE(this->lib().KX4701SetDefaultRate(h, 13, 2, 2, 3, 0x30));
    EXPECT_EQ(rig.device(id)->serial, (SerialSettings{13, 2, 2, 3, 0x30}));
    EXPECT_EQ(this->lib().KX4701SetDefaultRate(h, 14, 2, 2, 3, 0x30), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_CODE);
    EXPECT_EQ(rig.device(id)->serial, (SerialSettings{13, 2, 2, 3, 0x30}));
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, IdentityWriteIsReadBackAndResetRestoresTheFactory) {
    REQUIRE_RIG();
    const int id = this->backend.chipId();
    DeviceHandle h = this->openChip();
    ASSERT_TRUE(this->writeIdentity(h, NEW_IDENTITY));
    EXPECT_EQ(rig.device(id)->identity, NEW_IDENTITY);
    // The host sees a new identity when the chip enumerates again.
    this->lib().KX4701CloseDevice(h);
    ASSERT_TRUE(rig.unplug(id) && rig.replug(id));
    const std::string path = rig.device(id)->path;
    h = this->lib().KX4701OpenDevicePath(path.c_str());
    ASSERT_NE(h, INVALID_DEVICE_HANDLE);
    for (const HidDeviceInfo& i : this->backend.bus().enumerate()) {
        if (i.path == path && !i.manufacturer.empty()) {  // uhid devices have none
            EXPECT_EQ(this->read(h, HidString::Manufacturer), u"中文厂商");
        }
    }
    EXPECT_EQ(this->read(h, HidString::Product), u"New Product");
    EXPECT_EQ(this->read(h, HidString::SerialNumber), u"SN-0001");
    std::uint16_t vid = 0, pid = 0, version = 0;
    ASSERT_TRUE(this->lib().KX4701GetAttributes(h, &vid, &pid, &version));
    EXPECT_EQ(vid, 0x1A2B);
    EXPECT_EQ(pid, 0x3C4D);

    ASSERT_TRUE(this->lib().KX4701SetDefaultRate(h, 1, 1, 2, 1, 0xC0));
    ASSERT_TRUE(this->lib().KX4701ResetToDefault(h));
    EXPECT_EQ(rig.device(id)->identity, ChipIdentity{});
    EXPECT_EQ(rig.device(id)->serial, SerialSettings{});
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, LongestTextsTravelInTwoChunks) {
    REQUIRE_RIG();
    ChipIdentity longest = NEW_IDENTITY;
    longest.manufacturer = std::string(30, 'M');
    longest.product = std::string(15, 'P') + std::string(15, 'Q');
    longest.serial = std::string(30, '9');
    const DeviceHandle h = this->openChip();
    ASSERT_TRUE(this->writeIdentity(h, longest));
    EXPECT_EQ(rig.device(this->backend.chipId())->identity, longest);
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, InvalidIdentityArgumentsSendNothing) {
    REQUIRE_RIG();
    const int id = this->backend.chipId();
    const DeviceHandle h = this->openChip();
    const std::uint64_t before = rig.device(id)->reportsReceived;
    const char* text = "abcdefghijklmnopqrstuvwxyz0123456789";
    struct Row {
        const char* name;
        const char *m, *p, *s;
        std::uint8_t ml, pl, sl, power;
    };
    for (const Row& r : {Row{"empty manufacturer", text, text, text, 0, 5, 5, 50},
                         Row{"31-byte product", text, text, text, 5, 31, 5, 50},
                         Row{"null serial", text, text, nullptr, 5, 5, 5, 50},
                         Row{"over 500 mA", text, text, text, 5, 5, 5, 251}}) {
        SetLastError(0);
        EXPECT_EQ(this->lib().KX4701SetDeviceCfg(h, 1, 2, r.power, r.m, r.ml, r.p, r.pl, r.s, r.sl),
                  0)
            << r.name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER_CODE) << r.name;
    }
    EXPECT_EQ(rig.device(id)->reportsReceived, before);
    EXPECT_EQ(rig.device(id)->identity, ChipIdentity{});
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, NonChipDeviceReceivesNoReportAtAll) {
    REQUIRE_RIG();
    const int plain = rig.plugPlainHid("Mouse");
    const DeviceHandle h = this->lib().KX4701OpenDevicePath(rig.device(plain)->path.c_str());
    ASSERT_NE(h, INVALID_DEVICE_HANDLE);
    EXPECT_FALSE(this->lib().isIdentifiedChip(h));
    EXPECT_EQ(this->read(h, HidString::Product), u"Mouse");

    EXPECT_EQ(this->lib().KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40), 0);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
    EXPECT_EQ(this->writeIdentity(h, NEW_IDENTITY), 0);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
    EXPECT_EQ(this->lib().KX4701ResetToDefault(h), 0);
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED_CODE);
    EXPECT_EQ(rig.device(plain)->reportsReceived, 0u);
    this->lib().KX4701CloseDevice(h);
}

TYPED_TEST(LibraryConformance, UnpluggedDeviceFailsEveryCallButCloses) {
    REQUIRE_RIG();
    const int id = rig.plugChip();
    const DeviceHandle h = this->lib().KX4701OpenDevicePath(rig.device(id)->path.c_str());
    ASSERT_TRUE(rig.unplug(id));
    ASSERT_TRUE(rig.replug(id));  // a new arrival: the old handle stays dead
    std::uint16_t v = 0, p = 0, r = 0;
    EXPECT_EQ(this->lib().KX4701GetAttributes(h, &v, &p, &r), 0);
    EXPECT_EQ(this->lib().KX4701SetDefaultRate(h, 6, 4, 1, 4, 0x40), 0);
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE_CODE);
    int ok = 1;
    EXPECT_EQ(this->read(h, HidString::SerialNumber, &ok), u"");
    EXPECT_EQ(ok, 0);
    EXPECT_TRUE(this->lib().KX4701CloseDevice(h));
}

// ---- Handles ----------------------------------------------------------------------------

TYPED_TEST(LibraryConformance, HandlesAreDistinctValidAndAllReleased) {
    std::vector<DeviceHandle> handles;
    for (int i = 0; i < 5; ++i) {
        handles.push_back(this->openChip());
    }
    EXPECT_EQ(this->lib().openHandleCount(), 5u);
    std::vector<DeviceHandle> sorted = handles;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    EXPECT_EQ(std::count(handles.begin(), handles.end(), INVALID_DEVICE_HANDLE), 0);
    // A handle closed and reopened never aliases one still open.
    EXPECT_TRUE(this->lib().KX4701CloseDevice(handles[2]));
    const DeviceHandle again = this->openChip();
    for (std::size_t i : {0u, 1u, 3u, 4u}) {
        EXPECT_NE(handles[i], again);
    }
    handles[2] = again;
    for (DeviceHandle h : handles) {
        EXPECT_TRUE(this->lib().KX4701CloseDevice(h));
    }
    EXPECT_EQ(this->lib().openHandleCount(), 0u);
    EXPECT_EQ(this->lib().KX4701CloseDevice(handles[0]), 0);
    EXPECT_EQ(this->lib().KX4701CloseDevice(INVALID_DEVICE_HANDLE), 0);
    EXPECT_EQ(this->lib().KX4701SetTimeOut(handles[0], 1, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE_CODE);
}

}  // namespace
}  // namespace kx::testing
