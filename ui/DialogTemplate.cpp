#include "ui/DialogTemplate.h"

#include <algorithm>
#include <array>

#include "ui/ControlIds.h"

namespace kx::ui {
namespace {

// Every input control is a tab stop, so that the keyboard reaches each of them in table order.
constexpr std::uint32_t LABEL = STYLE_GROUP;
constexpr std::uint32_t COMBO = STYLE_DROPDOWN | STYLE_VSCROLL | STYLE_TABSTOP;
constexpr std::uint32_t EDIT = STYLE_BORDER | STYLE_AUTOHSCROLL | STYLE_TABSTOP;
constexpr std::uint32_t READONLY_EDIT = EDIT | STYLE_READONLY;
constexpr std::uint32_t CHECK = STYLE_AUTOCHECKBOX | STYLE_TABSTOP;
constexpr std::uint32_t BUTTON = STYLE_TABSTOP;

constexpr int NO_ID = IDC_STATIC_ID;

// clang-format off
constexpr std::array<ControlTemplate, 32> CONFIG_CONTROLS{{
    {NO_ID, "", ControlKind::Label, "选择设备", {15, 20, 33, 8}, LABEL},
    {NO_ID, "", ControlKind::Label, "设备信息", {15, 40, 33, 8}, LABEL},
    {NO_ID, "", ControlKind::Label, "波特率", {15, 60, 33, 8}, LABEL},
    {NO_ID, "", ControlKind::Label, "停止位", {15, 80, 33, 8}, LABEL},
    {NO_ID, "", ControlKind::Label, "校验位", {144, 60, 25, 8}, LABEL},
    {NO_ID, "", ControlKind::Label, "数据位", {144, 80, 33, 8}, LABEL},
    {IDC_DEVICE_COMBO, "IDC_DEVICE_COMBO", ControlKind::ComboBox, "", {54, 18, 250, 72}, COMBO},
    {IDC_DEVICE_INFO, "IDC_DEVICE_INFO", ControlKind::Edit, "", {124, 38, 179, 12}, READONLY_EDIT},
    {IDC_EVENT_TEXT, "IDC_EVENT_TEXT", ControlKind::Edit, "", {54, 38, 68, 12}, READONLY_EDIT},
    {IDC_BAUD_COMBO, "IDC_BAUD_COMBO", ControlKind::ComboBox, "", {54, 58, 48, 76}, COMBO},
    {IDC_STOP_COMBO, "IDC_STOP_COMBO", ControlKind::ComboBox, "", {54, 78, 48, 81}, COMBO},
    {IDC_PARITY_COMBO, "IDC_PARITY_COMBO", ControlKind::ComboBox, "", {181, 58, 48, 88}, COMBO},
    {IDC_DATA_COMBO, "IDC_DATA_COMBO", ControlKind::ComboBox, "", {181, 78, 48, 86}, COMBO},
    {NO_ID, "", ControlKind::GroupBox, "设备信息", {7, 3, 305, 96}, STYLE_NONE},
    {IDC_VID_CHECK, "IDC_VID_CHECK", ControlKind::CheckBox, "VID:", {15, 120, 40, 10}, CHECK},
    {IDC_VID_EDIT, "IDC_VID_EDIT", ControlKind::Edit, "", {55, 118, 48, 14}, EDIT},
    {IDC_PID_CHECK, "IDC_PID_CHECK", ControlKind::CheckBox, "PID:", {144, 120, 35, 10}, CHECK},
    {IDC_PID_EDIT, "IDC_PID_EDIT", ControlKind::Edit, "", {181, 118, 48, 14}, EDIT},
    {NO_ID, "", ControlKind::GroupBox, "参数配置", {7, 102, 305, 99}, STYLE_NONE},
    {IDC_MANUF_CHECK, "IDC_MANUF_CHECK", ControlKind::CheckBox, "Manufacturer", {15, 138, 64, 10}, CHECK},
    {IDC_MANUF_EDIT, "IDC_MANUF_EDIT", ControlKind::Edit, "", {101, 137, 127, 12}, EDIT},
    {IDC_PRODUCT_CHECK, "IDC_PRODUCT_CHECK", ControlKind::CheckBox, "Product", {15, 159, 64, 10}, CHECK},
    {IDC_PRODUCT_EDIT, "IDC_PRODUCT_EDIT", ControlKind::Edit, "", {101, 158, 127, 12}, EDIT},
    {IDC_SERIAL_CHECK, "IDC_SERIAL_CHECK", ControlKind::CheckBox, "Serial", {15, 183, 64, 10}, CHECK},
    {IDC_SERIAL_EDIT, "IDC_SERIAL_EDIT", ControlKind::Edit, "", {101, 183, 127, 12}, EDIT},
    {IDC_OPEN_BUTTON, "IDC_OPEN_BUTTON", ControlKind::PushButton, "打开设备", {233, 55, 70, 18}, BUTTON},
    {IDC_SET_RATE_BUTTON, "IDC_SET_RATE_BUTTON", ControlKind::PushButton, "设置默认波特率", {233, 73, 70, 18}, BUTTON},
    {IDC_SET_CFG_BUTTON, "IDC_SET_CFG_BUTTON", ControlKind::PushButton, "设置配置", {233, 156, 70, 18}, BUTTON},
    {IDC_GET_CFG_BUTTON, "IDC_GET_CFG_BUTTON", ControlKind::PushButton, "获取配置", {233, 176, 70, 18}, BUTTON},
    {IDC_FACTORY_BUTTON, "IDC_FACTORY_BUTTON", ControlKind::PushButton, "恢复出厂设置", {233, 136, 70, 18}, BUTTON},
    {NO_ID, "", ControlKind::GroupBox, "", {7, 200, 305, 24}, STYLE_NONE},
    {IDC_STATUS, "IDC_STATUS", ControlKind::Label, "操作状态:就绪", {15, 209, 283, 8}, LABEL},
}};

constexpr std::array<ControlTemplate, 4> ABOUT_CONTROLS{{
    {NO_ID, "", ControlKind::Icon, "", {11, 17, 20, 20}, STYLE_NONE},
    {NO_ID, "", ControlKind::Label, "KX4701CfgTool 1.0 版", {40, 10, 119, 8}, LABEL | STYLE_NOPREFIX},
    {NO_ID, "", ControlKind::Label, "HID 转串口芯片配置工具", {40, 25, 119, 8}, LABEL},
    {IDOK_BUTTON, "IDOK", ControlKind::PushButton, "确定", {178, 7, 50, 14}, STYLE_GROUP | STYLE_TABSTOP | STYLE_DEFPUSHBUTTON},
}};
// clang-format on

// The two fields beside the caption 设备信息 (the last event, the open device) told apart.
constexpr std::array<ControlAccessibility, 3> CONFIG_ACCESSIBILITY{{
    {IDC_DEVICE_INFO, "已打开设备的 VID、PID 和版本", false},
    {IDC_EVENT_TEXT, "最近一次设备插拔", false},
    {IDC_STATUS, "", true},
}};

constexpr DialogTemplate CONFIG_DIALOG{
    IDD_CONFIG_DIALOG, "IDD_CONFIG_DIALOG", 319, 227, "KX4701配置工具", "宋体", 9,
    CONFIG_CONTROLS,   CONFIG_ACCESSIBILITY};
constexpr DialogTemplate ABOUT_BOX{
    IDD_ABOUTBOX, "IDD_ABOUTBOX", 235, 55, "关于 KX4701SetCfg", "宋体", 9, ABOUT_CONTROLS, {}};

}  // namespace

const DialogTemplate& ConfigDialogTemplate() {
    return CONFIG_DIALOG;
}
const DialogTemplate& AboutBoxTemplate() {
    return ABOUT_BOX;
}

const ControlTemplate* FindControl(const DialogTemplate& tmpl, int id) {
    const auto it = std::find_if(tmpl.controls.begin(), tmpl.controls.end(),
                                 [id](const ControlTemplate& c) { return c.id == id; });
    return it == tmpl.controls.end() ? nullptr : &*it;
}

namespace {

// A single-line control is at most this high; a combo box's template height also covers its
// opened list, beside which nothing stands.
constexpr int LINE_HEIGHT = 14;

DluRect FirstLine(const DluRect& r) {
    return DluRect{r.x, r.y, r.cx, std::min(r.cy, LINE_HEIGHT)};
}

int Right(const DluRect& r) {
    return r.x + r.cx;
}

bool Encloses(const DluRect& outer, const DluRect& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && Right(inner) <= Right(outer) &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

// Whether `other` stands on `line`: the middle of its first line lies within it.
bool OnLine(const DluRect& other, const DluRect& line) {
    const DluRect r = FirstLine(other);
    const int middle = r.y + r.cy / 2;
    return line.y <= middle && middle < line.y + line.cy;
}

}  // namespace

const ControlTemplate* CaptionFor(const DialogTemplate& tmpl, const ControlTemplate& control) {
    if (control.caption[0] != '\0' || control.kind == ControlKind::GroupBox) {
        return nullptr;
    }
    const DluRect line = FirstLine(control.rect);
    const ControlTemplate* left = nullptr;  // the nearest control to its left on the line
    const ControlTemplate* box = nullptr;   // the innermost captioned group box around it
    for (const ControlTemplate& other : tmpl.controls) {
        if (other.kind == ControlKind::GroupBox) {
            if (other.caption[0] != '\0' && Encloses(other.rect, line) &&
                (box == nullptr || Encloses(box->rect, other.rect))) {
                box = &other;
            }
        } else if (Right(other.rect) <= line.x && OnLine(other.rect, line) &&
                   (left == nullptr || Right(other.rect) > Right(left->rect))) {
            left = &other;
        }
    }
    const bool captions = left != nullptr && left->caption[0] != '\0' &&
                          (left->kind == ControlKind::Label || left->kind == ControlKind::CheckBox);
    return captions ? left : box;
}

}  // namespace kx::ui
