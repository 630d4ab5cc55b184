#include "cli/counter/Odbc.h"

#include <OdbcApi.h>  // this platform's ODBC headers: cli/counter/linux/ or win32/

namespace kx::cli::odbc {
namespace {

constexpr SQLULEN QUERY_TIMEOUT_SECONDS = 30;

bool IsInteger(SQLSMALLINT type, SQLSMALLINT digits) {
    return type == SQL_BIGINT || type == SQL_INTEGER || type == SQL_SMALLINT ||
           type == SQL_TINYINT || ((type == SQL_NUMERIC || type == SQL_DECIMAL) && digits == 0);
}

// The diagnostics of `handle`, one line, masked.
Error Diagnose(SQLSMALLINT type, SQLHANDLE handle, const std::string& connection,
               std::string_view what) {
    Error error;
    std::string text;
    for (SQLSMALLINT i = 1; handle != SQL_NULL_HANDLE; ++i) {
        SQLCHAR state[6] = {};
        SQLCHAR message[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        if (!SQL_SUCCEEDED(
                SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length))) {
            break;
        }
        std::string line(reinterpret_cast<const char*>(message));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        for (char& c : line) {
            c = c == '\n' || c == '\r' ? ' ' : c;
        }
        if (error.state.empty()) {
            error.state = reinterpret_cast<const char*>(state);
        }
        text += (text.empty() ? "" : "; ") + std::string(reinterpret_cast<const char*>(state)) +
                " " + line;
    }
    error.message = MaskSecrets(
        std::string(what) + (text.empty() ? ": no diagnostics from the driver" : ": " + text),
        connection);
    return error;
}

struct Statement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    ~Statement() {
        if (handle != SQL_NULL_HSTMT) {
            SQLFreeHandle(SQL_HANDLE_STMT, handle);
        }
    }
};

}  // namespace

struct Connection::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    std::string connection;  // for masking the diagnostics
    ~Handles() {
        if (connected) {
            SQLDisconnect(dbc);
        }
        if (dbc != SQL_NULL_HDBC) {
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env != SQL_NULL_HENV) {
            SQLFreeHandle(SQL_HANDLE_ENV, env);
        }
    }
    Error fail(SQLSMALLINT type, SQLHANDLE handle, std::string_view what) const {
        return Diagnose(type, handle, connection, what);
    }
};

Connection::Connection(std::unique_ptr<Handles> handles) : h_(std::move(handles)) {}
Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::Open(const std::string& connection, int timeoutSeconds,
                                             Error& error) {
    auto h = std::make_unique<Handles>();
    h->connection = connection;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h->env)) ||
        !SQL_SUCCEEDED(SQLSetEnvAttr(h->env, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, h->env, &h->dbc))) {
        error = {"", "the ODBC driver manager cannot be used (is it installed?)"};
        return nullptr;
    }
    (void)SQLSetConnectAttr(h->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)),
                            0);  // a driver that cannot bound the wait still connects
    std::string in = connection;
    SQLCHAR out[1024] = {};
    SQLSMALLINT outLength = 0;
    const SQLRETURN r = SQLDriverConnect(h->dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()),
                                         static_cast<SQLSMALLINT>(in.size()), out, sizeof out,
                                         &outLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(r)) {
        error = h->fail(SQL_HANDLE_DBC, h->dbc, "cannot connect to the database");
        return nullptr;
    }
    h->connected = true;
    return std::unique_ptr<Connection>(new Connection(std::move(h)));
}

