#pragma once
// The values a user gives the command-line tool (options, profile entries), checked before
// any device is looked up, with the dialog's own rules and tables: config/IdentityRules.h
// and config/SerialDefaults.h. Pure; every failure comes back as one English line that says
// what was wrong and what is allowed (the caller adds where the value came from).

#include <cstdint>
#include <string>
#include <string_view>

#include "config/IdentityRules.h"
#include "config/SerialDefaults.h"

namespace kx::cli {

// A VID or PID: four hexadecimal digits, with an optional 0x in front. Stricter than the
// dialog, which reads any byte that is not a digit as 0: on a command line that is a typo.
[[nodiscard]] bool ParseIdValue(std::string_view text, std::uint16_t& value, std::string& error);

// A manufacturer, product or serial text, given in UTF-8: converted to CP936 (a character
// CP936 cannot hold is refused, never replaced) and held to 1..30 bytes.
[[nodiscard]] bool ParseIdentityText(IdentityItem item, std::string_view utf8, std::string& cp936,
                                     std::string& error);

// One row of a serial-parameter list by its plain name ("115200", "even", "7", "2").
[[nodiscard]] const CodeEntry* ParseSerialValue(ParameterList list, std::string_view name,
                                                std::string& error);

// Serial defaults to write: a null entry keeps the value the chip has (set-serial's options,
// a profile's [serial] section).
struct SerialChange {
    const CodeEntry* baud = nullptr;
    const CodeEntry* parity = nullptr;
    const CodeEntry* dataBits = nullptr;
    const CodeEntry* stopBits = nullptr;
    [[nodiscard]] bool complete() const { return baud && parity && dataBits && stopBits; }
    [[nodiscard]] bool any() const { return baud || parity || dataBits || stopBits; }
    // `base` with the given entries applied.
    [[nodiscard]] SerialDefaults appliedTo(SerialDefaults base) const;
};

}  // namespace kx::cli
