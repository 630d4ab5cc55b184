#pragma once
// The configuration dialog's message table: which window message or control notification
// reaches which handler, in one table, in its order. Control notifications are connected
// from it (clicks to QAbstractButton::clicked, selection changes to QComboBox::activated,
// which only user selections raise); window messages are dispatched through it by the
// dialog's event handling.

#include <cstdint>
#include <optional>
#include <span>
#include <variant>

class CConfigDlg;
class QIcon;

namespace kx::ui {

class WindowOps;

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
using QueryIconHandler = const QIcon* (CConfigDlg::*)() const;
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

// Connects every control notification of the table to its handler on `dialog`, whose
// controls `ops` addresses. Call once.
void ConnectMessageTable(CConfigDlg& dialog, WindowOps& ops);

// Runs the handler of the first window-message entry for `message`. `data` is what lParam
// points to (WM_DEVICECHANGE). Returns the handler's result (0 for handlers without one;
// for WM_QUERYDRAGICON the icon's address), or nullopt when the table has no entry.
std::optional<std::intptr_t> DispatchWindowMessage(CConfigDlg& dialog, std::uint32_t message,
                                                   std::uintptr_t wParam, std::intptr_t lParam,
                                                   const void* data);

}  // namespace kx::ui
