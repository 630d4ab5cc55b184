// Serial defaults, identity rules, status texts and the CP936 codec, as tables.

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "config/IdentityRules.h"
#include "config/SerialDefaults.h"
#include "config/StatusTexts.h"
#include "config/TextCodec.h"

namespace kx {
namespace {

using text::AnsiToUtf16;
using text::Utf16ToAnsi;
using text::Utf8ToAnsi;

std::string Cp936(std::string_view utf8) {
    return Utf8ToAnsi(utf8).value();
}

std::string Repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

// ---- Serial defaults --------------------------------------------------------------------

struct ListCase {
    ParameterList list;
    std::vector<CodeEntry> rows;
    int initial;
};

const ListCase LISTS[] = {
    {ParameterList::Baud,
     {{"300", 1, 0xC0},
      {"600", 2, 0x80},
      {"1200", 3, 0x60},
      {"2400", 4, 0x40},
      {"4800", 5, 0x30},
      {"9600", 6, 0x40},
      {"14400", 7, 0x30},
      {"19200", 8, 0x30},
      {"28800", 9, 0x30},
      {"38400", 10, 0x30},
      {"57600", 11, 0x30},
      {"76800", 12, 0x30},
      {"115200", 13, 0x30}},
     5},
    {ParameterList::StopBits, {{"1位", 1, 0}, {"2位", 2, 0}}, 0},
    {ParameterList::Parity,
     {{"奇校验", 1, 0}, {"偶校验", 2, 0}, {"空白位", 3, 0}, {"无校验", 4, 0}},
     3},
    {ParameterList::DataBits, {{"5位", 1, 0}, {"6位", 2, 0}, {"7位", 3, 0}, {"8位", 4, 0}}, 3},
};

std::uint8_t& FieldOf(ParameterList list, SerialDefaults& d) {
    switch (list) {
        case ParameterList::Baud:
            return d.baudCode;
        case ParameterList::StopBits:
            return d.stopBitsCode;
        case ParameterList::Parity:
            return d.parityCode;
        case ParameterList::DataBits:
            break;
    }
    return d.dataBitsCode;
}

TEST(SerialDefaults, EveryRowSetsItsCodeAndOnlyItsField) {
    SerialDefaults fromInitial{0, 0, 0, 0, 0};
    for (const ListCase& expected : LISTS) {
        const auto table = ParameterTable(expected.list);
        ASSERT_EQ(table.size(), expected.rows.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            const CodeEntry& row = expected.rows[i];
            SCOPED_TRACE(row.text);
            EXPECT_STREQ(table[i].text, row.text);
            SerialDefaults d{0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
            ASSERT_TRUE(ApplySelection(expected.list, row.text, d));
            EXPECT_EQ(FieldOf(expected.list, d), row.code);
            const bool baud = expected.list == ParameterList::Baud;
            EXPECT_EQ(d.timingByte, baud ? row.timing : 0xEE);
            FieldOf(expected.list, d) = 0xEE;
            d.timingByte = 0xEE;
            EXPECT_EQ(d, (SerialDefaults{0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
        }
        EXPECT_EQ(InitialSelection(expected.list), expected.initial);
        ApplySelection(expected.list, expected.rows[expected.initial].text, fromInitial);
    }
    EXPECT_EQ(fromInitial, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(INITIAL_SERIAL_DEFAULTS, (SerialDefaults{6, 4, 1, 4, 0x40}));
}

TEST(SerialDefaults, UnknownTextLeavesDefaultsUntouched) {
    const std::pair<ParameterList, std::string_view> cases[] = {
        {ParameterList::Baud, ""},
        {ParameterList::Baud, "9600 "},
        {ParameterList::Baud, "1位"},
        {ParameterList::StopBits, "1.5位"},
        {ParameterList::Parity, "标志位"},
        {ParameterList::DataBits, "9位"},
        {ParameterList::Baud, {"4800\0x", 6}},
    };
    for (const auto& [list, text] : cases) {
        SerialDefaults d = INITIAL_SERIAL_DEFAULTS;
        EXPECT_FALSE(ApplySelection(list, text, d)) << text;
        EXPECT_EQ(d, INITIAL_SERIAL_DEFAULTS);
    }
}

// ---- Identity rules ---------------------------------------------------------------------

TEST(IdentityRules, HexParsingTakesTheFirstFourBytesAndOnlyHexDigits) {
    for (int b = 0; b < 256; ++b) {
        const bool hex = std::isxdigit(b) != 0;
        EXPECT_EQ(HexDigitValue(static_cast<char>(b)),
                  hex ? std::stoi(std::string(1, static_cast<char>(b)), nullptr, 16) : 0)
            << b;
    }
    const std::pair<std::string_view, unsigned> cases[] = {
        {"1a2B", 0x1A2B}, {"9G4F", 0x904F}, {"ABCDEF", 0xABCD},
        {"ffff", 0xFFFF}, {"0x12", 0x0012}, {" 12 ", 0x0120},
        {"", 0},          {"ABC", 0xABC0},  {{"12FF", 2}, 0x1200},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseHex16(text), expected) << text;
    }
    EXPECT_EQ(ParseHex16(Cp936("中文")), 0);
}

TEST(IdentityRules, LengthRulesPerItem) {
    const std::string cn15 = Cp936(Repeat("中", 15));
    const struct {
        IdentityItem item;
        std::string text;
        const char* expected;  // null: accepted
    } cases[] = {
        {IdentityItem::Vid, "123", "VID长度不对"},
        {IdentityItem::Vid, "1234", nullptr},
        {IdentityItem::Vid, Repeat("F", 40), nullptr},
        {IdentityItem::Pid, "12", "PID长度不对"},
        {IdentityItem::Pid, "ZZZZ", nullptr},
        {IdentityItem::Manufacturer, "", "厂商字符串长度不对"},
        {IdentityItem::Manufacturer, cn15, nullptr},
        {IdentityItem::Manufacturer, cn15 + "A", "厂商字符串长度超过30"},
        {IdentityItem::Product, "", "产品字符串长度不对"},
        {IdentityItem::Product, Repeat("x", 30), nullptr},
        {IdentityItem::Product, Repeat("x", 31), "产品字符串长度超过30"},
        {IdentityItem::Serial, "", "序列号字符串长度不对"},
        {IdentityItem::Serial, Repeat("9", 31), "序列号字符串长度超过30"},
    };
    for (const auto& c : cases) {
        const auto message = ValidateIdentityText(c.item, c.text);
        EXPECT_EQ(message.value_or("accepted"), c.expected ? c.expected : "accepted") << c.text;
    }
}

IdentityInput AllChecked() {
    return {{true, "1a2B"}, {true, "00c1"}, {true, "Maker"}, {true, "Bridge"}, {true, "0001"}};
}

TEST(IdentityRules, UncheckedItemsTakeTheDefaultsWhateverTheEdits) {
    const std::string longText = Repeat("y", 50);
    const IdentityInput in{{false, "x"}, {false, ""}, {false, ""}, {false, longText}, {false, "z"}};
    EXPECT_EQ(std::get<IdentityWrite>(BuildIdentityWrite(in)),
              (IdentityWrite{0x3C5B, 0xB207, "KX-CHIPS", "HID To Serial", "12345678"}));
    EXPECT_EQ(IDENTITY_MAX_POWER, 50);  // 100 mA, in units of 2 mA
    IdentityInput checked = AllChecked();
    const std::string product = Cp936(Repeat("串", 15));
    checked.product.text = product;
    EXPECT_EQ(std::get<IdentityWrite>(BuildIdentityWrite(checked)),
              (IdentityWrite{0x1A2B, 0x00C1, "Maker", product, "0001"}));
}

TEST(IdentityRules, OnlyTheFirstFailureInItemOrderIsReported) {
    const struct {
        IdentityField IdentityInput::*first;
        std::string_view firstText;
        IdentityField IdentityInput::*second;
        std::string_view secondText;
        const char* message;
    } cases[] = {
        {&IdentityInput::vid, "abc", &IdentityInput::pid, "1", "VID长度不对"},
        {&IdentityInput::pid, "1", &IdentityInput::serial, "", "PID长度不对"},
        {&IdentityInput::manufacturer, "", &IdentityInput::product, "", "厂商字符串长度不对"},
        {&IdentityInput::product, "0123456789012345678901234567890", &IdentityInput::serial, "",
         "产品字符串长度超过30"},
    };
    for (const auto& c : cases) {
        IdentityInput in = AllChecked();
        (in.*c.first).text = c.firstText;
        (in.*c.second).text = c.secondText;
        const auto result = BuildIdentityWrite(in);
        ASSERT_TRUE(std::holds_alternative<IdentityFailure>(result)) << c.message;
        EXPECT_EQ(std::get<IdentityFailure>(result).message, c.message);
        // Unchecking the bad item removes its failure: its text is no longer looked at.
        (in.*c.first).checked = false;
        const auto next = BuildIdentityWrite(in);
        EXPECT_FALSE(std::holds_alternative<IdentityFailure>(next) &&
                     std::get<IdentityFailure>(next).message == c.message);
    }
}

// ---- Status texts -----------------------------------------------------------------------

TEST(StatusTexts, DeviceInfoHexAndTheStatusBound) {
    using namespace status;
    EXPECT_EQ(FormatDeviceInfo(0x0A0B, 0x00C1, 0x01A0), "设备已连接,VID=A0BPID=C1 VER=1A0 ");
    EXPECT_EQ(FormatDeviceInfo(0xFFFF, 0xabcd, 0), "设备已连接,VID=FFFFPID=ABCD VER=0 ");
    EXPECT_EQ(FormatHex4(0x00C1), "00C1");
    EXPECT_EQ(FormatHex4(0xbeef), "BEEF");
    EXPECT_EQ(FormatStatus(CLOSE_SUCCEEDED), "操作状态:关闭设备成功!");
    EXPECT_EQ(FormatStatus("A\xFF"
                           "B"),
              "操作状态:AB");
    // The bound counts code-page bytes within a 200-byte buffer; the prefix takes 9.
    EXPECT_EQ(FormatStatus(std::string(500, 'A')), "操作状态:" + std::string(190, 'A'));
    EXPECT_EQ(Cp936(FormatStatus("A" + Repeat("中", 200))).size(), 9u + 1u + 188u);
}

// ---- CP936 codec ------------------------------------------------------------------------

const std::string ZHONG = "\xD6\xD0";  // 中

TEST(TextCodec, Utf16ToAnsiIsBoundedTerminatedAndMarksWhatItCannotShow) {
    const struct {
        const char* name;
        std::u16string text;
        std::size_t srcUnits;
        std::size_t dstBytes;
        std::string expected;
    } cases[] = {
        {"chinese", u"中文A", 3, 128,
         "\xD6\xD0\xCE\xC4"
         "A"},
        {"stops at zero", {u'A', u'B', 0, u'C'}, 4, 128, "AB"},
        {"source bound", std::u16string(64, u'A') + u"ZZ", 64, 128, std::string(64, 'A')},
        {"63 chinese fit", std::u16string(63, u'中'), 63, 128, Repeat(ZHONG, 63)},
        {"64th does not", std::u16string(64, u'中'), 64, 128, Repeat(ZHONG, 63)},
        {"no split", u"A中", 2, 3, "A"},
        {"exact fit", u"A中", 2, 4, "A" + ZHONG},
        {"never skips ahead", u"中B", 2, 2, ""},
        {"terminator room", u"ABC", 3, 3, "AB"},
        {"no room", u"ABC", 3, 0, ""},
        {"emoji", u"A\U0001F600B", 4, 128, "A?B"},
        {"lone high", {u'A', char16_t(0xD800), u'B'}, 3, 128, "A?B"},
        {"reversed pair", {char16_t(0xDC00), char16_t(0xD800)}, 2, 128, "??"},
        {"pair cut by the bound", u"\U0001F600", 1, 128, "?"},
        {"U+0080", {char16_t(0x80)}, 1, 128, "?"},
        {"euro", u"€", 1, 128, "\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToAnsi(c.text.data(), c.srcUnits, c.dstBytes), c.expected) << c.name;
    }
    EXPECT_EQ(Utf16ToAnsi(nullptr, 10), "");
}

TEST(TextCodec, Utf8ToAnsiRefusesWhatCp936CannotHold) {
    EXPECT_EQ(Utf8ToAnsi("中文·"), "\xD6\xD0\xCE\xC4\xA1\xA4");
    for (const char* bad : {"ok\xF0\x9F\x98\x80", "한", "\xC2\x80", "\xC0\xAF", "A\x80", "\xE4\xB8",
                            "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xD6\xD0"}) {
        EXPECT_FALSE(Utf8ToAnsi(bad).has_value()) << bad;
    }
}

TEST(TextCodec, AnsiDecodingMarksInvalidBytesWithoutShiftingTheRest) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"\xD6\xD0"
         "A",
         u"中A"},
        {"\x80", u"€"},
        {"A\xFF"
         "B",
         u"A\uFFFDB"},
        {"A\xD6", u"A\uFFFD"},
        {"\x81"
         "0",
         u"\uFFFD0"},
        {"\xA1\x40"
         "B",
         u"\uFFFDB"},
        {"\x81\x7F", u"\uFFFD\x7F"},
    };
    for (const auto& [ansi, expected] : cases) {
        EXPECT_EQ(AnsiToUtf16(ansi), expected) << ansi;
    }
    EXPECT_EQ(text::AnsiToUtf8("A\xFF"), "A\xEF\xBF\xBD");
}

TEST(TextCodec, EveryEncodableBmpCharacterSurvivesTheChipPath) {
    int encodable = 0;
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        if (!text::IsAnsiEncodable(cp)) {
            continue;
        }
        ++encodable;
        const char16_t unit[] = {static_cast<char16_t>(cp), 0};
        ASSERT_EQ(AnsiToUtf16(Utf16ToAnsi(unit, 2)), std::u16string(1, unit[0])) << unsigned(cp);
    }
    EXPECT_GT(encodable, 21000);  // ASCII, the euro sign and about 21,800 double-byte ones
    EXPECT_FALSE(text::IsAnsiEncodable(0xD800));
    EXPECT_FALSE(text::IsAnsiEncodable(0x110000));
}

TEST(TextCodec, WideToUtf16IsBoundedAndAlwaysTerminated) {
    const struct {
        const wchar_t* src;
        std::size_t units;
        std::u16string expected;
    } cases[] = {
        {L"KX中", 8, u"KX中"},      {L"ABCDEF", 4, u"ABC"},
        {L"ABC", 1, u""},           {L"A\U0001F600", 4, u"A\U0001F600"},
        {L"A\U0001F600B", 3, u"A"}, {nullptr, 4, u""},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> dst(c.units + 1, u'#');
        text::WideToUtf16(c.src, dst.data(), c.units);
        EXPECT_EQ(std::u16string(dst.data()), c.expected);
        EXPECT_EQ(dst[c.units], u'#') << "wrote past the buffer";
    }
}

TEST(TextCodec, ThreadsConvertAtTheSameTime) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                failures[t] +=
                    Utf8ToAnsi("设备已连接") != "\xC9\xE8\xB1\xB8\xD2\xD1\xC1\xAC\xBD\xD3";
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace kx
