#pragma once
// kx4701's commands over a virtual bench in this process: run a command line, read what it
// printed and what each device received.

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "emulation/BenchDevices.h"

namespace kx::cli {

struct CliRig {
    CliRig() { devices_.reappearWait = std::chrono::milliseconds(0); }
    emu::VirtualBench& bench() { return stack_.bench(); }

    struct Result {
        int code;
        std::string out, err;
        nlohmann::json json() const { return nlohmann::json::parse(out); }
    };
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), "kx4701");
        std::ostringstream out, err;
        const int code = RunCli(args, devices_, out, err);
        return {code, out.str(), err.str()};
    }
    // Feature reports each plugged device has received (SET), in plug order.
    std::vector<std::uint64_t> reports() {
        std::vector<std::uint64_t> r;
        for (const auto& d : bench().devices()) {
            r.push_back(d.reportsReceived);
        }
        return r;
    }
    emu::ChipIdentity identity(int id) { return bench().device(id)->identity; }
    SerialDefaults serial(int id) { return bench().device(id)->serial; }

    emu::BenchDevices stack_;
    Devices devices_{stack_.library(), stack_.probe(), &stack_.kxLibrary(), &stack_.bench()};
};

}  // namespace kx::cli
