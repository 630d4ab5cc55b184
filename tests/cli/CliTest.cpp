// kx4701's command lines run in-process over the virtual bench: exit code, what it printed
// and what each device received (feature reports counted; a dry run and every refused input
// write nothing).

#include <gtest/gtest.h>
#include <unistd.h>

#include "CliRig.h"
#include "CliRuns.h"
#include "cli/Commands.h"
#include "config/TextCodec.h"

namespace kx::cli {
namespace {

using emu::ChipIdentity;
using Json = nlohmann::json;

constexpr SerialDefaults FACTORY = emu::FACTORY_SERIAL_DEFAULTS;

// Chip 1 and chip 4 are factory-new, chip 2 carries an identity of its own, 3 is a keyboard.
struct Rig : CliRig {
    Rig() {
        bench().plugChip();
        bench().plugChip({0x1A2B, 0x0001, 0x0200, "ACME", "Board", "B-2", 40});
        bench().plugPlainHid();
        bench().plugChip();
    }
};

class Cli : public ::testing::Test, protected Rig {};

TEST_F(Cli, CommandLinesTable) {
    const ChipIdentity factory;
    const ChipIdentity second{0x1A2B, 0x0001, 0x0200, "ACME", "Board", "B-2", 40};
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;                          // a line printed, or an error's text on stderr
        std::vector<std::uint64_t> reports = {};  // feature reports each device received (SET)
        int chip = 0;                             // the chip to look at afterwards, 0 for none
        ChipIdentity identity = {};
        SerialDefaults serial = {};
    } rows[] = {
        // Reading: a list sends nothing; IDENTIFY and the reads to the chip shown alone.
        {{"list"}, 0, "vbench://kx4701/2  1A2B:0001  ver 0200  KX4701  \"ACME\""},
        {{"show", "VBENCH://KX4701/2"},
         0,
         "serial    9600 8N1 (codes 06 04 01 04 40)",
         {0, 3, 0, 0}},
        {{"show", "--device-serial", "B-2"},
         0,
         "stored    VID 1A2B PID 0001 max power 80 mA",
         {0, 3, 0, 0}},
        {{"show", "--index", "2"}, 0, "device    vbench://kx4701/4", {0, 0, 0, 3}},
        // Writes: the minimum of reports, the stored values checked afterwards.
        {{"set-serial", "vbench://kx4701/1", "--baud", "115200", "--parity", "even", "--data-bits",
          "7", "--stop-bits", "2"},
         0,
         "serial defaults 115200 7E2 (codes 0D 02 02 03 30) written and read back",
         {3, 0, 0, 0},
         1,
         factory,
         {13, 2, 2, 3, 0x30}},
        {{"set-serial", "--device-serial", "B-2", "--baud", "4800"},
         0,
         "4800 8N1 (codes 05 04 01 04 30) written",
         {0, 4, 0, 0},
         2,
         second,
         {5, 4, 1, 4, 0x30}},
        {{"set-serial", "--all", "--stop-bits", "2"},
         0,
         "9600 8N2",
         {4, 4, 0, 4},
         4,
         factory,
         {6, 4, 2, 4, 0x40}},
        {{"set-serial", "--index", "0", "--parity", "odd", "--dry-run"},
         0,
         "would call KX4701SetDefaultRate(6, 1, 1, 4, 0x40) for 9600 8O1; nothing was sent",
         {2, 0, 0, 0},
         1,
         factory,
         FACTORY},
        {{"set-identity", "vbench://kx4701/1", "--vid", "0xabcd", "--pid", "1234", "--manufacturer",
          "厂商", "--product", "P", "--serial", "S1"},
         0,
         "identity VID ABCD PID 1234 \"厂商\" / \"P\" / \"S1\" written and read back",
         {5, 0, 0, 0},
         1,
         {0xABCD, 0x1234, 0x0100, "\xB3\xA7\xC9\xCC", "P", "S1", 50},
         FACTORY},
        {{"set-identity", "vbench://kx4701/2", "--serial", "B-3"},
         0,
         "\"ACME\" / \"Board\" / \"B-3\"",
         {0, 6, 0, 0},
         2,
         {0x1A2B, 0x0001, 0x0200, "ACME", "Board", "B-3", 50},
         FACTORY},
        {{"set-identity", "--device-serial", "B-2", "--product", "X",
          "--factory-defaults-for-rest"},
         0,
         "VID 3C5B PID B207 \"KX-CHIPS\" / \"X\" / \"12345678\"",
         {0, 5, 0, 0},
         2,
         {0x3C5B, 0xB207, 0x0200, "KX-CHIPS", "X", "12345678", 50},
         FACTORY},
        {{"set-identity", "vbench://kx4701/2", "--pid", "FFFF", "--dry-run"},
         0,
         "would call KX4701SetDeviceCfg(VID 1A2B, PID FFFF, bMaxPower 50, \"ACME\" [41 43 4D 45] "
         "4, "
         "\"Board\" [42 6F 61 72 64] 5, \"B-2\" [42 2D 32] 3); nothing was sent",
         {0, 2, 0, 0},
         2,
         second,
         FACTORY},
        {{"reset", "vbench://kx4701/2", "--dry-run"},
         0,
         "vbench://kx4701/2: would call KX4701ResetToDefault; nothing was sent",
         {0, 1, 0, 0},
         2,
         second,
         FACTORY},
        // Options on either side of the command, a value that names a command.
        {{"--json", "--device-serial", "B-2", "show"}, 0, "\"max_power_ma\": 80", {0, 3, 0, 0}},
        {{"--product", "list", "set-identity", "vbench://kx4701/2"},
         0,
         "\"ACME\" / \"list\" / \"B-2\"",
         {0, 6, 0, 0},
         2,
         {0x1A2B, 0x0001, 0x0200, "ACME", "list", "B-2", 50},
         FACTORY},
        {{"reset", "vbench://kx4701/2"},
         0,
         "factory settings VID 3C5B PID B207",
         {0, 4, 0, 0},
         2,
         factory,
         FACTORY},
        // Refused before any device is looked up: nothing reaches any device.
        {{"set-serial", "vbench://kx4701/1"}, 2, "nothing to set"},
        {{"set-serial", "--baud", "9600"},
         2,
         "name a device: its path, --device-serial S or --index N (or --all)"},
        {{"set-serial", "--index", "x", "--baud", "9600"}, 2, "--index must be a position"},
        {{"reset", "a", "--device-serial", "b"}, 2, "excludes"},
        // --serial is only the text set-identity writes, and never one text for several chips.
        {{"reset", "a", "--serial", "b"}, 2, "name a chip by its serial with --device-serial S"},
        {{"show", "--serial", "B-2"}, 2, "with --device-serial S"},
        {{"set-serial", "--serial", "B-2", "--baud", "4800"}, 2, "with --device-serial S"},
        {{"set-identity", "--all", "--serial", "X"}, 2, "one serial text to several chips"},
        {{"set-identity", "--device-serial", "12345678", "--all", "--serial", "X", "--dry-run"},
         2,
         "one serial text to several chips"},
        {{"frobnicate"}, 2, "kx4701 --help"},
        // No device, several, or not a chip: refused before anything is written.
        {{"show", "vbench://kx4701/9"}, 4, "no KX4701 chip at vbench://kx4701/9"},
        {{"set-serial", "--device-serial", "12345678", "--baud", "9600"},
         4,
         "2 devices with serial '12345678': vbench://kx4701/1, vbench://kx4701/4; name one by "
         "path"},
        {{"set-serial", "--index", "3", "--baud", "9600"}, 4, "no KX4701 chip at index 3"},
        {{"set-serial", "vbench://hid/3", "--baud", "9600"},
         1,
         "vbench://hid/3 is not a KX4701 chip (it did not identify as one); nothing was written"},
        {{"show", "vbench://hid/3"}, 1, "is not a KX4701 chip: it stores no settings"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front() + " " + (row.args.size() > 1 ? row.args[1] : ""));
        Rig fresh;
        const std::vector<std::uint64_t> before = fresh.reports();
        const Result r = fresh.run(row.args);
        EXPECT_EQ(r.code, row.code) << r.err;
        EXPECT_NE((row.code == 0 ? r.out : r.err).find(row.out), std::string::npos)
            << r.out << r.err;
        std::vector<std::uint64_t> sent = fresh.reports();
        for (std::size_t i = 0; i < sent.size(); ++i) {
            sent[i] -= before[i];
        }
        const std::vector<std::uint64_t> none(4, 0);
        EXPECT_EQ(sent, row.reports.empty() ? none : row.reports);
        if (row.chip != 0) {
            EXPECT_EQ(fresh.identity(row.chip), row.identity);
            EXPECT_EQ(fresh.serial(row.chip), row.serial);
        }
    }
}

// Each value's rule: taken (a dry run), or refused before any device is looked up, the
// option named with what is wrong ("" below: taken).
TEST(CliValues, EachValueIsTakenOrRefusedByItsRule) {
    const struct {
        const char* option;
        std::string value, refusal;
    } rows[] = {// clang-format off
        {"--vid", "3c5B", ""}, {"--vid", "0x3C5B", ""}, {"--pid", "0XB207", ""},
        {"--vid", "3C5", "must be four hexadecimal digits, like 3C5B, not '3C5'"},
        {"--vid", "3C5B0", "not '3C5B0'"}, {"--vid", "0x3C5", "not '0x3C5'"},
        {"--pid", "B20g", "not 'B20g'"}, {"--pid", "x3C5B", "not 'x3C5B'"},
        {"--pid", "", "not ''"}, {"--pid", "+3C5", "not '+3C5'"},
        {"--serial", std::string(30, 'S'), ""}, {"--serial", std::string(31, 'S'), "is 31 bytes"},
        {"--product", "产品名称产品名称产品名称产品名", ""},
        {"--product", "产品名称产品名称产品名称产品名X", "is 31 bytes in CP936"},
        {"--manufacturer", "\xE2\x82\xAC\xF0\x9F\x98\x80", "CP936 cannot hold (U+1F600)"},
        {"--manufacturer", "\xC3", "is not valid UTF-8"}, {"--manufacturer", "", "must not be empty"},
        {"--baud", "300", ""}, {"--baud", "115200", ""}, {"--baud", "9601", "must be 300, 600, 1200"},
        {"--baud", "", "not ''"}, {"--data-bits", "5", ""}, {"--data-bits", "9", "not '9'"},
        {"--stop-bits", "2", ""}, {"--stop-bits", "1.5", "not '1.5'"},
        {"--parity", "space", ""}, {"--parity", "Even", "odd, even, space or none"}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.option) + " '" + row.value + "'");
        Rig rig;
        const std::string option = row.option;
        const bool serial = option == "--baud" || option.ends_with("-bits") || option == "--parity";
        const auto r = rig.run({serial ? "set-serial" : "set-identity", "vbench://kx4701/1", option,
                                row.value, "--dry-run"});
        EXPECT_EQ(r.code, row.refusal.empty() ? EXIT_DONE : EXIT_USAGE) << r.err;
        if (!row.refusal.empty()) {
            EXPECT_TRUE(r.err.starts_with("kx4701: " + option + " ")) << r.err;
            EXPECT_TRUE(r.err.find(row.refusal) != std::string::npos &&
                        r.err.ends_with("; nothing was written\n"))
                << r.err;
            EXPECT_EQ(rig.reports(), std::vector<std::uint64_t>(4, 0));  // nothing looked up
        }
    }
}

