#include "cli/Provision.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <set>

#include "cli/DurableFile.h"
#include "cli/Profile.h"
#include "cli/Report.h"
#include "cli/counter/Counter.h"
#include "config/TextCodec.h"
#include "device/DevicePath.h"
#include "device/Discovery.h"
#include "device/LastError.h"

namespace kx::cli {
namespace {

using Clock = std::chrono::steady_clock;

// How often a watching run looks again without any event: udevd may still be setting a
// new node's permissions when its event arrives.
constexpr std::chrono::milliseconds RESCAN_INTERVAL{1000};

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Wakes the watching loop; what arrived does not matter, a rescan finds it.
struct WakeSink final : DeviceChangeSink {
    void deliverDeviceChange(std::uint32_t, const void*) override {}
};

class ProvisionRun {
  public:
    ProvisionRun(Devices& devices, const ProvisionOptions& options, Output& o, Profile profile)
        : devices_(devices), options_(options), o_(o), profile_(std::move(profile)) {}

    int execute();

  private:
    bool open(std::string& error, int& code);
    void scan();
    void provision(const DeviceRecord& record);
    bool take(std::uint64_t& number);
    // Logs `entry` with its result; `timing` (the phases so far) joins it in the run's JSON
    // document only, with the log's own time.
    void finish(Json entry, Json timing, const char* result, const std::string& error);
    void progress(const std::string& path, const std::string& serial, const std::string& what);
    bool enough() const { return options_.count >= 0 && done_ >= options_.count; }

