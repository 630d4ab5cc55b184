#pragma once
// kx4701's runs, one table for every transport (the bench here, uhid and the USB bus in the
// VM), and the one checker of what the manual promises of any run: an outcome told once, an
// error only when the run failed, and a JSON document that says the same as the exit status.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kx::cli::runs {

// What the chip does with writes during a run.
enum class Fault { None, Refuse, Forget };

struct Run {
    const char* what;
    // {chip}, {keyboard}, {missing}: the transport's paths now; {profile}, {bad-profile}.
    std::vector<std::string> args;
    Fault fault;
    int code;
};

// Over one chip (which may enumerate again after an identity write or a reset) and one
// keyboard; every run also goes with --json.
inline const std::vector<Run> RUNS = {
    {"list", {"list"}, Fault::None, 0},
    {"list every HID device", {"list", "--all-hid"}, Fault::None, 0},
    {"show", {"show", "{chip}"}, Fault::None, 0},
    {"show nothing", {"show", "{missing}"}, Fault::None, 4},
    {"show a keyboard", {"show", "{keyboard}"}, Fault::None, 1},
    {"set-serial", {"set-serial", "{chip}", "--baud", "115200"}, Fault::None, 0},
    {"set-serial, dry run",
     {"set-serial", "--index", "0", "--stop-bits", "2", "--dry-run"},
     Fault::None,
     0},
    {"set-serial refused", {"set-serial", "{chip}", "--baud", "4800"}, Fault::Refuse, 1},
    {"set-serial forgotten", {"set-serial", "{chip}", "--baud", "4800"}, Fault::Forget, 3},
    {"set-serial to a keyboard", {"set-serial", "{keyboard}", "--baud", "9600"}, Fault::None, 1},
    {"set-serial, bad value", {"set-serial", "{chip}", "--baud", "9601"}, Fault::None, 2},
    {"set-identity, Chinese texts",
     {"set-identity", "{chip}", "--manufacturer", "厂商", "--product", "第二次"},
     Fault::None,
     0},
    {"set-identity of every chip", {"set-identity", "--all", "--pid", "0002"}, Fault::None, 0},
    {"set-identity refused", {"set-identity", "{chip}", "--serial", "S-2"}, Fault::Refuse, 1},
    {"set-identity of nothing", {"set-identity", "{missing}", "--vid", "1234"}, Fault::None, 4},
    {"reset", {"reset", "{chip}"}, Fault::None, 0},
    {"reset, dry run", {"reset", "--index", "0", "--dry-run"}, Fault::None, 0},
    {"reset refused", {"reset", "{chip}"}, Fault::Refuse, 1},
    {"provision", {"provision", "{profile}"}, Fault::None, 0},
    {"provision, dry run", {"provision", "{profile}", "--rewrite", "--dry-run"}, Fault::None, 0},
    {"provision refused", {"provision", "{profile}", "--rewrite"}, Fault::Refuse, 1},
    {"provision, bad profile", {"provision", "{bad-profile}"}, Fault::None, 2},
};

// How a run ended and what it printed.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// The manual's rules for any run of `command` (with --json when `json`).
inline ::testing::AssertionResult MeetsTheRules(const std::string& command, bool json,
                                                const Outcome& r) {
    std::vector<std::string> broken;
    std::vector<std::string> errors;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("kx4701: note: ", 0) == 0) {
            continue;
        }
        if (std::find(errors.begin(), errors.end(), line) != errors.end()) {
            broken.push_back("told twice: " + line);
        }
        errors.push_back(line);
    }
    if (r.status == 0 && !errors.empty()) {
        broken.push_back("exit 0 with an error on standard error");
    }
    if (r.status != 0 && errors.empty()) {
        broken.push_back("failed without an error on standard error");
    }
    if (json) {
        nlohmann::json doc;
        try {
            doc = nlohmann::json::parse(r.out);
        } catch (const nlohmann::json::exception& e) {
            broken.push_back(std::string("not one JSON document: ") + e.what());
        }
        const bool ok = r.status == 0;
        if (!doc.is_object()) {
            doc = nlohmann::json::object();
        }
        if (doc.value("schema", 0) != 1 || doc.value("command", "") != command) {
            broken.push_back("no schema 1 head for " + command);
        }
        if (doc.value("ok", !ok) != ok || doc.value("exit_code", -1) != r.status) {
            broken.push_back("ok or exit_code disagree with the exit status");
        }
        if (doc.contains("error") == ok) {
            broken.push_back(ok ? "an error beside ok" : "no error beside a failure");
        }
        if (doc.contains("error") &&
            std::find(errors.begin(), errors.end(), "kx4701: " + doc.value("error", "")) ==
                errors.end()) {
            broken.push_back("the document's error is not the one told");
        }
        for (const char* list : {"results", "chips"}) {
            for (const auto& entry : doc.value(list, nlohmann::json::array())) {
                const std::string result = entry.value("result", "");
                if (entry.contains("error") != (result == "failed" || result == "mismatch")) {
                    broken.push_back(std::string(list) + ": an error beside \"" + result + "\"");
                }
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
class Transport {
  public:
    virtual ~Transport() = default;
    virtual std::string chip() = 0;  // where the chip is now
    virtual std::string keyboard() = 0;
    virtual std::string missing() = 0;  // a path no device has
    virtual void setFault(Fault fault) = 0;
    virtual Outcome run(const std::vector<std::string>& args) = 0;
};

// Every run of the table, with and without --json, each checked against the rules.
inline void RunTheTable(Transport& t, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "p.toml") << "[serial]\nbaud = 57600\n[identity]\nproduct = "
                                        "\"转换器\"\nserial = \"P-{counter:04}\"\n";
    std::ofstream(folder / "bad.toml") << "[identity]\nserial = \"ABC\"\n";
    for (const Run& run : RUNS) {
        for (const bool json : {false, true}) {
            std::vector<std::string> args;
            for (const std::string& a : run.args) {
                args.push_back(a == "{chip}"          ? t.chip()
                               : a == "{keyboard}"    ? t.keyboard()
                               : a == "{missing}"     ? t.missing()
                               : a == "{profile}"     ? (folder / "p.toml").string()
                               : a == "{bad-profile}" ? (folder / "bad.toml").string()
                                                      : a);
            }
            if (json) {
                args.emplace_back("--json");
            }
            SCOPED_TRACE(std::string(run.what) + (json ? ", --json" : ""));
            t.setFault(run.fault);
            const Outcome r = t.run(args);
            t.setFault(Fault::None);
            EXPECT_EQ(r.status, run.code) << r.out << r.err;
            EXPECT_TRUE(MeetsTheRules(run.args.front(), json, r));
        }
    }
}

}  // namespace kx::cli::runs