// The documented document: every command's head, and the fields scripts rely on.
TEST_F(Cli, JsonDocuments) {
    Json j = run({"list", "--all-hid", "--json"}).json();
    ASSERT_EQ(j["devices"].size(), 4u);
    EXPECT_EQ(j["devices"][1], Json::parse(R"({"index":1,"path":"vbench://kx4701/2","opened":true,
        "vid":"1A2B","pid":"0001","version":"0200","manufacturer":"ACME","product":"Board",
        "serial":"B-2","kx4701":true,"firmware":null})"));
    EXPECT_EQ(j["devices"][2]["kx4701"], false);
    EXPECT_TRUE(j["devices"][2]["index"].is_null());
    // One the library cannot open but the system can is listed unopened; one another
    // program holds is left out.
    bench().faults(1).openFails = true;
    bench().setHeld(3, true);
    j = run({"list", "--all-hid", "--json"}).json();
    ASSERT_EQ(j["devices"].size(), 3u);
    EXPECT_EQ(j["devices"][0]["opened"], false);
    EXPECT_EQ(j["devices"][2]["path"], "vbench://kx4701/4");
    bench().faults(1).openFails = false;
    bench().setHeld(3, false);

    j = run({"show", "vbench://kx4701/2", "--json"}).json();
    EXPECT_EQ(j["stored"]["serial"], Json::parse(R"({"text":"9600 8N1","baud":"9600",
        "data_bits":"8","parity":"none","stop_bits":"1","codes":[6,4,1,4,64]})"));
    EXPECT_EQ(j["stored"]["identity"]["max_power_ma"], 80);
    EXPECT_EQ(j["stored"]["identity"]["manufacturer"],
              Json::parse(R"({"text":"ACME","cp936":"41 43 4D 45"})"));

    j = run({"set-serial", "--all", "--baud", "300", "--json"}).json();
    ASSERT_EQ(j["results"].size(), 3u);
    EXPECT_EQ(j["results"][0]["before"]["text"], "9600 8N1");
    EXPECT_EQ(j["results"][0]["after"]["text"], "300 8N1");
    EXPECT_EQ(j["results"][2]["result"], "done");

    // A refused write and a cut read-back: failed and mismatch, each said once on stderr.
    bench().faults(1).refuseCommands = true;
    bench().faults(4).vanishAfterReports = 4;  // IDENTIFY and the write, then gone
    const Result r = run({"set-serial", "--all", "--baud", "1200", "--parity", "none",
                          "--data-bits", "8", "--stop-bits", "1", "--json"});
    j = r.json();
    EXPECT_EQ(r.code, EXIT_FAILED);
    EXPECT_EQ(j["results"][0]["result"], "failed");
    EXPECT_EQ(j["results"][1]["result"], "done");
    EXPECT_EQ(j["results"][2]["result"], "mismatch");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("vbench://kx4701/4: written, but reading the stored serial defaults "
                         "failed: the device did not respond (unplugged?)"),
              std::string::npos)
        << r.err;

    // A chip that acknowledges a write and keeps what it had: never a success.
    bench().faults(2).forgetWrites = true;
    const Result forgot = run({"set-identity", "vbench://kx4701/2", "--serial", "B-9"});
    EXPECT_EQ(forgot.code, EXIT_MISMATCH);
    EXPECT_NE(forgot.err.find("written VID 1A2B PID 0001 \"ACME\" / \"Board\" / \"B-9\", but the "
                              "chip holds VID 1A2B PID 0001 \"ACME\" / \"Board\" / \"B-2\""),
              std::string::npos)
        << forgot.err;
}

