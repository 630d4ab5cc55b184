#include "cli/Profile.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>

#include "cli/Values.h"
#include "config/IdentityRules.h"
#include "config/TextCodec.h"

namespace kx::cli {
namespace {

constexpr int MAX_DECIMAL_WIDTH = 18;  // every number of that many digits fits 64 bits
constexpr int MAX_HEX_WIDTH = 15;

// Collects errors as FILE:LINE: KEY: message.
struct Errors {
    const std::string& file;
    std::vector<std::string>& list;

    void add(const toml::source_region& where, const std::string& key, const std::string& what) {
        list.push_back(file + ":" + std::to_string(where.begin.line) + ": " + key + ": " + what);
    }
};

// A value given as a string, or as an integer where the names are numbers ("8", "115200").
std::optional<std::string> NameOf(const toml::node& node) {
    if (const auto s = node.value_exact<std::string>()) {
        return s;
    }
    if (const auto i = node.value_exact<std::int64_t>()) {
        return std::to_string(*i);
    }
    return std::nullopt;
}

std::optional<SerialPattern> ParsePattern(const std::string& utf8, std::string& error) {
    const std::string open = "{counter:";
    const auto at = utf8.find(open);
    const auto close = at == std::string::npos ? at : utf8.find('}', at);
    if (at == std::string::npos || close == std::string::npos) {
        error = "must hold the counter as {counter:06} (decimal) or {counter:04X} (hex), not '" +
                utf8 + "'";
        return std::nullopt;
    }
    const std::string prefix = utf8.substr(0, at), suffix = utf8.substr(close + 1);
    std::string form = utf8.substr(at + open.size(), close - at - open.size());
    SerialPattern p;
    if (!form.empty() && (form.back() == 'x' || form.back() == 'X' || form.back() == 'd')) {
        p.base = form.back() == 'd' ? 10 : 16;
        p.upper = form.back() != 'x';
        form.pop_back();
    }
    bool digits = form.size() >= 2 && form.size() <= 3 && form[0] == '0';
    for (std::size_t i = 1; digits && i < form.size(); ++i) {
        digits = form[i] >= '0' && form[i] <= '9';
    }
    p.width = digits ? std::stoi(form.substr(1)) : 0;
    const int maxWidth = p.base == 10 ? MAX_DECIMAL_WIDTH : MAX_HEX_WIDTH;
    if (p.width < 1 || p.width > maxWidth) {
        error = "the counter needs a fixed width of 1 to " + std::to_string(maxWidth) +
                " digits, written {counter:0N}, {counter:0NX} or {counter:0Nx}, not '{counter:" +
                utf8.substr(at + open.size(), close - at - open.size()) + "}'";
        return std::nullopt;
    }
    if ((prefix + suffix).find_first_of("{}") != std::string::npos) {
        error = "may hold the counter only once, and no other braces";
        return std::nullopt;
    }
    // The longest serial it makes must pass the rules of a serial text.
    std::string longest;
    if (!ParseIdentityText(IdentityItem::Serial,
                           prefix + std::string(static_cast<std::size_t>(p.width), '0') + suffix,
                           longest, error)) {
        error = "its longest serial " + error;
        return std::nullopt;
    }
    p.prefix = *text::Utf8ToAnsi(prefix);
    p.suffix = *text::Utf8ToAnsi(suffix);
    return p;
}

}  // namespace

std::string SerialPattern::format(std::uint64_t number) const {
    std::string digits(static_cast<std::size_t>(width), '0');
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    for (auto it = digits.rbegin(); it != digits.rend() && number > 0; ++it) {
        *it = alphabet[number % static_cast<unsigned>(base)];
        number /= static_cast<unsigned>(base);
    }
    return prefix + digits + suffix;
}

std::uint64_t SerialPattern::maxNumber() const {
    std::uint64_t max = 1;
    for (int i = 0; i < width; ++i) {
        max *= static_cast<unsigned>(base);
    }
    return max - 1;
}

bool SerialPattern::matches(std::string_view serial) const {
    if (serial.size() != prefix.size() + static_cast<std::size_t>(width) + suffix.size() ||
        !serial.starts_with(prefix) || !serial.ends_with(suffix)) {
        return false;
    }
    const std::string_view digits = serial.substr(prefix.size(), static_cast<std::size_t>(width));
    for (const char c : digits) {
        const bool decimal = c >= '0' && c <= '9';
        const bool hex = base == 16 && (upper ? (c >= 'A' && c <= 'F') : (c >= 'a' && c <= 'f'));
        if (!decimal && !hex) {
            return false;
        }
    }
    return true;
}

std::optional<Profile> ParseProfile(std::string_view toml, const std::string& file,
                                    std::vector<std::string>& errors) {
    const std::size_t before = errors.size();
    Errors e{file, errors};
    toml::table root;
    try {
        root = toml::parse(toml, file);
    } catch (const toml::parse_error& error) {
        errors.push_back(file + ":" + std::to_string(error.source().begin.line) +
                         ": not TOML: " + std::string(error.description()));
        return std::nullopt;
    }
    Profile p;
    bool haveSerial = false;
    using Check = std::function<void(const toml::node&, const std::string& key)>;
    const auto text = [&](const toml::node& node, const std::string& key, std::string& out) {
        if (const auto s = node.value_exact<std::string>()) {
            out = *s;
            return true;
        }
        e.add(node.source(), key, "must be a text in double quotes");
        return false;
    };
    const auto serialValue = [&](ParameterList list, const CodeEntry*& entry) -> Check {
        return [&, list](const toml::node& node, const std::string& key) {
            std::string error;
            const auto name = NameOf(node);
            entry = name ? ParseSerialValue(list, *name, error) : nullptr;
            if (entry == nullptr) {
                e.add(node.source(), key, name ? error : "must be " + ListNames(list));
            }
        };
    };
    const auto idValue = [&](std::optional<std::uint16_t>& out) -> Check {
        return [&](const toml::node& node, const std::string& key) {
            std::string s, error;
            std::uint16_t v = 0;
            if (text(node, key, s)) {
                if (ParseIdValue(s, v, error)) {
                    out = v;
                } else {
                    e.add(node.source(), key, error);
                }
            }
        };
    };
    const auto identityText = [&](IdentityItem item, std::optional<std::string>& out) -> Check {
        return [&, item](const toml::node& node, const std::string& key) {
            std::string s, cp936, error;
            if (text(node, key, s)) {
                if (ParseIdentityText(item, s, cp936, error)) {
                    out = cp936;
                } else {
                    e.add(node.source(), key, error);
                }
            }
        };
    };
    const auto counterValue = [&](std::uint64_t& out, std::int64_t least) -> Check {
        return [&, least](const toml::node& node, const std::string& key) {
            const auto v = node.value_exact<std::int64_t>();
            if (!v || *v < least) {
                e.add(node.source(), key,
                      "must be a whole number of at least " + std::to_string(least));
            } else {
                out = static_cast<std::uint64_t>(*v);
            }
        };
    };
    const std::map<std::string, std::map<std::string, Check>> sections = {
        {"serial",
         {{"baud", serialValue(ParameterList::Baud, p.serialDefaults.baud)},
          {"parity", serialValue(ParameterList::Parity, p.serialDefaults.parity)},
          {"data_bits", serialValue(ParameterList::DataBits, p.serialDefaults.dataBits)},
          {"stop_bits", serialValue(ParameterList::StopBits, p.serialDefaults.stopBits)}}},
        {"identity",
         {{"vid", idValue(p.identity.vid)},
          {"pid", idValue(p.identity.pid)},
          {"manufacturer", identityText(IdentityItem::Manufacturer, p.identity.manufacturer)},
          {"product", identityText(IdentityItem::Product, p.identity.product)},
          {"serial",
           [&](const toml::node& node, const std::string& key) {
               std::string s, error;
               haveSerial = true;
               if (!text(node, key, s)) {
                   return;
               }
               if (auto pattern = ParsePattern(s, error)) {
                   p.serial = *pattern;
               } else {
                   e.add(node.source(), key, error);
               }
           }}}},
        {"counter",
         {{"start", counterValue(p.start, 0)},
          {"step", counterValue(p.step, 1)},
          {"lease", counterValue(p.lease, 1)},
          {"database",
           [&](const toml::node& node, const std::string& key) {
               if (text(node, key, p.database) && p.database.empty()) {
                   e.add(node.source(), key,
                         "must name a database: \"DSN=NAME\" or a connection string");
               }
           }}}},
    };
    for (auto&& [name, node] : root) {
        const std::string section(name.str());
        const auto known = sections.find(section);
        if (known == sections.end() || !node.is_table()) {
            e.add(name.source(), section,
                  known == sections.end() ? "unknown section; a profile has [serial], [identity] "
                                            "and [counter]"
                                          : "must be a section, [" + section + "]");
            continue;
        }
        for (auto&& [keyName, value] : *node.as_table()) {
            const std::string key = section + "." + std::string(keyName.str());
            const auto check = known->second.find(std::string(keyName.str()));
            if (check == known->second.end()) {
                std::string allowed;
                for (const auto& [k, unused] : known->second) {
                    allowed += (allowed.empty() ? "" : ", ") + k;
                }
                e.add(keyName.source(), key, "unknown key; [" + section + "] has " + allowed);
            } else {
                check->second(value, key);
            }
        }
    }
    if (!haveSerial) {
        errors.push_back(file +
                         ":1: identity.serial: missing; every chip needs a serial "
                         "number of its own, as \"PREFIX-{counter:06}\"");
    } else if (p.serial.width > 0 && p.start > p.serial.maxNumber()) {
        const auto* start = root.at_path("counter.start").node();
        e.add(start != nullptr ? start->source() : toml::source_region{}, "counter.start",
              "is past the largest number the pattern holds, " +
                  std::to_string(p.serial.maxNumber()));
    }
    if (errors.size() != before) {
        // In the order of the file, whatever order the table keeps its keys in.
        const auto line = [&](const std::string& m) {
            return std::atol(m.c_str() + file.size() + 1);
        };
        std::stable_sort(
            errors.begin() + static_cast<std::ptrdiff_t>(before), errors.end(),
            [&](const std::string& a, const std::string& b) { return line(a) < line(b); });
        return std::nullopt;
    }
    return p;
}

}  // namespace kx::cli
