#pragma once
// The chip's default serial-line parameters: the four selection lists, the code each
// entry stands for, and the record the dialog keeps and sends. Pure data and lookups;
// nothing here fails except ApplySelection, which reports an unknown text by returning false.

#include <cstdint>
#include <span>
#include <string_view>

namespace kx {

// Field order is the order the bytes are sent in.
struct SerialDefaults {
    std::uint8_t baudCode;
    std::uint8_t parityCode;
    std::uint8_t stopBitsCode;
    std::uint8_t dataBitsCode;
    std::uint8_t timingByte;
    friend bool operator==(const SerialDefaults&, const SerialDefaults&) = default;
};

// 9600 baud, no parity, one stop bit, eight data bits; agrees with the initial selections.
inline constexpr SerialDefaults INITIAL_SERIAL_DEFAULTS{6, 4, 1, 4, 0x40};

// One list entry. `text` is a UTF-8 literal with static lifetime; `timing` is only
// meaningful in the baud table (0 elsewhere).
struct CodeEntry {
    const char* text;
    std::uint8_t code;
    std::uint8_t timing;
};

// In the order the dialog fills the lists.
enum class ParameterList { Baud, StopBits, Parity, DataBits };

inline constexpr ParameterList PARAMETER_FILL_ORDER[] = {
    ParameterList::Baud, ParameterList::StopBits, ParameterList::Parity, ParameterList::DataBits};

// The entries of a list in list order; the span refers to static storage.
[[nodiscard]] std::span<const CodeEntry> ParameterTable(ParameterList list);

// Index of the entry selected when the dialog starts.
[[nodiscard]] int InitialSelection(ParameterList list);

// Compares `entryText` byte for byte with the list's texts from the top; the first equal
// row sets its code (for the baud list the code and the timing byte together) and the
// result is true. No equal row: returns false and leaves `defaults` untouched.
bool ApplySelection(ParameterList list, std::string_view entryText, SerialDefaults& defaults);

}  // namespace kx
