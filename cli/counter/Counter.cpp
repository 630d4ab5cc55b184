#include "cli/counter/Counter.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>

#include "cli/DurableFile.h"
#include "cli/Profile.h"
#include "cli/counter/Records.h"
#include "cli/counter/StateFile.h"
#include "config/TextCodec.h"

namespace kx::cli {
namespace {

using Clock = std::chrono::steady_clock;
// How often a station whose server went away tries it again while chips go on.
constexpr std::chrono::seconds RECONNECT_INTERVAL{1};

// The state file, locked for this process while it lives.
class LocalState {
  public:
    bool open(const std::string& path, bool dryRun, std::string& error) {
        path_ = path;
        dryRun_ = dryRun;
        if (!dryRun) {
            bool held = false;
            lock_ = ExclusiveLock::Acquire(path + ".lock", held, error);
            if (!lock_) {
                if (held) {
                    error = "another kx4701 provision run is using " + path +
                            "; it never shares numbers, so this one does not start";
                }
                return false;
            }
        }
        const std::optional<std::string> text = ReadWholeFile(path, error);
        if (!error.empty()) {
            return false;
        }
        if (text) {
            const std::optional<CounterState> stored = ParseState(*text);
            if (!stored) {
                error = path +
                        " is not a kx4701 state file, and its next number is never guessed at; "
                        "mend it by hand, or name another with --state";
                return false;
            }
            state = *stored;
        }
        return true;
    }
    // On the disk before it counts: after a crash the file holds this or what was before.
    [[nodiscard]] bool save(const CounterState& next, std::string& error) {
        if (!dryRun_ && !ReplaceDurably(path_, StateText(next), error)) {
            return false;
        }
        state = next;
        return true;
    }
    const std::string& path() const { return path_; }

    CounterState state;

  private:
    std::string path_;
    bool dryRun_ = false;
    std::unique_ptr<ExclusiveLock> lock_;
};

std::string PastTheEnd(const Profile& profile) {
    return "the counter has passed " + std::to_string(profile.serial.maxNumber()) +
           ", the largest number the serial pattern holds";
}

class FileCounter final : public Counter {
  public:
    FileCounter(const Profile& profile, std::unique_ptr<LocalState> local)
        : profile_(profile), local_(std::move(local)) {
        // A start raised in the profile only ever skips numbers.
        local_->state.next = std::max(local_->state.next, profile_.start);
    }
    bool take(std::uint64_t& number, std::string& error) override {
        const std::lock_guard hold(mutex_);
        CounterState s = local_->state;
        if (s.next > profile_.serial.maxNumber()) {
            error = PastTheEnd(profile_);
            return false;
        }
        number = s.next;
        s.next += profile_.step;
        // On the disk before the chip sees the number: after a crash it is burned, not reused.
        if (!local_->save(s, error)) {
            error += "; no number was taken";
            return false;
        }
        return true;
    }
    bool record(const Json&, std::string&) override { return true; }  // the log is the record
    std::uint64_t next() const override {
        const std::lock_guard hold(mutex_);
        return local_->state.next;
    }
    std::string statePath() const override { return local_->path(); }

  private:
    const Profile& profile_;
    std::unique_ptr<LocalState> local_;
    mutable std::mutex mutex_;
};

class DatabaseCounter final : public Counter {
  public:
    DatabaseCounter(const CounterOptions& options, const Profile& profile,
                    std::unique_ptr<LocalState> local)
        : options_(options),
          profile_(profile),
          local_(std::move(local)),
          space_(SpaceOf(profile.serial)),
          profileName_(std::filesystem::path(options.profile).filename().string()) {}

    bool open(std::string& error);
    bool take(std::uint64_t& number, std::string& error) override;
    bool record(const Json& entry, std::string& error) override;
    void close() override;
    std::uint64_t next() const override {
        const std::lock_guard hold(mutex_);
        return local_->state.next;
    }
    std::string statePath() const override { return local_->path(); }

  private:
    bool reconnect(std::string& error);
    bool flush(std::string& error);
    std::string lost(const std::string& why) {
        store_.reset();
        return why;
    }

