#include "cli/Provision.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "cli/DurableFile.h"
#include "cli/LiveView.h"
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

// One chip in flight: how the run names it, and the key it is followed by (its port where
// the host knows it, else its new serial once it has one) while no scan may take it.
struct InFlight {
    DeviceRecord record;
    std::string name;  // the port, else the path
    std::string key;   // "port:1-1.3", "serial:PF-00017", or empty
    std::optional<std::uint64_t> number;
    std::string serial;  // UTF-8
    double started = 0;
};

class ProvisionRun {
  public:
    ProvisionRun(Devices& devices, const ProvisionOptions& options, Output& o, Profile profile)
        : devices_(devices),
          options_(options),
          o_(o),
          profile_(std::move(profile)),
          view_(devices.terminal) {}

    int execute();

  private:
    bool open(std::string& error, int& code);
    // Puts the chips no pipeline has taken yet into the queue.
    void scan();
    // Takes chips from the queue and provisions each: a worker until the run stops, or the
    // run's own thread (--jobs 1) until the queue is empty.
    void work(bool untilEmpty);
    void provision(InFlight& chip);
    bool take(std::uint64_t& number);
    // Logs `entry` with its result; `timing` (the phases so far) joins it in the run's JSON
    // document only, with the log's own time.
    void finish(InFlight& chip, Json entry, Json timing, Phase result, const std::string& error);
    void phase(InFlight& chip, Phase phase, const std::string& error = {});
    void release(InFlight& chip);
    // What a path's device is followed by: its port, else the serial it reports.
    std::string keyOf(const std::string& path);
    std::string portKey(const std::string& path) const;
    // Whether another chip may start (under mutex_): --count counts the chips in flight as
    // done, and takes the next when one of them fails; none after Ctrl-C.
    bool mayStart() const {
        return !stopping_ && fatal_.empty() && !(devices_.stopped && devices_.stopped()) &&
               (options_.count < 0 || done_ + inFlight_ < options_.count);
    }
    double seconds() const {
        return std::chrono::duration<double>(Clock::now() - started_).count();
    }
    void print(const std::string& text);  // under mutex_

    Devices& devices_;
    const ProvisionOptions& options_;
    Output& o_;
    Profile profile_;
    CounterOptions counting_;
    std::unique_ptr<Counter> counter_;
    std::unique_ptr<AppendOnlyFile> log_;
    const Clock::time_point started_ = Clock::now();

    // Everything below is shared by the pipelines, under mutex_; the chips' reports and
    // waits are not.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<InFlight> queue_;
    std::int64_t inFlight_ = 0;
    bool stopping_ = false;
    // The chips dealt with while they stay plugged, by path and reported serial (a path
    // freed by one chip may be given to the next one plugged).
    std::set<std::pair<std::string, std::string>> handled_;
    std::set<std::string> claimed_;  // the keys of the chips in flight
    std::set<std::string> written_;  // serials this run wrote: such a chip is its own, back
    std::int64_t done_ = 0, skipped_ = 0, failed_ = 0, mismatched_ = 0;
    std::int64_t unverified_ = 0;  // of done_: acknowledged, not all read back
    std::string fatal_;
    std::string firstFailure_;  // the first chip's failure, as its line said it
    Json chips_ = Json::array();
    LiveView view_;
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
    const std::lock_guard lock(mutex_);
    if (!fatal_.empty()) {
        return false;
    }
    std::string error;  // a dry run's counter takes in memory only
    if (!counter_->take(number, error)) {
        fatal_ = error;
        return false;
    }
    return true;
}

void ProvisionRun::print(const std::string& text) {
    if (!text.empty()) {
        o_.out << text << std::flush;
    }
}

void ProvisionRun::phase(InFlight& chip, Phase p, const std::string& error) {
    const PhaseChange change{
        chip.name, chip.record.displayPath, p, seconds(), chip.number, chip.serial, error};
    const std::lock_guard lock(mutex_);
    if (options_.events) {
        print(EventLine(change) + "\n");
    } else if (!o_.json) {
        print(view_.change(change));
    }
}

void ProvisionRun::release(InFlight& chip) {
    const std::lock_guard lock(mutex_);
    if (!chip.key.empty()) {
        claimed_.erase(chip.key);
    }
}

