// Serial defaults, identity rules, status texts, the CP936 codec and the installer's search
// path edits, as tables.

#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <string>
#include <vector>

#include "config/IdentityRules.h"
#include "config/PathList.h"
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
    while (times-- > 0) out += piece;
    return out;
}

// ---- Serial defaults --------------------------------------------------------------------

using enum ParameterList;
using S = SerialDefaults;

// Row i of each list carries code i + 1; only the baud rates carry a timing byte. Texts that
// are no row are refused and change nothing.
const struct {
    ParameterList list;
    std::uint8_t S::*field;
    int initial;
    std::vector<std::string_view> refused;
    std::vector<const char*> texts;
    std::vector<std::uint8_t> timing = {};
} LISTS[] = {{Baud,
              &S::baudCode,
              5,
              {"", "9600 ", "1位", {"4800\0x", 6}},
              {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400",
               "57600", "76800", "115200"},
              {0xC0, 0x80, 0x60, 0x40, 0x30, 0x40, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30}},
             {StopBits, &S::stopBitsCode, 0, {"1.5位"}, {"1位", "2位"}},
             {Parity, &S::parityCode, 3, {"标志位"}, {"奇校验", "偶校验", "空白位", "无校验"}},
             {DataBits, &S::dataBitsCode, 3, {"9位"}, {"5位", "6位", "7位", "8位"}}};

