#pragma once
// The configuration dialog's message table: which window message or control notification
// reaches which handler, in one table, in its order. Each toolkit's host feeds it: window
// messages through DispatchWindowMessage, clicks (BN_CLICKED) and user selection changes
// (CBN_SELCHANGE) through DispatchControlNotification.

#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "ui/WindowOps.h"

class CConfigDlg;

namespace kx::ui {

// Window message numbers, under names that do not collide with the system headers'.
inline constexpr std::uint32_t MSG_PAINT = 0x000F;
inline constexpr std::uint32_t MSG_QUERYDRAGICON = 0x0037;
inline constexpr std::uint32_t MSG_SYSCOMMAND = 0x0112;
inline constexpr std::uint32_t MSG_DEVICECHANGE = 0x0219;
// The private device event (WM_USER + 4): wParam carries the event code, lParam is 0.
inline constexpr std::uint32_t WM_DEVICE_EVENT = 0x0400 + 4;

// The private event codes.
inline constexpr std::uintptr_t DEVICE_EVENT_REMOVE_COMPLETE = 0;
inline constexpr std::uintptr_t DEVICE_EVENT_REMOVE_PENDING = 1;
inline constexpr std::uintptr_t DEVICE_EVENT_ARRIVAL = 3;

enum class Notification {
    WindowMessage,     // `code` is the message number
    ButtonClicked,     // `code` is the control id (BN_CLICKED)
    SelectionChanged,  // `code` is the control id (CBN_SELCHANGE)
};

// Handler shapes, like the framework's message-map signatures.
using VoidHandler = void (CConfigDlg::*)();
using ControlHandler = void (CConfigDlg::*)(int);          // gets the control id
using SysCommandHandler = void (CConfigDlg::*)(unsigned);  // gets wParam
using QueryIconHandler = IconHandle (CConfigDlg::*)() const;
using DeviceChangeHandler = std::intptr_t (CConfigDlg::*)(std::uint32_t, const void*);
using MessageHandler = std::intptr_t (CConfigDlg::*)(std::uintptr_t, std::intptr_t);
using Handler = std::variant<VoidHandler, ControlHandler, SysCommandHandler, QueryIconHandler,
                             DeviceChangeHandler, MessageHandler>;

struct MessageEntry {
    Notification kind;
    std::uint32_t code;
    Handler handler;
};

// The table, in order. Static storage; never fails.
std::span<const MessageEntry> ConfigDlgMessageTable();

// Runs the handler of the entry for a click (ButtonClicked) or a selection change
// (SelectionChanged) of control `id`; false when the table has none.
bool DispatchControlNotification(CConfigDlg& dialog, Notification kind, int id);

// Runs the handler of the first window-message entry for `message`. `data` is what lParam
// points to (WM_DEVICECHANGE). Returns the handler's result (0 for handlers without one;
// for WM_QUERYDRAGICON the icon handle), or nullopt when the table has no entry.
std::optional<std::intptr_t> DispatchWindowMessage(CConfigDlg& dialog, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam,
                                                   const void* data);

}  // namespace kx::ui
