#pragma once
// What `kx4701 provision` shows while chips are in flight, as text to write: on a terminal
// one line per chip in flight, redrawn in place, with the totals and the rate under them;
// otherwise one plain line per chip as it ends. And the `--events` lines: one JSON object
// per phase change per chip. Pure: it is handed the changes and the time, and returns text.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kx::cli {

// A chip's way through provisioning, in order; the last five end it (a dry run's chips end
// numbered, as "dry-run").
enum class Phase {
    Reading,
    Numbered,
    Writing,
    Waiting,
    Checking,
    Done,
    Unverified,  // done, and not all of it read back (the maker's library)
    Skipped,
    DryRun,
    Failed,
    Mismatch
};

// "reading", "numbered", "writing", "waiting", "checking", "done", "unverified", "skipped",
// "dry-run", "failed", "mismatch": the names of --events and of the log's "result".
[[nodiscard]] const char* PhaseName(Phase phase);
[[nodiscard]] inline bool Ends(Phase phase) {
    return phase >= Phase::Done;
}

// One chip entering a phase. `chip` names it while it is in flight (its port where the host
// knows it, else its path); texts are UTF-8.
struct PhaseChange {
    std::string chip;
    std::string path;
    Phase phase = Phase::Reading;
    double seconds = 0;  // since the run began
    std::optional<std::uint64_t> number;
    std::string serial;  // the one it gets, once it has a number; else the one it carries
    std::string error;   // why it failed, for Failed and Mismatch
};

// The --events line for `change` (no newline):
// {"event":"phase","t":1.234,"chip":"1-1.3","path":"/dev/hidraw3","phase":"writing",
//  "number":17,"serial":"PF-00017"} with "number" null before one is taken and "error" only
// for failed and mismatch.
[[nodiscard]] std::string EventLine(const PhaseChange& change);

struct Totals {
    std::int64_t done = 0, skipped = 0, failed = 0;
};

// The rate of `done` chips over `seconds`, in chips per minute (0 before any time passed).
[[nodiscard]] double ChipsPerMinute(std::int64_t done, double seconds);

class LiveView {
  public:
    explicit LiveView(bool terminal) : terminal_(terminal) {}

    // The text for one change: on a terminal the block redrawn (a chip that ended leaves
    // its last line above it); otherwise a line for a chip that ended, else nothing.
    [[nodiscard]] std::string change(const PhaseChange& change);
    // The block redrawn with the seconds at `seconds` (a terminal only; else nothing).
    [[nodiscard]] std::string tick(double seconds);
    // The block taken away, and the totals line: "provision: 3 done, 0 skipped, 1 failed in
    // 12.5 s, 14.4 chips per minute".
    [[nodiscard]] std::string finish(double seconds);

  private:
    struct Row {
        PhaseChange last;
        double started = 0;
    };
    std::string erase();               // the block on the screen, taken away
    std::string draw(double seconds);  // the block, below the cursor

    bool terminal_;
    std::vector<Row> rows_;  // in flight, in the order they started
    std::size_t drawn_ = 0;  // lines of the block on the screen now
    std::int64_t ended_ = 0;
    Totals totals_;
};

}  // namespace kx::cli
