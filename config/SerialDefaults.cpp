#include "config/SerialDefaults.h"

namespace kx {
namespace {

// 9600 takes 0x40 like 2400, not 0x30 like its neighbours: that is what the chip expects.
constexpr CodeEntry BAUD_TABLE[] = {
    {"300", 1, 0xC0},     {"600", 2, 0x80},    {"1200", 3, 0x60},   {"2400", 4, 0x40},
    {"4800", 5, 0x30},    {"9600", 6, 0x40},   {"14400", 7, 0x30},  {"19200", 8, 0x30},
    {"28800", 9, 0x30},   {"38400", 10, 0x30}, {"57600", 11, 0x30}, {"76800", 12, 0x30},
    {"115200", 13, 0x30},
};

constexpr CodeEntry STOP_BITS_TABLE[] = {
    {"1位", 1, 0},
    {"2位", 2, 0},
};

constexpr CodeEntry PARITY_TABLE[] = {
    {"奇校验", 1, 0},
    {"偶校验", 2, 0},
    {"空白位", 3, 0},
    {"无校验", 4, 0},
};

constexpr CodeEntry DATA_BITS_TABLE[] = {
    {"5位", 1, 0},
    {"6位", 2, 0},
    {"7位", 3, 0},
    {"8位", 4, 0},
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

bool ApplySelection(ParameterList list, std::string_view entryText, SerialDefaults& defaults) {
    for (const CodeEntry& entry : ParameterTable(list)) {
        if (entryText != entry.text) {
            continue;
        }
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
        return true;
    }
    return false;
}

}  // namespace kx