// The maker's fourteen functions: writes checked as far as they read (what the chip reports),
// the rest told as not verified, a failure only with --require-verified.
TEST_F(Cli, WithTheFourteenFunctionsWritesAreCheckedAsFarAsTheyRead) {
    devices_.extension = nullptr;
    const ChipIdentity second{0x1A2B, 0x0001, 0x0200, "ACME", "Board", "B-3", 50};
    const std::vector<std::string> full = {
        "--baud", "115200", "--parity", "none", "--data-bits", "8", "--stop-bits", "1", "--json"};
    const auto with = [&](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        std::vector<std::string> args;
        int code;
        std::string said;  // in the JSON result, or on stderr
        int chip = 0;
        ChipIdentity identity = {};
        SerialDefaults serial = FACTORY;
    } rows[] = {
        {{"set-serial", "vbench://kx4701/1", "--baud", "9600"}, 5, "none can be kept"},
        {with({"set-serial", "vbench://kx4701/1"}, full),
         0,
         R"("result":"unverified","unverified":["serial_defaults"])",
         1,
         {},
         {13, 4, 1, 4, 0x30}},
        {with({"set-serial", "vbench://kx4701/1", "--require-verified"}, full),
         3,
         "written, but the serial defaults cannot be read back",
         1,
         {},
         {13, 4, 1, 4, 0x30}},
        {{"set-identity", "vbench://kx4701/2", "--serial", "B-3", "--json"},
         0,
         R"("kept":{"fields":["vid","pid","manufacturer","product"],"from":"reports"})",
         2,
         second},
        {{"set-identity", "vbench://kx4701/2", "--serial", "B-3", "--json"},
         0,
         R"("max_power":null,"max_power_ma":null)",
         2,
         second},
        {{"reset", "vbench://kx4701/2", "--require-verified"},
         3,
         "bMaxPower and the serial defaults cannot be read back",
         2,
         {}},
        {{"set-identity", "vbench://hid/3", "--vid", "0001", "--pid", "0002", "--manufacturer", "M",
          "--product", "P", "--serial", "K"},
         1,
         "writing the identity failed: not supported"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front() + " " + row.args[1]);
        Rig fresh;
        fresh.devices_.extension = nullptr;
        const Result r = fresh.run(row.args);
        EXPECT_EQ(r.code, row.code) << r.out << r.err;
        const std::string said = row.args.back() == "--json" && row.code == 0
                                     ? Json::parse(r.out)["results"][0].dump()
                                     : r.err;
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        if (row.chip != 0) {
            ChipIdentity expected = row.identity;
            expected.version = fresh.identity(row.chip).version;
            EXPECT_EQ(fresh.identity(row.chip), expected);
            EXPECT_EQ(fresh.serial(row.chip), row.serial);
        }
    }
    const Result r = run({"show", "vbench://kx4701/1", "--json"});
    EXPECT_EQ(r.code, EXIT_UNSUPPORTED);
    EXPECT_TRUE(r.json()["stored"].is_null());
    EXPECT_TRUE(r.json()["device"]["kx4701"].is_null());
}

