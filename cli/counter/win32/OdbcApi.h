#pragma once
// ODBC's declarations on Windows: the system's driver manager (odbc32), whose headers need
// the base types of <windows.h> first.

#include "config/win32/WinApi.h"

// clang-format off
#include <sql.h>
#include <sqlext.h>
// clang-format on
