#include "cli/Report.h"

#include <chrono>
#include <cstdio>

#include "config/TextCodec.h"

namespace kx::cli {

std::string UtcTimestamp() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const year_month_day date{floor<days>(now)};
    const hh_mm_ss time{now - floor<days>(now)};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::string Hex2(std::uint8_t value) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", static_cast<unsigned>(value));
    return b;
}

std::string Cp936Hex(const std::string& cp936) {
    std::string out;
    for (const char c : cp936) {
        if (!out.empty()) {
            out += ' ';
        }
        out += Hex2(static_cast<std::uint8_t>(c));
    }
    return out;
}

std::string Version(std::uint16_t firmware) {
    char b[8];
    std::snprintf(b, sizeof b, "%u.%02X", static_cast<unsigned>(firmware >> 8),
                  static_cast<unsigned>(firmware & 0xFF));
    return b;
}

namespace {

Json KindJson(ChipKind kind) {
    return kind == ChipKind::Unknown ? Json(nullptr) : Json(kind == ChipKind::Chip);
}

Json TextJson(const std::string& cp936) {
    return {{"text", text::AnsiToUtf8(cp936)}, {"cp936", Cp936Hex(cp936)}};
}

}  // namespace

Json DocumentHead(const std::string& command, int code, const std::string& error) {
    Json head;
    head["schema"] = JSON_SCHEMA;
    head["command"] = command;
    head["ok"] = code == 0;
    head["exit_code"] = code;
    if (!error.empty()) {
        head["error"] = error;
    }
    return head;
}

Json ReportedJson(const DeviceRecord& r) {
    Json j;
    j["index"] = r.chipIndex >= 0 ? Json(r.chipIndex) : Json(nullptr);
    j["path"] = r.displayPath;
    j["opened"] = r.opened;
    j["vid"] = Hex4(r.vid);
    j["pid"] = Hex4(r.pid);
    j["version"] = Hex4(r.version);
    j["manufacturer"] = r.manufacturer;
    j["product"] = r.product;
    j["serial"] = r.serial;
    j["kx4701"] = KindJson(r.kind);
    j["firmware"] = r.firmware ? Json(Version(*r.firmware)) : Json(nullptr);
    return j;
}

Json SerialJson(const SerialDefaults& s) {
    const auto name = [](ParameterList list, std::uint8_t code) -> Json {
        const CodeEntry* e = FindEntryByCode(list, code);
        return e == nullptr ? Json(nullptr) : Json(e->name);
    };
    Json j;
    j["text"] = DescribeSerialDefaults(s);
    j["baud"] = name(ParameterList::Baud, s.baudCode);
    j["data_bits"] = name(ParameterList::DataBits, s.dataBitsCode);
    j["parity"] = name(ParameterList::Parity, s.parityCode);
    j["stop_bits"] = name(ParameterList::StopBits, s.stopBitsCode);
    j["codes"] = {s.baudCode, s.parityCode, s.stopBitsCode, s.dataBitsCode, s.timingByte};
    return j;
}

Json IdentityJson(const StoredIdentity& id, unsigned verified) {
    Json j;
    j["vid"] = Hex4(id.vid);
    j["pid"] = Hex4(id.pid);
    // null when the library cannot read it (the maker's fourteen functions)
    const bool maxPowerRead = (verified & FIELD_MAX_POWER) != 0;
    j["max_power"] = maxPowerRead ? Json(id.maxPower) : Json(nullptr);
    j["max_power_ma"] = maxPowerRead ? Json(2 * id.maxPower) : Json(nullptr);
    j["manufacturer"] = TextJson(id.manufacturer);
    j["product"] = TextJson(id.product);
    j["serial"] = TextJson(id.serial);
    return j;
}

std::string Quoted(const std::string& cp936) {
    std::string out(1, '"');
    out += text::AnsiToUtf8(cp936);
    out += '"';
    return out;
}

std::string SerialText(const SerialDefaults& s) {
    return DescribeSerialDefaults(s) + " (codes " + Hex2(s.baudCode) + " " + Hex2(s.parityCode) +
           " " + Hex2(s.stopBitsCode) + " " + Hex2(s.dataBitsCode) + " " + Hex2(s.timingByte) + ")";
}

std::string IdentityText(const StoredIdentity& id) {
    return "VID " + Hex4(id.vid) + " PID " + Hex4(id.pid) + " " + Quoted(id.manufacturer) + " / " +
           Quoted(id.product) + " / " + Quoted(id.serial);
}

}  // namespace kx::cli
