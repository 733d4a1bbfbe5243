// Cell texts read as a spreadsheet reads them, and shown again.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/cell.hpp"

namespace {

using cli::readCell;

struct CellCase {
    int line;
    const char* text;
    bool decimalComma;
    host::Value expected;
};

TEST(ReadCell, ReadsEachKindOfCell) {
    const CellCase cases[] = {
        {__LINE__, "", false, host::Blank{}},
        {__LINE__, "42", false, 42.0},
        {__LINE__, "-0.25", false, -0.25},
        {__LINE__, "+3", false, 3.0},
        {__LINE__, ".5", false, 0.5},
        {__LINE__, "5.", false, 5.0},
        {__LINE__, "1.5E-3", false, 0.0015},
        {__LINE__, "2e+2", false, 200.0},
        {__LINE__, " 7 ", false, 7.0},
        {__LINE__, "12.5%", false, 0.125},
        {__LINE__, "0,25", true, 0.25},
        {__LINE__, "0,25", false, std::string("0,25")},
        {__LINE__, "1e", false, std::string("1e")},
        {__LINE__, "1e999", false, std::string("1e999")},
        {__LINE__, "inf", false, std::string("inf")},
        {__LINE__, "nan", false, std::string("nan")},
        {__LINE__, "0x10", false, std::string("0x10")},
        {__LINE__, "TRUE", false, true},
        {__LINE__, "false", false, false},
        {__LINE__, "#NULL!", false, host::ErrorValue{0}},
        {__LINE__, "#DIV/0!", false, host::ErrorValue{7}},
        {__LINE__, "#VALUE!", false, host::ErrorValue{15}},
        {__LINE__, "#REF!", false, host::ErrorValue{23}},
        {__LINE__, "#NAME?", false, host::ErrorValue{29}},
        {__LINE__, "#NUM!", false, host::ErrorValue{36}},
        {__LINE__, "#n/a", false, host::ErrorValue{42}},
        {__LINE__, "#N/A!", false, std::string("#N/A!")},
        {__LINE__, "Grade A", false, std::string("Grade A")},
        {__LINE__, " padded ", false, std::string(" padded ")},
        {__LINE__, "-", false, std::string("-")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(readCell(c.text, c.decimalComma), c.expected) << "line " << c.line << ": " << c.text;
    }
}

TEST(ShowCell, GeneralAndExactNumbers) {
    EXPECT_EQ(cli::showCell(0.1 + 0.2, true), "0.30000000000000004");
    EXPECT_EQ(cli::showCell(0.1 + 0.2, false), "0.3");
    EXPECT_EQ(cli::showCell(1.0 / 3.0, false), "0.3333333333");
    EXPECT_EQ(cli::showCell(1e21, true), "1e+21");
    EXPECT_EQ(cli::showCell(-0.0, true), "0");
    EXPECT_EQ(cli::showCell(std::nan(""), true), "#NUM!");
    EXPECT_EQ(cli::showCell(true, true), "TRUE");
    EXPECT_EQ(cli::showCell(host::ErrorValue{cli::errorSpill}, true), "#SPILL!");
    EXPECT_EQ(cli::showCell(host::Blank{}, true), "");
    // Exact forms read back to the same double.
    for (double x : {1.0 / 3.0, 2.0 / 7.0, 1e-300, 123456789.125, -5e15}) {
        EXPECT_EQ(std::get<double>(readCell(cli::formatExact(x))), x);
    }
}

TEST(CellName, ColumnLetters) {
    const std::pair<std::size_t, const char*> cases[] = {{0, "A"}, {25, "Z"}, {26, "AA"}, {701, "ZZ"}, {702, "AAA"}, {16383, "XFD"}};
    for (const auto& [column, name] : cases) EXPECT_EQ(cli::columnName(column), name);
    EXPECT_EQ(cli::cellName(9, 2), "C10");
}

}  // namespace
