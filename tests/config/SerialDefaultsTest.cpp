#include "config/SerialDefaults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx {
namespace {

struct Row {
    std::string text;
    int code;
    int timing;
};

struct ListCase {
    ParameterList list;
    std::vector<Row> rows;
    int initial;
};

const std::vector<ListCase>& ExpectedLists() {
    static const std::vector<ListCase> lists = {
        {ParameterList::Baud,
         {{"300", 1, 0xC0},
          {"600", 2, 0x80},
          {"1200", 3, 0x60},
          {"2400", 4, 0x40},
          {"4800", 5, 0x30},
          {"9600", 6, 0x40},
          {"14400", 7, 0x30},
          {"19200", 8, 0x30},
          {"28800", 9, 0x30},
          {"38400", 10, 0x30},
          {"57600", 11, 0x30},
          {"76800", 12, 0x30},
          {"115200", 13, 0x30}},
         5},
        {ParameterList::StopBits, {{"1位", 1, 0}, {"2位", 2, 0}}, 0},
        {ParameterList::Parity,
         {{"奇校验", 1, 0}, {"偶校验", 2, 0}, {"空白位", 3, 0}, {"无校验", 4, 0}},
         3},
        {ParameterList::DataBits, {{"5位", 1, 0}, {"6位", 2, 0}, {"7位", 3, 0}, {"8位", 4, 0}}, 3},
    };
    return lists;
}

// The field each list writes, so one table drives all four lists.
std::uint8_t FieldOf(ParameterList list, const SerialDefaults& d) {
    switch (list) {
        case ParameterList::Baud:
            return d.baudCode;
        case ParameterList::StopBits:
            return d.stopBitsCode;
        case ParameterList::Parity:
            return d.parityCode;
        case ParameterList::DataBits:
            return d.dataBitsCode;
    }
    return 0;
}

TEST(SerialTables, EveryListHoldsItsTextsInListOrder) {
    for (const ListCase& expected : ExpectedLists()) {
        const auto table = ParameterTable(expected.list);
        ASSERT_EQ(table.size(), expected.rows.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            SCOPED_TRACE(expected.rows[i].text);
            EXPECT_EQ(std::string(table[i].text), expected.rows[i].text);
            EXPECT_EQ(table[i].code, expected.rows[i].code);
            if (expected.list == ParameterList::Baud) {
                EXPECT_EQ(table[i].timing, expected.rows[i].timing);
            }
        }
    }
}

TEST(SerialTables, FillOrderIsBaudStopParityData) {
    const ParameterList expected[] = {ParameterList::Baud, ParameterList::StopBits,
                                      ParameterList::Parity, ParameterList::DataBits};
    ASSERT_EQ(std::size(PARAMETER_FILL_ORDER), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(PARAMETER_FILL_ORDER[i], expected[i]);
    }
}

TEST(SerialTables, InitialSelectionsAgreeWithInitialDefaults) {
    SerialDefaults fromSelections{0, 0, 0, 0, 0};
    for (const ListCase& expected : ExpectedLists()) {
        const int index = InitialSelection(expected.list);
        EXPECT_EQ(index, expected.initial);
        const auto table = ParameterTable(expected.list);
        ASSERT_LT(static_cast<std::size_t>(index), table.size());
        EXPECT_TRUE(ApplySelection(expected.list, table[index].text, fromSelections));
    }
    EXPECT_EQ(fromSelections, INITIAL_SERIAL_DEFAULTS);
    EXPECT_EQ(INITIAL_SERIAL_DEFAULTS, (SerialDefaults{6, 4, 1, 4, 0x40}));
}

TEST(ApplySelection, EveryRowSetsOnlyItsOwnField) {
    for (const ListCase& expected : ExpectedLists()) {
        for (const Row& row : expected.rows) {
            SCOPED_TRACE(row.text);
            SerialDefaults d{0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
            ASSERT_TRUE(ApplySelection(expected.list, row.text, d));
            EXPECT_EQ(FieldOf(expected.list, d), row.code);
            SerialDefaults rest = d;
            switch (expected.list) {
                case ParameterList::Baud:
                    EXPECT_EQ(d.timingByte, row.timing);
                    rest.baudCode = rest.timingByte = 0xEE;
                    break;
                case ParameterList::StopBits:
                    rest.stopBitsCode = 0xEE;
                    break;
                case ParameterList::Parity:
                    rest.parityCode = 0xEE;
                    break;
                case ParameterList::DataBits:
                    rest.dataBitsCode = 0xEE;
                    break;
            }
            EXPECT_EQ(rest, (SerialDefaults{0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
        }
    }
}

TEST(ApplySelection, UnknownTextLeavesDefaultsUntouched) {
    const struct {
        ParameterList list;
        const char* text;
    } cases[] = {
        {ParameterList::Baud, ""},          {ParameterList::Baud, "9600 "},
        {ParameterList::Baud, "96000"},     {ParameterList::Baud, "110"},
        {ParameterList::Baud, "1位"},       {ParameterList::StopBits, "1.5位"},
        {ParameterList::StopBits, "1"},     {ParameterList::Parity, "标志位"},
        {ParameterList::Parity, "无校验 "}, {ParameterList::DataBits, "9位"},
        {ParameterList::DataBits, "8 位"},  {ParameterList::Parity, "\xce\xde\xd0\xa3\xd1\xe9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SerialDefaults d = INITIAL_SERIAL_DEFAULTS;
        EXPECT_FALSE(ApplySelection(c.list, c.text, d));
        EXPECT_EQ(d, INITIAL_SERIAL_DEFAULTS);
    }
}

TEST(ApplySelection, TextWithEmbeddedZeroDoesNotMatch) {
    SerialDefaults d = INITIAL_SERIAL_DEFAULTS;
    EXPECT_FALSE(ApplySelection(ParameterList::Baud, std::string_view("4800\0x", 6), d));
    EXPECT_EQ(d, INITIAL_SERIAL_DEFAULTS);
}

TEST(ApplySelection, TimingFollowsTheLastBaudChosen) {
    SerialDefaults d = INITIAL_SERIAL_DEFAULTS;
    ASSERT_TRUE(ApplySelection(ParameterList::Baud, "4800", d));
    EXPECT_EQ(d.timingByte, 0x30);
    ASSERT_TRUE(ApplySelection(ParameterList::Baud, "9600", d));
    EXPECT_EQ(d.baudCode, 6);
    EXPECT_EQ(d.timingByte, 0x40);
    ASSERT_TRUE(ApplySelection(ParameterList::Baud, "2400", d));
    EXPECT_EQ(d.baudCode, 4);
    EXPECT_EQ(d.timingByte, 0x40);
}

TEST(ApplySelection, FourChoicesGiveTheBytesSent) {
    SerialDefaults d = INITIAL_SERIAL_DEFAULTS;
    ASSERT_TRUE(ApplySelection(ParameterList::Baud, "115200", d));
    ASSERT_TRUE(ApplySelection(ParameterList::Parity, "偶校验", d));
    ASSERT_TRUE(ApplySelection(ParameterList::StopBits, "2位", d));
    ASSERT_TRUE(ApplySelection(ParameterList::DataBits, "7位", d));
    EXPECT_EQ(d, (SerialDefaults{13, 2, 2, 3, 0x30}));
}

}  // namespace
}  // namespace kx
