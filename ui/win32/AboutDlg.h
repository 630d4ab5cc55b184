#pragma once
// The about box on Windows: template IDD_ABOUTBOX (100) of the program's resources, with no
// handlers or data of its own; OK (Enter) and Escape close it.

#include "config/win32/WinApi.h"

class CAboutDlg {
  public:
    // `parent` is disabled while the box runs; null for none.
    explicit CAboutDlg(HWND parent = nullptr) : m_parent(parent) {}

    // Runs the box modally; returns IDOK or IDCANCEL, or -1 when the template cannot be
    // made.
    INT_PTR DoModal();

  private:
    HWND m_parent;
};
