#pragma once
// The one way into <windows.h>: every Windows file includes this instead, so the settings
// below hold whatever else a file includes, and in whichever order.
//
// NOMINMAX keeps min/max from becoming macros (std::min, std::numeric_limits); the lean
// build leaves out what nothing here uses (OLE, sockets, cryptography). The names of the
// window operations (ui/WindowOps.h) must stay ours: the A/W-switching macros of the
// functions they are named after are removed, so Windows code calls the A or W function by
// its full name.

#ifndef _WIN32
#error "config/win32/WinApi.h is for Windows builds only"
#endif

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

// clang-format off
#include <windows.h>
#include <dbt.h>  // needs the types of windows.h
// clang-format on

#undef GetWindowText
#undef LoadIcon
#undef LoadString
#undef MessageBox
#undef PostMessage
#undef SetWindowText
