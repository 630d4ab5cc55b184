#pragma once
// ODBC's declarations on Linux: unixODBC's driver manager (libodbc).

#include <sql.h>
#include <sqlext.h>
