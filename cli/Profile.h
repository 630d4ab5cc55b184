#pragma once
// A provisioning profile: what every chip of a production run gets (serial defaults,
// identity) and the pattern of the serial number each one gets of its own. Read from TOML
// and checked as a whole before any chip is touched, with the command line's value rules
// (cli/Values.h). The schema is documented in cli/kx4701.1.scd (PROVISIONING).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Devices.h"
#include "cli/Values.h"
#include "config/SerialDefaults.h"

namespace kx::cli {

// A fixed text, a counter of fixed width, a fixed text: "KXB-{counter:06}" is the prefix
// "KXB-" and six decimal digits; {counter:04X} and {counter:04x} count in hexadecimal.
// Prefix and suffix are CP936.
struct SerialPattern {
    std::string prefix, suffix;
    int width = 0;
    int base = 10;
    bool upper = true;  // hexadecimal digits A-F rather than a-f

    // The serial of `number`, which must be at most maxNumber().
    [[nodiscard]] std::string format(std::uint64_t number) const;
    [[nodiscard]] std::uint64_t maxNumber() const;  // the largest that fits the width
    // Whether `serial` (CP936) is one this pattern makes: prefix, `width` digits, suffix.
    [[nodiscard]] bool matches(std::string_view serial) const;
};

struct Profile {
    SerialChange serialDefaults;
    // Identity (CP936 texts); an empty one keeps the chip's value.
    IdentityChange identity;  // its serial stays empty: each chip's comes from `serial`
    SerialPattern serial;
    std::uint64_t start = 1;  // the first number, when no state file says otherwise
    std::uint64_t step = 1;
    // An ODBC connection string ("DSN=line1" or a driver's): the counter and the record
    // are shared there; empty: the state file alone.
    std::string database;
    // Numbers a station takes from the database at a time. 500: about half an hour of a
    // fast hand-fed station's chips without the server, one round trip per 500 chips, and at
    // most 499 numbers left unused when a station's state file is lost.
    std::uint64_t lease = DEFAULT_LEASE;
    static constexpr std::uint64_t DEFAULT_LEASE = 500;
};

// Parses `toml` (the contents of `file`, for the messages). Returns the profile, or nullopt
// with every error found in `errors`, each "FILE:LINE: KEY: what is wrong and what is
// allowed".
[[nodiscard]] std::optional<Profile> ParseProfile(std::string_view toml, const std::string& file,
                                                  std::vector<std::string>& errors);

}  // namespace kx::cli