TEST(SerialDefaults, EveryRowSetsItsCodeAndOnlyItsField) {
    S fromInitial{0, 0, 0, 0, 0};
    for (const auto& expected : LISTS) {
        const auto table = ParameterTable(expected.list);
        ASSERT_EQ(table.size(), expected.texts.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            SCOPED_TRACE(expected.texts[i]);
            EXPECT_STREQ(table[i].text, expected.texts[i]);
            S d{0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
            ASSERT_TRUE(ApplySelection(expected.list, expected.texts[i], d));
            EXPECT_EQ(d.*expected.field, i + 1);
            EXPECT_EQ(d.timingByte, expected.timing.empty() ? 0xEE : expected.timing[i]);
            d.*expected.field = d.timingByte = 0xEE;
            EXPECT_EQ(d, (S{0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
        }
        for (const std::string_view text : expected.refused) {
            S d = INITIAL_SERIAL_DEFAULTS;
            EXPECT_FALSE(ApplySelection(expected.list, text, d)) << text;
            EXPECT_EQ(d, INITIAL_SERIAL_DEFAULTS);
        }
        EXPECT_EQ(InitialSelection(expected.list), expected.initial);
        ApplySelection(expected.list, expected.texts[expected.initial], fromInitial);
    }
    EXPECT_EQ(fromInitial, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(INITIAL_SERIAL_DEFAULTS, (S{6, 4, 1, 4, 0x40}));
}

// ---- Identity rules ---------------------------------------------------------------------

TEST(IdentityRules, HexParsingTakesTheFirstFourBytesAndOnlyHexDigits) {
    for (int b = 0; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        EXPECT_EQ(HexDigitValue(c[0]), std::isxdigit(b) ? std::stoi(c, nullptr, 16) : 0) << b;
    }
    const std::pair<std::string_view, unsigned> cases[] = {
        {"1a2B", 0x1A2B}, {"9G4F", 0x904F}, {"ABCDEF", 0xABCD},
        {"ffff", 0xFFFF}, {"0x12", 0x0012}, {" 12 ", 0x0120},
        {"", 0},          {"ABC", 0xABC0},  {{"12FF", 2}, 0x1200}};
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseHex16(text), expected) << text;
    }
    EXPECT_EQ(ParseHex16(Cp936("中文")), 0);
}

TEST(IdentityRules, LengthRulesPerItem) {
    using enum IdentityItem;
    const std::string cn15 = Cp936(Repeat("中", 15));
    const struct {
        IdentityItem item;
        std::string text;
        const char* expected;  // null: accepted
    } cases[] = {{Vid, "123", "VID长度不对"},
                 {Vid, "1234", nullptr},
                 {Vid, Repeat("F", 40), nullptr},
                 {Pid, "12", "PID长度不对"},
                 {Pid, "ZZZZ", nullptr},
                 {Manufacturer, "", "厂商字符串长度不对"},
                 {Manufacturer, cn15, nullptr},
                 {Manufacturer, cn15 + "A", "厂商字符串长度超过30"},
                 {Product, "", "产品字符串长度不对"},
                 {Product, Repeat("x", 30), nullptr},
                 {Product, Repeat("x", 31), "产品字符串长度超过30"},
                 {Serial, "", "序列号字符串长度不对"},
                 {Serial, Repeat("9", 31), "序列号字符串长度超过30"}};
    for (const auto& c : cases) {
        const auto message = ValidateIdentityText(c.item, c.text);
        EXPECT_EQ(message.value_or("accepted"), c.expected ? c.expected : "accepted") << c.text;
    }
}

IdentityInput AllChecked() {
    return {{true, "1a2B"}, {true, "00c1"}, {true, "Maker"}, {true, "Bridge"}, {true, "0001"}};
}

TEST(IdentityRules, UncheckedItemsTakeTheDefaultsWhateverTheEdits) {
    const IdentityInput in{
        {false, "x"}, {false, ""}, {false, ""}, {false, Repeat("y", 50)}, {false, "z"}};
    EXPECT_EQ(std::get<IdentityWrite>(BuildIdentityWrite(in)),
              (IdentityWrite{0x3C5B, 0xB207, "KX-CHIPS", "HID To Serial", "12345678"}));
    IdentityInput checked = AllChecked();
    const std::string product = Cp936(Repeat("串", 15));
    checked.product.text = product;
    EXPECT_EQ(std::get<IdentityWrite>(BuildIdentityWrite(checked)),
              (IdentityWrite{0x1A2B, 0x00C1, "Maker", product, "0001"}));
}

TEST(IdentityRules, OnlyTheFirstFailureInItemOrderIsReported) {
    using I = IdentityInput;
    const struct {
        IdentityField I::*first;
        std::string firstText;
        IdentityField I::*second;
        std::string_view secondText;
        const char* message;
    } cases[] = {{&I::vid, "abc", &I::pid, "1", "VID长度不对"},
                 {&I::pid, "1", &I::serial, "", "PID长度不对"},
                 {&I::manufacturer, "", &I::product, "", "厂商字符串长度不对"},
                 {&I::product, Repeat("p", 31), &I::serial, "", "产品字符串长度超过30"}};
    for (const auto& c : cases) {
        IdentityInput in = AllChecked();
        (in.*c.first).text = c.firstText;
        (in.*c.second).text = c.secondText;
        const auto result = BuildIdentityWrite(in);
        ASSERT_TRUE(std::holds_alternative<IdentityFailure>(result)) << c.message;
        EXPECT_EQ(std::get<IdentityFailure>(result).message, c.message);
    }
}

// ---- Status texts -----------------------------------------------------------------------

TEST(StatusTexts, DeviceInfoHexAndTheStatusBound) {
    using namespace status;
    EXPECT_EQ(FormatDeviceInfo(0x0A0B, 0x00C1, 0x01A0), "设备已连接,VID=A0BPID=C1 VER=1A0 ");
    EXPECT_EQ(FormatDeviceInfo(0xFFFF, 0xabcd, 0), "设备已连接,VID=FFFFPID=ABCD VER=0 ");
    EXPECT_EQ(FormatHex4(0x00C1) + FormatHex4(0xbeef), "00C1BEEF");
    EXPECT_EQ(FormatStatus(CLOSE_SUCCEEDED), "操作状态:关闭设备成功!");
    EXPECT_EQ(FormatStatus("A\xFF\x42"), "操作状态:AB");
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
    } cases[] = {{"chinese", u"中文A", 3, 128, "\xD6\xD0\xCE\xC4\x41"},
                 {"stops at zero", {u'A', u'B', 0, u'C'}, 4, 128, "AB"},
                 {"source bound", std::u16string(64, u'A') + u"ZZ", 64, 128, std::string(64, 'A')},
                 {"64th does not", std::u16string(64, u'中'), 64, 128, Repeat(ZHONG, 63)},
                 {"no split", u"A中", 2, 3, "A"},
                 {"exact fit", u"A中", 2, 4, "A" + ZHONG},
                 {"never skips ahead", u"中B", 2, 2, ""},
                 {"terminator room", u"ABC", 3, 3, "AB"},
                 {"no room", u"ABC", 3, 0, ""},
                 {"emoji", u"A\U0001F600B", 4, 128, "A?B"},
                 {"lone high", {u'A', char16_t(0xD800), u'B'}, 3, 128, "A?B"},
                 {"pair cut by the bound", u"\U0001F600", 1, 128, "?"},
                 {"U+0080", {char16_t(0x80)}, 1, 128, "?"},
                 {"euro", u"€", 1, 128, "\x80"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Utf16ToAnsi(c.text.data(), c.srcUnits, c.dstBytes), c.expected) << c.name;
    }
    EXPECT_EQ(Utf16ToAnsi(nullptr, 10), "");
}

TEST(TextCodec, Utf8ToAnsiRefusesWhatCp936CannotHoldAndDisplayMarksIt) {
    EXPECT_EQ(Utf8ToAnsi("中文·"), "\xD6\xD0\xCE\xC4\xA1\xA4");
    for (const char* bad : {"ok\xF0\x9F\x98\x80", "한", "\xC2\x80", "\xC0\xAF", "A\x80", "\xE4\xB8",
                            "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xD6\xD0"}) {
        EXPECT_FALSE(Utf8ToAnsi(bad).has_value()) << bad;
    }
    // For display each unencodable character becomes one '?', as the system's A functions do.
    EXPECT_EQ(text::Utf8ToAnsiForDisplay("中\xF0\x9F\x98\x80한A\x80"), "\xD6\xD0??A?");
    EXPECT_EQ(text::Utf16ToUtf8(text::Utf8ToUtf16("中\xF0\x9F\x98\x80"
                                                  "A")),
              "中\xF0\x9F\x98\x80"
              "A");
    EXPECT_EQ(text::Utf8ToUtf16("A\x80"), u"A\uFFFD");
    EXPECT_EQ(text::Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(TextCodec, AnsiDecodingMarksInvalidBytesWithoutShiftingTheRest) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"\xD6\xD0\x41", u"中A"},   {"\x80", u"€"},           {"A\xFF\x42", u"A\uFFFDB"},
        {"A\xD6", u"A\uFFFD"},      {"\x81\x30", u"\uFFFD0"}, {"\xA1\x40\x42", u"\uFFFDB"},
        {"\x81\x7F", u"\uFFFD\x7F"}};
    for (const auto& [ansi, expected] : cases) {
        EXPECT_EQ(AnsiToUtf16(ansi), expected) << ansi;
    }
    EXPECT_EQ(text::AnsiToUtf8("A\xFF"), "A\xEF\xBF\xBD");
}

TEST(TextCodec, EveryEncodableBmpCharacterSurvivesTheChipPath) {
    int encodable = 0;
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        const bool shown = text::IsAnsiEncodable(cp);
        const char16_t unit[] = {static_cast<char16_t>(cp), 0};
        encodable += shown;
        ASSERT_TRUE(!shown || AnsiToUtf16(Utf16ToAnsi(unit, 2)) == unit) << unsigned(cp);
    }
    EXPECT_GT(encodable, 21000);  // ASCII, the euro sign and about 21,800 double-byte ones
    EXPECT_FALSE(text::IsAnsiEncodable(0xD800));
    EXPECT_FALSE(text::IsAnsiEncodable(0x110000));
}

