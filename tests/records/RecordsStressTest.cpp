// Three stations as processes of their own (tests/cli/provision_host over bench chips whose
// memory outlives a kill), one profile, one server, at least 3,000 chips: stations killed
// with SIGKILL at moments drawn by a seeded generator, the server stopped (as a crash) and
// started again twice. Afterwards reconcile finds no serial and no number twice, every
// chip's number is its own, every row is on the server, and at most one number is burned
// per kill that landed.

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
#include <sstream>
#include <thread>

#include "cli/DurableFile.h"
#include "cli/RecordsCommand.h"
#include "cli/counter/Odbc.h"

extern char** environ;

namespace kx::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int STATIONS = 3;
constexpr int CHIPS = 50;     // per station, each run rewrites them all
constexpr int TARGET = 3000;  // chips done in all
constexpr int KILLS = 30;     // at most; spread over the run
constexpr unsigned SEED = 4701;
constexpr auto DEADLINE = std::chrono::minutes(4);

pid_t Start(const fs::path& dir, const fs::path& profile, int station) {
    const std::string s = "s" + std::to_string(station), chips = (dir / s / "chips.json").string(),
                      state = (dir / s / "state").string(), log = (dir / s / "log").string(),
                      p = profile.string();
    // One chip after another: a kill then burns at most the one number in hand.
    const char* argv[] = {
        KX_PROVISION_HOST, chips.c_str(), p.c_str(),   "--rewrite", "--jobs",  "1",    "--state",
        state.c_str(),     "--log",       log.c_str(), "--station", s.c_str(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    const std::string err = (dir / s / "stderr").string();
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    EXPECT_EQ(
        posix_spawn(&pid, KX_PROVISION_HOST, &files, nullptr, const_cast<char**>(argv), environ),
        0);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

void Server(const char* command) {
    const std::string line =
        std::string(KX_PG_SERVER) + " " + command + " " + KX_PG_DIR + " >/dev/null";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

// Each log line that took a number: the station's serial uses.
int Uses(const fs::path& log, std::map<std::string, int>& uses, int& done) {
    std::ifstream in(log);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        const auto entry = nlohmann::json::parse(line, nullptr, false);
        if (!entry.is_discarded() && !entry["number"].is_null()) {
            ++uses[entry["serial"]];
            done += entry["result"] == "done";
        }
    }
    return lines;
}

TEST(RecordsStress, ThreeStationsKilledAndAServerStoppedTwiceNeverShareANumber) {
    std::string error;
    std::string c = ReadWholeFile(std::string(KX_PG_DIR) + "/connection", error).value_or("");
    c = c.substr(0, c.find('\n'));
    ASSERT_FALSE(c.empty()) << error;
    {
        odbc::Error e;
        auto admin = odbc::Connection::Open(c, 10, e);
        ASSERT_TRUE(admin) << e.message;
        (void)admin->run("DROP DATABASE IF EXISTS kx_stress", {}, e);
        ASSERT_TRUE(admin->run("CREATE DATABASE kx_stress", {}, e)) << e.message;
    }
    c.replace(c.find("Database=kx;"), 12, "Database=kx_stress;");

    const fs::path dir = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
                         ("kx4701-stress-" + std::to_string(getpid()));
    fs::remove_all(dir);
    const fs::path profile = dir / "line.toml";
    fs::create_directories(dir);
    std::ofstream(profile) << "[identity]\nserial = \"ST-{counter:06}\"\n[counter]\ndatabase = \""
                           << c << "\"\nlease = 40\n";
    for (int s = 0; s < STATIONS; ++s) {
        nlohmann::json chips = nlohmann::json::array();
        for (int i = 0; i < CHIPS; ++i) {
            chips.push_back({{"path", "vbench://s" + std::to_string(s) + "/" + std::to_string(i)},
                             {"vid", 0x3C5B},
                             {"pid", 0xB207},
                             {"manufacturer", "KX-CHIPS"},
                             {"product", "HID To Serial"},
                             {"serial", "12345678"}});
        }
        fs::create_directories(dir / ("s" + std::to_string(s)));
        std::ofstream(dir / ("s" + std::to_string(s)) / "chips.json") << chips.dump();
    }

    std::mt19937 random(SEED);
    std::uniform_int_distribution<int> pause(20, 300), which(0, STATIONS - 1);
    pid_t running[STATIONS];
    for (int s = 0; s < STATIONS; ++s) {
        running[s] = Start(dir, profile, s);
    }
    const auto begun = Clock::now();
    auto nextKill = begun + std::chrono::milliseconds(pause(random) * 5);
    int kills = 0, landed = 0, stops = 0, runs = STATIONS, ended = 0, failedRuns = 0;
    bool serverDown = false;
    int endedWhenStopped = 0;
    for (;;) {
        ASSERT_LT(Clock::now() - begun, DEADLINE) << "the stations did not reach " << TARGET;
        int done = 0;
        std::map<std::string, int> uses;
        for (int s = 0; s < STATIONS; ++s) {
            Uses(dir / ("s" + std::to_string(s)) / "log", uses, done);
        }
        // The server goes down at a third and two thirds of the way, until a station has
        // stopped for want of it (its lease used up), or a kill ended one.
        if (!serverDown && stops < 2 && done >= TARGET * (stops + 1) / 3) {
            Server("stop");
            serverDown = true;
            endedWhenStopped = ended;
            ++stops;
        }
        if (serverDown && ended >= endedWhenStopped + 2) {
            Server("start");
            serverDown = false;
        }
        const bool enough = done >= TARGET && !serverDown;
        if (!enough && kills < KILLS && Clock::now() >= nextKill) {
            const int s = which(random);
            kill(running[s], SIGKILL);
            ++kills;
            nextKill = Clock::now() + std::chrono::milliseconds(pause(random) * 5);
        }
        bool anyRunning = false;
        for (int s = 0; s < STATIONS; ++s) {
            if (running[s] < 0) {
                continue;
            }
            int status = 0;
            if (waitpid(running[s], &status, WNOHANG) == running[s]) {
                ++ended;
                landed += WIFSIGNALED(status);
                failedRuns += WIFEXITED(status) && WEXITSTATUS(status) != 0;
                running[s] = enough ? -1 : Start(dir, profile, s);
                runs += !enough;
            }
            anyRunning = anyRunning || running[s] >= 0;
        }
        if (enough && !anyRunning) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Each station once more with the server up: what it still held back is sent.
    for (int s = 0; s < STATIONS; ++s) {
        int status = 0;
        ASSERT_EQ(waitpid(Start(dir, profile, s), &status, 0) > 0 && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0,
                  true)
            << "station " << s << " did not finish cleanly";
    }

    // Every number a chip carries or a log names was used once, across the stations.
    std::map<std::string, int> uses;
    int done = 0, lines = 0;
    std::vector<std::string> logs;
    for (int s = 0; s < STATIONS; ++s) {
        const fs::path station = dir / ("s" + std::to_string(s));
        lines += Uses(station / "log", uses, done);
        logs.push_back((station / "log").string());
        std::map<std::string, int> own;
        int ignored = 0;
        Uses(station / "log", own, ignored);
        for (const auto& chip :
             nlohmann::json::parse(*ReadWholeFile((station / "chips.json").string(), error))) {
            if (own.count(chip["serial"]) == 0) {
                ++uses[chip["serial"]];  // written by a run killed before its log line
            }
        }
    }
    for (const auto& [serial, count] : uses) {
        EXPECT_EQ(count, 1) << serial << " used " << count << " times";
    }
    EXPECT_GE(done, TARGET);

    std::ostringstream out, err;
    Output o{out, err, false};
    RecordsOptions options{"reconcile", "", c, "", logs, false};
    EXPECT_EQ(RecordsCommand(options, o), EXIT_DONE) << out.str() << err.str();
    std::ostringstream jsonOut;
    Output j{jsonOut, err, true};
    ASSERT_EQ(RecordsCommand(options, j), EXIT_DONE) << err.str();
    const auto report = nlohmann::json::parse(jsonOut.str());
    EXPECT_TRUE(report["duplicates"].empty());
    EXPECT_LE(report["burned"].get<int>(), landed) << out.str();
    for (const auto& [log, unsent] : report["unsent"].items()) {
        EXPECT_EQ(unsent, 0) << log;
    }
    std::printf(
        "stress: %d station runs (%d killed of %d kills, %d stopped with an error), "
        "server stopped %d times, %d log lines, %d chips done, %zu numbers used, "
        "%.1f s\n%s",
        runs + STATIONS, landed, kills, failedRuns, stops, lines, done, uses.size(),
        std::chrono::duration<double>(Clock::now() - begun).count(), out.str().c_str());
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kx::cli
