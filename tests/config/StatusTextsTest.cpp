#include "config/StatusTexts.h"

#include <gtest/gtest.h>

#include <string>

#include "config/TextCodec.h"

namespace kx::status {
namespace {

TEST(FormatDeviceInfo, HexWithoutLeadingZerosAndOneTrailingBlank) {
    const struct {
        std::uint16_t vid, pid, version;
        const char* expected;
    } cases[] = {
        {0x0A0B, 0x00C1, 0x01A0, "设备已连接,VID=A0BPID=C1 VER=1A0 "},
        {0, 0, 0, "设备已连接,VID=0PID=0 VER=0 "},
        {0xFFFF, 0xabcd, 0x1000, "设备已连接,VID=FFFFPID=ABCD VER=1000 "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatDeviceInfo(c.vid, c.pid, c.version), c.expected);
    }
}

TEST(FormatHex4, FourUpperCaseDigits) {
    EXPECT_EQ(FormatHex4(0x0A0B), "0A0B");
    EXPECT_EQ(FormatHex4(0x00C1), "00C1");
    EXPECT_EQ(FormatHex4(0), "0000");
    EXPECT_EQ(FormatHex4(0xbeef), "BEEF");
}

TEST(FormatStatus, PrefixesTheMessage) {
    EXPECT_EQ(FormatStatus(OPEN_SUCCEEDED), "操作状态:打开设备成功!");
    EXPECT_EQ(FormatStatus(""), "操作状态:");
    EXPECT_EQ(FormatStatus("就绪"), STATUS_READY);
}

// The bound counts code-page bytes: the prefix takes 9 (four Chinese characters and ':').
TEST(FormatStatus, LongMessagesStayWithinTheOriginalBuffer) {
    const std::string ascii(500, 'A');
    EXPECT_EQ(FormatStatus(ascii), "操作状态:" + std::string(190, 'A'));

    std::string chinese;
    for (int i = 0; i < 200; ++i) {
        chinese += "中";
    }
    const std::string out = FormatStatus(chinese);
    const auto ansi = text::Utf8ToAnsi(out);
    ASSERT_TRUE(ansi.has_value());  // no character was split
    EXPECT_EQ(ansi->size(), 9u + 190u);

    // One ASCII byte shifts the Chinese characters so the last would need bytes 199-200.
    const auto shifted = text::Utf8ToAnsi(FormatStatus("A" + chinese));
    ASSERT_TRUE(shifted.has_value());
    EXPECT_EQ(shifted->size(), 9u + 1u + 188u);
}

TEST(FormatStatus, InvalidBytesAreDropped) {
    EXPECT_EQ(FormatStatus("A\xFF"
                           "B\xE4"),
              "操作状态:AB");
}

TEST(StatusTexts, AllShowableInTheCodePage) {
    for (std::string_view text : {STATUS_PREFIX,
                                  STATUS_READY,
                                  DEVICE_NOT_OPEN,
                                  NO_OPENABLE_DEVICE,
                                  SELECT_A_DEVICE,
                                  DEVICE_ALREADY_OPEN,
                                  OPEN_FAILED,
                                  ATTRIBUTES_FAILED,
                                  OPEN_SUCCEEDED,
                                  CLOSE_SUCCEEDED,
                                  GET_CONFIG_SUCCEEDED,
                                  GET_CONFIG_FAILED,
                                  SET_RATE_SUCCEEDED,
                                  SET_RATE_FAILED,
                                  SET_CONFIG_SUCCEEDED,
                                  SET_CONFIG_FAILED,
                                  FACTORY_RESET_SUCCEEDED,
                                  FACTORY_RESET_FAILED,
                                  DEVICE_ARRIVED_STATUS,
                                  DEVICE_LEFT_STATUS,
                                  EVENT_DEVICE_FOUND,
                                  EVENT_HID_ARRIVED,
                                  EVENT_HID_LEFT,
                                  CAPTION_OPEN,
                                  CAPTION_CLOSE}) {
        const auto ansi = text::Utf8ToAnsi(text);
        ASSERT_TRUE(ansi.has_value()) << text;
        // Captions are read back through a 19-byte window; messages fit the status line.
        EXPECT_LT(ansi->size(), STATUS_BUFFER_BYTES - STATUS_PREFIX.size()) << text;
    }
    EXPECT_LE(text::Utf8ToAnsi(CAPTION_OPEN)->size(), 19u);
    EXPECT_LE(text::Utf8ToAnsi(CAPTION_CLOSE)->size(), 19u);
}

}  // namespace
}  // namespace kx::status
