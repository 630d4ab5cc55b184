#ifndef KX_UI_CONTROLIDS_H
#define KX_UI_CONTROLIDS_H
// Dialog templates, control identifiers and strings of the tool's resources: one list for
// the C++ and for the Windows resource script (res/KX4701SetCfg.rc), which includes this
// file too. Plain macros and an include guard, since the resource compiler reads them; what
// only the C++ needs stands below.

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CONFIG_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_DEVICE_COMBO 1000
#define IDC_DEVICE_INFO 1001
#define IDC_EVENT_TEXT 1002
#define IDC_BAUD_COMBO 1003
#define IDC_STOP_COMBO 1004
#define IDC_PARITY_COMBO 1005
#define IDC_DATA_COMBO 1006
#define IDC_VID_CHECK 1007
#define IDC_VID_EDIT 1008
#define IDC_PID_CHECK 1009
#define IDC_PID_EDIT 1010
#define IDC_MANUF_CHECK 1013
#define IDC_MANUF_EDIT 1014
#define IDC_PRODUCT_CHECK 1015
#define IDC_PRODUCT_EDIT 1016
#define IDC_SERIAL_CHECK 1017
#define IDC_SERIAL_EDIT 1018
#define IDC_OPEN_BUTTON 1019
#define IDC_SET_RATE_BUTTON 1020
#define IDC_SET_CFG_BUTTON 1021
#define IDC_GET_CFG_BUTTON 1022
#define IDC_FACTORY_BUTTON 1050
#define IDC_STATUS 1051

// String IDS_ABOUTBOX: the about entry of the system menu (UTF-8).
#define IDS_ABOUTBOX_TEXT "关于 KX4701SetCfg(&A)..."

#ifndef RC_INVOKED
namespace kx {

inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// IDOK and IDC_STATIC of the system's headers, which the Linux build does not have.
inline constexpr int IDOK_BUTTON = 1;
inline constexpr int IDC_STATIC_ID = -1;

}  // namespace kx
#endif

#endif  // KX_UI_CONTROLIDS_H
