#pragma once
// The Qt builder of a dialog template: widgets on a QDialog, made the way the system makes
// a dialog from its template: controls in table order, positions in dialog units converted
// with the dialog font's average character size.

#include <vector>

#include <QFont>
#include <QRect>

#include "ui/DialogTemplate.h"

class QDialog;
class QWidget;

namespace kx::ui {

// The template's font: its face at its point size, falling back to an installed CJK face
// when the face is missing.
QFont DialogFont(const DialogTemplate& tmpl);

// Dialog-unit base of a font, as the system computes it: the average width of the 52
// Latin letters, rounded, and the character height in pixels.
struct DialogUnits {
    int avgCharWidth;
    int charHeight;

    static DialogUnits ForFont(const QFont& font);
    // MulDiv rounding, as MapDialogRect does.
    int toPixelsX(int dlu) const;
    int toPixelsY(int dlu) const;
    QRect toPixels(const DluRect& rect) const;
};

// Dynamic properties every built control carries.
inline constexpr const char* CONTROL_ID_PROPERTY = "kxControlId";
// For combo boxes: the pixel height of the opened list, from the template height.
inline constexpr const char* DROPPED_HEIGHT_PROPERTY = "kxDroppedHeight";
// For a label that readers are told each new text of (ControlAccessibility::announcesChanges).
inline constexpr const char* ANNOUNCES_CHANGES_PROPERTY = "kxAnnouncesChanges";

// Creates the template's controls on `dialog` in table order (so that focus chain and
// accessibility tree follow it), sets caption, font and fixed client size, and returns the
// widgets in table order. The dialog owns the widgets. Call once on an empty dialog.
std::vector<QWidget*> BuildDialog(QDialog& dialog, const DialogTemplate& tmpl);

}  // namespace kx::ui
