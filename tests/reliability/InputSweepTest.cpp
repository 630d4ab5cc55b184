// A generated sweep of identity texts through the dialog: ASCII, Chinese, characters
// CP936 cannot encode, control characters, empty, 1 to 64 bytes, and VID and PID texts of
// every length up to 8 bytes. Each invalid text gets exactly its message and sends
// nothing; each valid one is stored on the chip and reads back identical.
//
// The expected outcome comes from how each text was generated (byte counts per character,
// hex digits per byte), not from the rules under test.

#include <cstdio>
#include <string>
#include <vector>

#include "config/StatusTexts.h"
#include "config/TextCodec.h"
#include "tests/ui/UiTestSupport.h"

namespace kx::uitest {
namespace {

// A character and its CP936 byte count (0: CP936 has none for it).
struct Glyph {
    const char* utf8;
    int bytes;
};

const Glyph ASCII[] = {{"A", 1}, {"z", 1}, {"0", 1}, {" ", 1}, {"~", 1}, {"-", 1}};
const Glyph CHINESE[] = {{"中", 2}, {"文", 2}, {"厂", 2}, {"商", 2}, {"串", 2}};
const Glyph CONTROL[] = {{"\t", 1}, {"\x01", 1}, {"\x1f", 1}, {"\x7f", 1}};
const Glyph UNENCODABLE[] = {{"\xF0\x9F\x98\x80", 0} /* U+1F600 */, {"ก", 0} /* Thai */};

struct Candidate {
    std::string utf8;
    int bytes = 0;  // CP936 length when encodable
    bool encodable = true;
};

void Append(Candidate& c, const Glyph& g) {
    c.utf8 += g.utf8;
    c.bytes += g.bytes;
    c.encodable = c.encodable && g.bytes > 0;
}

std::vector<Candidate> StringCandidates() {
    std::vector<Candidate> out;
    for (int n = 0; n <= 64; ++n) {  // ASCII, every byte length
        Candidate c;
        for (int i = 0; i < n; ++i) {
            Append(c, ASCII[i % std::size(ASCII)]);
        }
        out.push_back(c);
    }
    for (int n = 1; n <= 32; ++n) {  // Chinese, every even length up to 64 bytes
        Candidate c;
        for (int i = 0; i < n; ++i) {
            Append(c, CHINESE[i % std::size(CHINESE)]);
        }
        out.push_back(c);
    }
    for (int n = 0; n <= 16; ++n) {  // odd lengths: one ASCII byte and n characters
        Candidate c;
        Append(c, ASCII[0]);
        for (int i = 0; i < n; ++i) {
            Append(c, CHINESE[i % std::size(CHINESE)]);
        }
        out.push_back(c);
    }
    for (const Glyph& g : CONTROL) {  // control characters alone, inside, and many
        Candidate alone, inside, many;
        Append(alone, g);
        Append(inside, ASCII[0]);
        Append(inside, g);
        Append(inside, CHINESE[0]);
        for (int i = 0; i < 30; ++i) {
            Append(many, g);
        }
        out.insert(out.end(), {alone, inside, many});
    }
    for (const Glyph& g : UNENCODABLE) {  // alone, after valid text, and in a long text
        Candidate alone, after, longer;
        Append(alone, g);
        Append(after, ASCII[1]);
        Append(after, CHINESE[1]);
        Append(after, g);
        for (int i = 0; i < 40; ++i) {
            Append(longer, ASCII[2]);
        }
        Append(longer, g);
        out.insert(out.end(), {alone, after, longer});
    }
    Candidate zero;  // an inner zero byte cannot travel in the texts the chip takes
    Append(zero, ASCII[0]);
    zero.utf8.push_back('\0');
    zero.encodable = false;
    Append(zero, ASCII[1]);
    out.push_back(zero);
    return out;
}

int Digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

struct HexCandidate {
    std::string utf8;
    int bytes = 0;
    std::uint16_t value = 0;  // of the first four CP936 bytes, when there are four
};

std::vector<HexCandidate> HexCandidates() {
    std::vector<HexCandidate> out;
    // ASCII patterns cut to every length 0..8: hex of both cases, non-hex letters, blanks.
    for (const char* pattern : {"1a2B3c4D", "9G4Fxyz0", "zzzzzzzz", "FFFF0000", " 1 2 3 4"}) {
        for (int n = 0; n <= 8; ++n) {
            HexCandidate c;
            c.utf8.assign(pattern, n);
            c.bytes = n;
            if (n >= 4) {
                c.value = static_cast<std::uint16_t>((Digit(pattern[0]) << 12) |
                                                     (Digit(pattern[1]) << 8) |
                                                     (Digit(pattern[2]) << 4) | Digit(pattern[3]));
            }
            out.push_back(c);
        }
    }
    // Chinese: two bytes each, none of them a hex digit.
    for (int n = 0; n <= 4; ++n) {
        HexCandidate c;
        for (int i = 0; i < n; ++i) {
            c.utf8 += "中";
        }
        c.bytes = 2 * n;
        out.push_back(c);
    }
    // A hex digit after a Chinese character: the digit is the third byte.
    out.push_back({"中A1", 4, 0x00A1});
    return out;
}

const char* const STRING_NAMES[] = {"Manufacturer", "Product", "Serial"};
const int STRING_EDITS[] = {IDC_MANUF_EDIT, IDC_PRODUCT_EDIT, IDC_SERIAL_EDIT};
const int STRING_BOXES[] = {IDC_MANUF_CHECK, IDC_PRODUCT_CHECK, IDC_SERIAL_CHECK};
const char* const TOO_SHORT[] = {"厂商字符串长度不对", "产品字符串长度不对",
                                 "序列号字符串长度不对"};
const char* const TOO_LONG[] = {"厂商字符串长度超过30", "产品字符串长度超过30",
                                "序列号字符串长度超过30"};

std::string Unencodable(const std::string& field) {
    return field + " 中含有无法用 GBK(代码页936)表示的字符,请修改后重试。";
}

class InputSweep : public DialogTest {
  protected:
    int chip = bench.plugChip();
    int tried = 0;

