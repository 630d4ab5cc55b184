// kx_records_perf CONNECTION [CHIPS] [DIR]: one station's chips per minute over the virtual
// bench with the state file's counter, the database's with lease 1 and with the default
// lease, side by side in one run (state and log in DIR, default the current folder, so the
// disk's flushes count as on a station); then `records find` on 1,000,000 rows against its
// floor, a bare indexed SELECT of the serial through the same ODBC connection. The server's
// database must be empty (scripts/perf makes a server of its own). Prints KX-PERF lines.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "cli/Cli.h"
#include "cli/Profile.h"
#include "cli/counter/Records.h"
#include "emulation/BenchDevices.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
constexpr int ROWS = 1000000;
constexpr int LOOKUPS = 2000;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Chips per minute of one provisioning run over `chips` fresh bench chips.
double ChipsPerMinute(const fs::path& dir, const std::string& name, int chips,
                      std::vector<std::string> extra) {
    const fs::path profile = dir / (name + ".toml");
    std::ofstream(profile) << "[identity]\nserial = \"" << name << "-{counter:07}\"\n";
    kx::emu::BenchDevices bench;
    for (int i = 0; i < chips; ++i) {
        bench.bench().plugChip();
    }
    kx::cli::Devices devices{bench.library(), bench.probe(), &bench.kxLibrary(), nullptr};
    std::vector<std::string> args{
        "kx4701",    "provision", profile.string(), "--log", (dir / (name + ".log")).string(),
        "--station", "perf"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    const auto start = Clock::now();
    const int code = kx::cli::RunCli(args, devices, out, err);
    const double perMinute = chips / Seconds(start) * 60;
    if (code != 0) {
        std::fprintf(stderr, "kx_records_perf: %s: %s\n", name.c_str(), err.str().c_str());
        std::exit(1);
    }
    return perMinute;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kx_records_perf CONNECTION [CHIPS] [DIR]\n");
        return 2;
    }
    const std::string c = argv[1];
    const int chips = argc > 2 ? std::atoi(argv[2]) : 500;
    const fs::path dir =
        fs::path(argc > 3 ? argv[3] : ".") / ("kx4701-records-perf-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const double file = ChipsPerMinute(dir, "FILE", chips, {});
    const double one = ChipsPerMinute(dir, "ONE", chips, {"--database", c, "--lease", "1"});
    const double lease = ChipsPerMinute(dir, "LEASE", chips, {"--database", c});
    std::printf(
        "KX-PERF records_provision chips=%d file_per_min=%.0f db_lease1_per_min=%.0f "
        "db_lease%llu_per_min=%.0f\n",
        chips, file, one, static_cast<unsigned long long>(kx::cli::Profile::DEFAULT_LEASE), lease);

    // A million rows, made by the server itself (PostgreSQL's generate_series: the perf
    // server is PostgreSQL; the product never uses it).
    std::string error;
    auto store = kx::cli::RecordStore::Open(c, error);
    if (!store) {
        std::fprintf(stderr, "kx_records_perf: %s\n", error.c_str());
        return 1;
    }
    kx::cli::odbc::Error e;
    auto& db = store->connection();
    const auto filled = Clock::now();
    if (!db.run("INSERT INTO kx4701_chip (serial, space, num, profile, station, recorded_at, "
                "result, identity_before, serial_before, identity_after, serial_after, "
                "read_back) SELECT 'M-' || LPAD(n::text, 7, '0'), 'M-{counter:07}', n, "
                "'perf.toml', 'perf', '2026-12-08T00:00:00Z', 'done', '{}', '{}', '{}', '{}', "
                "'{}' FROM generate_series(1, ?) AS n",
                {std::int64_t{ROWS}}, e) ||
        !db.run("ANALYZE kx4701_chip", {}, e)) {
        std::fprintf(stderr, "kx_records_perf: %s\n", e.message.c_str());
        return 1;
    }
    const double fill = Seconds(filled);
    std::mt19937 random(4701);
    std::uniform_int_distribution<int> pick(1, ROWS);
    const auto serial = [&] {
        char s[16];
        std::snprintf(s, sizeof s, "M-%07d", pick(random));
        return std::string(s);
    };
    // Alternating, so that the server's caches warm both alike.
    double findSeconds = 0, floorSeconds = 0;
    int found = 0;
    for (int i = 0; i < LOOKUPS; ++i) {
        auto start = Clock::now();
        std::optional<kx::cli::ChipRow> row;
        found += store->find(serial(), row, e) && row;
        findSeconds += Seconds(start);
        start = Clock::now();
        std::vector<kx::cli::odbc::Row> rows;
        found += db.run("SELECT serial FROM kx4701_chip WHERE serial = ?", {serial()}, e, &rows) &&
                 rows.size() == 1;
        floorSeconds += Seconds(start);
    }
    // The whole command: connect, check the tables, find.
    std::ostringstream out, err;
    const auto command = Clock::now();
    kx::emu::BenchDevices none;
    kx::cli::Devices devices{none.library(), none.probe(), &none.kxLibrary(), nullptr};
    const int code = kx::cli::RunCli({"kx4701", "records", "--database", c, "find", "M-0500000"},
                                     devices, out, err);
    const double commandMs = Seconds(command) * 1000;
    fs::remove_all(dir);
    std::printf(
        "KX-PERF records_find rows=%d fill_s=%.1f lookups=%d find_ms=%.3f "
        "floor_ms=%.3f ratio=%.2f command_ms=%.1f command_exit=%d found=%d\n",
        ROWS, fill, LOOKUPS, findSeconds * 1000 / LOOKUPS, floorSeconds * 1000 / LOOKUPS,
        findSeconds / floorSeconds, commandMs, code, found);
    return code == 0 && found == 2 * LOOKUPS ? 0 : 1;
}
