// The hex and length rules of the identity write. Five fuzzed fields and check boxes go
// through the rules; the result is compared with the rules stated plainly here, and an
// accepted write is carried to a virtual chip through the device library and read back.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <string>
#include <variant>

#include "config/IdentityRules.h"
#include "config/TextCodec.h"
#include "device/KxLibrary.h"
#include "emulation/VirtualBench.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kx;

int Digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;
}

// The first rule broken, in item order, as the rules state it; nullptr when none is.
const char* FirstFailure(const std::array<bool, 5>& checked,
                         const std::array<std::string, 5>& text) {
    static const char* const tooShort[5] = {"VID长度不对", "PID长度不对", "厂商字符串长度不对",
                                            "产品字符串长度不对", "序列号字符串长度不对"};
    static const char* const tooLong[5] = {nullptr, nullptr, "厂商字符串长度超过30",
                                           "产品字符串长度超过30", "序列号字符串长度超过30"};
    for (int i = 0; i < 5; ++i) {
        if (!checked[i]) {
            continue;
        }
        if (i < 2 && text[i].size() < 4) {
            return tooShort[i];
        }
        if (i >= 2 && text[i].empty()) {
            return tooShort[i];
        }
        if (i >= 2 && text[i].size() > 30) {
            return tooLong[i];
        }
    }
    return nullptr;
}

// One bench and library for the whole run: a chip per accepted write would be wasteful.
struct Stack {
    emu::VirtualBench bench;
    KxLibrary library{bench};
    int chip = bench.plugChip();
    DeviceHandle handle = library.KX4701OpenDevicePath(bench.device(chip)->path.c_str());
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Stack stack;
    FuzzedDataProvider in(data, size);
    std::array<bool, 5> checked{};
    std::array<std::string, 5> text;
    for (int i = 0; i < 5; ++i) {
        checked[i] = in.ConsumeBool();
        text[i] = in.ConsumeRandomLengthString(40);
    }

    // The single-item rules first.
    const IdentityItem items[5] = {IdentityItem::Vid, IdentityItem::Pid, IdentityItem::Manufacturer,
                                   IdentityItem::Product, IdentityItem::Serial};
    for (int i = 0; i < 5; ++i) {
        std::array<bool, 5> only{};
        only[i] = true;
        const char* expected = FirstFailure(only, text);
        const auto got = ValidateIdentityText(items[i], text[i]);
        KX_FUZZ_CHECK(got.has_value() == (expected != nullptr));
        if (got) {
            KX_FUZZ_CHECK(*got == expected);
        }
    }
    for (const char c : text[0]) {
        KX_FUZZ_CHECK(HexDigitValue(c) == Digit(c));
    }
    if (text[0].size() >= 4) {
        const unsigned v = (Digit(text[0][0]) << 12) | (Digit(text[0][1]) << 8) |
                           (Digit(text[0][2]) << 4) | Digit(text[0][3]);
        KX_FUZZ_CHECK(ParseHex16(text[0]) == v);
    }
    (void)ParseHex16(text[1]);  // shorter texts too: must stay inside them

    const IdentityInput input{{checked[0], text[0]},
                              {checked[1], text[1]},
                              {checked[2], text[2]},
                              {checked[3], text[3]},
                              {checked[4], text[4]}};
    const auto result = BuildIdentityWrite(input);
    const char* expected = FirstFailure(checked, text);
    if (expected != nullptr) {
        const auto* failure = std::get_if<IdentityFailure>(&result);
        KX_FUZZ_CHECK(failure != nullptr && failure->message == expected);
        return 0;
    }
    const auto* write = std::get_if<IdentityWrite>(&result);
    KX_FUZZ_CHECK(write != nullptr);
    KX_FUZZ_CHECK(write->vid == (checked[0] ? ParseHex16(text[0]) : DEFAULT_VID));
    KX_FUZZ_CHECK(write->pid == (checked[1] ? ParseHex16(text[1]) : DEFAULT_PID));
    KX_FUZZ_CHECK(write->manufacturer == (checked[2] ? text[2] : DEFAULT_MANUFACTURER));
    KX_FUZZ_CHECK(write->product == (checked[3] ? text[3] : DEFAULT_PRODUCT));
    KX_FUZZ_CHECK(write->serial == (checked[4] ? text[4] : DEFAULT_SERIAL));

    // What the rules accept, the library sends and the chip stores byte for byte.
    KxLibrary& lib = stack.library;
    const int ok = lib.KX4701SetDeviceCfg(
        stack.handle, write->vid, write->pid, IDENTITY_MAX_POWER, write->manufacturer.data(),
        static_cast<std::uint8_t>(write->manufacturer.size()), write->product.data(),
        static_cast<std::uint8_t>(write->product.size()), write->serial.data(),
        static_cast<std::uint8_t>(write->serial.size()));
    KX_FUZZ_CHECK(ok == 1);
    const emu::ChipIdentity stored = stack.bench.device(stack.chip)->identity;
    KX_FUZZ_CHECK(stored.vid == write->vid && stored.pid == write->pid);
    KX_FUZZ_CHECK(stored.manufacturer == write->manufacturer);
    KX_FUZZ_CHECK(stored.product == write->product && stored.serial == write->serial);
    return 0;
}