void ProvisionRun::finish(InFlight& chip, Json entry, Json timing, Phase result,
                          const std::string& error) {
    phase(chip, result, error);
    const std::lock_guard lock(mutex_);
    std::int64_t ignored = 0;  // a dry run's chips count as none of these
    (result == Phase::Done || result == Phase::Unverified ? done_
     : result == Phase::Skipped                           ? skipped_
     : result == Phase::DryRun                            ? ignored
     : result == Phase::Mismatch                          ? mismatched_
                                                          : failed_) += 1;
    unverified_ += result == Phase::Unverified ? 1 : 0;
    entry["result"] = PhaseName(result);
    if (!error.empty() && result != Phase::Unverified) {
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
        // One whole line per chip, in the order the chips end.
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

std::string ProvisionRun::portKey(const std::string& path) const {
    const std::string port = devices_.portOf ? devices_.portOf(path) : std::string();
    return port.empty() ? port : "port:" + port;
}

std::string ProvisionRun::keyOf(const std::string& path) {
    std::string key = portKey(path);
    if (key.empty()) {
        std::string ignored;
        if (auto d = DeviceSession::Open(devices_, path, ignored)) {
            const std::string serial = d->readReportedSerial();
            key = serial.empty() ? key : "serial:" + serial;
        }
    }
    return key;
}

void ProvisionRun::scan() {
    std::vector<DeviceRecord> inventory = TakeInventory(devices_);
    const std::lock_guard lock(mutex_);
    std::set<std::string> present;
    for (const DeviceRecord& r : inventory) {
        present.insert(r.path);
    }
    std::erase_if(handled_, [&](const auto& h) { return !present.contains(h.first); });
    for (DeviceRecord& r : inventory) {
        // A chip in flight that came back at a new path is its pipeline's, found by its
        // port or its new serial; never by the factory serial every fresh chip carries.
        std::string key = portKey(r.path);
        const bool inFlight = claimed_.contains(key.empty() ? "serial:" + r.serial : key) ||
                              (devices_.portOf == nullptr &&
                               written_.contains(text::Utf8ToAnsi(r.serial).value_or("")));
        // Without our extension every device the library opens may be a chip: its own result
        // for the write decides.
        if (r.chipIndex < 0 || inFlight || !handled_.emplace(r.path, r.serial).second) {
            continue;
        }
        if (!key.empty()) {
            claimed_.insert(key);
        }
        std::string name = key.empty() ? r.displayPath : key.substr(5);
        queue_.push_back(InFlight{std::move(r), std::move(name), std::move(key), {}, {}, 0});
    }
    changed_.notify_all();
}

void ProvisionRun::work(bool untilEmpty) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!untilEmpty) {
            changed_.wait(lock, [&] { return stopping_ || (!queue_.empty() && mayStart()); });
        }
        if (queue_.empty() || !mayStart()) {
            return;
        }
        InFlight chip = std::move(queue_.front());
        queue_.pop_front();
        ++inFlight_;
        lock.unlock();
        chip.started = seconds();
        provision(chip);
        release(chip);
        lock.lock();
        --inFlight_;
        changed_.notify_all();
    }
}

