#pragma once
// The USB identity the tool writes: defaults for unchecked items, hexadecimal parsing of
// the VID and PID texts, and the length rules with their messages. Texts are CP936 bytes
// (config/TextCodec.h), so lengths count a Chinese character as two bytes. Nothing here
// throws; rule failures are returned as the message to show.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kx {

inline constexpr std::uint16_t DEFAULT_VID = 0x3C5B;
inline constexpr std::uint16_t DEFAULT_PID = 0xB207;
inline constexpr std::string_view DEFAULT_MANUFACTURER = "KX-CHIPS";
inline constexpr std::string_view DEFAULT_PRODUCT = "HID To Serial";
inline constexpr std::string_view DEFAULT_SERIAL = "12345678";
// bMaxPower of the configuration, in units of 2 mA (100 mA).
inline constexpr std::uint8_t IDENTITY_MAX_POWER = 50;

inline constexpr std::size_t HEX_TEXT_BYTES = 4;              // only these are parsed
inline constexpr std::size_t IDENTITY_STRING_MAX_BYTES = 30;  // per identity string

// '0'-'9', 'A'-'F', 'a'-'f' give their value; every other byte gives 0 (no error).
[[nodiscard]] int HexDigitValue(char c);

// The first four bytes as four hexadecimal digits, most significant first; bytes after
// the fourth are ignored. The dialog only calls it with at least four bytes; a shorter
// text is still safe: each missing byte counts as the digit 0 in its place ("AB" → 0xAB00).
[[nodiscard]] std::uint16_t ParseHex16(std::string_view text);

// In the order the items are checked and written.
enum class IdentityItem { Vid, Pid, Manufacturer, Product, Serial };

// UTF-8 texts of the message box; `tooLong` is null for the hex items, which have no
// upper bound (extra bytes are ignored).
struct IdentityMessages {
    const char* tooShort;
    const char* tooLong;
};
[[nodiscard]] IdentityMessages MessagesFor(IdentityItem item);

// The message to show for `cp936` as the value of `item`, or nullopt when it is
// acceptable: hex items need at least four bytes; strings need 1..30 bytes.
[[nodiscard]] std::optional<std::string_view> ValidateIdentityText(IdentityItem item,
                                                                   std::string_view cp936);

// One identity edit and its check box: a checked box writes the (validated) text, an
// unchecked one the item's default. `text` is CP936 and only borrowed for the call.
struct IdentityField {
    bool checked = false;
    std::string_view text;
};

struct IdentityInput {
    IdentityField vid;
    IdentityField pid;
    IdentityField manufacturer;
    IdentityField product;
    IdentityField serial;
};

// Everything the identity write sends. The three strings are CP936, each 1..30 bytes;
// for an unchecked item they hold the default, which the dialog stores into its member.
struct IdentityWrite {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::string manufacturer;
    std::string product;
    std::string serial;
    friend bool operator==(const IdentityWrite&, const IdentityWrite&) = default;
};

// The first rule broken, in the order VID, PID, manufacturer, product, serial.
struct IdentityFailure {
    IdentityItem item;
    std::string_view message;  // UTF-8, static storage
};

// Validates the checked items in order and builds the write, or returns the first failure
// only; nothing is partly built for the caller to send.
[[nodiscard]] std::variant<IdentityWrite, IdentityFailure> BuildIdentityWrite(
    const IdentityInput& input);

}  // namespace kx
