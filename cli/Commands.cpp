#include "cli/Commands.h"

#include "cli/Report.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "config/TextCodec.h"
#include "device/DevicePath.h"
#include "device/Discovery.h"

namespace kx::cli {
namespace {

// One line on `err` for each failure, the JSON document or nothing on `out`.
int Finish(Output& o, Json doc, int code, const std::vector<std::string>& errors) {
    for (const std::string& e : errors) {
        o.err << "kx4701: " << e << "\n";
    }
    if (o.json) {
        Json head = DocumentHead(doc["command"].get<std::string>(), code,
                                 errors.empty() ? std::string() : errors.front());
        for (auto it = doc.begin(); it != doc.end(); ++it) {
            if (it.key() != "command") {
                head[it.key()] = it.value();
            }
        }
        o.out << head.dump(2) << "\n";
    }
    return code;
}

// The worse of two outcomes: a failure outranks a mismatch, which outranks success.
int Worse(int a, int b) {
    const auto rank = [](int c) { return c == EXIT_FAILED ? 2 : c == EXIT_MISMATCH ? 1 : 0; };
    return rank(b) > rank(a) ? b : a;
}

// One device's part of a write: reads what it needs, sends (unless a dry run), reads back.
// Fills `result` and returns the device's exit code; `error` gets the failure, if any.
using WriteStep =
    std::function<int(DeviceSession&, const DeviceRecord&, Json& result, std::string& error)>;

// The outcome of a write that was acknowledged and confirmed except for `unverified`: 0 with
// a note, or with --require-verified a mismatch. Never told as confirmed.
int Unconfirmed(const Unverified& unverified, Output& o, const DeviceRecord& r, Json& result,
                std::string& error) {
    // With --require-verified a failure like any mismatch: an error goes with "mismatch" only.
    result["result"] = o.requireVerified ? "mismatch" : "unverified";
    result["unverified"] = unverified.names();
    const std::string what = "written, but " + unverified.notVerified();
    if (o.requireVerified) {
        error = what;
        return EXIT_MISMATCH;
    }
    o.err << "kx4701: note: " << r.displayPath << ": " << what
          << " (--require-verified makes this a failure)\n";
    return EXIT_DONE;
}

int RunWrite(Devices& devices, const char* command, const DeviceSelector& selector, bool dryRun,
             Output& o, const WriteStep& step) {
    const std::vector<DeviceRecord> inventory = TakeInventory(devices, selector.path);
    Selection chosen = SelectDevices(inventory, selector);
    if (!chosen.error.empty()) {
        return FailCommand(o, command, EXIT_NO_DEVICE, chosen.error + "; nothing was written");
    }
    for (DeviceRecord& r : chosen.devices) {
        IdentifyChip(r);
        if (r.device == nullptr) {
            return FailCommand(o, command, EXIT_FAILED,
                               r.displayPath + " cannot be opened now; nothing was written");
        }
        if (r.kind == ChipKind::NotChip) {
            return FailCommand(o, command, EXIT_FAILED,
                               r.displayPath +
                                   " is not a KX4701 chip (it did not identify as one); "
                                   "nothing was written");
        }
    }
    Json doc;
    doc["command"] = command;
    doc["dry_run"] = dryRun;
    doc["results"] = Json::array();
    int code = EXIT_DONE;
    std::vector<std::string> errors;
    if (devices.extension == nullptr && !dryRun) {
        o.err << "kx4701: note: the loaded KX4701DLL.DLL cannot tell a KX4701 chip from another "
                 "HID device; its own result for each write decides\n";
    }
    for (const DeviceRecord& r : chosen.devices) {
        Json result;
        result["path"] = r.displayPath;
        if (r.kind == ChipKind::Unknown) {
            result["kx4701"] = nullptr;  // the library cannot tell
        }
        std::string error;
        const int deviceCode = step(*r.device, r, result, error);
        if (!result.contains("result")) {
            result["result"] = deviceCode == EXIT_MISMATCH ? "mismatch" : "failed";
        }
        if (!error.empty()) {
            result["error"] = error;
            errors.push_back(r.displayPath + ": " + error);
        }
        doc["results"].push_back(result);
        code = Worse(code, deviceCode);
    }
    return Finish(o, std::move(doc), code, errors);
}

}  // namespace

int FailCommand(Output& o, const std::string& command, int code, const std::string& error) {
    Json doc;
    doc["command"] = command;
    return Finish(o, std::move(doc), code, {error});
}

int ListCommand(Devices& devices, bool allHid, Output& o) {
    const std::vector<DeviceRecord> inventory = TakeInventory(devices);
    Json doc;
    doc["command"] = "list";
    doc["devices"] = Json::array();
    bool listed = false;
    for (const DeviceRecord& r : inventory) {
        if (!allHid && r.chipIndex < 0) {
            continue;
        }
        listed = true;
        if (o.json) {  // built only when printed: a list is run often, and mostly as text
            doc["devices"].push_back(ReportedJson(r));
        } else {
            const char* kind = r.kind == ChipKind::Chip      ? "KX4701"
                               : r.kind == ChipKind::Unknown ? (r.opened ? "?" : "unopened")
                                                             : "other";
            o.out << (r.chipIndex >= 0 ? std::to_string(r.chipIndex) : std::string("-")) << "  "
                  << r.displayPath << "  " << Hex4(r.vid) << ":" << Hex4(r.pid) << "  ver "
                  << Hex4(r.version) << "  " << kind << "  \"" << r.manufacturer << "\" \""
                  << r.product << "\" \"" << r.serial << "\"\n";
        }
    }
    if (!o.json && !listed) {
        o.err << "kx4701: note: no " << (allHid ? "HID device" : "KX4701 chip")
              << " can be opened now" << (allHid ? "" : " (--all-hid lists every HID device)")
              << "\n";
    }
    return Finish(o, std::move(doc), EXIT_DONE, {});
}

int ShowCommand(Devices& devices, const DeviceSelector& selector, Output& o) {
    const std::vector<DeviceRecord> inventory = TakeInventory(devices, selector.path);
    Selection chosen = SelectDevices(inventory, selector);
    if (!chosen.error.empty()) {
        return FailCommand(o, "show", EXIT_NO_DEVICE, chosen.error);
    }
    DeviceRecord& r = chosen.devices.front();
    IdentifyChip(r);
    Json doc;
    doc["command"] = "show";
    doc["device"] = ReportedJson(r);
    doc["stored"] = nullptr;
    std::string error;
    int code = EXIT_DONE;
    if (devices.extension == nullptr) {
        code = EXIT_UNSUPPORTED;
        error = "the loaded KX4701DLL.DLL cannot read a chip's stored settings";
    } else if (r.device == nullptr) {
        code = EXIT_FAILED;
        error = r.displayPath + " cannot be opened now";
    } else if (r.kind != ChipKind::Chip) {
        code = EXIT_FAILED;
        error = r.displayPath + " is not a KX4701 chip: it stores no settings to show";
    } else {
        StoredIdentity id;
        SerialDefaults serial{};
        if (r.device->readIdentity(id) && r.device->readSerial(serial)) {
            doc["stored"] = {{"identity", IdentityJson(id)}, {"serial", SerialJson(serial)}};
        } else {
            code = EXIT_FAILED;
            error = r.device->error();
        }
    }
    if (!o.json) {
        o.out << "device    " << r.displayPath << "\n"
              << "reports   VID " << Hex4(r.vid) << " PID " << Hex4(r.pid) << " version "
              << Hex4(r.version) << "  \"" << r.manufacturer << "\" / \"" << r.product << "\" / \""
              << r.serial << "\"\n";
        if (r.firmware) {
            o.out << "chip      KX4701, firmware " << Version(*r.firmware) << "\n";
        }
        if (!doc["stored"].is_null()) {
            const Json& id = doc["stored"]["identity"];
            o.out << "stored    VID " << id["vid"].get<std::string>() << " PID "
                  << id["pid"].get<std::string>() << " max power " << id["max_power_ma"].get<int>()
                  << " mA  \"" << id["manufacturer"]["text"].get<std::string>() << "\" / \""
                  << id["product"]["text"].get<std::string>() << "\" / \""
                  << id["serial"]["text"].get<std::string>() << "\"\n";
            const auto& codes = doc["stored"]["serial"]["codes"];
            o.out << "serial    " << SerialText({codes[0], codes[1], codes[2], codes[3], codes[4]})
                  << "\n";
        }
    }
    return Finish(o, std::move(doc), code,
                  error.empty() ? std::vector<std::string>{} : std::vector<std::string>{error});
}

int SetSerialCommand(Devices& devices, const DeviceSelector& selector, const SerialChange& change,
                     bool dryRun, Output& o) {
    if (devices.extension == nullptr && !change.complete()) {
        return FailCommand(o, "set-serial", EXIT_UNSUPPORTED,
                           "the loaded KX4701DLL.DLL cannot read a chip's serial defaults, so "
                           "none can be kept: give --baud, --parity, --data-bits and "
                           "--stop-bits; nothing was written");
    }
    return RunWrite(
        devices, "set-serial", selector, dryRun, o,
        [&](DeviceSession& device, const DeviceRecord& r, Json& result, std::string& error) -> int {
            SerialDefaults target{};
            if (!change.complete()) {
                if (!device.readSerial(target)) {
                    error = device.error() + "; nothing was written";
                    return EXIT_FAILED;
                }
                result["before"] = SerialJson(target);
            }
            target = change.appliedTo(target);
            result["call"] = {{"function", "KX4701SetDefaultRate"}, {"serial", SerialJson(target)}};
            const std::string call =
                "KX4701SetDefaultRate(" + std::to_string(target.baudCode) + ", " +
                std::to_string(target.parityCode) + ", " + std::to_string(target.stopBitsCode) +
                ", " + std::to_string(target.dataBitsCode) + ", 0x" + Hex2(target.timingByte) + ")";
            if (dryRun) {
                result["result"] = "dry-run";
                if (!o.json) {
                    o.out << r.displayPath << ": would call " << call << " for "
                          << DescribeSerialDefaults(target) << "; nothing was sent\n";
                }
                return EXIT_DONE;
            }
            if (!device.writeSerial(target)) {
                error = device.error();
                return EXIT_FAILED;
            }
            if (!device.canReadStored()) {
                if (!o.json) {
                    o.out << r.displayPath << ": serial defaults " << SerialText(target)
                          << " written, not read back\n";
                }
                return Unconfirmed({false, true}, o, r, result, error);
            }
            SerialDefaults after{};
            if (!device.readSerial(after)) {
                error = "written, but " + device.error();
                return EXIT_MISMATCH;
            }
            result["after"] = SerialJson(after);
            if (!(after == target)) {
                error =
                    "written " + SerialText(target) + ", but the chip holds " + SerialText(after);
                return EXIT_MISMATCH;
            }
            result["result"] = "done";
            if (!o.json) {
                o.out << r.displayPath << ": serial defaults " << SerialText(target)
                      << " written and read back\n";
            }
            return EXIT_DONE;
        });
}

namespace {

// An identity write or a factory reset, then the read-back of `expected` (and of the serial
// defaults after a reset).
int WriteAndCheckIdentity(Devices& devices, DeviceSession& device, const DeviceRecord& r,
                          const StoredIdentity& expected, bool reset, Json& result,
                          std::string& error, Output& o) {
    std::vector<std::string> pathsBefore = DiscoverOpenablePaths(devices.library, devices.probe);
    if (!(reset ? device.factoryReset() : device.writeIdentity(expected))) {
        error = device.error();
        return EXIT_FAILED;
    }
    IdentityReadBack back;
    if (!device.followIdentity(expected, FollowAfterWrite(devices, device, std::move(pathsBefore)),
                               back)) {
        error = "written, but " + device.error();
        return EXIT_MISMATCH;
    }
    const StoredIdentity& after = back.identity;
    const std::string whereText = DevicePathToUtf8(back.path);
    result["after"] = {{"path", whereText}, {"identity", IdentityJson(after, back.verified)}};
    // A field the read could not confirm holds the expected value here (followIdentity).
    if (!(after == expected)) {
        error = "written " + IdentityText(expected) + ", but the chip holds " + IdentityText(after);
        return EXIT_MISMATCH;
    }
    const Unverified unverified{(back.verified & FIELD_MAX_POWER) == 0,
                                reset && !device.canReadStored()};
    if (reset && !unverified.serialDefaults) {
        SerialDefaults serial{};
        if (!device.readSerial(serial)) {
            error = "reset, but the serial defaults could not be read back";
            return EXIT_MISMATCH;
        }
        result["after"]["serial"] = SerialJson(serial);
        if (!(serial == INITIAL_SERIAL_DEFAULTS)) {
            error = "reset, but the chip holds serial defaults " + SerialText(serial);
            return EXIT_MISMATCH;
        }
    }
    if (!o.json) {
        o.out << r.displayPath << ": " << (reset ? "factory settings " : "identity ")
              << IdentityText(after) << (reset ? " restored" : " written") << " and read back"
              << (back.path != r.path ? " at " + whereText : "")
              << (unverified.any() ? "; " + unverified.text() + " not read back" : "") << "\n";
    }
    if (unverified.any()) {
        return Unconfirmed(unverified, o, r, result, error);
    }
    result["result"] = "done";
    return EXIT_DONE;
}

// The fields of `change` left to the chip, by their option names.
std::vector<std::string> KeptFields(const IdentityChange& change) {
    std::vector<std::string> kept;
    for (const auto& [given, name] :
         {std::pair{change.vid.has_value(), "vid"}, std::pair{change.pid.has_value(), "pid"},
          std::pair{change.manufacturer.has_value(), "manufacturer"},
          std::pair{change.product.has_value(), "product"},
          std::pair{change.serial.has_value(), "serial"}}) {
        if (!given) {
            kept.emplace_back(name);
        }
    }
    return kept;
}

}  // namespace

int SetIdentityCommand(Devices& devices, const DeviceSelector& selector,
                       const IdentityChange& change, bool dryRun, Output& o) {
    return RunWrite(
        devices, "set-identity", selector, dryRun, o,
        [&](DeviceSession& device, const DeviceRecord& r, Json& result, std::string& error) -> int {
            StoredIdentity target = FactoryIdentity();
            if (!change.complete() && !change.factoryForRest) {
                IdentityReadBack held;
                if (!device.readHeld(held)) {
                    error = device.error() + "; nothing was written";
                    return EXIT_FAILED;
                }
                target = held.identity;
                result["before"] = IdentityJson(target, held.verified);
                const char* from = device.canReadStored() ? "stores" : "reports";
                const std::vector<std::string> kept = KeptFields(change);
                result["kept"] = {{"from", from}, {"fields", kept}};
                std::string list;
                for (const std::string& k : kept) {
                    list += (list.empty() ? "" : ", ") + k;
                }
                if (!o.json) {
                    o.out << r.displayPath << ": kept from what the chip " << from << ": " << list
                          << "\n";
                }
            }
            target = change.appliedTo(target);
            std::string bad;
            if (!WritableIdentity(target, bad)) {
                error = "the chip " + std::string(device.canReadStored() ? "stores" : "reports") +
                        " " + bad + "; give it, nothing was written";
                return EXIT_FAILED;
            }
            result["call"] = {{"function", "KX4701SetDeviceCfg"},
                              {"identity", IdentityJson(target)}};
            if (dryRun) {
                result["result"] = "dry-run";
                if (!o.json) {
                    o.out << r.displayPath << ": would call KX4701SetDeviceCfg(VID "
                          << Hex4(target.vid) << ", PID " << Hex4(target.pid) << ", bMaxPower "
                          << static_cast<int>(target.maxPower);
                    for (const auto* t : {&target.manufacturer, &target.product, &target.serial}) {
                        o.out << ", " << Quoted(*t) << " [" << Cp936Hex(*t) << "] " << t->size();
                    }
                    o.out << "); nothing was sent\n";
                }
                return EXIT_DONE;
            }
            return WriteAndCheckIdentity(devices, device, r, target, false, result, error, o);
        });
}

int ResetCommand(Devices& devices, const DeviceSelector& selector, bool dryRun, Output& o) {
    return RunWrite(
        devices, "reset", selector, dryRun, o,
        [&](DeviceSession& device, const DeviceRecord& r, Json& result, std::string& error) -> int {
            result["call"] = {{"function", "KX4701ResetToDefault"}};
            if (dryRun) {
                result["result"] = "dry-run";
                if (!o.json) {
                    o.out << r.displayPath
                          << ": would call KX4701ResetToDefault; nothing was sent\n";
                }
                return EXIT_DONE;
            }
            return WriteAndCheckIdentity(devices, device, r, FactoryIdentity(), true, result, error,
                                         o);
        });
}

}  // namespace kx::cli
