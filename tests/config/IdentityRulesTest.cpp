#include "config/IdentityRules.h"

#include <gtest/gtest.h>

#include <string>

#include "config/TextCodec.h"

namespace kx {
namespace {

std::string Cp936(std::string_view utf8) {
    auto bytes = text::Utf8ToAnsi(utf8);
    EXPECT_TRUE(bytes.has_value()) << utf8;
    return bytes.value_or("");
}

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

TEST(HexDigitValue, EveryByte) {
    for (int b = 0; b < 256; ++b) {
        const char c = static_cast<char>(b);
        int expected = 0;
        if (b >= '0' && b <= '9') {
            expected = b - '0';
        } else if (b >= 'A' && b <= 'F') {
            expected = b - 'A' + 10;
        } else if (b >= 'a' && b <= 'f') {
            expected = b - 'a' + 10;
        }
        EXPECT_EQ(HexDigitValue(c), expected) << "byte " << b;
    }
}

TEST(ParseHex16, FirstFourBytes) {
    const struct {
        std::string text;
        unsigned expected;
    } cases[] = {
        {"1a2B", 0x1A2B}, {"9G4F", 0x904F}, {"ABCDEF", 0xABCD}, {"0000", 0},      {"ffff", 0xFFFF},
        {"3C5B", 0x3C5B}, {"b207", 0xB207}, {" 12 ", 0x0120},   {"0x12", 0x0012},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseHex16(c.text), c.expected) << c.text;
    }
}

TEST(ParseHex16, TwoChineseCharactersGiveZero) {
    const std::string vid = Cp936("中文");
    ASSERT_EQ(vid.size(), 4u);
    EXPECT_EQ(ParseHex16(vid), 0);
}

TEST(ParseHex16, ShortTextCountsMissingDigitsAsZero) {
    EXPECT_EQ(ParseHex16(""), 0);
    EXPECT_EQ(ParseHex16("A"), 0xA000);
    EXPECT_EQ(ParseHex16("AB"), 0xAB00);
    EXPECT_EQ(ParseHex16("ABC"), 0xABC0);
    // Bytes beyond the view are never read: the view below ends before "FF".
    const char storage[] = "12FF";
    EXPECT_EQ(ParseHex16(std::string_view(storage, 2)), 0x1200);
}

TEST(ValidateIdentityText, LengthRulesPerItem) {
    const std::string cn15 = Cp936(Repeat("中", 15));
    const std::string cn16 = Cp936(Repeat("中", 16));
    ASSERT_EQ(cn15.size(), 30u);
    ASSERT_EQ(cn16.size(), 32u);
    const struct {
        IdentityItem item;
        std::string text;
        const char* expected;  // null: accepted
    } cases[] = {
        {IdentityItem::Vid, "", "VID长度不对"},
        {IdentityItem::Vid, "123", "VID长度不对"},
        {IdentityItem::Vid, "1234", nullptr},
        {IdentityItem::Vid, Repeat("F", 40), nullptr},
        {IdentityItem::Pid, "12", "PID长度不对"},
        {IdentityItem::Pid, "ZZZZ", nullptr},
        {IdentityItem::Manufacturer, "", "厂商字符串长度不对"},
        {IdentityItem::Manufacturer, "A", nullptr},
        {IdentityItem::Manufacturer, cn15, nullptr},
        {IdentityItem::Manufacturer, cn15 + "A", "厂商字符串长度超过30"},
        {IdentityItem::Manufacturer, cn16, "厂商字符串长度超过30"},
        {IdentityItem::Product, "", "产品字符串长度不对"},
        {IdentityItem::Product, Repeat("x", 30), nullptr},
        {IdentityItem::Product, Repeat("x", 31), "产品字符串长度超过30"},
        {IdentityItem::Serial, "", "序列号字符串长度不对"},
        {IdentityItem::Serial, Repeat("9", 30), nullptr},
        {IdentityItem::Serial, Repeat("9", 31), "序列号字符串长度超过30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto message = ValidateIdentityText(c.item, c.text);
        if (c.expected == nullptr) {
            EXPECT_FALSE(message.has_value()) << *message;
        } else {
            ASSERT_TRUE(message.has_value());
            EXPECT_EQ(*message, c.expected);
        }
    }
}

IdentityInput AllChecked() {
    IdentityInput in;
    in.vid = {true, "1a2B"};
    in.pid = {true, "00c1"};
    in.manufacturer = {true, "Maker"};
    in.product = {true, "Bridge"};
    in.serial = {true, "0001"};
    return in;
}

TEST(BuildIdentityWrite, AllUncheckedWritesDefaultsWhateverTheEdits) {
    IdentityInput in;
    in.vid = {false, "x"};
    in.pid = {false, ""};
    in.manufacturer = {false, ""};
    in.product = {false, Repeat("y", 50)};
    in.serial = {false, "z"};
    const auto result = BuildIdentityWrite(in);
    ASSERT_TRUE(std::holds_alternative<IdentityWrite>(result));
    const auto& write = std::get<IdentityWrite>(result);
    EXPECT_EQ(write.vid, 0x3C5B);
    EXPECT_EQ(write.pid, 0xB207);
    EXPECT_EQ(write.manufacturer.size(), 8u);
    EXPECT_EQ(write.manufacturer, DEFAULT_MANUFACTURER);
    EXPECT_EQ(write.product, "HID To Serial");
    EXPECT_EQ(write.serial, "12345678");
}

TEST(BuildIdentityWrite, DefaultsAreValidIdentityTexts) {
    for (std::string_view text : {DEFAULT_MANUFACTURER, DEFAULT_PRODUCT, DEFAULT_SERIAL}) {
        EXPECT_FALSE(ValidateIdentityText(IdentityItem::Product, text).has_value()) << text;
        for (char c : text) {
            EXPECT_GE(c, 0x20) << text;  // printable ASCII: one byte per character
            EXPECT_LT(c, 0x7F) << text;
        }
    }
}

TEST(BuildIdentityWrite, CheckedItemsAreParsedAndKept) {
    IdentityInput in = AllChecked();
    const std::string product = Cp936(Repeat("串", 15));
    in.product.text = product;
    const auto result = BuildIdentityWrite(in);
    ASSERT_TRUE(std::holds_alternative<IdentityWrite>(result));
    const auto& write = std::get<IdentityWrite>(result);
    EXPECT_EQ(write, (IdentityWrite{0x1A2B, 0x00C1, "Maker", product, "0001"}));
}

TEST(BuildIdentityWrite, ChineseVidPassesTheLengthCheckAndGivesZero) {
    IdentityInput in = AllChecked();
    const std::string vid = Cp936("中文");
    in.vid.text = vid;
    const auto result = BuildIdentityWrite(in);
    ASSERT_TRUE(std::holds_alternative<IdentityWrite>(result));
    EXPECT_EQ(std::get<IdentityWrite>(result).vid, 0);
}

TEST(BuildIdentityWrite, OnlyTheFirstFailureInItemOrderIsReported) {
    const struct {
        const char* name;
        void (*spoil)(IdentityInput&);
        IdentityItem item;
        const char* message;
    } cases[] = {
        {"vid short and product empty",
         [](IdentityInput& in) {
             in.vid.text = "abc";
             in.product.text = "";
         },
         IdentityItem::Vid, "VID长度不对"},
        {"pid short and serial long",
         [](IdentityInput& in) {
             in.pid.text = "1";
             in.serial.text = "0123456789012345678901234567890123";
         },
         IdentityItem::Pid, "PID长度不对"},
        {"manufacturer empty before product empty",
         [](IdentityInput& in) {
             in.manufacturer.text = "";
             in.product.text = "";
         },
         IdentityItem::Manufacturer, "厂商字符串长度不对"},
        {"product too long",
         [](IdentityInput& in) { in.product.text = "0123456789012345678901234567890"; },
         IdentityItem::Product, "产品字符串长度超过30"},
        {"serial empty", [](IdentityInput& in) { in.serial.text = ""; }, IdentityItem::Serial,
         "序列号字符串长度不对"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IdentityInput in = AllChecked();
        c.spoil(in);
        const auto result = BuildIdentityWrite(in);
        ASSERT_TRUE(std::holds_alternative<IdentityFailure>(result));
        const auto& failure = std::get<IdentityFailure>(result);
        EXPECT_EQ(failure.item, c.item);
        EXPECT_EQ(failure.message, c.message);
    }
}

TEST(BuildIdentityWrite, UncheckingABadItemRemovesItsFailure) {
    IdentityInput in = AllChecked();
    in.vid.text = "1";
    ASSERT_TRUE(std::holds_alternative<IdentityFailure>(BuildIdentityWrite(in)));
    in.vid.checked = false;
    const auto result = BuildIdentityWrite(in);
    ASSERT_TRUE(std::holds_alternative<IdentityWrite>(result));
    EXPECT_EQ(std::get<IdentityWrite>(result).vid, DEFAULT_VID);
}

TEST(MessagesFor, HexItemsHaveNoUpperBound) {
    EXPECT_EQ(MessagesFor(IdentityItem::Vid).tooLong, nullptr);
    EXPECT_EQ(MessagesFor(IdentityItem::Pid).tooLong, nullptr);
    for (auto item : {IdentityItem::Manufacturer, IdentityItem::Product, IdentityItem::Serial}) {
        ASSERT_NE(MessagesFor(item).tooLong, nullptr);
        // Every message must be showable in the code page.
        EXPECT_TRUE(text::Utf8ToAnsi(MessagesFor(item).tooLong).has_value());
        EXPECT_TRUE(text::Utf8ToAnsi(MessagesFor(item).tooShort).has_value());
    }
}

}  // namespace
}  // namespace kx
