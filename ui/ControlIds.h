#pragma once
// Dialog templates, control identifiers, commands and strings of the tool's resources.

namespace kx {

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_CONFIG_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// String IDS_ABOUTBOX: the about entry of the system menu (UTF-8).
inline constexpr const char* IDS_ABOUTBOX_TEXT = "关于 KX4701SetCfg(&A)...";

inline constexpr int IDOK_BUTTON = 1;
inline constexpr int IDC_STATIC_ID = -1;

inline constexpr int IDC_DEVICE_COMBO = 1000;
inline constexpr int IDC_DEVICE_INFO = 1001;
inline constexpr int IDC_EVENT_TEXT = 1002;
inline constexpr int IDC_BAUD_COMBO = 1003;
inline constexpr int IDC_STOP_COMBO = 1004;
inline constexpr int IDC_PARITY_COMBO = 1005;
inline constexpr int IDC_DATA_COMBO = 1006;
inline constexpr int IDC_VID_CHECK = 1007;
inline constexpr int IDC_VID_EDIT = 1008;
inline constexpr int IDC_PID_CHECK = 1009;
inline constexpr int IDC_PID_EDIT = 1010;
inline constexpr int IDC_MANUF_CHECK = 1013;
inline constexpr int IDC_MANUF_EDIT = 1014;
inline constexpr int IDC_PRODUCT_CHECK = 1015;
inline constexpr int IDC_PRODUCT_EDIT = 1016;
inline constexpr int IDC_SERIAL_CHECK = 1017;
inline constexpr int IDC_SERIAL_EDIT = 1018;
inline constexpr int IDC_OPEN_BUTTON = 1019;
inline constexpr int IDC_SET_RATE_BUTTON = 1020;
inline constexpr int IDC_SET_CFG_BUTTON = 1021;
inline constexpr int IDC_GET_CFG_BUTTON = 1022;
inline constexpr int IDC_FACTORY_BUTTON = 1050;
inline constexpr int IDC_STATUS = 1051;

}  // namespace kx
