// Crash safety with real processes: provisioning killed with SIGKILL at 200 random moments
// (a seeded generator, so runs repeat) never uses a serial number twice, and the state
// file's next number stays above every number used.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "cli/DurableFile.h"
#include "cli/counter/StateFile.h"

extern char** environ;

namespace kx::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int CHIPS = 10;
constexpr int KILLS = 200;
constexpr unsigned SEED = 4701;

// Starts the host with the provision arguments; its output goes nowhere.
pid_t Start(const fs::path& dir) {
    const std::string chips = (dir / "chips.json").string(), profile = (dir / "p.toml").string(),
                      log = (dir / "log").string();
    const char* argv[] = {KX_PROVISION_HOST, chips.c_str(), profile.c_str(), "--rewrite",
                          "--log",           log.c_str(),   nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    EXPECT_EQ(
        posix_spawn(&pid, KX_PROVISION_HOST, &files, nullptr, const_cast<char**>(argv), environ),
        0);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    return status;
}

TEST(ProvisionCrash, KilledAtRandomMomentsItNeverUsesANumberTwice) {
    // In memory where the system has it: a kill, unlike a power loss, keeps what was written.
    const fs::path dir = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                         ("kx4701-crash-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "p.toml") << "[identity]\nserial = \"CR-{counter:06}\"\n";
    Json chips = Json::array();
    for (int i = 0; i < CHIPS; ++i) {
        chips.push_back({{"path", "vbench://crash/" + std::to_string(i)},
                         {"vid", 0x3C5B},
                         {"pid", 0xB207},
                         {"manufacturer", "KX-CHIPS"},
                         {"product", "HID To Serial"},
                         {"serial", "12345678"}});
    }
    std::ofstream(dir / "chips.json") << chips.dump();

    // A whole run's length sets the range the kills fall in.
    const auto begun = std::chrono::steady_clock::now();
    const int first = Wait(Start(dir));
    ASSERT_TRUE(WIFEXITED(first) && WEXITSTATUS(first) == 0);
    const auto whole = std::chrono::steady_clock::now() - begun;
    std::mt19937 random(SEED);
    std::uniform_int_distribution<long long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count());
    int landed = 0;
    for (int i = 0; i < KILLS; ++i) {
        const pid_t pid = Start(dir);
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        kill(pid, SIGKILL);
        const int status = Wait(pid);
        landed += WIFSIGNALED(status);
    }
    const int last = Wait(Start(dir));
    ASSERT_TRUE(WIFEXITED(last) && WEXITSTATUS(last) == 0);

    // Every number a chip carries or the log names was used once, and lies below the
    // state's next number.
    std::string error;
    const auto next = ParseState(ReadWholeFile((dir / "p.toml.state").string(), error).value());
    ASSERT_TRUE(next);
    std::map<std::string, int> uses;
    std::map<std::string, std::string> loggedOn;
    std::ifstream log(dir / "log");
    int lines = 0, torn = 0;
    for (std::string line; std::getline(log, line); ++lines) {
        const Json entry = Json::parse(line, nullptr, false);
        torn += entry.is_discarded();  // a line a kill cut short stands alone
        if (!entry.is_discarded() && !entry["number"].is_null()) {
            ++uses[entry["serial"]];
            loggedOn[entry["serial"]] = entry["path"];
        }
    }
    std::uint64_t highest = 0;
    for (const auto& c : Json::parse(*ReadWholeFile((dir / "chips.json").string(), error))) {
        const std::string serial = c["serial"];
        // A chip's number is either its own log line's or one whose run died unlogged.
        if (loggedOn.count(serial) == 0) {
            ++uses[serial];
        } else {
            EXPECT_EQ(loggedOn[serial], c["path"]) << serial;
        }
    }
    for (const auto& [serial, count] : uses) {
        EXPECT_EQ(count, 1) << serial << " used " << count << " times";
        highest = std::max<std::uint64_t>(highest, std::stoull(serial.substr(3)));
    }
    EXPECT_GT(next->next, highest);
    std::printf(
        "crash test: %d runs, %d killed mid-run, %d log lines (%d cut short), "
        "%zu numbers used, next %llu, duplicates 0 expected\n",
        KILLS + 2, landed, lines, torn, uses.size(), static_cast<unsigned long long>(next->next));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kx::cli
