#include "config/SerialDefaults.h"

namespace kx {
namespace {

// 9600 takes 0x40 like 2400, not 0x30 like its neighbours: that is what the chip expects.
constexpr CodeEntry BAUD_TABLE[] = {
    {"300", 1, 0xC0, "300"},        {"600", 2, 0x80, "600"},      {"1200", 3, 0x60, "1200"},
    {"2400", 4, 0x40, "2400"},      {"4800", 5, 0x30, "4800"},    {"9600", 6, 0x40, "9600"},
    {"14400", 7, 0x30, "14400"},    {"19200", 8, 0x30, "19200"},  {"28800", 9, 0x30, "28800"},
    {"38400", 10, 0x30, "38400"},   {"57600", 11, 0x30, "57600"}, {"76800", 12, 0x30, "76800"},
    {"115200", 13, 0x30, "115200"},
};

constexpr CodeEntry STOP_BITS_TABLE[] = {
    {"1位", 1, 0, "1"},
    {"2位", 2, 0, "2"},
};

constexpr CodeEntry PARITY_TABLE[] = {
    {"奇校验", 1, 0, "odd"},
    {"偶校验", 2, 0, "even"},
    {"空白位", 3, 0, "space"},
    {"无校验", 4, 0, "none"},
};

constexpr CodeEntry DATA_BITS_TABLE[] = {
    {"5位", 1, 0, "5"},
    {"6位", 2, 0, "6"},
    {"7位", 3, 0, "7"},
    {"8位", 4, 0, "8"},
};

}  // namespace

std::span<const CodeEntry> ParameterTable(ParameterList list) {
    switch (list) {
        case ParameterList::Baud:
            return BAUD_TABLE;
        case ParameterList::StopBits:
            return STOP_BITS_TABLE;
        case ParameterList::Parity:
            return PARITY_TABLE;
        case ParameterList::DataBits:
            return DATA_BITS_TABLE;
    }
    return {};
}

int InitialSelection(ParameterList list) {
    switch (list) {
        case ParameterList::Baud:
            return 5;  // "9600"
        case ParameterList::StopBits:
            return 0;  // "1位"
        case ParameterList::Parity:
            return 3;  // "无校验"
        case ParameterList::DataBits:
            return 3;  // "8位"
    }
    return -1;
}

void ApplyEntry(ParameterList list, const CodeEntry& entry, SerialDefaults& defaults) {
    switch (list) {
        case ParameterList::Baud:
            defaults.baudCode = entry.code;
            defaults.timingByte = entry.timing;
            break;
        case ParameterList::StopBits:
            defaults.stopBitsCode = entry.code;
            break;
        case ParameterList::Parity:
            defaults.parityCode = entry.code;
            break;
        case ParameterList::DataBits:
            defaults.dataBitsCode = entry.code;
            break;
    }
}

bool ApplySelection(ParameterList list, std::string_view entryText, SerialDefaults& defaults) {
    for (const CodeEntry& entry : ParameterTable(list)) {
        if (entryText == entry.text) {
            ApplyEntry(list, entry, defaults);
            return true;
        }
    }
    return false;
}

const CodeEntry* FindEntryByName(ParameterList list, std::string_view name) {
    for (const CodeEntry& entry : ParameterTable(list)) {
        if (name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

const CodeEntry* FindEntryByCode(ParameterList list, std::uint8_t code) {
    for (const CodeEntry& entry : ParameterTable(list)) {
        if (code == entry.code) {
            return &entry;
        }
    }
    return nullptr;
}

bool HasListedCodes(const SerialDefaults& d) {
    return FindEntryByCode(ParameterList::Baud, d.baudCode) != nullptr &&
           FindEntryByCode(ParameterList::Parity, d.parityCode) != nullptr &&
           FindEntryByCode(ParameterList::StopBits, d.stopBitsCode) != nullptr &&
           FindEntryByCode(ParameterList::DataBits, d.dataBitsCode) != nullptr;
}

std::string DescribeSerialDefaults(const SerialDefaults& d) {
    const auto name = [](ParameterList list, std::uint8_t code) -> std::string {
        const CodeEntry* entry = FindEntryByCode(list, code);
        return entry == nullptr ? "?" : entry->name;
    };
    // The parity's letter is its name's first, upper-cased: none, odd, even, space.
    std::string parity = name(ParameterList::Parity, d.parityCode);
    if (parity != "?") {
        parity = std::string(1, static_cast<char>(parity[0] - 'a' + 'A'));
    }
    return name(ParameterList::Baud, d.baudCode) + " " +
           name(ParameterList::DataBits, d.dataBitsCode) + parity +
           name(ParameterList::StopBits, d.stopBitsCode);
}

std::string ListNames(ParameterList list) {
    std::string out;
    const auto table = ParameterTable(list);
    for (std::size_t i = 0; i < table.size(); ++i) {
        out += i == 0 ? "" : i + 1 == table.size() ? " or " : ", ";
        out += table[i].name;
    }
    return out;
}

}  // namespace kx
