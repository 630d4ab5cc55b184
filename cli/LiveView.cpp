#include "cli/LiveView.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace kx::cli {
namespace {

// Up one line and clear it, the terminal's way.
constexpr const char* LINE_UP_AND_CLEAR = "\x1b[1A\x1b[2K";

std::string Fixed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Line(const PhaseChange& c, double seconds) {
    return c.chip + "  " + (c.serial.empty() ? "-" : c.serial) + "  " + PhaseName(c.phase) + "  " +
           Fixed(seconds) + " s" + (c.error.empty() ? "" : ": " + c.error);
}

std::string TotalsText(const Totals& t, double seconds) {
    return std::to_string(t.done) + " done, " + std::to_string(t.skipped) + " skipped, " +
           std::to_string(t.failed) + " failed in " + Fixed(seconds) + " s, " +
           Fixed(ChipsPerMinute(t.done, seconds)) + " chips per minute";
}

}  // namespace

const char* PhaseName(Phase phase) {
    switch (phase) {
        case Phase::Reading:
            return "reading";
        case Phase::Numbered:
            return "numbered";
        case Phase::Writing:
            return "writing";
        case Phase::Waiting:
            return "waiting";
        case Phase::Checking:
            return "checking";
        case Phase::Done:
            return "done";
        case Phase::Unverified:
            return "unverified";
        case Phase::Skipped:
            return "skipped";
        case Phase::DryRun:
            return "dry-run";
        case Phase::Failed:
            return "failed";
        case Phase::Mismatch:
            return "mismatch";
    }
    return "?";
}

std::string EventLine(const PhaseChange& c) {
    nlohmann::ordered_json j;
    j["event"] = "phase";
    // To the millisecond, by hand: std::round was kx4701's only use of libm, which then had to
    // be loaded at every start.
    j["t"] = static_cast<double>(static_cast<long long>(c.seconds * 1000 + 0.5)) / 1000;
    j["chip"] = c.chip;
    j["path"] = c.path;
    j["phase"] = PhaseName(c.phase);
    j["number"] = c.number ? nlohmann::ordered_json(*c.number) : nlohmann::ordered_json(nullptr);
    j["serial"] = c.serial;
    if (c.phase == Phase::Failed || c.phase == Phase::Mismatch) {
        j["error"] = c.error;
    }
    return j.dump();
}

double ChipsPerMinute(std::int64_t done, double seconds) {
    return seconds > 0 ? static_cast<double>(done) * 60 / seconds : 0;
}

std::string LiveView::change(const PhaseChange& c) {
    auto row = std::find_if(rows_.begin(), rows_.end(),
                            [&](const Row& r) { return r.last.chip == c.chip; });
    if (row == rows_.end()) {
        row = rows_.insert(rows_.end(), Row{c, c.seconds});
    }
    row->last = c;
    if (!Ends(c.phase)) {
        return tick(c.seconds);
    }
    ++ended_;
    if (c.phase != Phase::DryRun) {
        (c.phase == Phase::Done || c.phase == Phase::Unverified ? totals_.done
         : c.phase == Phase::Skipped                            ? totals_.skipped
                                                                : totals_.failed) += 1;
    }
    const std::string line =
        "provision: [" + std::to_string(ended_) + "] " + Line(c, c.seconds - row->started) + "\n";
    rows_.erase(row);
    if (!terminal_) {
        return line;
    }
    std::string out = erase();
    return out + line + draw(c.seconds);
}

std::string LiveView::tick(double seconds) {
    if (!terminal_) {
        return "";
    }
    std::string out = erase();
    return out + draw(seconds);
}

std::string LiveView::finish(double seconds) {
    return erase() + "provision: " + TotalsText(totals_, seconds) + "\n";
}

std::string LiveView::erase() {
    std::string out;
    for (; drawn_ > 0; --drawn_) {
        out += LINE_UP_AND_CLEAR;
    }
    return out;
}

std::string LiveView::draw(double seconds) {
    std::string out;
    for (const Row& r : rows_) {
        out += "  " + Line(r.last, seconds - r.started) + "\n";
    }
    out +=
        "  " + TotalsText(totals_, seconds) + ", " + std::to_string(rows_.size()) + " in flight\n";
    drawn_ = rows_.size() + 1;
    return out;
}

}  // namespace kx::cli
