#include "cli/Values.h"

#include <cstdio>
#include <optional>

#include "config/TextCodec.h"

namespace kx::cli {

bool ParseIdValue(std::string_view text, std::uint16_t& value, std::string& error) {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
    }
    bool hex = digits.size() == HEX_TEXT_BYTES;
    for (const char c : digits) {
        hex = hex && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'));
    }
    if (!hex) {
        error = "must be four hexadecimal digits, like 3C5B, not '" + std::string(text) + "'";
        return false;
    }
    value = ParseHex16(digits);
    return true;
}

bool ParseIdentityText(IdentityItem item, std::string_view utf8, std::string& cp936,
                       std::string& error) {
    if (const std::optional<char32_t> bad = text::FirstUnencodable(utf8)) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(*bad));
        error = *bad == 0xFFFD ? "is not valid UTF-8"
                               : std::string("has a character CP936 cannot hold (") + code + ")";
        return false;
    }
    cp936 = *text::Utf8ToAnsi(utf8);
    if (ValidateIdentityText(item, cp936)) {
        error = cp936.empty() ? std::string("must not be empty")
                              : "is " + std::to_string(cp936.size()) +
                                    " bytes in CP936 (a Chinese character counts two); at most " +
                                    std::to_string(IDENTITY_STRING_MAX_BYTES) + " are allowed";
        return false;
    }
    return true;
}

const CodeEntry* ParseSerialValue(ParameterList list, std::string_view name, std::string& error) {
    const CodeEntry* entry = FindEntryByName(list, name);
    if (entry == nullptr) {
        error = "must be " + ListNames(list) + ", not '" + std::string(name) + "'";
    }
    return entry;
}

SerialDefaults SerialChange::appliedTo(SerialDefaults base) const {
    const std::pair<ParameterList, const CodeEntry*> rows[] = {{ParameterList::Baud, baud},
                                                               {ParameterList::Parity, parity},
                                                               {ParameterList::DataBits, dataBits},
                                                               {ParameterList::StopBits, stopBits}};
    for (const auto& [list, entry] : rows) {
        if (entry != nullptr) {
            ApplyEntry(list, *entry, base);
        }
    }
    return base;
}

}  // namespace kx::cli
