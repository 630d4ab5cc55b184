#include "cli/Cli.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <memory>
#include <optional>
#include <tuple>

#include "cli/Commands.h"
#include "cli/Provision.h"
#include "cli/RecordsCommand.h"
#include "cli/Values.h"
#include "res/version.h"

namespace kx::cli {
namespace {

// One command's options and its run. Only the command named gets its options built:
// building every command's costs a quarter of a short run's start-up.
class CommandLine {
  public:
    explicit CommandLine(bool writes) : writes_(writes) {}
    virtual ~CommandLine() = default;
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    virtual void addOptions(CLI::App& sub) = 0;
    // Checks every value before the first device is looked up, then runs; the exit code.
    virtual int run(Devices& devices, Output& o) = 0;

    bool json = false;
    bool requireVerified = false;

  protected:
    void addJson(CLI::App& sub) {
        sub.add_flag("--json", json, "one JSON document instead of text");
    }
    void addDryRun(CLI::App& sub) {
        sub.add_flag("--dry-run", dryRun_, "print what would be sent, send nothing");
    }
    void addRequireVerified(CLI::App& sub) {
        sub.add_flag("--require-verified", requireVerified,
                     "fail (exit 3) when the library cannot read back all that was written");
    }
    // A refused value: exit 2, and a write says that nothing was written.
    int usage(Output& o, const std::string& command, const std::string& what) const {
        return FailCommand(o, command, EXIT_USAGE, what + (writes_ ? "; nothing was written" : ""));
    }

    bool writes_;
    bool dryRun_ = false;
};

// A command's device options: DEVICE, --device-serial, --index and, for a write, --all.
// `--serial` is only ever the serial text set-identity writes: elsewhere it is taken only
// to be refused, so that a selector pasted from another command writes nothing.
class SelectorOptions {
  public:
    void addTo(CLI::App& sub, bool writes, bool serialIsAValue) {
        writes_ = writes;
        auto* device = sub.add_option("DEVICE", path_, "the device's path, in any letter case");
        auto* bySerial =
            sub.add_option("--device-serial", serial_, "the chip whose serial string is S")
                ->option_text("S");
        auto* byIndex =
            sub.add_option("--index", index_, "the chip at position N of `kx4701 list`, from 0")
                ->option_text("N");
        device->excludes(bySerial)->excludes(byIndex);
        bySerial->excludes(byIndex);
        if (writes) {
            sub.add_flag("--all", all_, "every chip that matches (every chip, without a name)");
        }
        if (!serialIsAValue) {
            oldSerial_ = sub.add_option("--serial", ignored_)->group("");
        }
    }

    // False with `error` for the old spelling, an index that is not a number, or no name.
    bool take(DeviceSelector& s, std::string& error) const {
        if (oldSerial_ != nullptr && oldSerial_->count() > 0) {
            error =
                "--serial is the serial text set-identity writes; name a chip by its serial "
                "with --device-serial S";
            return false;
        }
        s.path = path_;
        s.serial = serial_;
        s.all = all_;
        if (!index_.empty()) {
            int n = -1;
            const auto [end, ec] = std::from_chars(index_.data(), index_.data() + index_.size(), n);
            if (ec != std::errc() || end != index_.data() + index_.size() || n < 0) {
                error = "--index must be a position from 0, not '" + index_ + "'";
                return false;
            }
            s.index = n;
        }
        if (!s.named() && !s.all) {
            error = "name a device: its path, --device-serial S or --index N" +
                    std::string(writes_ ? " (or --all)" : "");
            return false;
        }
        return true;
    }

  private:
    std::string path_, serial_, index_, ignored_;
    bool all_ = false, writes_ = false;
    CLI::Option* oldSerial_ = nullptr;
};

class ListLine final : public CommandLine {
  public:
    ListLine() : CommandLine(false) {}
    void addOptions(CLI::App& sub) override {
        sub.add_flag("--all-hid", allHid_, "every HID device, not only KX4701 chips");
        addJson(sub);
    }
    int run(Devices& devices, Output& o) override { return ListCommand(devices, allHid_, o); }

  private:
    bool allHid_ = false;
};

// show and reset: the device options and one call.
class SelectLine final : public CommandLine {
  public:
    using Act = int (*)(Devices&, const DeviceSelector&, bool dryRun, Output&);
    SelectLine(const char* name, bool writes, Act act)
        : CommandLine(writes), name_(name), act_(act) {}
    void addOptions(CLI::App& sub) override {
        selector_.addTo(sub, writes_, false);
        if (writes_) {
            addDryRun(sub);
            addRequireVerified(sub);
        }
        addJson(sub);
    }
    int run(Devices& devices, Output& o) override {
        DeviceSelector selector;
        std::string error;
        if (!selector_.take(selector, error)) {
            return usage(o, name_, error);
        }
        return act_(devices, selector, dryRun_, o);
    }

