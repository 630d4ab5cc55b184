#pragma once
// `kx4701 provision`: writes chip after chip from a profile (cli/Profile.h), each with the
// next serial number of a counter (cli/counter/Counter.h): a state file, or a database
// shared by several stations. A number is taken durably before the chip is written, so
// none is ever used twice, even across a crash, a kill or a power loss; a number may be
// skipped (a failed chip), never repeated. One run at a time per state file (a lock). Each
// chip's outcome is appended to an optional log of JSON lines, then recorded by the counter.

#include <cstdint>
#include <string>

#include "cli/Commands.h"
#include "cli/Devices.h"

namespace kx::cli {

struct ProvisionOptions {
    std::string profile;      // the TOML file
    std::string state;        // empty: the profile's path with ".state" after it
    std::string log;          // empty: no log (with a database: the state's path + ".log")
    std::string database;     // empty: the profile's [counter] database, if any
    std::string station;      // empty: the host name
    std::uint64_t lease = 0;  // 0: the profile's [counter] lease
    std::int64_t count = -1;  // stop after this many chips are done; -1: no limit
    bool watch = false;       // wait for chips to be plugged, until Ctrl-C or `count`
    bool rewrite = false;     // also chips that already carry a serial of the pattern
    bool dryRun = false;      // validate, show the numbers, write and take nothing
};

// Returns the exit code: 0 when every chip it tried is done, 1 when one failed (or the
// state or log could not be used), 3 when one read back wrong, 2 for a bad profile, 5 for
// --watch where no hot-plug source exists.
int ProvisionCommand(Devices& devices, const ProvisionOptions& options, Output& o);

}  // namespace kx::cli