bool Connection::run(std::string_view sql, const std::vector<Value>& params, Error& error,
                     std::vector<Row>* rows, std::int64_t* changed) {
    Statement s;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &s.handle))) {
        error = h_->fail(SQL_HANDLE_DBC, h_->dbc, "cannot make a statement");
        return false;
    }
    (void)SQLSetStmtAttr(s.handle, SQL_ATTR_QUERY_TIMEOUT,
                         reinterpret_cast<SQLPOINTER>(QUERY_TIMEOUT_SECONDS),
                         0);  // unbounded where the driver has no timeout
    // The bound values must stay where they are until the statement has run.
    std::vector<std::int64_t> numbers(params.size());
    std::vector<std::string> texts(params.size());
    std::vector<SQLLEN> lengths(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        const auto n = static_cast<SQLUSMALLINT>(i + 1);
        SQLRETURN r = SQL_SUCCESS;
        if (const auto* number = std::get_if<std::int64_t>(&params[i])) {
            numbers[i] = *number;
            lengths[i] = 0;
            r = SQLBindParameter(s.handle, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                 &numbers[i], 0, &lengths[i]);
        } else {
            const auto* text = std::get_if<std::string>(&params[i]);
            texts[i] = text != nullptr ? *text : std::string();
            lengths[i] = text != nullptr ? static_cast<SQLLEN>(texts[i].size()) : SQL_NULL_DATA;
            r = SQLBindParameter(s.handle, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                 texts[i].empty() ? 1 : texts[i].size(), 0, texts[i].data(),
                                 static_cast<SQLLEN>(texts[i].size()), &lengths[i]);
        }
        if (!SQL_SUCCEEDED(r)) {
            error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot bind a value");
            return false;
        }
    }
    std::string text(sql);
    const SQLRETURN r = SQLExecDirect(s.handle, reinterpret_cast<SQLCHAR*>(text.data()),
                                      static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA) {
        error = h_->fail(SQL_HANDLE_STMT, s.handle, "the database refused a statement");
        return false;
    }
    if (changed != nullptr) {
        SQLLEN count = 0;
        *changed = r == SQL_NO_DATA ? 0 : SQL_SUCCEEDED(SQLRowCount(s.handle, &count)) ? count : -1;
    }
    if (rows == nullptr) {
        return true;
    }
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(s.handle, &columns))) {
        error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot read a result");
        return false;
    }
    std::vector<bool> integer(static_cast<std::size_t>(columns));
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0, nameLength = 0;
        SQLULEN size = 0;
        SQLCHAR name[128];
        (void)SQLDescribeCol(s.handle, c, name, sizeof name, &nameLength, &type, &size, &digits,
                             &nullable);  // an undescribed column is read as text
        integer[static_cast<std::size_t>(c - 1)] = IsInteger(type, digits);
    }
    for (;;) {
        const SQLRETURN f = SQLFetch(s.handle);
        if (f == SQL_NO_DATA) {
            return true;
        }
        if (!SQL_SUCCEEDED(f)) {
            error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot read a row");
            return false;
        }
        Row row;
        for (SQLSMALLINT c = 1; c <= columns; ++c) {
            SQLLEN length = 0;
            if (integer[static_cast<std::size_t>(c - 1)]) {
                std::int64_t v = 0;
                if (!SQL_SUCCEEDED(SQLGetData(s.handle, c, SQL_C_SBIGINT, &v, 0, &length))) {
                    error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot read a number");
                    return false;
                }
                if (length == SQL_NULL_DATA) {
                    row.emplace_back();
                } else {
                    row.emplace_back(std::in_place_type<std::int64_t>, v);
                }
                continue;
            }
            std::string value;
            char chunk[512];
            SQLRETURN g = SQL_SUCCESS;
            do {
                g = SQLGetData(s.handle, c, SQL_C_CHAR, chunk, sizeof chunk, &length);
                if (g == SQL_NO_DATA) {
                    break;
                }
                if (!SQL_SUCCEEDED(g)) {
                    error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot read a text");
                    return false;
                }
                if (length == SQL_NULL_DATA) {
                    break;
                }
                const std::size_t got = length == SQL_NO_TOTAL || length >= SQLLEN(sizeof chunk)
                                            ? sizeof chunk - 1
                                            : static_cast<std::size_t>(length);
                value.append(chunk, got);
            } while (g == SQL_SUCCESS_WITH_INFO);
            if (length == SQL_NULL_DATA) {
                row.emplace_back();
            } else {
                row.emplace_back(std::in_place_type<std::string>, std::move(value));
            }
        }
        rows->push_back(std::move(row));
    }
}

bool Connection::describe(std::string_view sql, std::vector<Column>& columns, Error& error) {
    Statement s;
    std::string text(sql);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h_->dbc, &s.handle)) ||
        !SQL_SUCCEEDED(SQLExecDirect(s.handle, reinterpret_cast<SQLCHAR*>(text.data()),
                                     static_cast<SQLINTEGER>(text.size())))) {
        error = h_->fail(s.handle != SQL_NULL_HSTMT ? SQL_HANDLE_STMT : SQL_HANDLE_DBC,
                         s.handle != SQL_NULL_HSTMT ? s.handle : h_->dbc,
                         "the database refused a statement");
        return false;
    }
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(s.handle, &count))) {
        error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot read a result");
        return false;
    }
    columns.clear();
    for (SQLSMALLINT c = 1; c <= count; ++c) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0, nameLength = 0;
        SQLULEN size = 0;
        SQLCHAR name[128] = {};
        if (!SQL_SUCCEEDED(SQLDescribeCol(s.handle, c, name, sizeof name, &nameLength, &type, &size,
                                          &digits, &nullable))) {
            error = h_->fail(SQL_HANDLE_STMT, s.handle, "cannot describe a column");
            return false;
        }
        columns.push_back({reinterpret_cast<const char*>(name), IsInteger(type, digits)});
    }
    return true;
}

bool Connection::begin(Error& error) {
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(h_->dbc, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
        error = h_->fail(SQL_HANDLE_DBC, h_->dbc, "cannot begin a transaction");
        return false;
    }
    return true;
}

bool Connection::commit(Error& error) {
    const bool committed = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, h_->dbc, SQL_COMMIT));
    if (!committed) {
        error = h_->fail(SQL_HANDLE_DBC, h_->dbc, "cannot commit a transaction");
        rollback();
        return false;
    }
    (void)SQLSetConnectAttr(h_->dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                            0);  // a failure shows at the next statement
    return true;
}

void Connection::rollback() {
    (void)SQLEndTran(SQL_HANDLE_DBC, h_->dbc, SQL_ROLLBACK);  // a lost link rolls back anyway
    (void)SQLSetConnectAttr(h_->dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
}

}  // namespace kx::cli::odbc