  private:
    const char* name_;
    Act act_;
    SelectorOptions selector_;
};

class SetSerialLine final : public CommandLine {
  public:
    SetSerialLine() : CommandLine(true) {}
    void addOptions(CLI::App& sub) override {
        selector_.addTo(sub, true, false);
        for (Row& row : rows_) {
            row.option = sub.add_option(row.name, row.text, row.help());
        }
        addDryRun(sub);
        addRequireVerified(sub);
        addJson(sub);
    }
    int run(Devices& devices, Output& o) override {
        SerialChange change;
        std::string error;
        for (Row& row : rows_) {
            if (row.option->count() > 0) {
                row.entry(change) = ParseSerialValue(row.list, row.text, error);
                if (row.entry(change) == nullptr) {
                    return usage(o, "set-serial", std::string(row.name) + " " + error);
                }
            }
        }
        if (!change.any()) {
            return usage(o, "set-serial",
                         "nothing to set: give --baud, --parity, --data-bits or --stop-bits");
        }
        DeviceSelector selector;
        if (!selector_.take(selector, error)) {
            return usage(o, "set-serial", error);
        }
        return SetSerialCommand(devices, selector, change, dryRun_, o);
    }

  private:
    struct Row {
        const char* name;
        ParameterList list;
        const CodeEntry* SerialChange::*field;
        std::string text = {};
        CLI::Option* option = nullptr;
        [[nodiscard]] std::string help() const {
            return (list == ParameterList::Baud ? "baud rate, " : "") + ListNames(list);
        }
        const CodeEntry*& entry(SerialChange& c) const { return c.*field; }
    };
    SelectorOptions selector_;
    Row rows_[4] = {{"--baud", ParameterList::Baud, &SerialChange::baud},
                    {"--parity", ParameterList::Parity, &SerialChange::parity},
                    {"--data-bits", ParameterList::DataBits, &SerialChange::dataBits},
                    {"--stop-bits", ParameterList::StopBits, &SerialChange::stopBits}};
};

class SetIdentityLine final : public CommandLine {
  public:
    SetIdentityLine() : CommandLine(true) {}
    void addOptions(CLI::App& sub) override {
        selector_.addTo(sub, true, true);
        vid_ = sub.add_option("--vid", vidText_, "vendor id, four hex digits");
        pid_ = sub.add_option("--pid", pidText_, "product id, four hex digits");
        for (TextRow& row : texts_) {
            row.option = sub.add_option(row.name, row.text, "1..30 bytes in CP936");
        }
        sub.add_flag("--factory-defaults-for-rest", factoryForRest_,
                     "fields not given get the factory values, not the chip's");
        addDryRun(sub);
        addRequireVerified(sub);
        addJson(sub);
    }
    int run(Devices& devices, Output& o) override {
        IdentityChange change;
        std::string error;
        for (const auto& [opt, text, value] :
             {std::tuple{vid_, &vidText_, &change.vid}, std::tuple{pid_, &pidText_, &change.pid}}) {
            if (opt->count() > 0) {
                std::uint16_t v = 0;
                if (!ParseIdValue(*text, v, error)) {
                    return usage(o, "set-identity", opt->get_name() + " " + error);
                }
                *value = v;
            }
        }
        bool any = vid_->count() > 0 || pid_->count() > 0 || factoryForRest_;
        for (const TextRow& row : texts_) {
            if (row.option->count() > 0) {
                std::string cp936;
                if (!ParseIdentityText(row.item, row.text, cp936, error)) {
                    return usage(o, "set-identity", std::string(row.name) + " " + error);
                }
                change.*row.field = std::move(cp936);
                any = true;
            }
        }
        change.factoryForRest = factoryForRest_;
        if (!any) {
            return usage(
                o, "set-identity",
                "nothing to set: give --vid, --pid, --manufacturer, --product or --serial");
        }
        DeviceSelector selector;
        if (!selector_.take(selector, error)) {
            return usage(o, "set-identity", error);
        }
        if (change.serial && selector.all) {
            // A serial number is never used twice: provisioning gives each chip its own.
            return usage(o, "set-identity",
                         "--serial with --all would write one serial text to several chips; "
                         "name one chip (kx4701 provision numbers many)");
        }
        return SetIdentityCommand(devices, selector, change, dryRun_, o);
    }

