#pragma once
// Every text the dialog shows on its status line, in its event field and on its open
// button, as UTF-8, plus the formatting of the status line and the device information.
// Message-box texts of the identity rules live in config/IdentityRules.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx::status {

// Status line.
inline constexpr std::string_view STATUS_PREFIX = "操作状态:";
inline constexpr std::string_view DEVICE_NOT_OPEN = "设备尚未打开!";

// Opening, closing and reading the identity.
inline constexpr std::string_view NO_OPENABLE_DEVICE = "当前系统没有可打开的HID设备!";
inline constexpr std::string_view SELECT_A_DEVICE = "请选择一个HID设备!";
inline constexpr std::string_view DEVICE_ALREADY_OPEN = "该设备已打开!";
inline constexpr std::string_view OPEN_FAILED = "打开HID设备失败!";
inline constexpr std::string_view ATTRIBUTES_FAILED = "获取设备VID、PID失败!";
inline constexpr std::string_view OPEN_SUCCEEDED = "打开设备成功!";
inline constexpr std::string_view CLOSE_SUCCEEDED = "关闭设备成功!";
inline constexpr std::string_view GET_CONFIG_SUCCEEDED = "获取设备参数成功!";
inline constexpr std::string_view GET_CONFIG_FAILED = "获取设备参数失败!";

// Serial defaults.
inline constexpr std::string_view SET_RATE_SUCCEEDED = "设置默认串口参数成功!";
inline constexpr std::string_view SET_RATE_FAILED = "设置默认串口参数失败!";

// Identity write and factory reset.
inline constexpr std::string_view SET_CONFIG_SUCCEEDED = "参数设置成功!";
inline constexpr std::string_view SET_CONFIG_FAILED = "参数设置失败!";
inline constexpr std::string_view FACTORY_RESET_SUCCEEDED = "恢复出厂设置成功!";
inline constexpr std::string_view FACTORY_RESET_FAILED = "恢复出厂设置失败!";

// Device events.
inline constexpr std::string_view DEVICE_ARRIVED_STATUS = "检测到设备已连接!";
inline constexpr std::string_view DEVICE_LEFT_STATUS = "检测到设备已断开连接!";
inline constexpr std::string_view EVENT_DEVICE_FOUND = "有设备接入";
inline constexpr std::string_view EVENT_HID_ARRIVED = "有HID设备到达";
inline constexpr std::string_view EVENT_HID_LEFT = "有HID设备离开";

// The open button's caption is also its state.
inline constexpr std::string_view CAPTION_OPEN = "打开设备";
inline constexpr std::string_view CAPTION_CLOSE = "关闭设备";

// The status line was formatted into a 200-byte buffer of code-page text.
inline constexpr std::size_t STATUS_BUFFER_BYTES = 200;

// STATUS_PREFIX + message. Bounded like that buffer: the result never needs more than 199
// bytes in CP936 (ASCII one byte, every other character counted as two), so an
// over-long message is cut at a character boundary instead of overrunning; invalid UTF-8
// bytes in the message are dropped. Cannot fail.
[[nodiscard]] std::string FormatStatus(std::string_view message);

// "设备已连接,VID=%XPID=%X VER=%X ": upper-case hex without leading zeros, no separator
// before "PID", one trailing blank.
[[nodiscard]] std::string FormatDeviceInfo(std::uint16_t vid, std::uint16_t pid,
                                           std::uint16_t version);

// "%04X": four upper-case hex digits with leading zeros.
[[nodiscard]] std::string FormatHex4(std::uint16_t value);

}  // namespace kx::status
