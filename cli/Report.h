#pragma once
// How the command-line tool shows devices, identities and serial defaults: as short text
// lines and as the JSON fields of its documented schema (cli/kx4701.1.scd). Pure.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

#include "cli/Devices.h"
#include "config/SerialDefaults.h"
#include "config/StatusTexts.h"

namespace kx::cli {

using Json = nlohmann::ordered_json;

// Upper-case hexadecimal: two digits, four digits ("3C5B").
// Now, as "2026-12-07T23:59:01Z": the log's and the records' time.
[[nodiscard]] std::string UtcTimestamp();

[[nodiscard]] std::string Hex2(std::uint8_t value);
// Four digits: the dialog's spelling of ids, config's.
[[nodiscard]] inline std::string Hex4(std::uint16_t value) {
    return status::FormatHex4(value);
}
// CP936 bytes as "4B 58 2D".
[[nodiscard]] std::string Cp936Hex(const std::string& cp936);
// A firmware version 0x0100 as "1.00".
[[nodiscard]] std::string Version(std::uint16_t firmware);
// A CP936 text in UTF-8 between double quotes.
[[nodiscard]] std::string Quoted(const std::string& cp936);
// "115200 8N1 (codes 0D 04 01 04 30)".
[[nodiscard]] std::string SerialText(const SerialDefaults& s);
// VID PID "manufacturer" / "product" / "serial".
[[nodiscard]] std::string IdentityText(const StoredIdentity& id);

// The version of the documented JSON schema, in the head of every document.
inline constexpr int JSON_SCHEMA = 1;
// A document's head: schema, command, ok (`code` 0), exit_code, and `error` when not empty.
[[nodiscard]] Json DocumentHead(const std::string& command, int code, const std::string& error);

[[nodiscard]] Json ReportedJson(const DeviceRecord& r);
[[nodiscard]] Json SerialJson(const SerialDefaults& s);
// bMaxPower is null when `verified` lacks it (read through the maker's fourteen functions).
[[nodiscard]] Json IdentityJson(const StoredIdentity& id, unsigned verified = ALL_IDENTITY_FIELDS);

}  // namespace kx::cli
