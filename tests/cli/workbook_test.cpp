// Binding formulas to registrations: each argument as written reaches the function. Finding
// functions by name, the messages of binding, and recalculation (spills, blocked spills,
// dependency order, circular references, long chains, results independent of the thread count)
// are worksheet cases of the command (tests/cli/e2e/formula_messages, calc_spills, calc_order,
// calc_cycles, calc_circular).
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

}  // namespace
