// Binding formulas to registrations and recalculating workbooks: spills, blocked spills,
// dependency order, and results independent of the thread count. Finding functions by name, the
// messages of binding and circular references are worksheet cases of the command
// (tests/cli/e2e/formula_messages, calc_cycles, calc_circular).
#include <gtest/gtest.h>

#include "cli/output.hpp"
#include "fake_functions.hpp"

namespace {

using cli::testing::FakeFunctions;

// Sheets written with "," between cells; commas inside a formula's parentheses stay its own.
cli::Workbook book(std::initializer_list<std::pair<const char*, const char*>> sheets) {
    cli::Workbook workbook;
    for (const auto& [name, text] : sheets) {
        std::string cells = text;
        int depth = 0;
        for (char& c : cells) {
            depth += c == '(' || c == '{';
            depth -= c == ')' || c == '}';
            if (c == ',' && depth == 0) c = '|';
        }
        workbook.sheets.push_back(cli::parseCsv(cells, std::string(name) + ".csv", {.separator = '|'}));
    }
    return workbook;
}

std::string computed(cli::Workbook workbook, unsigned threads = 1, std::vector<std::string>* warnings = nullptr) {
    const FakeFunctions functions;
    cli::Calculation calculation(workbook, functions, {.threads = threads});
    calculation.run();
    if (warnings) *warnings = calculation.warnings();
    return cli::writeCsv(cli::usedCells(workbook.sheets.front()));
}

std::string evaluate(cli::Workbook& workbook, const std::string& formula) {
    const FakeFunctions functions;
    const auto bound = workbook.bind(cli::parseFormula(formula), functions.registrations(), 0);
    cli::Calculation calculation(workbook, functions);
    return cli::writeCsv(calculation.evaluate({bound}).at(0));
}

TEST(Bind, ArgumentsAsWritten) {
    auto workbook = book({{"data", "1,2\n3,4\n5,6\n\n"}, {"other", "10\n20\n"}});
    EXPECT_EQ(evaluate(workbook, "=total(A1:B3)"), "21\n");
    EXPECT_EQ(evaluate(workbook, "=shape(A:A)"), "3,1\n");     // whole column ends at the last used row
    EXPECT_EQ(evaluate(workbook, "=shape(2:3)"), "2,2\n");     // whole rows end at the last used column
    EXPECT_EQ(evaluate(workbook, "=shape(A1:C10)"), "3,2\n");  // cut to the data
    EXPECT_EQ(evaluate(workbook, "=kinds(A1:C10,A2:C11,B3:D12)"), "RRR\n");
    EXPECT_EQ(evaluate(workbook, "=shape(B2:D11)"), "2,1\n");
    EXPECT_EQ(evaluate(workbook, "=shape(Z90:Z99)"), "1,1\n");
    EXPECT_EQ(evaluate(workbook, "=total(OTHER!A:A)"), "30\n");
    EXPECT_EQ(evaluate(workbook, "=kinds(A1,,1)"), "RMS\n");
    EXPECT_EQ(evaluate(workbook, "=kinds({1,2},\"x\",)"), "RSM\n");
    EXPECT_EQ(evaluate(workbook, "=options(1)"), "3\n");  // left-out optional arguments still reach the host
    EXPECT_EQ(evaluate(workbook, "=version()"), "1.0\n");
    EXPECT_EQ(evaluate(workbook, "=echo(#DIV/0!)"), "#DIV/0!\n");
}

struct CalcCase {
    int line;
    const char* sheet;
    const char* expected;
};

TEST(Calculation, SpillsOrderAndBlocking) {
    const CalcCase cases[] = {
        // A block spills down and right from its cell.
        {__LINE__, "1,,\n2,=echo(A1:A3),\n3,,\n", "1,\n2,1\n3,2\n,3\n"},
        {__LINE__, "=fill(2,3,7)\n", "7,7,7\n7,7,7\n"},
        // A spill onto a non-empty cell gives #SPILL! in the formula's cell only.
        {__LINE__, "=fill(2,2,1),\n,x\n", "#SPILL!,\n,x\n"},
        // ... and onto another formula's cell.
        {__LINE__, "=fill(2,1,1)\n=total(B1)\n", "#SPILL!\n0\n"},
        // A formula reads another's spilled result even when that one comes later in the sheet.
        {__LINE__, "=total(A3:A5),\n,\n=fill(3,1,2),\n", "6\n\n2\n2\n2\n"},
        // Chains: C1 reads B1's spill, B1 reads A1's.
        {__LINE__, "=fill(2,1,3),=echo(A1:A2),=total(B1:B2)\n", "3,3,6\n3,3,\n"},
        // Two spills that would overlap: the later one is blocked.
        {__LINE__, "=fill(1,3,1),=fill(2,1,5)\n", "#SPILL!,5\n,5\n"},
        // A blank result shows as an empty cell; an empty text too.
        {__LINE__, "x,=echo(C1)\n", "x\n"},
        // Error results are normal values that other formulas read.
        {__LINE__, "=echo(#N/A),=kinds(A1,1,2)\n", "#N/A,RSS\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(computed(book({{"book", c.sheet}})), c.expected) << "line " << c.line;
}

TEST(Calculation, WaitsOnlyWhereASpillLands) {
    // B1 reads A1:A10, where A5's result spills: it waits for A5.
    std::vector<std::string> warnings;
    EXPECT_EQ(computed(book({{"book", "1,=total(A1:A10)\n2,\n,\n,\n=fill(1,2,4),\n"}}), 1, &warnings),
              "1,7\n2,\n,\n,\n4,4\n");
    EXPECT_TRUE(warnings.empty());
    // A1 reads B1:B9, where B4's result spills later in the sheet.
    EXPECT_EQ(computed(book({{"book", "=total(B1:B9),\n,\n,\n,=fill(2,1,3)\n7,\n"}}), 1, &warnings),
              "6,\n,\n,\n,3\n7,3\n");
}

TEST(Calculation, ChainsAndSpillsFoundLate) {
    // Each cell reads the next: one order, however long the chain (no recursion to run out of stack).
    std::string chain;
    for (int r = 1; r < 20000; ++r) chain += "\"=total(A" + std::to_string(r + 1) + ")\"\n";
    chain += "5\n";
    EXPECT_EQ(computed(book({{"book", chain.c_str()}})).substr(0, 4), "5\n5\n");
    // B1 reads A2:A3, which A1's result covers without B1's range holding A1.
    EXPECT_EQ(computed(book({{"book", "=fill(3,1,2),=total(A2:A3)\n"}})), "2,4\n2,\n2,\n");
}

TEST(CalculationThreads, ResultsDoNotDependOnThreadCount) {
    std::string sheet;
    for (int r = 0; r < 60; ++r) {
        sheet += std::to_string(r) + "," + std::to_string(r * r) + ",";
        // Independent formulas and ones that read others' results.
        if (r % 3 == 0) sheet += "=total(A1:B" + std::to_string(r + 1) + ")";
        if (r % 3 == 1) sheet += "=fill(1,2," + std::to_string(r) + ")";
        if (r % 3 == 2) sheet += "=total(C" + std::to_string(r - 1) + ":D" + std::to_string(r) + ")";
        sheet += ",\n";
    }
    const std::string one = computed(book({{"book", sheet.c_str()}}), 1);
    for (unsigned threads : {2u, 4u, 8u}) EXPECT_EQ(computed(book({{"book", sheet.c_str()}}), threads), one) << threads;
}

}  // namespace