    // Sets every edit and box, clicks "设置配置", and returns the message box text shown
    // (empty when none was). Checks that a refused write sent nothing.
    std::string Write(const std::string& vid, bool vidChecked, const std::string& pid,
                      bool pidChecked, const std::string (&strings)[3]) {
        ++tried;
        ops().SetWindowText(IDC_VID_EDIT, vid);
        ops().CheckDlgButton(IDC_VID_CHECK, vidChecked);
        ops().SetWindowText(IDC_PID_EDIT, pid);
        ops().CheckDlgButton(IDC_PID_CHECK, pidChecked);
        for (int i = 0; i < 3; ++i) {
            ops().SetWindowText(STRING_EDITS[i], strings[i]);
            ops().CheckDlgButton(STRING_BOXES[i], true);
        }
        const std::size_t boxes = modals.seen.size();
        const std::size_t writes = library.deviceCfgs.size();
        const std::uint64_t reports = bench.device(chip)->reportsReceived;
        const std::string before = status();
        Click(IDC_SET_CFG_BUTTON);
        if (modals.seen.size() == boxes) {
            return "";
        }
        EXPECT_EQ(modals.seen.size(), boxes + 1);
        EXPECT_EQ(library.deviceCfgs.size(), writes);
        EXPECT_EQ(bench.device(chip)->reportsReceived, reports);
        EXPECT_EQ(status(), before);
        return modals.seen.back().text.toStdString();
    }
};

TEST_F(InputSweep, EveryIdentityTextGetsItsMessageOrIsStoredAndReadBack) {
    for (const Glyph& g : UNENCODABLE) {
        ASSERT_FALSE(text::Utf8ToAnsi(g.utf8).has_value()) << g.utf8;
    }
    Start();
    OpenSelected();
    const std::vector<Candidate> candidates = StringCandidates();
    int stored = 0;
    for (int field = 0; field < 3; ++field) {
        for (const Candidate& c : candidates) {
            SCOPED_TRACE(std::string(STRING_NAMES[field]) + " = \"" + c.utf8 + "\"");
            std::string strings[3] = {"M", "P", "S"};
            strings[field] = c.utf8;
            const std::string shown = Write("", false, "", false, strings);
            std::string expected;
            if (!c.encodable) {
                expected = Unencodable(STRING_NAMES[field]);
            } else if (c.bytes == 0) {
                expected = TOO_SHORT[field];
            } else if (c.bytes > 30) {
                expected = TOO_LONG[field];
            }
            EXPECT_EQ(shown, expected);
            if (!expected.empty()) {
                continue;
            }
            ++stored;
            EXPECT_EQ(status(), "操作状态:参数设置成功!");
            const bench::ChipIdentity id = StoredIdentity(chip);
            const std::string& onChip = field == 0   ? id.manufacturer
                                        : field == 1 ? id.product
                                                     : id.serial;
            EXPECT_EQ(onChip.size(), static_cast<std::size_t>(c.bytes));
            EXPECT_EQ(text::AnsiToUtf8(onChip), c.utf8);
            EXPECT_EQ(id.vid, 0x3C5B);  // unchecked: the defaults
            EXPECT_EQ(id.pid, 0xB207);
            // Read back from the chip into the edit.
            ops().SetWindowText(STRING_EDITS[field], "");
            Click(IDC_GET_CFG_BUTTON);
            EXPECT_EQ(text(STRING_EDITS[field]), c.utf8);
        }
    }
    std::printf("identity texts tried: %d (stored and read back: %d)\n", tried, stored);
    RecordProperty("identity_texts", tried);
}

TEST_F(InputSweep, VidAndPidTextsOfEveryLength) {
    Start();
    OpenSelected();
    const std::string strings[3] = {"M", "P", "S"};
    int stored = 0;
    for (bool isVid : {true, false}) {
        for (const HexCandidate& c : HexCandidates()) {
            SCOPED_TRACE(std::string(isVid ? "VID" : "PID") + " = \"" + c.utf8 + "\"");
            // The other one stays valid and checked, so that only this text decides.
            const std::string shown = isVid ? Write(c.utf8, true, "0001", true, strings)
                                            : Write("0001", true, c.utf8, true, strings);
            if (c.bytes < 4) {
                EXPECT_EQ(shown, isVid ? "VID长度不对" : "PID长度不对");
                continue;
            }
            EXPECT_EQ(shown, "");
            ++stored;
            const bench::ChipIdentity id = StoredIdentity(chip);
            EXPECT_EQ(isVid ? id.vid : id.pid, c.value);
            EXPECT_EQ(isVid ? id.pid : id.vid, 0x0001);
            // Read back: the chip now enumerates with it, and a new open shows it.
            Click(IDC_OPEN_BUTTON);
            OpenSelected();
            EXPECT_EQ(text(isVid ? IDC_VID_EDIT : IDC_PID_EDIT), status::FormatHex4(c.value));
        }
    }
    std::printf("VID/PID texts tried: %d (stored and read back: %d)\n", tried, stored);
    RecordProperty("hex_texts", tried);
}

TEST_F(InputSweep, AllOfItWithNoDeviceOpenSendsNothing) {
    Start();
    const std::size_t calls = library.deviceCfgs.size();
    for (const Candidate& c : StringCandidates()) {
        SCOPED_TRACE(c.utf8);
        const std::string strings[3] = {c.utf8, c.utf8, c.utf8};
        const std::string shown = Write(c.utf8, true, c.utf8, true, strings);
        // The transfer from the edits comes first, so an unencodable text is still named;
        // every other text stops at the missing device without a message.
        EXPECT_EQ(shown, c.encodable ? "" : Unencodable("Manufacturer"));
        if (c.encodable) {
            EXPECT_EQ(status(), "操作状态:设备尚未打开!");
        }
    }
    EXPECT_EQ(library.deviceCfgs.size(), calls);
}

}  // namespace
}  // namespace kx::uitest