  private:
    struct TextRow {
        const char* name;
        IdentityItem item;
        std::optional<std::string> IdentityChange::*field;
        std::string text = {};
        CLI::Option* option = nullptr;
    };
    SelectorOptions selector_;
    std::string vidText_, pidText_;
    CLI::Option *vid_ = nullptr, *pid_ = nullptr;
    TextRow texts_[3] = {
        {"--manufacturer", IdentityItem::Manufacturer, &IdentityChange::manufacturer},
        {"--product", IdentityItem::Product, &IdentityChange::product},
        {"--serial", IdentityItem::Serial, &IdentityChange::serial}};
    bool factoryForRest_ = false;
};

class ProvisionLine final : public CommandLine {
  public:
    ProvisionLine() : CommandLine(true) {}
    void addOptions(CLI::App& sub) override {
        sub.add_option("PROFILE", options_.profile, "the profile, a TOML file")->required();
        sub.add_option("--count", count_, "stop after N chips are done")->option_text("N");
        sub.add_flag("--watch", options_.watch, "wait for chips to be plugged, until Ctrl-C");
        sub.add_flag("--rewrite", options_.rewrite,
                     "also chips that already carry a serial of the profile");
        sub.add_option("--state", options_.state, "the counter's file (PROFILE.state)")
            ->option_text("FILE");
        sub.add_option("--log", options_.log, "append one JSON line per chip to FILE")
            ->option_text("FILE");
        sub.add_option("--database", options_.database,
                       "share the counter and record there (the profile's [counter] database)")
            ->option_text("CONNECTION");
        sub.add_option("--station", options_.station, "this station's name (the host name)")
            ->option_text("NAME");
        sub.add_option("--lease", lease_, "numbers to take from the database at a time")
            ->option_text("N");
        sub.add_option("--jobs", jobs_, "chips in flight at most (8; 1: one after another)")
            ->option_text("N");
        sub.add_flag("--events", options_.events,
                     "one JSON line per phase change per chip, in place of the live view");
        addDryRun(sub);
        addRequireVerified(sub);
        addJson(sub);
    }
    int run(Devices& devices, Output& o) override {
        if (!count_.empty()) {
            const auto [end, ec] =
                std::from_chars(count_.data(), count_.data() + count_.size(), options_.count);
            if (ec != std::errc() || end != count_.data() + count_.size() || options_.count < 1) {
                return usage(o, "provision",
                             "--count must be a number of chips from 1, not '" + count_ + "'");
            }
        }
        if (!lease_.empty()) {
            std::int64_t n = 0;
            const auto [end, ec] = std::from_chars(lease_.data(), lease_.data() + lease_.size(), n);
            if (ec != std::errc() || end != lease_.data() + lease_.size() || n < 1) {
                return usage(
                    o, "provision",
                    "--lease must be a number of serial numbers from 1, not '" + lease_ + "'");
            }
            options_.lease = static_cast<std::uint64_t>(n);
        }
        if (!jobs_.empty()) {
            const auto [end, ec] =
                std::from_chars(jobs_.data(), jobs_.data() + jobs_.size(), options_.jobs);
            if (ec != std::errc() || end != jobs_.data() + jobs_.size() || options_.jobs < 1 ||
                options_.jobs > ProvisionOptions::MAX_JOBS) {
                return usage(o, "provision",
                             "--jobs must be a number of chips from 1 to " +
                                 std::to_string(ProvisionOptions::MAX_JOBS) + ", not '" + jobs_ +
                                 "'");
            }
        }
        if (options_.events && o.json) {
            return usage(o, "provision", "--events and --json both take standard output: give one");
        }
        options_.dryRun = dryRun_;
        return ProvisionCommand(devices, options_, o);
    }

  private:
    ProvisionOptions options_;
    std::string count_, lease_, jobs_;
};

class RecordsLine final : public CommandLine {
  public:
    RecordsLine() : CommandLine(false) {}
    void addOptions(CLI::App& sub) override {
        sub.require_subcommand(1);
        sub.add_option("--database", options_.database, "the database's connection string")
            ->option_text("CONNECTION");
        sub.add_option("--profile", options_.profile, "the profile whose database to read")
            ->option_text("FILE");
        reconcile_ = sub.add_subcommand("reconcile", "check that no serial was used twice");
        reconcile_->add_option("--log", options_.logs, "a station's log: its rows not yet sent")
            ->option_text("FILE");
        find_ = sub.add_subcommand("find", "one chip's row");
        find_->add_option("SERIAL", options_.serial, "the chip's serial")->required();
        sub.add_subcommand("export", "every row")->add_flag("--csv", options_.csv, "as CSV");
        addJson(sub);
    }
    int run(Devices&, Output& o) override {
        options_.action = reconcile_->parsed() ? "reconcile" : find_->parsed() ? "find" : "export";
        return RecordsCommand(options_, o);
    }