// The codec shares its converters between calls; two threads must not see each other's state.
TEST(TextCodec, ThreadsConvertAtTheSameTime) {
    const auto convert = [] {
        int failed = 0;
        for (int i = 0; i < 2000; ++i) {
            failed += Utf8ToAnsi("设备已连接") != "\xC9\xE8\xB1\xB8\xD2\xD1\xC1\xAC\xBD\xD3";
        }
        return failed;
    };
    auto other = std::async(std::launch::async, convert);
    EXPECT_EQ(convert() + other.get(), 0);
}

}  // namespace
// ---- The installer's search-path edits -----------------------------------------------

// Adding and then removing the folder gives back the value exactly; an entry that names the
// folder in another spelling counts as it, one that merely starts like it does not.
TEST(PathList, AddThenRemoveGivesTheValueBackAndOnlyTheFolderGoes) {
    const std::wstring folder = L"C:\\Program Files\\KX4701SetCfg";
    const struct {
        std::wstring value, added, removed;
    } CASES[] = {
        {L"", folder, L""},
        {L"C:\\W", L"C:\\W;" + folder, L"C:\\W"},
        {L"C:\\W;", L"C:\\W;;" + folder, L"C:\\W;"},
        {L"%SystemRoot%;;C:\\W", L"%SystemRoot%;;C:\\W;" + folder, L"%SystemRoot%;;C:\\W"},
        {L"c:\\program files\\kx4701setcfg\\;C:\\W", L"c:\\program files\\kx4701setcfg\\;C:\\W",
         L"C:\\W"},
        {L"C:\\W;\"" + folder + L"\";" + folder, L"C:\\W;\"" + folder + L"\";" + folder, L"C:\\W"},
        {folder + L"2;" + folder + L"\\bin", folder + L"2;" + folder + L"\\bin;" + folder,
         folder + L"2;" + folder + L"\\bin"},
    };
    for (const auto& c : CASES) {
        const std::wstring added = pathlist::WithFolder(c.value, folder);
        EXPECT_EQ(added, c.added);
        EXPECT_EQ(pathlist::WithoutFolder(added, folder), c.removed);
    }
}

}  // namespace kx
