#pragma once
// kx4701's runs, one table for every transport (the bench here, uhid and the USB bus in the
// VM), and the one checker of what the manual promises of any run: an outcome told once, an
// error only when the run failed, and a JSON document that says the same as the exit status.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace kx::cli::runs {

// What the chip does with writes during a run.
enum class Fault { None, Refuse, Forget };

struct Run {
    // {chip}, {keyboard}, {missing}: the transport's paths now; {profile}, {bad-profile}.
    std::vector<std::string> args;
    Fault fault;
    int code;
};

// Over one chip (which may enumerate again after an identity write or a reset) and one
// keyboard; every run also goes with --json.
inline const std::vector<Run> RUNS = {
    {{"list"}, Fault::None, 0},
    {{"list", "--all-hid"}, Fault::None, 0},
    {{"show", "{chip}"}, Fault::None, 0},
    {{"show", "{missing}"}, Fault::None, 4},
    {{"show", "{keyboard}"}, Fault::None, 1},
    {{"set-serial", "{chip}", "--baud", "115200"}, Fault::None, 0},
    {{"set-serial", "--index", "0", "--stop-bits", "2", "--dry-run"}, Fault::None, 0},
    {{"set-serial", "{chip}", "--baud", "4800"}, Fault::Refuse, 1},
    {{"set-serial", "{chip}", "--baud", "4800"}, Fault::Forget, 3},
    {{"set-serial", "{keyboard}", "--baud", "9600"}, Fault::None, 1},
    {{"set-serial", "{chip}", "--baud", "9601"}, Fault::None, 2},
    {{"set-identity", "{chip}", "--manufacturer", "厂商", "--product", "第二次"}, Fault::None, 0},
    {{"set-identity", "--all", "--pid", "0002"}, Fault::None, 0},
    {{"set-identity", "{chip}", "--serial", "S-2"}, Fault::Refuse, 1},
    {{"set-identity", "{missing}", "--vid", "1234"}, Fault::None, 4},
    {{"set-identity", "--all", "--serial", "S-3"}, Fault::None, 2},
    {{"reset", "--serial", "12345678"}, Fault::None, 2},
    {{"reset", "{chip}"}, Fault::None, 0},
    {{"reset", "--index", "0", "--dry-run"}, Fault::None, 0},
    {{"reset", "{chip}"}, Fault::Refuse, 1},
    {{"provision", "{profile}"}, Fault::None, 0},
    {{"provision", "{profile}", "--rewrite", "--dry-run"}, Fault::None, 0},
    {{"provision", "{profile}", "--rewrite"}, Fault::Refuse, 1},
    {{"provision", "{bad-profile}"}, Fault::None, 2},
};

// How a run ended and what it printed.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// The manual's rules for any run of `command` (with --json when `json`).
inline ::testing::AssertionResult MeetsTheRules(const std::string& command, bool json,
                                                const Outcome& r) {
    std::vector<std::string> broken, errors;
    const auto rule = [&](bool holds, const std::string& what) {
        if (!holds) {
            broken.push_back(what);
        }
    };
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("kx4701: note: ", 0) != 0) {
            rule(std::find(errors.begin(), errors.end(), line) == errors.end(), "twice: " + line);
            errors.push_back(line);
        }
    }
    rule(r.status != 0 || errors.empty(), "exit 0 with an error on standard error");
    rule(r.status == 0 || !errors.empty(), "failed without an error on standard error");
    if (json) {
        const nlohmann::json parsed = nlohmann::json::parse(r.out, nullptr, false);
        rule(parsed.is_object(), "not one JSON document");
        const nlohmann::json doc = parsed.is_object() ? parsed : nlohmann::json::object();
        const bool ok = r.status == 0;
        const std::string error = "kx4701: " + doc.value("error", "");
        rule(doc.value("schema", 0) == 1 && doc.value("command", "") == command, "no head");
        rule(doc.value("ok", !ok) == ok && doc.value("exit_code", -1) == r.status,
             "ok or exit_code disagree with the exit status");
        rule(doc.contains("error") != ok, ok ? "an error beside ok" : "no error beside a failure");
        rule(!doc.contains("error") ||
                 std::find(errors.begin(), errors.end(), error) != errors.end(),
             "the document's error is not the one told");
        for (const std::string list : {"results", "chips"}) {
            for (const auto& entry : doc.value(list, nlohmann::json::array())) {
                const std::string result = entry.value("result", "");
                rule(entry.contains("error") == (result == "failed" || result == "mismatch"),
                     list + ": an error beside \"" + result + "\"");
            }
        }
    }
    if (broken.empty()) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure();
    for (const std::string& b : broken) {
        failure << b << "\n";
    }
    return failure << "exit " << r.status << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
}

// One transport's chip and keyboard, and a run of kx4701 over them.
struct Transport {
    std::function<std::string()> chip, keyboard;  // where each is now
    std::string missing;                          // a path no device has
    std::function<void(Fault)> setFault;
    std::function<Outcome(const std::vector<std::string>&)> run;
};

// Every run of the table, with and without --json, each checked against the rules.
inline void RunTheTable(const Transport& t, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "p.toml") << "[serial]\nbaud = 57600\n[identity]\nproduct = "
                                        "\"转换器\"\nserial = \"P-{counter:04}\"\n";
    std::ofstream(folder / "bad.toml") << "[identity]\nserial = \"ABC\"\n";
    for (const Run& run : RUNS) {
        for (const bool json : {false, true}) {
            std::vector<std::string> args;
            std::string line = "kx4701";
            for (const std::string& a : run.args) {
                args.push_back(a == "{chip}"          ? t.chip()
                               : a == "{keyboard}"    ? t.keyboard()
                               : a == "{missing}"     ? t.missing
                               : a == "{profile}"     ? (folder / "p.toml").string()
                               : a == "{bad-profile}" ? (folder / "bad.toml").string()
                                                      : a);
                line += " " + args.back();
            }
            if (json) {
                args.emplace_back("--json");
            }
            SCOPED_TRACE(line + (json ? " --json" : "") + ", chip fault " +
                         std::to_string(static_cast<int>(run.fault)));
            t.setFault(run.fault);
            const Outcome r = t.run(args);
            t.setFault(Fault::None);
            EXPECT_EQ(r.status, run.code) << r.out << r.err;
            EXPECT_TRUE(MeetsTheRules(run.args.front(), json, r));
        }
    }
}

}  // namespace kx::cli::runs