// The table of runs over the bench, its chip enumerating again after an identity write or a
// reset as on the USB bus: its first read-back fails at the old path.
TEST(CliRuns, EveryCommandTellsItsOutcomeOnceOverTheBench) {
    CliRig rig;
    const int chip = rig.bench().plugChip(), keyboard = rig.bench().plugPlainHid();
    rig.bench().faults(chip).reenumerates = true;
    rig.devices_.reappearWait = std::chrono::seconds(10);  // back before the first look
    rig.devices_.reappearPoll = std::chrono::milliseconds(1);
    const runs::Transport bench{
        [&] { return rig.bench().device(chip)->path; },
        [&] { return rig.bench().device(keyboard)->path; }, "vbench://none",
        [&](runs::Fault fault) {
            rig.bench().faults(chip).refuseCommands = fault == runs::Fault::Refuse;
            rig.bench().faults(chip).forgetWrites = fault == runs::Fault::Forget;
        },
        [&](const std::vector<std::string>& args) {
            const CliRig::Result r = rig.run(args);
            return runs::Outcome{r.code, r.out, r.err};
        }};
    const auto folder =
        std::filesystem::temp_directory_path() / ("kx4701-runs-" + std::to_string(::getpid()));
    runs::RunTheTable(bench, folder);
    EXPECT_NE(bench.chip(), "vbench://kx4701/1") << "the writes made the chip enumerate again";
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace kx::cli