    Devices& devices_;
    const ProvisionOptions& options_;
    Output& o_;
    Profile profile_;
    CounterOptions counting_;
    std::unique_ptr<Counter> counter_;
    std::unique_ptr<AppendOnlyFile> log_;
    std::set<std::string> handled_;     // library paths dealt with, while they stay plugged
    std::vector<std::string> scanned_;  // the paths of the last scan
    std::set<std::string> written_;     // serials this run wrote: such a chip is its own, back
    std::int64_t done_ = 0, skipped_ = 0, failed_ = 0, mismatched_ = 0, tried_ = 0;
    std::int64_t unverified_ = 0;  // of done_: acknowledged, not all read back
    std::string fatal_;
    std::string firstFailure_;  // the first chip's failure, as its line said it
    Json chips_ = Json::array();
};

bool ProvisionRun::open(std::string& error, int& code) {
    code = EXIT_FAILED;
    counting_.state = options_.state.empty() ? options_.profile + ".state" : options_.state;
    counting_.database = options_.database.empty() ? profile_.database : options_.database;
    counting_.log = options_.log.empty() && !counting_.database.empty() ? counting_.state + ".log"
                                                                        : options_.log;
    counting_.profile = options_.profile;
    counting_.station = options_.station.empty() ? HostName() : options_.station;
    counting_.lease = options_.lease > 0 ? options_.lease : profile_.lease;
    counting_.dryRun = options_.dryRun;
    counter_ = OpenCounter(counting_, profile_, error);
    if (!counter_) {
        return false;
    }
    if (!options_.dryRun && !counting_.log.empty()) {
        log_ = AppendOnlyFile::Open(counting_.log, error);
        if (!log_) {
            return false;
        }
    }
    return true;
}

bool ProvisionRun::take(std::uint64_t& number) {
    std::string error;  // a dry run's counter takes in memory only
    if (!counter_->take(number, error)) {
        fatal_ = error;
        return false;
    }
    return true;
}

void ProvisionRun::progress(const std::string& path, const std::string& serial,
                            const std::string& what) {
    if (!o_.json) {
        o_.out << "provision: [" << tried_ << "] " << path << "  " << serial << "  " << what
               << std::endl;
    }
}

void ProvisionRun::finish(Json entry, Json timing, const char* result, const std::string& error) {
    entry["result"] = result;
    if (!error.empty()) {
        entry["error"] = error;
        const std::string line = entry["path"].get<std::string>() + ": " + error;
        o_.err << "kx4701: " << line << "\n";
        if (firstFailure_.empty()) {
            firstFailure_ = line;
        }
    }
    const Clock::time_point logged = Clock::now();
    if (log_) {
        std::string logError;
        if (!log_->append(entry.dump(), logError)) {
            fatal_ = logError;
        }
    }
    std::string recordError;
    if (!options_.dryRun && fatal_.empty() && !counter_->record(entry, recordError)) {
        fatal_ = recordError;
    }
    timing["log"] = MillisecondsSince(logged);
    entry["timing_ms"] = timing;
    chips_.push_back(std::move(entry));
}

void ProvisionRun::scan() {
    const std::vector<DeviceRecord> inventory = TakeInventory(devices_);
    std::set<std::string> present;
    scanned_.clear();
    for (const DeviceRecord& r : inventory) {
        present.insert(r.path);
        scanned_.push_back(r.path);
    }
    std::erase_if(handled_, [&](const std::string& p) { return !present.contains(p); });
    for (const DeviceRecord& r : inventory) {
        if (!fatal_.empty() || enough() || (devices_.stopped && devices_.stopped())) {
            return;
        }
        // Without our extension every device the library opens may be a chip: its own result
        // for the write decides.
        if (r.chipIndex >= 0 && handled_.insert(r.path).second) {
            provision(r);
        }
    }
}

void ProvisionRun::provision(const DeviceRecord& record) {
    DeviceSession& device = *record.device;
    Json entry;
    entry["time"] = UtcTimestamp();
    entry["path"] = record.displayPath;
    entry["number"] = nullptr;
    Json timing = Json::object();
    Clock::time_point phase = Clock::now();

    IdentityReadBack held;
    SerialDefaults beforeSerial{};
    // Without our extension the serial defaults cannot be read: the profile then gives all
    // four or none (ProvisionCommand).
    if (!device.readHeld(held) || (device.canReadStored() && !device.readSerial(beforeSerial))) {
        ++tried_;
        ++failed_;
        progress(record.displayPath, "-", "failed");
        finish(std::move(entry), Json::object(), "failed",
               device.error() + "; nothing was written");
        return;
    }
    const StoredIdentity& before = held.identity;
    if (written_.contains(before.serial)) {
        return;  // a chip of this run, enumerated again after its write
    }
    entry["before"] = {
        {"identity", IdentityJson(before, held.verified)},
        {"serial", device.canReadStored() ? SerialJson(beforeSerial) : Json(nullptr)}};
    ++tried_;
    if (profile_.serial.matches(before.serial) && !options_.rewrite) {
        ++skipped_;
        entry["serial"] = text::AnsiToUtf8(before.serial);
        progress(record.displayPath, text::AnsiToUtf8(before.serial), "skipped");
        entry["reason"] = "already carries a serial of this profile (--rewrite writes it again)";
        finish(std::move(entry), Json::object(), "skipped", "");
        return;
    }
    const SerialDefaults serialTarget = profile_.serialDefaults.appliedTo(beforeSerial);
    StoredIdentity target = profile_.identity.appliedTo(before);
    target.serial = profile_.serial.format(
        counter_->next());  // its shape, for the check; the number comes below
    if (std::string bad; !WritableIdentity(target, bad)) {
        ++failed_;
        progress(record.displayPath, "-", "failed");
        finish(std::move(entry), Json::object(), "failed",
               "the chip reports " + bad + "; the profile must give it; nothing was written");
        return;
    }
    timing["read"] = MillisecondsSince(phase);

    phase = Clock::now();
    std::uint64_t number = 0;
    if (!take(number)) {
        return;
    }
    timing["number"] = MillisecondsSince(phase);
    target.serial = profile_.serial.format(number);
    const std::string serialText = text::AnsiToUtf8(target.serial);
    entry["number"] = number;
    entry["serial"] = serialText;
    entry["serial_defaults"] = SerialJson(serialTarget);
    entry["identity"] = IdentityJson(target);
    if (options_.dryRun) {
        progress(record.displayPath, serialText, "would be written (dry run)");
        finish(std::move(entry), timing, "dry-run", "");
        return;
    }
    written_.insert(target.serial);

    phase = Clock::now();
    const bool serialWritten = !profile_.serialDefaults.any() || device.writeSerial(serialTarget);
    if (!serialWritten || !device.writeIdentity(target)) {
        ++failed_;
        // What the chip holds now, if it can still tell: the write is all or nothing.
        IdentityReadBack now;
        // bMaxPower compared only where it was read.
        const auto holds = [&](StoredIdentity id) {
            if ((now.verified & FIELD_MAX_POWER) == 0) {
                id.maxPower = now.identity.maxPower;
            }
            return now.identity == id;
        };
        entry["identity_state"] = !serialWritten          ? "old"
                                  : !device.readHeld(now) ? "unknown (the chip cannot be read)"
                                  : holds(target)         ? "new"
                                  : holds(before)         ? "old"
                                                          : "other";
        progress(record.displayPath, serialText, "failed");
        finish(std::move(entry), timing, "failed",
               device.error() + "; number " + std::to_string(number) + " is burned");
        return;
    }
    timing["write"] = MillisecondsSince(phase);

    phase = Clock::now();
    IdentityReadBack back;
    SerialDefaults afterSerial{};
    std::string error;
    // The scan's paths stand for the ones before the write: a walk of the bus per chip would
    // make a run over many chips quadratic.
    bool same = device.followIdentity(target, FollowAfterWrite(devices_, device, scanned_), back);
    const Unverified unverified{(back.verified & FIELD_MAX_POWER) == 0,
                                profile_.serialDefaults.any() && !device.canReadStored()};
    if (!same) {
        error = device.error();
    } else {
        handled_.insert(back.path);
        const bool read = !device.canReadStored() || device.readSerial(afterSerial);
        entry["after"] = {
            {"path", DevicePathToUtf8(back.path)},
            {"identity", IdentityJson(back.identity, back.verified)},
            {"serial", device.canReadStored() && read ? SerialJson(afterSerial) : Json(nullptr)}};
        // A field the read could not confirm holds the target here (followIdentity).
        same = read && back.identity == target &&
               (!device.canReadStored() || afterSerial == serialTarget);
        if (same && unverified.any() && o_.requireVerified) {
            same = false;
            error = unverified.text() +
                    " cannot be read back through the loaded KX4701DLL.DLL: "
                    "not verified";
        } else if (!same) {
            error =
                !read ? "the serial defaults could not be read back"
                      : "read back " + IdentityText(back.identity) + ", " + SerialText(afterSerial);
        }
    }
    timing["check"] = MillisecondsSince(phase);
    if (!same) {
        ++mismatched_;
        progress(record.displayPath, serialText, "mismatch");
        finish(std::move(entry), timing, "mismatch", "written, but " + error);
        return;
    }
    ++done_;
    if (unverified.any()) {
        // Acknowledged, and confirmed as far as the library reads: never told as confirmed.
        ++unverified_;
        entry["unverified"] = unverified.names();
        progress(record.displayPath, serialText, "done, " + unverified.text() + " not verified");
        finish(std::move(entry), timing, "unverified", "");
        return;
    }
    progress(record.displayPath, serialText, "done");
    finish(std::move(entry), timing, "done", "");
}

int ProvisionRun::execute() {
    std::string error;
    int code = EXIT_DONE;
    if (!open(error, code)) {
        return FailCommand(o_, "provision", code, error + "; nothing was written");
    }
    WakeSink sink;
    bool registered = false;
    if (options_.watch) {
        Guid guid{};
        if (devices_.library.KX4701GetHidGuid(&guid) == 0) {
            return FailCommand(o_, "provision", EXIT_FAILED,
                               "cannot watch for chips being plugged: the library did not tell "
                               "the chips' device class (" +
                                   DescribeLastError(GetLastError()) + "); nothing was written");
        }
        const DEV_BROADCAST_DEVICEINTERFACE_A filter = DeviceInterfaceFilter(guid);
        registered = devices_.notifications->registerDeviceNotification(
            &sink, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!registered) {
            return FailCommand(o_, "provision", EXIT_FAILED,
                               "cannot watch for chips being plugged; nothing was written");
        }
    }
    scan();
    while (options_.watch && fatal_.empty() && !enough() && devices_.wait(RESCAN_INTERVAL)) {
        scan();
    }
    if (registered) {
        devices_.notifications->unregister(&sink);
    }
    counter_->close();
    const std::uint64_t next = counter_->next();
    if (!fatal_.empty()) {
        o_.err << "kx4701: " << fatal_ << "\n";
    }
    code = !fatal_.empty() || failed_ > 0 ? EXIT_FAILED
           : mismatched_ > 0              ? EXIT_MISMATCH
                                          : EXIT_DONE;
    if (o_.json) {
        Json doc = DocumentHead("provision", code,
                                code == EXIT_DONE ? std::string()
                                : fatal_.empty()  ? firstFailure_
                                                  : fatal_);
        doc["dry_run"] = options_.dryRun;
        doc["state"] = counter_->statePath();
        doc["next"] = next;
        doc["done"] = done_;
        doc["unverified"] = unverified_;
        doc["skipped"] = skipped_;
        doc["failed"] = failed_ + mismatched_;
        doc["chips"] = chips_;
        o_.out << doc.dump(2) << "\n";
    } else {
        o_.out << "provision: " << done_ << " done"
               << (unverified_ > 0 ? " (" + std::to_string(unverified_) + " not all verified)" : "")
               << ", " << skipped_ << " skipped, " << failed_ + mismatched_
               << " failed; next number " << next << (options_.dryRun ? " after these; " : " in ")
               << counter_->statePath() << (options_.dryRun ? " is unchanged (dry run)" : "")
               << "\n";
    }
    return code;
}

}  // namespace

int ProvisionCommand(Devices& devices, const ProvisionOptions& options, Output& o) {
    std::string error;
    const std::optional<std::string> text = ReadWholeFile(options.profile, error);
    if (!text) {
        return FailCommand(o, "provision", EXIT_USAGE,
                           "cannot read the profile " +
                               (error.empty() ? options.profile + ": no such file" : error) +
                               "; nothing was written");
    }
    std::vector<std::string> errors;
    std::optional<Profile> profile = ParseProfile(*text, options.profile, errors);
    if (!profile) {
        for (const std::string& e : errors) {
            o.err << "kx4701: " << e << "\n";
        }
        return FailCommand(o, "provision", EXIT_USAGE,
                           options.profile + " has " + std::to_string(errors.size()) +
                               (errors.size() == 1 ? " error" : " errors") +
                               "; nothing was written");
    }
    if (devices.extension == nullptr && profile->serialDefaults.any() &&
        !profile->serialDefaults.complete()) {
        return FailCommand(o, "provision", EXIT_UNSUPPORTED,
                           "the loaded KX4701DLL.DLL cannot read a chip's serial defaults, so "
                           "none can be kept: the profile's [serial] must give all four; "
                           "nothing was written");
    }
    if (options.watch && (!devices.wait || devices.notifications == nullptr)) {
        return FailCommand(o, "provision", EXIT_UNSUPPORTED,
                           "--watch needs a hot-plug source, which this build lacks; nothing "
                           "was written");
    }
    ProvisionRun run(devices, options, o, std::move(*profile));
    return run.execute();
}

}  // namespace kx::cli
