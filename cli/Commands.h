#pragma once
// The command-line tool's commands, as functions over a device stack: the options come in
// already checked (cli/Values.h), the result goes out as short English text or one JSON
// document (docs of the schema: cli/kx4701.1.scd), errors as one line each on `err`, and
// only when the command fails: a run that exits 0 writes no error (a note, "kx4701: note:",
// at most). Each returns the process's exit code.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "cli/Devices.h"
#include "cli/Values.h"
#include "config/SerialDefaults.h"

namespace kx::cli {

enum ExitCode : int {
    EXIT_DONE = 0,
    EXIT_FAILED = 1,       // the device or the command failed
    EXIT_USAGE = 2,        // bad usage or bad input; nothing was looked up or sent
    EXIT_MISMATCH = 3,     // written, but the read-back did not confirm it (or, with
                           // --require-verified, could not read all of it back)
    EXIT_NO_DEVICE = 4,    // no such device, or several where one was meant
    EXIT_UNSUPPORTED = 5,  // the loaded library cannot do it (keeping serial defaults it
                           // cannot read)
    EXIT_DUPLICATE = 6,    // records reconcile found a serial or a number used twice
};

struct Output {
    std::ostream& out;
    std::ostream& err;
    bool json = false;
    // A write the library acknowledged but cannot read back whole (the maker's fourteen
    // functions: bMaxPower, the serial defaults) ends with EXIT_MISMATCH instead of 0.
    bool requireVerified = false;
};

// A command that fails before it acts on any device: the error's line on `err` and, under
// --json, the document that carries it. Returns `code`.
[[nodiscard]] int FailCommand(Output& o, const std::string& command, int code,
                              const std::string& error);

int ListCommand(Devices& devices, bool allHid, Output& o);
int ShowCommand(Devices& devices, const DeviceSelector& selector, Output& o);
int SetSerialCommand(Devices& devices, const DeviceSelector& selector, const SerialChange& change,
                     bool dryRun, Output& o);
int SetIdentityCommand(Devices& devices, const DeviceSelector& selector,
                       const IdentityChange& change, bool dryRun, Output& o);
int ResetCommand(Devices& devices, const DeviceSelector& selector, bool dryRun, Output& o);

}  // namespace kx::cli
