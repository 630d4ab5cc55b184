#pragma once
// The chip's default serial-line parameters: the four selection lists, the code each
// entry stands for, and the record the dialog keeps and sends. Pure data and lookups;
// nothing here fails except ApplySelection, which reports an unknown text by returning false.

#include <cstdint>
#include <span>
#include <string>
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

// One list entry. `text` is what the dialog's list shows (a UTF-8 literal with static
// lifetime); `name` is the same entry in plain ASCII, as the command line and profiles spell
// it ("115200", "even", "2", "7"); `timing` is only meaningful in the baud table (0 elsewhere).
struct CodeEntry {
    const char* text;
    std::uint8_t code;
    std::uint8_t timing;
    const char* name;
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

// The row of `list` whose `name` is `name` (exact), or whose code is `code`; null if none.
[[nodiscard]] const CodeEntry* FindEntryByName(ParameterList list, std::string_view name);
[[nodiscard]] const CodeEntry* FindEntryByCode(ParameterList list, std::uint8_t code);
// True when each of the four codes is one its list holds; the timing byte may be anything.
[[nodiscard]] bool HasListedCodes(const SerialDefaults& defaults);
// Sets the row's code in `defaults` (for the baud list the code and the timing byte together).
void ApplyEntry(ParameterList list, const CodeEntry& entry, SerialDefaults& defaults);

// "115200 8N1": baud, data bits, parity (N, O, E or S), stop bits; a code no row has shows
// as "?" in its place. The timing byte is not part of it.
[[nodiscard]] std::string DescribeSerialDefaults(const SerialDefaults& defaults);
// The names of a list's rows, "a, b or c", for messages.
[[nodiscard]] std::string ListNames(ParameterList list);

}  // namespace kx
