// The shared counter and record: the state file's text and the masking of passwords as
// tables; then, against the PostgreSQL server the fixture `pg` starts (pg-server), the
// tables, the leases, bad input, copies of one state file and an outage, with kx4701
// provision over the virtual bench in this process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "CliRig.h"
#include "cli/DurableFile.h"
#include "cli/RecordsCommand.h"
#include "cli/counter/Records.h"
#include "cli/counter/StateFile.h"

namespace kx::cli {
namespace {

namespace fs = std::filesystem;

TEST(CounterState, TextAndBackAndRefusals) {
    const CounterState states[] = {
        {0, {}, {}},
        {18446744073709551615u, {}, {}},
        {1250, NumberRange{1200, 1700}, {}},
        {1700, NumberRange{1200, 1700}, NumberRange{1700, 2200}},
        {5, {}, NumberRange{5, 6}},
    };
    for (const CounterState& s : states) {
        EXPECT_EQ(ParseState(StateText(s)), s) << StateText(s);
    }
    const std::string header =
        "# kx4701 provision state: the next serial number to take. Never lower it.\n";
    // The older form: the next number alone.
    EXPECT_EQ(ParseState(header + "next 102\n"), (CounterState{102, {}, {}}));
    for (const std::string& bad :
         {std::string(), std::string("next 5\n"), header + "next -5\n", header + "next 5",
          header + "lease 1 2\n", header + "next 5\nlease 2 2\n", header + "next 5\nlease 2\n",
          header + "next 5\npending 1 9\nlease 1 9\n", header + "next 5\nlease 1 9\nlease 1 9\n",
          header + "next 5\nnext 6\n", header + "next 5\n\n"}) {
        EXPECT_FALSE(ParseState(bad)) << bad;
    }
}

TEST(MaskSecrets, NoPasswordSurvives) {
    const struct {
        std::string text, connection, masked;
    } rows[] = {
        {"DSN=line1;PWD=abc;", "DSN=line1;PWD=abc;", "DSN=line1;PWD=***;"},
        {"Server=x;password={a;b}}c};Uid=u", "Server=x;password={a;b}}c};Uid=u",
         "Server=x;password=***;Uid=u"},
        {"login failed for kx with Hunter2 at Pwd=Hunter2 x", "Uid=kx;Pwd=Hunter2",
         "login failed for kx with *** at Pwd=*** x"},
        {"the driver said a;b}c", "password={a;b}}c}", "the driver said ***"},
        {"no secret here; DSN=line1", "DSN=line1", "no secret here; DSN=line1"},
        {"another: pwd=zzz;", "DSN=x", "another: pwd=***;"},
        {"Uid=kx;Pwd=", "Uid=kx;Pwd=", "Uid=kx;Pwd=***"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(odbc::MaskSecrets(row.text, row.connection), row.masked) << row.text;
    }
}

// The fixture's server: a database of its own per test.
std::string Connection(const std::string& database) {
    std::string error;
    const std::string base =
        ReadWholeFile(std::string(KX_PG_DIR) + "/connection", error).value_or("");
    EXPECT_FALSE(base.empty()) << "no server: " << error;
    odbc::Error e;
    auto admin = odbc::Connection::Open(base, 10, e);
    EXPECT_TRUE(admin) << e.message;
    if (admin) {
        (void)admin->run("DROP DATABASE IF EXISTS " + database, {}, e);
        EXPECT_TRUE(admin->run("CREATE DATABASE " + database, {}, e)) << e.message;
    }
    std::string c = base.substr(0, base.find('\n'));
    return c.replace(c.find("Database=kx;"), 12, "Database=" + database + ";");
}

void Server(const char* command) {
    const std::string line =
        std::string(KX_PG_SERVER) + " " + command + " " + KX_PG_DIR + " >/dev/null";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

std::string Password() {
    std::string error;
    std::string p = ReadWholeFile(std::string(KX_PG_DIR) + "/password", error).value_or("");
    return p.substr(0, p.find('\n'));
}

TEST(RecordStore, TablesMadeOnceAndAForeignOneRefusedUntouched) {
    const std::string c = Connection("kx_tables");
    std::string error;
    ASSERT_TRUE(RecordStore::Open(c, error)) << error;
    ASSERT_TRUE(RecordStore::Open(c, error)) << error;  // found, not made again

    const std::string foreign = Connection("kx_foreign");
    odbc::Error e;
    auto db = odbc::Connection::Open(foreign, 10, e);
    ASSERT_TRUE(db->run("CREATE TABLE kx4701_chip (serial VARCHAR(10), num INTEGER)", {}, e));
    EXPECT_FALSE(RecordStore::Open(foreign, error));
    EXPECT_NE(error.find("kx4701_chip on the server has the columns (serial, num)"),
              std::string::npos)
        << error;
    std::vector<odbc::Column> columns;
    ASSERT_TRUE(db->describe("SELECT * FROM kx4701_chip", columns, e));
    EXPECT_EQ(columns.size(), 2u);
    // And a schema row of another version.
    ASSERT_TRUE(db->run("DROP TABLE kx4701_chip", {}, e));
    ASSERT_TRUE(RecordStore::Open(foreign, error)) << error;
    ASSERT_TRUE(db->run("UPDATE kx4701_schema SET version = 2", {}, e));
    EXPECT_FALSE(RecordStore::Open(foreign, error));
    EXPECT_NE(error.find("schema version 2"), std::string::npos) << error;
}

TEST(RecordStore, LeasesNeverShareANumber) {
    const std::string c = Connection("kx_leases");
    std::string error;
    auto store = RecordStore::Open(c, error);
    ASSERT_TRUE(store) << error;
    NumberRange first;
    ASSERT_TRUE(store->takeLease(
        "S-{counter:04}", "a", 10, 5, 2, [](const NumberRange&) { return true; }, first, error));
    EXPECT_EQ(first, (NumberRange{10, 20}));
    // A counter moved since it was read is not moved again.
    bool moved = true;
    odbc::Error e;
    ASSERT_TRUE(store->advance("S-{counter:04}", 10, 30, moved, e)) << e.message;
    EXPECT_FALSE(moved);
    // A refused reservation takes nothing.
    NumberRange refused;
    EXPECT_FALSE(store->takeLease(
        "S-{counter:04}", "a", 0, 5, 1, [](const NumberRange&) { return false; }, refused, error));

    constexpr int THREADS = 4, LEASES = 20;
    std::vector<std::vector<NumberRange>> taken(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            std::string failure;
            auto own = RecordStore::Open(c, failure);
            for (int i = 0; own && i < LEASES; ++i) {
                NumberRange r;
                EXPECT_TRUE(own->takeLease(
                    "S-{counter:04}", "t" + std::to_string(t), 0, 3, 1,
                    [](const NumberRange&) { return true; }, r, failure))
                    << failure;
                taken[static_cast<std::size_t>(t)].push_back(r);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    std::set<std::uint64_t> numbers;
    for (const auto& list : taken) {
        for (const NumberRange& r : list) {
            for (std::uint64_t n = r.first; n < r.end; ++n) {
                EXPECT_TRUE(numbers.insert(n).second) << n << " leased twice";
            }
        }
    }
    EXPECT_EQ(numbers.size(), std::size_t{THREADS * LEASES * 3});
    EXPECT_EQ(*numbers.begin(), 20u);
}

constexpr const char* PROFILE = "[identity]\nserial = \"DB-{counter:05}\"\n";

struct Station : CliRig {
    Station(fs::path where, std::string name) : dir(std::move(where)), station(std::move(name)) {
        fs::create_directories(dir);
        std::ofstream(dir / "p.toml") << PROFILE;
    }
    Result provision(const std::string& database, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"provision", (dir / "p.toml").string(),
                                      "--rewrite", "--database",
                                      database,    "--station",
                                      station};
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    }
    void plug(int chips) {
        for (int i = 0; i < chips; ++i) {
            bench().plugChip();
        }
    }
    std::set<std::string> serials() {
        std::set<std::string> s;
        for (const auto& d : bench().devices()) {
            s.insert(d.identity.serial);
        }
        return s;
    }
    fs::path dir;
    std::string station;
};

struct Dir {
    fs::path path = fs::temp_directory_path() / ("kx4701-records-" + std::to_string(::getpid()));
    Dir() { fs::remove_all(path); }
    ~Dir() { fs::remove_all(path); }
};

CliRig::Result Reconcile(CliRig& rig, const std::string& database) {
    return rig.run({"records", "--database", database, "reconcile"});
}

TEST(DatabaseCounter, BadInputIsRefusedAndNoPasswordIsEverShown) {
    Dir d;
    const std::string good = Connection("kx_bad");
    std::string closed = good;
    closed.replace(closed.find("Port="), 5, "Port=1");
    const std::string foreign = Connection("kx_bad_foreign");
    odbc::Error e;
    ASSERT_TRUE(odbc::Connection::Open(foreign, 10, e)
                    ->run("CREATE TABLE kx4701_lease (space INTEGER)", {}, e));
    std::string wrong = good;
    wrong.replace(wrong.find("Pwd="), 4, "Pwd=Wr0ng{secret;");
    const struct {
        std::string database, says;
    } rows[] = {
        {closed, "cannot use the database: cannot connect to the database: 08001"},
        {foreign, "the table kx4701_lease on the server has the columns (space)"},
        {wrong, "password authentication failed"},
    };
    for (const auto& row : rows) {
        Station s(d.path / "bad", "s1");
        s.plug(2);
        const auto before = s.serials();
        const auto r = s.provision(row.database, {"--log", (s.dir / "log").string()});
        EXPECT_EQ(r.code, EXIT_FAILED);
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing was written"), std::string::npos) << r.err;
        EXPECT_EQ(s.serials(), before);
        EXPECT_FALSE(fs::exists(s.dir / "p.toml.state"));
        const auto records = s.run({"records", "--database", row.database, "find", "X"});
        for (const std::string& secret : {Password(), std::string("Wr0ng{secret")}) {
            for (const std::string& shown : {r.out, r.err, records.out, records.err}) {
                EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
            }
        }
        fs::remove_all(s.dir);
    }
}

TEST(DatabaseCounter, CopiesOfOneStateFileNeverShareANumber) {
    Dir d;
    const std::string c = Connection("kx_copies");
    Station a(d.path / "a", "a"), b(d.path / "b", "b");
    a.plug(3);
    b.plug(3);
    ASSERT_EQ(a.provision(c, {"--lease", "10"}).code, EXIT_DONE);
    fs::copy_file(a.dir / "p.toml.state", b.dir / "p.toml.state");
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(a.provision(c, {"--lease", "10"}).code, EXIT_DONE);
        const auto r = b.provision(c, {"--lease", "10"});
        ASSERT_EQ(r.code, EXIT_DONE) << r.err;
    }
    std::set<std::string> all = a.serials();
    for (const auto& s : b.serials()) {
        EXPECT_TRUE(all.insert(s).second) << s << " on both stations";
    }
    const auto r = Reconcile(a, c);
    EXPECT_EQ(r.code, EXIT_DONE) << r.out;
    EXPECT_NE(r.out.find("records: 21 chips"), std::string::npos) << r.out;
}

TEST(DatabaseCounter, AnOutageIsWorkedThroughWithinTheLeaseThenStopsAndRowsGoOnceLater) {
    Dir d;
    const std::string c = Connection("kx_outage");
    const std::string log = (d.path / "s" / "log").string();
    Station s(d.path / "s", "s");
    s.plug(3);
    ASSERT_EQ(s.provision(c, {"--lease", "5", "--log", log}).code, EXIT_DONE);  // 1..3
    // Rewritten 4, 5, 6 (a new lease, 6..10); the server stops; three new chips take 7..9
    // from the lease, two more: 10, then none.
    int waits = 0;
    s.devices_.wait = [&](std::chrono::milliseconds) {
        if (++waits == 1) {
            Server("stop");
        }
        s.plug(waits == 1 ? 3 : 2);
        return waits <= 2;
    };
    const auto during = s.provision(c, {"--lease", "5", "--log", log, "--watch"});
    Server("start");
    EXPECT_EQ(during.code, EXIT_FAILED);
    EXPECT_NE(during.err.find("the lease 6..10 is used up and the database cannot be reached"),
              std::string::npos)
        << during.err;
    EXPECT_NE(during.out.find("7 done"), std::string::npos) << during.out;
    s.devices_.wait = nullptr;
    const auto after = s.provision(c, {"--lease", "5", "--log", log});  // 11..18
    EXPECT_EQ(after.code, EXIT_DONE) << after.err;
    const auto r = s.run({"records", "--database", c, "reconcile", "--log", log});
    EXPECT_EQ(r.code, EXIT_DONE) << r.out;
    // Every chip recorded once, none burned, none left unsent.
    for (const std::string& line : {std::string("records: 18 chips, 4 leases"),
                                    std::string("numbers burned (taken, no chip recorded): 0"),
                                    "rows not yet sent from " + log + ": 0"}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }
    const auto found = s.run({"records", "--database", c, "find", "DB-00008"});
    EXPECT_NE(found.out.find("station: s"), std::string::npos) << found.out;
    const auto csv = s.run({"records", "--database", c, "export", "--csv"});
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 19) << csv.out;
}

}  // namespace
}  // namespace kx::cli
