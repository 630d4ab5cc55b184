#include "config/TextCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace kx::text {
namespace {

constexpr char16_t ZHONG = u'中';  // D6 D0 in CP936
const std::string ZHONG_ANSI = "\xD6\xD0";

std::string Ansi(std::u16string_view utf16, std::size_t dstBytes = ANSI_CONVERSION_BUFFER) {
    return Utf16ToAnsi(utf16.data(), utf16.size(), dstBytes);
}

TEST(Utf16ToAnsi, ConvertsAsciiAndChinese) {
    EXPECT_EQ(Ansi(u"HID To Serial"), "HID To Serial");
    EXPECT_EQ(Ansi(u"中文A"),
              "\xD6\xD0\xCE\xC4"
              "A");
    EXPECT_EQ(Ansi(u""), "");
}

TEST(Utf16ToAnsi, StopsAtTheFirstZeroUnit) {
    const char16_t buffer[] = {u'A', u'B', 0, u'C', u'D'};
    EXPECT_EQ(Utf16ToAnsi(buffer, 5), "AB");
}

TEST(Utf16ToAnsi, NeverReadsPastSrcUnitsWithoutTerminator) {
    // 64 units and no terminator, followed by bytes that must not appear.
    std::vector<char16_t> buffer(64, u'A');
    buffer.insert(buffer.end(), {u'Z', u'Z', 0});
    const std::string out = Utf16ToAnsi(buffer.data(), 64);
    EXPECT_EQ(out, std::string(64, 'A'));
}

TEST(Utf16ToAnsi, SixtyThreeChineseCharactersFitTheBuffer) {
    std::u16string text(63, ZHONG);
    text.push_back(0);
    const std::string out = Utf16ToAnsi(text.data(), 64);
    ASSERT_EQ(out.size(), 126u);
    for (std::size_t i = 0; i < out.size(); i += 2) {
        ASSERT_EQ(out.substr(i, 2), ZHONG_ANSI);
    }
}

TEST(Utf16ToAnsi, NeverSplitsADoubleByteCharacterAtTheBound) {
    // 64 Chinese characters need 128 bytes; the buffer leaves room for 127.
    const std::u16string text(64, ZHONG);
    EXPECT_EQ(Utf16ToAnsi(text.data(), text.size()).size(), 126u);
    const struct {
        std::u16string text;
        std::size_t dstBytes;
        std::string expected;
    } cases[] = {
        {u"A中", 3, "A"},  {u"A中", 4, "A" + ZHONG_ANSI},
        {u"中B", 2, ""},  // stops at the first that does not fit, never skips ahead
        {u"ABC", 3, "AB"}, {u"ABC", 1, ""},
        {u"ABC", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ansi(c.text, c.dstBytes), c.expected) << c.dstBytes;
    }
}

TEST(Utf16ToAnsi, UnencodableAndInvalidUnitsBecomeQuestionMarks) {
    const struct {
        const char* name;
        std::u16string text;
        std::string expected;
    } cases[] = {
        {"surrogate pair (emoji)", u"A\U0001F600B", "A?B"},
        {"lone high surrogate", std::u16string{u'A', char16_t(0xD800), u'B'}, "A?B"},
        {"lone low surrogate", std::u16string{char16_t(0xDC00), u'B'}, "?B"},
        {"reversed pair", std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "??"},
        {"high surrogate at the end", std::u16string{u'A', char16_t(0xD83D)}, "A?"},
        {"U+0080 has no code of its own", std::u16string{char16_t(0x80)}, "?"},
        {"Hangul is not in CP936", u"한", "?"},
        {"euro sign is 0x80", u"€", "\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ansi(c.text), c.expected) << c.name;
    }
}

TEST(Utf16ToAnsi, HighSurrogateCutByTheSourceBoundIsLone) {
    const std::u16string pair = u"\U0001F600";
    EXPECT_EQ(Utf16ToAnsi(pair.data(), 1), "?");
}

TEST(Utf16ToAnsi, NullSourceGivesEmpty) {
    EXPECT_EQ(Utf16ToAnsi(nullptr, 10), "");
}

TEST(Utf8ToAnsi, EncodesWhatCp936Has) {
    EXPECT_EQ(Utf8ToAnsi("中文ABC"), std::optional<std::string>("\xD6\xD0\xCE\xC4"
                                                                "ABC"));
    EXPECT_EQ(Utf8ToAnsi(""), std::optional<std::string>(""));
    EXPECT_EQ(Utf8ToAnsi("·"), std::optional<std::string>("\xA1\xA4"));
}

TEST(Utf8ToAnsi, RefusesUnencodableOrInvalidText) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"emoji", "ok\xF0\x9F\x98\x80"},
        {"hangul", "한"},
        {"U+0080", "\xC2\x80"},
        {"overlong slash", "\xC0\xAF"},
        {"overlong zero", "\xC0\x80"},
        {"lone continuation", "A\x80"},
        {"truncated sequence", "\xE4\xB8"},
        {"encoded surrogate", "\xED\xA0\x80"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
        {"CP936 bytes are not UTF-8", "\xD6\xD0"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Utf8ToAnsi(c.text).has_value()) << c.name;
    }
}