void ProvisionRun::provision(InFlight& chip) {
    const DeviceRecord& record = chip.record;
    DeviceSession& device = *record.device;
    Json entry;
    entry["time"] = UtcTimestamp();
    entry["path"] = record.displayPath;
    entry["number"] = nullptr;
    Json timing = Json::object();
    Clock::time_point phaseStart = Clock::now();

    phase(chip, Phase::Reading);
    IdentityReadBack held;
    SerialDefaults beforeSerial{};
    // Without our extension the serial defaults cannot be read: the profile then gives all
    // four or none (ProvisionCommand).
    if (!device.readHeld(held) || (device.canReadStored() && !device.readSerial(beforeSerial))) {
        finish(chip, std::move(entry), Json::object(), Phase::Failed,
               device.error() + "; nothing was written");
        return;
    }
    const StoredIdentity& before = held.identity;
    {
        const std::lock_guard lock(mutex_);
        if (written_.contains(before.serial)) {
            return;  // a chip of this run, enumerated again after its write
        }
    }
    entry["before"] = {
        {"identity", IdentityJson(before, held.verified)},
        {"serial", device.canReadStored() ? SerialJson(beforeSerial) : Json(nullptr)}};
    if (profile_.serial.matches(before.serial) && !options_.rewrite) {
        chip.serial = text::AnsiToUtf8(before.serial);
        entry["serial"] = chip.serial;
        entry["reason"] = "already carries a serial of this profile (--rewrite writes it again)";
        finish(chip, std::move(entry), Json::object(), Phase::Skipped, "");
        return;
    }
    const SerialDefaults serialTarget = profile_.serialDefaults.appliedTo(beforeSerial);
    StoredIdentity target = profile_.identity.appliedTo(before);
    target.serial = profile_.serial.format(
        counter_->next());  // its shape, for the check; the number comes below
    if (std::string bad; !WritableIdentity(target, bad)) {
        finish(chip, std::move(entry), Json::object(), Phase::Failed,
               "the chip reports " + bad + "; the profile must give it; nothing was written");
        return;
    }
    timing["read"] = MillisecondsSince(phaseStart);

    phaseStart = Clock::now();
    std::uint64_t number = 0;
    if (!take(number)) {
        return;
    }
    timing["number"] = MillisecondsSince(phaseStart);
    target.serial = profile_.serial.format(number);
    chip.number = number;
    chip.serial = text::AnsiToUtf8(target.serial);
    {
        const std::lock_guard lock(mutex_);
        written_.insert(target.serial);
        if (chip.key.empty()) {
            // No port to follow it by: its new serial is its own, no other chip has it.
            chip.key = "serial:" + chip.serial;
            claimed_.insert(chip.key);
        }
    }
    entry["number"] = number;
    entry["serial"] = chip.serial;
    entry["serial_defaults"] = SerialJson(serialTarget);
    entry["identity"] = IdentityJson(target);
    phase(chip, Phase::Numbered);
    if (options_.dryRun) {
        finish(chip, std::move(entry), timing, Phase::DryRun, "");
        return;
    }

    phaseStart = Clock::now();
    phase(chip, Phase::Writing);
    // The node the chip is at before its write (which may make it leave).
    const std::string left = devices_.nodeOf ? devices_.nodeOf(record.path) : std::string();
    const bool serialWritten = !profile_.serialDefaults.any() || device.writeSerial(serialTarget);
    if (!serialWritten || !device.writeIdentity(target)) {
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
        finish(chip, std::move(entry), timing, Phase::Failed,
               device.error() + "; number " + std::to_string(number) + " is burned");
        return;
    }
    timing["write"] = MillisecondsSince(phaseStart);

    phaseStart = Clock::now();
    phase(chip, Phase::Waiting);
    IdentityReadBack back;
    SerialDefaults afterSerial{};
    std::string error;
    ChipReturn how;
    const std::string key = chip.key;
    // Asked afresh at every look: a path one chip left may already be another's. The node the
    // chip left is never taken for it: until the system has removed it, it may still answer
    // (USB/IP sends its requests to whatever is on the port now) and then vanish.
    how.mayBeAt = [this, key, left](const std::string& path) {
        return keyOf(path) == key && (left.empty() || devices_.nodeOf(path) != left);
    };
    how.wait = devices_.reappearWait;
    how.poll = devices_.reappearPoll;
    how.leaves = key.starts_with("port:") && target != before;
    bool same = device.followIdentity(target, how, back);
    const Unverified unverified{(back.verified & FIELD_MAX_POWER) == 0,
                                profile_.serialDefaults.any() && !device.canReadStored()};
    if (!same) {
        error = device.error();
    } else {
        phase(chip, Phase::Checking);
        {
            const std::lock_guard lock(mutex_);
            handled_.emplace(back.path, text::AnsiToUtf8(back.identity.serial));
        }
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
            error = unverified.notVerified();
        } else if (!same) {
            error =
                !read ? "the serial defaults could not be read back (" + device.error() + ")"
                      : "read back " + IdentityText(back.identity) + ", " + SerialText(afterSerial);
        }
    }
    timing["check"] = MillisecondsSince(phaseStart);
    if (!same) {
        finish(chip, std::move(entry), timing, Phase::Mismatch, "written, but " + error);
        return;
    }
    if (unverified.any()) {
        // Acknowledged, and confirmed as far as the library reads: never told as confirmed.
        entry["unverified"] = unverified.names();
        finish(chip, std::move(entry), timing, Phase::Unverified,
               unverified.text() + " not verified");
        return;
    }
    finish(chip, std::move(entry), timing, Phase::Done, "");
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
    // --jobs 1 is one chip after another on this thread, as each scan finds them.
    std::vector<std::thread> workers;
    for (int i = 0; options_.jobs > 1 && i < options_.jobs; ++i) {
        workers.emplace_back([this] { work(false); });
    }
    const auto scanned = [&] {
        scan();
        if (workers.empty()) {
            work(true);
        }
    };
    const auto idle = [&] { return inFlight_ == 0 && (queue_.empty() || !mayStart()); };
    const auto stopped = [&] {
        const std::lock_guard lock(mutex_);
        return !fatal_.empty() || (options_.count >= 0 && done_ >= options_.count);
    };
    const auto tick = [&] {  // under mutex_
        if (!options_.events && !o_.json) {
            print(view_.tick(seconds()));
        }
    };
    scanned();
    if (options_.watch) {
        while (!stopped() && devices_.wait(RESCAN_INTERVAL)) {
            scanned();
            const std::lock_guard lock(mutex_);
            tick();
        }
    } else {
        std::unique_lock lock(mutex_);
        while (!changed_.wait_for(lock, RESCAN_INTERVAL, idle)) {
            tick();
        }
    }
    {
        // Ctrl-C, --count or a fatal error: the chips in hand end properly, no new one starts.
        std::unique_lock lock(mutex_);
        queue_.clear();
        stopping_ = true;
        changed_.notify_all();
    }
    for (std::thread& w : workers) {
        w.join();
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
        doc["seconds"] = seconds();
        doc["chips"] = chips_;
        o_.out << doc.dump(2) << "\n";
    } else if (!options_.events) {
        if (done_ + skipped_ + failed_ + mismatched_ > 0) {
            print(view_.finish(seconds()));
        }
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
