#pragma once
// What a screen reader is told of changes to the dialog's texts beyond Qt's own events: Qt
// 6.4's AT-SPI bridge reports a new name with a reference to the object instead of the name,
// which Orca cannot speak, and Orca speaks the text of an object that is not focused only
// when a notification is shown.

class QWidget;

namespace kx::ui {

// Reports the new accessible name of `widget` on the accessibility bus, with the name; does
// nothing while no assistive technology listens.
void ReportNameChange(QWidget* widget);

// Shows the notification `widget` anew once the current event has been handled, so that a
// reader speaks its text then: once, however often the text changed meanwhile, and after
// the other changes the same event made.
void AnnounceLater(QWidget* widget);

}  // namespace kx::ui