  private:
    RecordsOptions options_;
    CLI::App *reconcile_ = nullptr, *find_ = nullptr;
};

template <class Line>
std::unique_ptr<CommandLine> Make() {
    return std::make_unique<Line>();
}

const struct {
    const char* name;
    const char* help;
    std::unique_ptr<CommandLine> (*make)();
} COMMANDS[] = {
    {"list", "the devices that can be opened now", &Make<ListLine>},
    {"show", "what a chip reports and what it stores",
     []() -> std::unique_ptr<CommandLine> {
         return std::make_unique<SelectLine>(
             "show", false, [](Devices& d, const DeviceSelector& s, bool, Output& o) {
                 return ShowCommand(d, s, o);
             });
     }},
    {"set-serial", "write a chip's default serial settings", &Make<SetSerialLine>},
    {"set-identity", "write a chip's USB identity", &Make<SetIdentityLine>},
    {"reset", "restore a chip's factory settings",
     []() -> std::unique_ptr<CommandLine> {
         return std::make_unique<SelectLine>("reset", true, &ResetCommand);
     }},
    {"provision", "write chip after chip from a profile", &Make<ProvisionLine>},
    {"records", "the shared record of a database counter", &Make<RecordsLine>},
};

// The command `arg` names, if any.
decltype(&COMMANDS[0]) Named(const std::string& arg) {
    for (const auto& c : COMMANDS) {
        if (arg == c.name) {
            return &c;
        }
    }
    return nullptr;
}

// Where the command stands in `args` (0: none), so that options may stand on either side of
// it: the first argument naming one that follows no option, or a flag of that command (an
// option it lacks, or one taking a value, belongs to a command further on or has it as value).
std::size_t FindCommand(const std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size() && args[i] != "--"; ++i) {
        const auto* command = Named(args[i]);
        if (command == nullptr) {
            continue;
        }
        const std::string& before = args[i - 1];
        if (i == 1 || !before.starts_with("-") || before.find('=') != std::string::npos) {
            return i;
        }
        // Built only when an option stands before the command, which is rare.
        CLI::App probe;
        const std::unique_ptr<CommandLine> options = command->make();
        options->addOptions(probe);
        const CLI::Option* option = probe.get_option_no_throw(before);
        if (option != nullptr && option->get_items_expected_min() == 0) {
            return i;
        }
    }
    return 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, Devices& devices, std::ostream& out,
           std::ostream& err) {
    CLI::App app{"Reads and writes the settings of KX4701 USB HID-to-UART chips.", "kx4701"};
    app.set_version_flag("--version", std::string("kx4701 ") + KX_VERSION_STRING);
    app.require_subcommand(1);

    // The command goes first, where the parser looks for it; the rest keep their order.
    std::vector<std::string> ordered = args;
    const std::size_t at = FindCommand(args);
    if (at > 1) {
        ordered.erase(ordered.begin() + static_cast<std::ptrdiff_t>(at));
        ordered.insert(ordered.begin() + 1, args[at]);
    }
    // With a command named, only its parser is built: building all seven was a sixth of the
    // instructions a start runs. Another command's name after it is then an argument it does
    // not expect, as before.
    std::unique_ptr<CommandLine> line;
    for (const auto& c : COMMANDS) {
        if (at != 0 && args[at] != c.name) {
            continue;
        }
        CLI::App* sub = app.add_subcommand(c.name, c.help);
        sub->fallthrough();  // --help and --version wherever they stand
        if (at != 0) {
            line = c.make();
            line->addOptions(*sub);
        }
    }

    std::vector<const char*> argv;
    for (const std::string& a : ordered) {
        argv.push_back(a.c_str());
    }
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e, out, err);  // --help, --version
        }
        err << "kx4701: " << e.what() << " (kx4701 --help lists the commands)\n";
        return EXIT_USAGE;
    }
    if (line == nullptr) {  // a command only after "--"
        err << "kx4701: name a command first (kx4701 --help lists the commands)\n";
        return EXIT_USAGE;
    }
    Output o{out, err, line->json, line->requireVerified};
    return line->run(devices, o);
}

}  // namespace kx::cli
