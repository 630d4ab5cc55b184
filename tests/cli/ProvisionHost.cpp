// A test-only host for `kx4701 provision` in a process of its own, over bench chips that
// outlive it: their stored identities live in a file (CHIPS), read at start and replaced
// durably after every change, as a chip's own memory would keep them. The crash test kills
// this process at random moments. Usage: provision_host CHIPS PROVISION-ARGUMENTS...

#include <nlohmann/json.hpp>

#include <iostream>
#include <map>

#include "cli/Cli.h"
#include "cli/DurableFile.h"
#include "emulation/BenchDevices.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: provision_host CHIPS PROVISION-ARGUMENTS...\n";
        return 2;
    }
    const std::string chips = argv[1];
    std::string error;
    const auto text = kx::cli::ReadWholeFile(chips, error);
    if (!text) {
        std::cerr << "provision_host: cannot read " << chips << " " << error << "\n";
        return 2;
    }
    kx::emu::BenchDevices stack;
    std::map<int, std::string> paths;
    for (const auto& c : nlohmann::json::parse(*text)) {
        kx::emu::ChipIdentity id;
        id.vid = c["vid"];
        id.pid = c["pid"];
        id.manufacturer = c["manufacturer"];
        id.product = c["product"];
        id.serial = c["serial"];
        paths[stack.bench().plugChip(id, c["path"])] = c["path"];
    }
    stack.bench().setChangeListener([&] {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& d : stack.bench().devices()) {
            out.push_back({{"path", d.path},
                           {"vid", d.identity.vid},
                           {"pid", d.identity.pid},
                           {"manufacturer", d.identity.manufacturer},
                           {"product", d.identity.product},
                           {"serial", d.identity.serial}});
        }
        std::string failure;
        if (!kx::cli::ReplaceDurably(chips, out.dump(), failure)) {
            std::cerr << "provision_host: " << failure << "\n";
            std::abort();
        }
    });
    kx::cli::Devices devices{stack.library(), stack.probe(), &stack.kxLibrary(), nullptr};
    std::vector<std::string> args{"kx4701", "provision"};
    args.insert(args.end(), argv + 2, argv + argc);
    return kx::cli::RunCli(args, devices, std::cout, std::cerr);
}