    const CounterOptions& options_;
    const Profile& profile_;
    std::unique_ptr<LocalState> local_;
    const std::string space_, profileName_;
    std::unique_ptr<RecordStore> store_;
    bool backlog_ = true;  // rows in the log may not be on the server yet
    Clock::time_point tried_{};
    mutable std::mutex mutex_;
};

bool DatabaseCounter::reconnect(std::string& error) {
    tried_ = Clock::now();
    store_ = RecordStore::Open(options_.database, error);
    return store_ != nullptr;
}

bool DatabaseCounter::open(std::string& error) {
    if (!reconnect(error)) {
        error = "cannot use the database: " + error;
        return false;
    }
    CounterState s = local_->state;
    odbc::Error e;
    std::optional<LeaseRow> row;
    const auto ours = [&](const NumberRange& r) {
        return store_->findLease(space_, static_cast<std::int64_t>(r.first), row, e) && row &&
               row->station == options_.station && row->end == static_cast<std::int64_t>(r.end);
    };
    // A lease being taken when the station stopped: granted or not, the server knows.
    if (s.pending) {
        if (ours(*s.pending)) {
            s.lease = s.pending;
            s.next = s.pending->first;
        }
        s.pending.reset();
    }
    // The server decides whose a lease is: a copied state file's lease stays its owner's.
    if (s.lease && !ours(*s.lease)) {
        s.lease.reset();
    } else if (s.lease) {
        std::optional<std::int64_t> highest;
        if (!store_->highest(space_, *s.lease, highest, e)) {
            error = "cannot use the database: " + e.message;
            return false;
        }
        // Never below a number this station already recorded or said it reached.
        s.next =
            std::max({s.next, s.lease->first, static_cast<std::uint64_t>(row->usedTo.value_or(0)),
                      highest ? static_cast<std::uint64_t>(*highest) + profile_.step : 0});
    }
    if (!e.message.empty()) {
        error = "cannot use the database: " + e.message;
        return false;
    }
    if (!(s == local_->state) && !local_->save(s, error)) {
        return false;
    }
    return flush(error);
}

bool DatabaseCounter::take(std::uint64_t& number, std::string& error) {
    const std::lock_guard hold(mutex_);
    CounterState s = local_->state;
    if (!s.lease || s.next >= s.lease->end) {
        const std::string used = s.lease ? "the lease " + std::to_string(s.lease->first) + ".." +
                                               std::to_string(s.lease->end - 1) + " is used up"
                                         : "this station holds no lease";
        if (!store_ && !reconnect(error)) {
            error = used + " and the database cannot be reached (" + error +
                    "); a number is never made up, so no number was taken";
            return false;
        }
        NumberRange taken;
        const auto reserve = [&](const NumberRange& range) {
            CounterState pending = local_->state;
            pending.pending = range;
            return local_->save(pending, error);
        };
        const std::uint64_t floor = std::max(s.next, profile_.start);
        const auto lease = [&] {
            return store_->takeLease(space_, options_.station, floor, options_.lease, profile_.step,
                                     reserve, taken, error);
        };
        // A link that broke while the server was away is made again once.
        if (!lease() && (!reconnect(error) || !lease())) {
            error = used + " and no new lease could be taken (" + lost(error) +
                    "); no number was taken";
            return false;
        }
        if (s.lease) {
            odbc::Error ignored;  // only a note for reconcile: the whole lease was handed out
            (void)store_->closeLease(space_, static_cast<std::int64_t>(s.lease->first),
                                     static_cast<std::int64_t>(s.lease->end), ignored);
        }
        s = CounterState{taken.first, taken, std::nullopt};
        if (!local_->save(s, error)) {
            error += "; no number was taken";
            return false;
        }
    }
    if (s.next > profile_.serial.maxNumber()) {
        error = PastTheEnd(profile_);
        return false;
    }
    number = s.next;
    s.next += profile_.step;
    if (!local_->save(s, error)) {
        error += "; no number was taken";
        return false;
    }
    return true;
}

bool DatabaseCounter::record(const Json& entry, std::string& error) {
    const std::lock_guard hold(mutex_);
    const std::optional<ChipRow> row = RowOfEntry(entry, space_, profileName_, options_.station);
    if (!row) {
        return true;
    }
    if (store_ && !backlog_) {
        switch (store_->insert(*row, error)) {
            case RecordStore::Sent::New:
            case RecordStore::Sent::Already:
                return true;
            case RecordStore::Sent::Duplicate:
                return false;
            case RecordStore::Sent::Failed:
                (void)lost(error);  // the row is in the log; it goes when the server is back
                error.clear();
                backlog_ = true;
                return true;
        }
    }
    backlog_ = true;
    std::string why;
    if (!store_ && (Clock::now() - tried_ < RECONNECT_INTERVAL || !reconnect(why))) {
        return true;
    }
    return flush(error);
}

// Sends the log's rows from where the last complete sending stopped; each once, since the
// server keeps one row per serial and tells a row sent before from another chip's.
bool DatabaseCounter::flush(std::string& error) {
    const std::string cursorPath = options_.log + ".sent";
    std::string ignored;
    const std::optional<std::string> cursor = ReadWholeFile(cursorPath, ignored);
    const std::optional<std::string> log = ReadWholeFile(options_.log, error);
    if (!error.empty()) {
        return false;
    }
    std::size_t from = 0;
    if (cursor && cursor->starts_with("sent ")) {
        from = static_cast<std::size_t>(std::strtoull(cursor->c_str() + 5, nullptr, 10));
    }
    const std::string text = log.value_or("");
    if (from > text.size()) {
        from = 0;  // another log by the same name: send it all, each row once
    }
    std::size_t at = from;
    for (std::size_t end = text.find('\n', at); end != std::string::npos;
         at = end + 1, end = text.find('\n', at)) {
        const Json entry = Json::parse(text.substr(at, end - at), nullptr, false);
        std::optional<ChipRow> row;
        if (!entry.is_discarded() && entry.is_object() && entry.contains("serial") &&
            entry["serial"].is_string()) {
            const auto cp936 = text::Utf8ToAnsi(entry["serial"].get<std::string>());
            if (cp936 && profile_.serial.matches(*cp936)) {
                row = RowOfEntry(entry, space_, profileName_, options_.station);
            }
        }
        if (!row) {
            continue;
        }
        switch (store_->insert(*row, error)) {
            case RecordStore::Sent::New:
            case RecordStore::Sent::Already:
                break;
            case RecordStore::Sent::Duplicate:
                return false;
            case RecordStore::Sent::Failed:
                (void)lost(error);
                error.clear();
                return true;
        }
    }
    backlog_ = false;
    std::string failure;
    if (at != from && !ReplaceDurably(cursorPath, "sent " + std::to_string(at) + "\n", failure)) {
        backlog_ = true;  // sent all the same; they go again, as rows sent before
    }
    return true;
}

void DatabaseCounter::close() {
    const std::lock_guard hold(mutex_);
    std::string error;
    if (!store_ && !reconnect(error)) {
        return;  // the rows go with the next run that reaches the server
    }
    if (backlog_ && (!flush(error) || backlog_)) {
        return;
    }
    const CounterState& s = local_->state;
    if (store_ && s.lease) {
        odbc::Error ignored;  // only a note for reconcile
        (void)store_->closeLease(space_, static_cast<std::int64_t>(s.lease->first),
                                 static_cast<std::int64_t>(s.next), ignored);
    }
    const std::optional<std::string> log = ReadWholeFile(options_.log, error);
    if (log && !log->empty()) {
        (void)ReplaceDurably(options_.log + ".sent", "sent " + std::to_string(log->size()) + "\n",
                             error);  // a row sent again is known as sent
    }
}

}  // namespace

std::string SpaceOf(const SerialPattern& pattern) {
    return text::AnsiToUtf8(pattern.prefix) + "{counter:0" + std::to_string(pattern.width) +
           (pattern.base == 16 ? (pattern.upper ? "X" : "x") : "") + "}" +
           text::AnsiToUtf8(pattern.suffix);
}

std::unique_ptr<Counter> OpenCounter(const CounterOptions& options, const Profile& profile,
                                     std::string& error) {
    auto local = std::make_unique<LocalState>();
    if (!local->open(options.state, options.dryRun, error)) {
        return nullptr;
    }
    // A dry run reaches no server: it shows the numbers the state file would give.
    if (options.database.empty() || options.dryRun) {
        if (!options.dryRun && (local->state.lease || local->state.pending)) {
            error = options.state +
                    " holds a lease of numbers from a database, whose other numbers are other "
                    "stations'; name that database again ([counter] database or --database), or "
                    "another state file with --state";
            return nullptr;
        }
        return std::make_unique<FileCounter>(profile, std::move(local));
    }
    auto counter = std::make_unique<DatabaseCounter>(options, profile, std::move(local));
    if (!counter->open(error)) {
        return nullptr;
    }
    return counter;
}

}  // namespace kx::cli
