#include "cli/counter/StateFile.h"

namespace kx::cli {
namespace {

constexpr std::string_view STATE_HEADER =
    "# kx4701 provision state: the next serial number to take. Never lower it.\n";

std::optional<std::uint64_t> Number(std::string_view digits) {
    std::uint64_t value = 0;
    if (digits.empty()) {
        return std::nullopt;
    }
    for (const char c : digits) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (c < '0' || c > '9' || value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

// "KEY A B" after `key`'s prefix has been taken off: the range.
std::optional<NumberRange> Range(std::string_view rest) {
    const auto space = rest.find(' ');
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    const auto first = Number(rest.substr(0, space)), end = Number(rest.substr(space + 1));
    if (!first || !end || *end <= *first) {
        return std::nullopt;
    }
    return NumberRange{*first, *end};
}

}  // namespace

std::string StateText(const CounterState& state) {
    std::string text = std::string(STATE_HEADER) + "next " + std::to_string(state.next) + "\n";
    for (const auto& [key, range] :
         {std::pair{"lease ", state.lease}, {"pending ", state.pending}}) {
        if (range) {
            text += key + std::to_string(range->first) + " " + std::to_string(range->end) + "\n";
        }
    }
    return text;
}

std::optional<CounterState> ParseState(std::string_view text) {
    if (!text.starts_with(STATE_HEADER) || !text.ends_with("\n")) {
        return std::nullopt;
    }
    text.remove_prefix(STATE_HEADER.size());
    CounterState state;
    int line = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view l = text.substr(0, end);
        text.remove_prefix(end + 1);
        // In this order, each once: next, then maybe lease, then maybe pending.
        if (line == 0 && l.starts_with("next ")) {
            const auto next = Number(l.substr(5));
            if (!next) {
                return std::nullopt;
            }
            state.next = *next;
            line = 1;
        } else if (line == 1 && l.starts_with("lease ") && (state.lease = Range(l.substr(6)))) {
            line = 2;
        } else if (line >= 1 && line < 3 && l.starts_with("pending ") &&
                   (state.pending = Range(l.substr(8)))) {
            line = 3;
        } else {
            return std::nullopt;
        }
    }
    if (line == 0) {
        return std::nullopt;
    }
    return state;
}

}  // namespace kx::cli
