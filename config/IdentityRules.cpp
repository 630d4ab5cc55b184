#include "config/IdentityRules.h"

namespace kx {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return 0;
}

std::uint16_t ParseHex16(std::string_view text) {
    unsigned value = 0;
    for (std::size_t i = 0; i < HEX_TEXT_BYTES; ++i) {
        const int digit = i < text.size() ? HexDigitValue(text[i]) : 0;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

IdentityMessages MessagesFor(IdentityItem item) {
    switch (item) {
        case IdentityItem::Vid:
            return {"VID长度不对", nullptr};
        case IdentityItem::Pid:
            return {"PID长度不对", nullptr};
        case IdentityItem::Manufacturer:
            return {"厂商字符串长度不对", "厂商字符串长度超过30"};
        case IdentityItem::Product:
            return {"产品字符串长度不对", "产品字符串长度超过30"};
        case IdentityItem::Serial:
            return {"序列号字符串长度不对", "序列号字符串长度超过30"};
    }
    return {"", nullptr};
}

std::optional<std::string_view> ValidateIdentityText(IdentityItem item, std::string_view cp936) {
    const IdentityMessages messages = MessagesFor(item);
    if (item == IdentityItem::Vid || item == IdentityItem::Pid) {
        if (cp936.size() < HEX_TEXT_BYTES) {
            return messages.tooShort;
        }
        return std::nullopt;
    }
    if (cp936.empty()) {
        return messages.tooShort;
    }
    if (cp936.size() > IDENTITY_STRING_MAX_BYTES) {
        return messages.tooLong;
    }
    return std::nullopt;
}

namespace {

// An unchecked box takes the default; a checked one its validated text, converted by `parse`.
template <typename Value, typename Default, typename Parse>
std::optional<IdentityFailure> Take(IdentityItem item, const IdentityField& field, Default fallback,
                                    Value& value, Parse parse) {
    if (!field.checked) {
        value = fallback;
        return std::nullopt;
    }
    if (auto message = ValidateIdentityText(item, field.text)) {
        return IdentityFailure{item, *message};
    }
    value = parse(field.text);
    return std::nullopt;
}

std::optional<IdentityFailure> TakeHex(IdentityItem item, const IdentityField& field,
                                       std::uint16_t fallback, std::uint16_t& value) {
    return Take(item, field, fallback, value, [](std::string_view t) { return ParseHex16(t); });
}

std::optional<IdentityFailure> TakeString(IdentityItem item, const IdentityField& field,
                                          std::string_view fallback, std::string& value) {
    return Take(item, field, fallback, value, [](std::string_view t) { return std::string(t); });
}

}  // namespace

std::variant<IdentityWrite, IdentityFailure> BuildIdentityWrite(const IdentityInput& input) {
    IdentityWrite write;
    if (auto failure = TakeHex(IdentityItem::Vid, input.vid, DEFAULT_VID, write.vid)) {
        return *failure;
    }
    if (auto failure = TakeHex(IdentityItem::Pid, input.pid, DEFAULT_PID, write.pid)) {
        return *failure;
    }
    if (auto failure = TakeString(IdentityItem::Manufacturer, input.manufacturer,
                                  DEFAULT_MANUFACTURER, write.manufacturer)) {
        return *failure;
    }
    if (auto failure =
            TakeString(IdentityItem::Product, input.product, DEFAULT_PRODUCT, write.product)) {
        return *failure;
    }
    if (auto failure =
            TakeString(IdentityItem::Serial, input.serial, DEFAULT_SERIAL, write.serial)) {
        return *failure;
    }
    return write;
}

}  // namespace kx
