#pragma once
// A connection to a database server through ODBC (unixODBC on Linux, the system's odbc32 on
// Windows): statements with parameters bound to their ? marks, rows read back as numbers
// and texts, transactions. Every handle is owned by the object that made it and freed with
// it. Every failure comes back as false (or null) with an Error whose message holds the
// driver's diagnostics and never a password: each is masked (MaskSecrets) before it leaves
// this layer.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kx::cli::odbc {

// NULL, an integer column, a text column (UTF-8).
using Value = std::variant<std::monostate, std::int64_t, std::string>;
using Row = std::vector<Value>;

struct Error {
    std::string state;    // the first diagnostic's SQLSTATE, "" when none
    std::string message;  // one line, masked
    // A constraint refused the statement (class 23: a unique key, a NOT NULL).
    [[nodiscard]] bool constraint() const { return state.starts_with("23"); }
};

// `text` with the values of the connection string's PWD= and Password= keys (any letter
// case, braced or not) replaced by "***", wherever they appear in it, together with those
// keys' own spelling in `text` itself. Pure.
[[nodiscard]] std::string MaskSecrets(std::string_view text, std::string_view connection);

struct Column {
    std::string name;  // as the server spells it
    bool integer = false;
};

class Connection {
  public:
    // Connects with `connection` (a DSN=… or a driver's connection string), waiting at most
    // `timeoutSeconds` for the server. Null with `error` when it cannot.
    [[nodiscard]] static std::unique_ptr<Connection> Open(const std::string& connection,
                                                          int timeoutSeconds, Error& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs `sql` with `params` bound in order; the result's rows go to `rows` when given,
    // the count of rows changed to `changed` when given.
    [[nodiscard]] bool run(std::string_view sql, const std::vector<Value>& params, Error& error,
                           std::vector<Row>* rows = nullptr, std::int64_t* changed = nullptr);
    // The columns `sql` (a query) would return, without fetching a row.
    [[nodiscard]] bool describe(std::string_view sql, std::vector<Column>& columns, Error& error);
    // A transaction: run() calls between begin() and commit() are all or nothing.
    // rollback() ends one after a failure (its own failure is of no use then).
    [[nodiscard]] bool begin(Error& error);
    [[nodiscard]] bool commit(Error& error);
    void rollback();

  private:
    struct Handles;
    explicit Connection(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> h_;
};

}  // namespace kx::cli::odbc
