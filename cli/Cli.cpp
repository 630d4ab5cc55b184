#include "cli/Cli.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <optional>
#include <tuple>

#include "cli/Commands.h"
#include "cli/Provision.h"
#include "cli/Values.h"
#include "res/version.h"

namespace kx::cli {
namespace {

// A command's device options: DEVICE, --serial (or --device-serial), --index, --all.
struct SelectorOptions {
    std::string path, serial, index;
    bool all = false;

    void addTo(CLI::App& sub, bool serialIsAValue, bool writes) {
        auto* device = sub.add_option("DEVICE", path, "the device's path, in any letter case");
        auto* bySerial =
            sub.add_option(serialIsAValue ? "--device-serial" : "--serial,--device-serial", serial,
                           "the chip whose serial string is S")
                ->option_text("S");
        auto* byIndex =
            sub.add_option("--index", index, "the chip at position N of `kx4701 list`, from 0")
                ->option_text("N");
        device->excludes(bySerial)->excludes(byIndex);
        bySerial->excludes(byIndex);
        if (writes) {
            sub.add_flag("--all", all, "every chip that matches (every chip, without a name)");
        }
    }

    // False with `error` for an index that is not a number.
    bool take(DeviceSelector& s, bool writes, std::string& error) const {
        s.path = path;
        s.serial = serial;
        s.all = all;
        if (!index.empty()) {
            int n = -1;
            const auto [end, ec] = std::from_chars(index.data(), index.data() + index.size(), n);
            if (ec != std::errc() || end != index.data() + index.size() || n < 0) {
                error = "--index must be a position from 0, not '" + index + "'";
                return false;
            }
            s.index = n;
        }
        if (!s.named() && !s.all) {
            error = "name a device: its path, --serial S or --index N" +
                    std::string(writes ? " (or --all)" : "");
            return false;
        }
        return true;
    }
};

}  // namespace

int RunCli(const std::vector<std::string>& args, Devices& devices, std::ostream& out,
           std::ostream& err) {
    CLI::App app{"Reads and writes the settings of KX4701 USB HID-to-UART chips.", "kx4701"};
    app.set_version_flag("--version", std::string("kx4701 ") + KX_VERSION_STRING);
    app.require_subcommand(1);

    bool json = false, allHid = false, dryRun = false, factoryForRest = false,
         requireVerified = false;
    auto addJson = [&](CLI::App* sub) {
        sub->add_flag("--json", json, "one JSON document instead of text");
    };
    auto addRequireVerified = [&](CLI::App* sub) {
        sub->add_flag("--require-verified", requireVerified,
                      "fail (exit 3) when the library cannot read back all that was written");
    };
    auto addDryRun = [&](CLI::App* sub) {
        sub->add_flag("--dry-run", dryRun, "print what would be sent, send nothing");
    };

    // Only the named command gets its options: building every command's costs a quarter of
    // a short run's start-up.
    const std::string named = args.size() > 1 ? args[1] : std::string();

    auto* list = app.add_subcommand("list", "the devices that can be opened now");
    if (named == "list") {
        list->add_flag("--all-hid", allHid, "every HID device, not only KX4701 chips");
        addJson(list);
    }

    SelectorOptions showSel, serialSel, identitySel, resetSel;
    auto* show = app.add_subcommand("show", "what a chip reports and what it stores");
    if (named == "show") {
        showSel.addTo(*show, false, false);
        addJson(show);
    }

    std::string baud, parity, dataBits, stopBits;
    auto* setSerial = app.add_subcommand("set-serial", "write a chip's default serial settings");
    if (named == "set-serial") {
        serialSel.addTo(*setSerial, false, true);
        setSerial->add_option("--baud", baud, "baud rate, " + ListNames(ParameterList::Baud));
        setSerial->add_option("--parity", parity, ListNames(ParameterList::Parity));
        setSerial->add_option("--data-bits", dataBits, ListNames(ParameterList::DataBits));
        setSerial->add_option("--stop-bits", stopBits, ListNames(ParameterList::StopBits));
        addDryRun(setSerial);
        addRequireVerified(setSerial);
        addJson(setSerial);
    }

    std::string vid, pid, manufacturer, product, serialText;
    auto* setIdentity = app.add_subcommand("set-identity", "write a chip's USB identity");
    CLI::Option *vidOpt = nullptr, *pidOpt = nullptr, *manufOpt = nullptr, *productOpt = nullptr,
                *serialOpt = nullptr;
    if (named == "set-identity") {
        identitySel.addTo(*setIdentity, true, true);
        vidOpt = setIdentity->add_option("--vid", vid, "vendor id, four hex digits");
        pidOpt = setIdentity->add_option("--pid", pid, "product id, four hex digits");
        manufOpt = setIdentity->add_option("--manufacturer", manufacturer, "1..30 bytes in CP936");
        productOpt = setIdentity->add_option("--product", product, "1..30 bytes in CP936");
        serialOpt = setIdentity->add_option("--serial", serialText, "1..30 bytes in CP936");
        setIdentity->add_flag("--factory-defaults-for-rest", factoryForRest,
                              "fields not given get the factory values, not the chip's");
        addDryRun(setIdentity);
        addRequireVerified(setIdentity);
        addJson(setIdentity);
    }

    auto* reset = app.add_subcommand("reset", "restore a chip's factory settings");
    if (named == "reset") {
        resetSel.addTo(*reset, false, true);
        addDryRun(reset);
        addRequireVerified(reset);
        addJson(reset);
    }

    ProvisionOptions provision;
    std::string count;
    auto* prov = app.add_subcommand("provision", "write chip after chip from a profile");
    if (named == "provision") {
        prov->add_option("PROFILE", provision.profile, "the profile, a TOML file")->required();
        prov->add_option("--count", count, "stop after N chips are done")->option_text("N");
        prov->add_flag("--watch", provision.watch, "wait for chips to be plugged, until Ctrl-C");
        prov->add_flag("--rewrite", provision.rewrite,
                       "also chips that already carry a serial of the profile");
        prov->add_option("--state", provision.state, "the counter's file (PROFILE.state)")
            ->option_text("FILE");
        prov->add_option("--log", provision.log, "append one JSON line per chip to FILE")
            ->option_text("FILE");
        addDryRun(prov);
        addRequireVerified(prov);
        addJson(prov);
    }

    std::vector<const char*> argv;
    for (const std::string& a : args) {
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

    Output o{out, err, json, requireVerified};
    const bool writes = !list->parsed() && !show->parsed();
    const std::string nothing = writes ? "; nothing was written" : "";
    auto usage = [&](const std::string& what) {
        return FailCommand(o, named, EXIT_USAGE, what + nothing);
    };

    if (list->parsed()) {
        return ListCommand(devices, allHid, o);
    }
    if (prov->parsed()) {
        if (!count.empty()) {
            const auto [end, ec] =
                std::from_chars(count.data(), count.data() + count.size(), provision.count);
            if (ec != std::errc() || end != count.data() + count.size() || provision.count < 1) {
                return usage("--count must be a number of chips from 1, not '" + count + "'");
            }
        }
        provision.dryRun = dryRun;
        return ProvisionCommand(devices, provision, o);
    }
    SelectorOptions& sel = show->parsed()          ? showSel
                           : setSerial->parsed()   ? serialSel
                           : setIdentity->parsed() ? identitySel
                                                   : resetSel;
    DeviceSelector selector;
    std::string error;

    // Every value is checked before the first device is looked up.
    SerialChange serialChange;
    IdentityChange identityChange;
    if (setSerial->parsed()) {
        const struct {
            const char* option;
            const std::string& value;
            ParameterList list;
            const CodeEntry*& entry;
        } rows[] = {{"--baud", baud, ParameterList::Baud, serialChange.baud},
                    {"--parity", parity, ParameterList::Parity, serialChange.parity},
                    {"--data-bits", dataBits, ParameterList::DataBits, serialChange.dataBits},
                    {"--stop-bits", stopBits, ParameterList::StopBits, serialChange.stopBits}};
        for (const auto& row : rows) {
            if (!row.value.empty() || setSerial->count(row.option) > 0) {
                row.entry = ParseSerialValue(row.list, row.value, error);
                if (row.entry == nullptr) {
                    return usage(std::string(row.option) + " " + error);
                }
            }
        }
        if (!serialChange.baud && !serialChange.parity && !serialChange.dataBits &&
            !serialChange.stopBits) {
            return usage("nothing to set: give --baud, --parity, --data-bits or --stop-bits");
        }
    }
    if (setIdentity->parsed()) {
        for (const auto& [opt, text, item, value] :
             {std::tuple{vidOpt, &vid, IdentityItem::Vid, &identityChange.vid},
              std::tuple{pidOpt, &pid, IdentityItem::Pid, &identityChange.pid}}) {
            if (opt->count() > 0) {
                std::uint16_t v = 0;
                if (!ParseIdValue(*text, v, error)) {
                    return usage(opt->get_name() + " " + error);
                }
                *value = v;
            }
        }
        for (const auto& [opt, text, item, value] :
             {std::tuple{manufOpt, &manufacturer, IdentityItem::Manufacturer,
                         &identityChange.manufacturer},
              std::tuple{productOpt, &product, IdentityItem::Product, &identityChange.product},
              std::tuple{serialOpt, &serialText, IdentityItem::Serial, &identityChange.serial}}) {
            if (opt->count() > 0) {
                std::string cp936;
                if (!ParseIdentityText(item, *text, cp936, error)) {
                    return usage(opt->get_name() + " " + error);
                }
                *value = std::move(cp936);
            }
        }
        identityChange.factoryForRest = factoryForRest;
        if (!vidOpt->count() && !pidOpt->count() && !manufOpt->count() && !productOpt->count() &&
            !serialOpt->count() && !factoryForRest) {
            return usage(
                "nothing to set: give --vid, --pid, --manufacturer, --product or --serial");
        }
    }
    if (!sel.take(selector, writes, error)) {
        return usage(error);
    }

    if (show->parsed()) {
        return ShowCommand(devices, selector, o);
    }
    if (setSerial->parsed()) {
        return SetSerialCommand(devices, selector, serialChange, dryRun, o);
    }
    if (setIdentity->parsed()) {
        return SetIdentityCommand(devices, selector, identityChange, dryRun, o);
    }
    return ResetCommand(devices, selector, dryRun, o);
}

}  // namespace kx::cli
