// unixODBC's driver manager, loaded at the first ODBC call rather than at every start: linking
// libodbc made each run of kx4701 (a `list`, a `show`) pay for loading it and its
// dependencies, on the host most of a start's cost beyond its floor. Each ODBC function the
// tool calls is defined here and forwards to libodbc's own. When libodbc cannot be loaded, every
// call fails with SQL_ERROR and no diagnostics, which Odbc.cpp reports as a driver manager
// that cannot be used.

#include <dlfcn.h>

#include "OdbcApi.h"

namespace {

// Loaded once, kept for the process; global, so that drivers see the manager's symbols as
// they would had it been linked.
void* DriverManager() {
    static void* const library = [] {
        void* found = dlopen("libodbc.so.2", RTLD_NOW | RTLD_GLOBAL);
        return found != nullptr ? found : dlopen("libodbc.so.1", RTLD_NOW | RTLD_GLOBAL);
    }();
    return library;
}

void* Resolve(const char* name) {
    void* library = DriverManager();
    return library != nullptr ? dlsym(library, name) : nullptr;
}

}  // namespace

// Defines `name` with its declared parameters, forwarding its arguments to libodbc's.
#define KX_FORWARD(name, params, args)                                              \
    extern "C" SQLRETURN SQL_API name params {                                      \
        static const auto real = reinterpret_cast<decltype(&name)>(Resolve(#name)); \
        return real != nullptr ? real args : SQL_ERROR;                             \
    }

KX_FORWARD(SQLAllocHandle, (SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output),
           (type, input, output))
KX_FORWARD(SQLFreeHandle, (SQLSMALLINT type, SQLHANDLE handle), (type, handle))
KX_FORWARD(SQLSetEnvAttr, (SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
           (env, attribute, value, length))
KX_FORWARD(SQLSetConnectAttr,
           (SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
           (dbc, attribute, value, length))
KX_FORWARD(SQLSetStmtAttr,
           (SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length),
           (stmt, attribute, value, length))
KX_FORWARD(SQLDriverConnect,
           (SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLength, SQLCHAR* out,
            SQLSMALLINT outMax, SQLSMALLINT* outLength, SQLUSMALLINT completion),
           (dbc, window, in, inLength, out, outMax, outLength, completion))
KX_FORWARD(SQLDisconnect, (SQLHDBC dbc), (dbc))
KX_FORWARD(SQLEndTran, (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion),
           (type, handle, completion))
KX_FORWARD(SQLExecDirect, (SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length), (stmt, text, length))
KX_FORWARD(SQLBindParameter,
           (SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT direction, SQLSMALLINT cType,
            SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
            SQLLEN bufferLength, SQLLEN* indicator),
           (stmt, number, direction, cType, sqlType, size, digits, value, bufferLength, indicator))
KX_FORWARD(SQLNumResultCols, (SQLHSTMT stmt, SQLSMALLINT* count), (stmt, count))
KX_FORWARD(SQLDescribeCol,
           (SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT nameMax,
            SQLSMALLINT* nameLength, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
            SQLSMALLINT* nullable),
           (stmt, column, name, nameMax, nameLength, type, size, digits, nullable))
KX_FORWARD(SQLFetch, (SQLHSTMT stmt), (stmt))
KX_FORWARD(SQLGetData,
           (SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type, SQLPOINTER value,
            SQLLEN bufferLength, SQLLEN* indicator),
           (stmt, column, type, value, bufferLength, indicator))
KX_FORWARD(SQLRowCount, (SQLHSTMT stmt, SQLLEN* count), (stmt, count))
KX_FORWARD(SQLGetDiagRec,
           (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
            SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT messageMax, SQLSMALLINT* length),
           (type, handle, record, state, native, message, messageMax, length))
