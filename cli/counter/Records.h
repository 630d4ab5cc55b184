#pragma once
// The shared counter and record on the database server: four tables, in SQL that
// PostgreSQL, SQL Server and MariaDB all speak (no sequences, no upserts, no row-lock
// hints, times as ISO texts), created when missing and never altered:
//
//   kx4701_schema   name, version: one row ('kx4701', 1)
//   kx4701_counter  space, next_number: a serial space's next unleased number
//   kx4701_lease    space, first_number, end_number, step_size, station, taken_at, used_to:
//                   the blocks handed out; (space, first_number) unique
//   kx4701_chip     serial, space, num, profile, station, recorded_at, result,
//                   identity_before, serial_before, identity_after, serial_after, read_back:
//                   one row per chip that took a number; serial and (space, num) unique
//
// A serial space is the profile's serial pattern ("KXB-{counter:06}"): profiles with the
// same pattern share their numbers. Failures come back as false with a masked error.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/Report.h"
#include "cli/counter/Odbc.h"
#include "cli/counter/StateFile.h"

namespace kx::cli {

constexpr std::int64_t SCHEMA_VERSION = 1;

struct ChipRow {
    std::string serial, space;
    std::int64_t number = 0;
    std::string profile, station, time, result;
    // JSON texts, as the log has them; empty when the chip could not tell.
    std::string identityBefore, serialBefore, identityAfter, serialAfter, readBack;
};

struct LeaseRow {
    std::string space;
    std::int64_t first = 0, end = 0, step = 1;
    std::string station, takenAt;
    std::optional<std::int64_t> usedTo;  // where its station stopped; null while in use
};

// What reconcile finds across every station.
struct Reconciliation {
    std::int64_t chips = 0, leases = 0;
    std::vector<std::string> stations;
    std::vector<std::string> duplicates;  // one line per serial or number found twice
    std::vector<std::string> overlaps;    // one line per pair of leases sharing numbers
    std::vector<std::string> outside;     // chips whose number no lease of their station holds
    struct Station {
        std::int64_t recorded = 0, failed = 0, burned = 0, outstanding = 0;
        std::vector<std::int64_t> burnedNumbers;  // the first ones, for the report
        std::vector<std::string> openLeases;      // "1200..1699: 1650 to 1699 unused"
    };
    std::vector<std::pair<std::string, Station>> byStation;
    [[nodiscard]] bool clean() const {
        return duplicates.empty() && overlaps.empty() && outside.empty();
    }
};

class RecordStore {
  public:
    // Connects and makes sure the tables are there and of this shape (creating missing
    // ones). Null with `error` when the server cannot be reached or a table is not ours.
    [[nodiscard]] static std::unique_ptr<RecordStore> Open(const std::string& connection,
                                                           std::string& error);

    // Moves `space`'s counter from `expected` to `next`, only if it still holds `expected`
    // (`moved` false when another station moved it first).
    [[nodiscard]] bool advance(const std::string& space, std::int64_t expected, std::int64_t next,
                               bool& moved, odbc::Error& error);
    // Leases `count` numbers, `step` apart, from at least `floor`, in one transaction that
    // no other station's can share numbers with. `reserve` is called with the block before
    // it is committed (the station writes it down); its false rolls back.
    [[nodiscard]] bool takeLease(const std::string& space, const std::string& station,
                                 std::uint64_t floor, std::uint64_t count, std::uint64_t step,
                                 const std::function<bool(const NumberRange&)>& reserve,
                                 NumberRange& taken, std::string& error);
    [[nodiscard]] bool findLease(const std::string& space, std::int64_t first,
                                 std::optional<LeaseRow>& lease, odbc::Error& error);
    // The highest number recorded in [first, end) of `space`.
    [[nodiscard]] bool highest(const std::string& space, const NumberRange& range,
                               std::optional<std::int64_t>& number, odbc::Error& error);
    [[nodiscard]] bool closeLease(const std::string& space, std::int64_t first, std::int64_t usedTo,
                                  odbc::Error& error);

    enum class Sent { New, Already, Duplicate, Failed };
    // Already: this very row was sent before. Duplicate: the serial or number is recorded
    // for another chip (`error` says whose). Failed: not sent (`error`).
    [[nodiscard]] Sent insert(const ChipRow& row, std::string& error);
    [[nodiscard]] bool find(const std::string& serial, std::optional<ChipRow>& row,
                            odbc::Error& error);
    // Every row, in the order of space and number.
    [[nodiscard]] bool each(const std::function<void(const ChipRow&)>& visit, odbc::Error& error);
    [[nodiscard]] bool reconcile(Reconciliation& out, odbc::Error& error);

    odbc::Connection& connection() { return *db_; }

  private:
    explicit RecordStore(std::unique_ptr<odbc::Connection> db) : db_(std::move(db)) {}
    bool ensureTables(std::string& error);
    std::unique_ptr<odbc::Connection> db_;
};

// The row of a log entry of kx4701 provision (nullopt for one that took no number).
[[nodiscard]] std::optional<ChipRow> RowOfEntry(const Json& entry, const std::string& space,
                                                const std::string& profile,
                                                const std::string& station);

}  // namespace kx::cli
