#pragma once
// The provisioning state file's text: the next number to take and, for a station that
// takes its numbers from a database, the block of numbers it holds (its lease) and one it
// is taking (pending: asked for, not yet known to be granted). Pure. A file of the older
// form, the next number alone, still reads.
//
//   # kx4701 provision state: the next serial number to take. Never lower it.
//   next 1234
//   lease 1200 1700
//   pending 1700 2200

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx::cli {

// Numbers from `first` up to, not including, `end`.
struct NumberRange {
    std::uint64_t first = 0, end = 0;
    bool operator==(const NumberRange&) const = default;
};

struct CounterState {
    std::uint64_t next = 0;
    std::optional<NumberRange> lease, pending;
    bool operator==(const CounterState&) const = default;
};

[[nodiscard]] std::string StateText(const CounterState& state);
// Nullopt when `text` is no such file (it is never guessed at): a line out of place, a
// number that is not one, a range whose end is not above its first number.
[[nodiscard]] std::optional<CounterState> ParseState(std::string_view text);

}  // namespace kx::cli
