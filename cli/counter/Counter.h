#pragma once
// Where a provisioning run's serial numbers come from, and where each chip's outcome is
// recorded. Two kinds, chosen by the profile or the command line: the state file alone (one
// station; the default), or a database shared by several stations (cli/counter/Database
// Counter.h), which leases blocks of numbers into the same state file. Either way a number
// is on the disk before a chip sees it, so none is ever used twice; a number may be
// skipped (a failed chip, a kill), never repeated. Every member may be called from several
// threads at once.

#include <cstdint>
#include <memory>
#include <string>

#include "cli/Report.h"

namespace kx::cli {

struct Profile;
struct SerialPattern;

class Counter {
  public:
    virtual ~Counter() = default;
    // The next number, taken durably: once true is returned it is never handed out again,
    // whatever happens next. False with `error` when none was taken; the run stops then.
    [[nodiscard]] virtual bool take(std::uint64_t& number, std::string& error) = 0;
    // A chip's outcome, its log line (`entry`) already written. False with `error` only when
    // the record shows the serial was used before (the run stops then); a record that
    // cannot be sent now is kept and sent later.
    [[nodiscard]] virtual bool record(const Json& entry, std::string& error) = 0;
    // The end of a run: what is still to be sent is sent if it can be.
    virtual void close() {}
    [[nodiscard]] virtual std::uint64_t next() const = 0;  // the next number it would take
    [[nodiscard]] virtual std::string statePath() const = 0;
};

struct CounterOptions {
    std::string state;     // the state file
    std::string log;       // the run's log of chips, JSON lines: what a database is sent
    std::string profile;   // its path: the records name its file
    std::string database;  // empty: the state file alone; else an ODBC connection string
    std::string station;   // this station's name in the records
    std::uint64_t lease = 0;
    bool dryRun = false;  // read the state, take and send nothing
};

// The counter a run uses. It holds the state file's lock while it lives. Null with `error`
// (a database's password never in it) when it cannot be used; nothing was taken then.
[[nodiscard]] std::unique_ptr<Counter> OpenCounter(const CounterOptions& options,
                                                   const Profile& profile, std::string& error);

// The serial space a pattern makes, its UTF-8 text ("KXB-{counter:06}"): the database
// counter's key, so profiles with one pattern share their numbers.
[[nodiscard]] std::string SpaceOf(const SerialPattern& pattern);

// This machine's name: the default station name.
[[nodiscard]] std::string HostName();

}  // namespace kx::cli
