// The formula reader: names, references, literals and omitted arguments; its messages are
// worksheet cases of the command (tests/cli/e2e/formula_messages).
#include "cli/formula.hpp"

#include <gtest/gtest.h>

namespace {

using Kind = cli::ArgumentExpression::Kind;

TEST(ParseFormula, NameAndLiterals) {
    const auto f =
        cli::parseFormula(" = Korvanth.Tavirune.kinds( 1.5e2 , \"say \"\"hi\"\"\", TRUE,false,#N/A, -3,50% )");
    EXPECT_EQ(f.name, "Korvanth.Tavirune.kinds");
    EXPECT_EQ(f.namePosition, 4u);
    ASSERT_EQ(f.arguments.size(), 7u);
    const host::Value expected[] = {150.0, std::string("say \"hi\""), true, false, host::ErrorValue{42}, -3.0, 0.5};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(f.arguments[i].kind, Kind::Value) << i;
        EXPECT_EQ(f.arguments[i].value, expected[i]) << i;
    }
    EXPECT_EQ(f.arguments[1].position, 37u);
}

TEST(ParseFormula, OmittedArguments) {
    struct Case {
        const char* text;
        std::vector<Kind> kinds;
    };
    const Case cases[] = {
        {"=f()", {}},
        {"f(A1)", {Kind::Reference}},
        {"=f(A1,,1)", {Kind::Reference, Kind::Omitted, Kind::Value}},
        {"=f(,)", {Kind::Omitted, Kind::Omitted}},
        {"=f(1, )", {Kind::Value, Kind::Omitted}},
        {"=f(,,{1,2;3,4})", {Kind::Omitted, Kind::Omitted, Kind::Array}},
    };
    for (const auto& c : cases) {
        const auto f = cli::parseFormula(c.text);
        std::vector<Kind> kinds;
        for (const auto& a : f.arguments) kinds.push_back(a.kind);
        EXPECT_EQ(kinds, c.kinds) << c.text;
    }
}

TEST(ParseFormula, ArrayConstant) {
    const auto f = cli::parseFormula("=f({1,\"a\";TRUE,#N/A})");
    const host::Table& t = f.arguments.at(0).array;
    ASSERT_EQ(t.rows, 2u);
    ASSERT_EQ(t.columns, 2u);
    EXPECT_EQ(t.at(0, 0), host::Value(1.0));
    EXPECT_EQ(t.at(0, 1), host::Value(std::string("a")));
    EXPECT_EQ(t.at(1, 0), host::Value(true));
    EXPECT_EQ(t.at(1, 1), host::Value(host::ErrorValue{42}));
}

struct ReferenceCase {
    int line;
    const char* text;
    const char* sheet;
    std::size_t firstRow, firstColumn, lastRow, lastColumn;
    bool wholeColumns, wholeRows;
};

TEST(ParseReference, Forms) {
    const std::size_t lastRow = cli::maxRows - 1, lastColumn = cli::maxColumns - 1;
    const ReferenceCase cases[] = {
        {__LINE__, "A1", "", 0, 0, 0, 0, false, false},
        {__LINE__, "b2:c10", "", 1, 1, 9, 2, false, false},
        {__LINE__, "C10:B2", "", 1, 1, 9, 2, false, false},
        {__LINE__, "$A$2:$A1001", "", 1, 0, 1000, 0, false, false},
        {__LINE__, "A:A", "", 0, 0, lastRow, 0, true, false},
        {__LINE__, "B:D", "", 0, 1, lastRow, 3, true, false},
        {__LINE__, "2:5", "", 1, 0, 4, lastColumn, false, true},
        {__LINE__, "data!B2:C10", "data", 1, 1, 9, 2, false, false},
        {__LINE__, "'my sheet''s'!A:A", "my sheet's", 0, 0, lastRow, 0, true, false},
        {__LINE__, "XFD1048576", "", lastRow, lastColumn, lastRow, lastColumn, false, false},
    };
    for (const auto& c : cases) {
        const auto r = cli::parseReference(c.text);
        EXPECT_EQ(r.sheet, c.sheet) << "line " << c.line;
        EXPECT_EQ(r.firstRow, c.firstRow) << "line " << c.line;
        EXPECT_EQ(r.firstColumn, c.firstColumn) << "line " << c.line;
        EXPECT_EQ(r.lastRow, c.lastRow) << "line " << c.line;
        EXPECT_EQ(r.lastColumn, c.lastColumn) << "line " << c.line;
        EXPECT_EQ(r.wholeColumns, c.wholeColumns) << "line " << c.line;
        EXPECT_EQ(r.wholeRows, c.wholeRows) << "line " << c.line;
    }
}

}  // namespace
