#pragma once
// Dialog templates as data: the resource script's DIALOGEX blocks, with no toolkit. The Qt
// host builds widgets from them (ui/qt/QtDialogBuilder.h); on Windows the resource script
// holds the same templates and a test checks that the two agree.

#include <cstdint>
#include <span>

namespace kx::ui {

enum class ControlKind {
    Label,       // static text
    GroupBox,    // frame with an optional caption
    Icon,        // static icon showing the application icon
    ComboBox,    // drop-down combo box with an editable text part
    Edit,        // single-line edit
    CheckBox,    // check box that toggles itself
    PushButton,  // push button
};

// Style bits that matter for the controls' behaviour, named after the system's styles.
enum Style : std::uint32_t {
    STYLE_NONE = 0,
    STYLE_TABSTOP = 1u << 0,        // WS_TABSTOP: reached with the Tab key
    STYLE_GROUP = 1u << 1,          // WS_GROUP
    STYLE_BORDER = 1u << 2,         // WS_BORDER
    STYLE_VSCROLL = 1u << 3,        // WS_VSCROLL (combo lists)
    STYLE_AUTOHSCROLL = 1u << 4,    // ES_AUTOHSCROLL / CBS_AUTOHSCROLL
    STYLE_READONLY = 1u << 5,       // ES_READONLY
    STYLE_AUTOCHECKBOX = 1u << 6,   // BS_AUTOCHECKBOX
    STYLE_DEFPUSHBUTTON = 1u << 7,  // BS_DEFPUSHBUTTON
    STYLE_NOPREFIX = 1u << 8,       // SS_NOPREFIX: '&' is shown, not a mnemonic
    STYLE_DROPDOWN = 1u << 9,       // CBS_DROPDOWN: editable, not CBS_DROPDOWNLIST
    STYLE_SORT = 1u << 10,          // CBS_SORT
    STYLE_CENTERIMAGE = 1u << 11,   // SS_CENTERIMAGE
};

// x, y, width, height in dialog units.
struct DluRect {
    int x;
    int y;
    int cx;
    int cy;
    friend bool operator==(const DluRect&, const DluRect&) = default;
};

struct ControlTemplate {
    int id;            // IDC_STATIC_ID (-1) for controls without identifier
    const char* name;  // IDC_ name, or "" for controls without identifier
    ControlKind kind;
    const char* caption;  // UTF-8
    DluRect rect;
    std::uint32_t styles;  // Style bits
};

// What a screen reader needs of a control beyond its caption: a description that tells it
// from a control of the same caption, and whether readers are told each new text of it (a
// status line).
struct ControlAccessibility {
    int id;
    const char* description;  // UTF-8, "" for none
    bool announcesChanges;
};

struct DialogTemplate {
    int id;
    const char* name;  // IDD_ name
    int cx;            // dialog units
    int cy;
    const char* caption;
    const char* fontFace;
    int pointSize;
    std::span<const ControlTemplate> controls;  // tab order
    std::span<const ControlAccessibility> accessibility;
};

// IDD_CONFIG_DIALOG (102) and IDD_ABOUTBOX (100). Static data; never fails.
const DialogTemplate& ConfigDialogTemplate();
const DialogTemplate& AboutBoxTemplate();

// The control of `id` in `tmpl`, or nullptr.
const ControlTemplate* FindControl(const DialogTemplate& tmpl, int id);

// The captioned control that a caption-less one (edit, combo box, icon) of `tmpl` is known
// by, as a reader of the dialog pairs them: the label or check box nearest to its left on its
// first line, or, where a caption-less control stands there, the innermost captioned group
// box around it. nullptr for a captioned control or when nothing fits. Points into `tmpl`.
const ControlTemplate* CaptionFor(const DialogTemplate& tmpl, const ControlTemplate& control);

}  // namespace kx::ui
