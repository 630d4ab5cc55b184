#include "ui/MessageTable.h"

#include <array>

#include "ui/ConfigDlg.h"
#include "ui/ControlIds.h"

namespace kx::ui {
namespace {

using N = Notification;

// clang-format off
const std::array<MessageEntry, 19> MESSAGE_TABLE{{
    {N::WindowMessage, MSG_SYSCOMMAND, SysCommandHandler{&CConfigDlg::OnSysCommand}},
    {N::WindowMessage, MSG_PAINT, VoidHandler{&CConfigDlg::OnPaint}},
    {N::WindowMessage, MSG_QUERYDRAGICON, QueryIconHandler{&CConfigDlg::OnQueryDragIcon}},
    {N::WindowMessage, MSG_DEVICECHANGE, DeviceChangeHandler{&CConfigDlg::OnDeviceChange}},
    {N::WindowMessage, WM_DEVICE_EVENT, MessageHandler{&CConfigDlg::OnDeviceEvent}},
    {N::ButtonClicked, IDC_OPEN_BUTTON, VoidHandler{&CConfigDlg::OnOpenButton}},
    {N::ButtonClicked, IDC_SET_RATE_BUTTON, VoidHandler{&CConfigDlg::OnSetDefaultRate}},
    {N::ButtonClicked, IDC_SET_CFG_BUTTON, VoidHandler{&CConfigDlg::OnSetConfig}},
    {N::ButtonClicked, IDC_GET_CFG_BUTTON, VoidHandler{&CConfigDlg::OnGetConfig}},
    {N::SelectionChanged, IDC_PARITY_COMBO, VoidHandler{&CConfigDlg::OnParityChanged}},
    {N::SelectionChanged, IDC_DATA_COMBO, VoidHandler{&CConfigDlg::OnDataBitsChanged}},
    {N::SelectionChanged, IDC_BAUD_COMBO, VoidHandler{&CConfigDlg::OnBaudChanged}},
    {N::SelectionChanged, IDC_STOP_COMBO, VoidHandler{&CConfigDlg::OnStopBitsChanged}},
    {N::ButtonClicked, IDC_VID_CHECK, ControlHandler{&CConfigDlg::OnIdentityCheck}},
    {N::ButtonClicked, IDC_PID_CHECK, ControlHandler{&CConfigDlg::OnIdentityCheck}},
    {N::ButtonClicked, IDC_MANUF_CHECK, ControlHandler{&CConfigDlg::OnIdentityCheck}},
    {N::ButtonClicked, IDC_PRODUCT_CHECK, ControlHandler{&CConfigDlg::OnIdentityCheck}},
    {N::ButtonClicked, IDC_SERIAL_CHECK, ControlHandler{&CConfigDlg::OnIdentityCheck}},
    {N::ButtonClicked, IDC_FACTORY_BUTTON, VoidHandler{&CConfigDlg::OnFactoryReset}},
}};
// clang-format on

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

// A control notification carries only the control's id.
void InvokeControlHandler(CConfigDlg& dialog, const Handler& handler, int id) {
    if (const auto* h = std::get_if<VoidHandler>(&handler)) {
        (dialog.**h)();
    } else if (const auto* c = std::get_if<ControlHandler>(&handler)) {
        (dialog.**c)(id);
    }
}

}  // namespace

std::span<const MessageEntry> ConfigDlgMessageTable() {
    return MESSAGE_TABLE;
}

bool DispatchControlNotification(CConfigDlg& dialog, Notification kind, int id) {
    for (const MessageEntry& entry : MESSAGE_TABLE) {
        if (entry.kind == kind && entry.code == static_cast<std::uint32_t>(id)) {
            InvokeControlHandler(dialog, entry.handler, id);
            return true;
        }
    }
    return false;
}

std::optional<std::intptr_t> DispatchWindowMessage(CConfigDlg& dialog, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam,
                                                   const void* data) {
    for (const MessageEntry& entry : MESSAGE_TABLE) {
        if (entry.kind != N::WindowMessage || entry.code != message) {
            continue;
        }
        return std::visit(
            Overloaded{
                [&](VoidHandler h) -> std::intptr_t {
                    (dialog.*h)();
                    return 0;
                },
                [&](ControlHandler h) -> std::intptr_t {
                    (dialog.*h)(static_cast<int>(wParam));
                    return 0;
                },
                [&](SysCommandHandler h) -> std::intptr_t {
                    (dialog.*h)(static_cast<unsigned>(wParam));
                    return 0;
                },
                [&](QueryIconHandler h) -> std::intptr_t {
                    return reinterpret_cast<std::intptr_t>((dialog.*h)());
                },
                [&](DeviceChangeHandler h) -> std::intptr_t {
                    return (dialog.*h)(static_cast<std::uint32_t>(wParam), data);
                },
                [&](MessageHandler h) -> std::intptr_t { return (dialog.*h)(wParam, lParam); },
            },
            entry.handler);
    }
    return std::nullopt;
}

}  // namespace kx::ui