TEST(AnsiDecoding, InvalidBytesBecomeReplacementCharacters) {
    const struct {
        const char* name;
        std::string ansi;
        std::u16string expected;
    } cases[] = {
        {"ascii", "AZ", u"AZ"},
        {"chinese",
         "\xD6\xD0"
         "A",
         u"中A"},
        {"euro", "\x80", u"€"},
        {"0xFF",
         "A\xFF"
         "B",
         u"A\uFFFDB"},
        {"lead byte at the end", "A\xD6", u"A\uFFFD"},
        {"lead byte before ascii digit",
         "\x81"
         "0",
         u"\uFFFD0"},
        {"undefined pair is one character",
         "\xA1\x40"
         "B",
         u"\uFFFDB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnsiToUtf16(c.ansi), c.expected) << c.name;
    }
    EXPECT_EQ(AnsiToUtf8("A\xFF"), "A\xEF\xBF\xBD");
}

TEST(RoundTrip, Utf8ThroughCp936AndBack) {
    for (const char* text : {"设备已连接,VID=A0B", "HID To Serial", "€ 12345678",
                             "厂商字符串长度超过30", "ＡＢＣ（全角）"}) {
        const auto ansi = Utf8ToAnsi(text);
        ASSERT_TRUE(ansi.has_value()) << text;
        EXPECT_EQ(AnsiToUtf8(*ansi), text);
    }
}

TEST(RoundTrip, EveryEncodableBmpCharacterSurvivesTheChipPath) {
    // What the host sends (CP936) the chip keeps as UTF-16 and reports back.
    int encodable = 0;
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        if (!IsAnsiEncodable(cp)) {
            continue;
        }
        ++encodable;
        const char16_t unit[] = {static_cast<char16_t>(cp), 0};
        const std::string ansi = Utf16ToAnsi(unit, 2);
        ASSERT_TRUE(ansi.size() == 1 || ansi.size() == 2) << std::hex << unsigned(cp);
        ASSERT_EQ(AnsiToUtf16(ansi), std::u16string(1, unit[0])) << std::hex << unsigned(cp);
    }
    // CP936 holds ASCII, the euro sign and about 21,800 double-byte characters.
    EXPECT_GT(encodable, 21000);
}

TEST(IsAnsiEncodable, Samples) {
    EXPECT_TRUE(IsAnsiEncodable(U'A'));
    EXPECT_TRUE(IsAnsiEncodable(U'\0'));
    EXPECT_TRUE(IsAnsiEncodable(U'中'));
    EXPECT_TRUE(IsAnsiEncodable(U'€'));
    EXPECT_FALSE(IsAnsiEncodable(0x80));
    EXPECT_FALSE(IsAnsiEncodable(U'\U0001F600'));
    EXPECT_FALSE(IsAnsiEncodable(0xD800));
    EXPECT_FALSE(IsAnsiEncodable(0x110000));
}

TEST(WideToUtf16, BoundedAndAlwaysTerminated) {
    const struct {
        const char* name;
        const wchar_t* src;
        std::size_t units;
        std::u16string expected;
    } cases[] = {
        {"fits", L"KX中", 8, u"KX中"},
        {"cut", L"ABCDEF", 4, u"ABC"},
        {"only the terminator", L"ABC", 1, u""},
        {"pair fits", L"A\U0001F600", 4, u"A\U0001F600"},
        {"pair does not fit is dropped", L"A\U0001F600B", 3, u"A"},
        {"null source", nullptr, 4, u""},
    };
    for (const auto& c : cases) {
        std::vector<char16_t> dst(c.units + 1, u'#');
        WideToUtf16(c.src, dst.data(), c.units);
        EXPECT_EQ(std::u16string(dst.data()), c.expected) << c.name;
        EXPECT_EQ(dst[c.units], u'#') << c.name << ": wrote past the buffer";
    }
    char16_t untouched = u'#';
    WideToUtf16(L"A", &untouched, 0);
    EXPECT_EQ(untouched, u'#');
}

TEST(Threads, EachThreadConvertsCorrectlyAtTheSameTime) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                if (Utf8ToAnsi("设备已连接") !=
                        std::optional<std::string>("\xC9\xE8\xB1\xB8\xD2\xD1\xC1\xAC\xBD\xD3") ||
                    AnsiToUtf8("\xD6\xD0") != "中") {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace kx::text
