#pragma once
// The command line of `kx4701`: parses the arguments, checks every value before any device
// is looked up (bad input exits 2 and sends nothing), and runs the command over `devices`.
// The program's main only makes the device stack; tests run this over the virtual bench.

#include <ostream>
#include <string>
#include <vector>

#include "cli/Devices.h"

namespace kx::cli {

// `args` are UTF-8, the program name first. Returns the exit code (cli/Commands.h).
int RunCli(const std::vector<std::string>& args, Devices& devices, std::ostream& out,
           std::ostream& err);

}  // namespace kx::cli
