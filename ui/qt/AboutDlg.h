#pragma once
// The about box (IDD_ABOUTBOX, 100): icon, name and version, one more line, and "确定".

#include <QDialog>

// Built from the about-box template. It has no handlers or data of its own: the default
// button and Escape close it. Owned by whoever constructs it (usually on the stack of the
// command that shows it); nothing in it can fail.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
