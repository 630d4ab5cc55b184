#pragma once
// `kx4701 provision`: writes chips from a profile (cli/Profile.h), each with the next serial
// number of a counter kept in a state file, up to `jobs` chips in flight at once, each
// through its own pipeline (read stored, take a number, write, wait for it to come back,
// read back, log). A number is taken durably before its chip is written, so none is ever
// used twice, even across a crash, a kill or a power loss; a number may be skipped (a failed
// chip), never repeated. One run at a time per state file (a lock). Each chip's outcome is
// appended to an optional log of JSON lines, whole lines in the order the chips end.

#include <cstdint>
#include <string>

#include "cli/Commands.h"
#include "cli/Devices.h"

namespace kx::cli {

struct ProvisionOptions {
    std::string profile;      // the TOML file
    std::string state;        // empty: the profile's path with ".state" after it
    std::string log;          // empty: no log
    std::int64_t count = -1;  // stop after this many chips are done; -1: no limit
    bool watch = false;       // wait for chips to be plugged, until Ctrl-C or `count`
    bool rewrite = false;     // also chips that already carry a serial of the pattern
    bool dryRun = false;      // validate, show the numbers, write and take nothing
    int jobs = DEFAULT_JOBS;  // chips in flight at most; 1: one after another
    bool events = false;      // one JSON line per phase change per chip on `out`
    static constexpr int DEFAULT_JOBS = 8;
    static constexpr int MAX_JOBS = 256;
};

// Returns the exit code: 0 when every chip it tried is done, 1 when one failed (or the
// state or log could not be used), 3 when one read back wrong, 2 for a bad profile, 5 for
// --watch where no hot-plug source exists.
int ProvisionCommand(Devices& devices, const ProvisionOptions& options, Output& o);

// The state file's text for `next`, and the number it holds (nullopt when it is not such
// a file: it is never guessed at).
[[nodiscard]] std::string StateText(std::uint64_t next);
[[nodiscard]] std::optional<std::uint64_t> ParseState(std::string_view text);

}  // namespace kx::cli
