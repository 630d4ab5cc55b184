#pragma once
// `kx4701 records`: the shared record of a database counter (cli/counter/Records.h), read
// across every station: reconcile, find SERIAL, export --csv.

#include <string>
#include <vector>

#include "cli/Commands.h"

namespace kx::cli {

struct RecordsOptions {
    std::string action;             // "reconcile", "find" or "export"
    std::string serial;             // find's
    std::string database;           // the connection string; empty: the profile's
    std::string profile;            // a profile whose [counter] database names it
    std::vector<std::string> logs;  // reconcile: stations' logs, for their rows not yet sent
    bool csv = false;
};

// Returns the exit code: 0, EXIT_DUPLICATE when reconcile found a serial or number used
// twice (or a number outside its station's leases), EXIT_FAILED when find finds nothing or
// the server cannot be used, EXIT_USAGE for bad options.
int RecordsCommand(const RecordsOptions& options, Output& o);

}  // namespace kx::cli
