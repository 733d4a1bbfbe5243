// The annual-validation functions as tables of (cells in, cells out): layouts, hand-worked values
// and the texts of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <string>
#include <variant>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;
using Cell = std::variant<std::monostate, double, std::string>;  // empty, number, text
using Table = std::vector<std::vector<Cell>>;
const Cell e{};

// Beta(1/2, 3/2) and Beta(3/2, 3/2) distribution functions, with p = sin^2 t.
double beta05(double p) {
    const double t = std::asin(std::sqrt(p));
    return (2 * t + std::sin(2 * t)) / std::numbers::pi;
}
double beta15(double p) {
    const double t = std::asin(std::sqrt(p));
    return (2 * t - std::sin(4 * t) / 2) / std::numbers::pi;
}
double upperTail(double x) { return 0.5 * std::erfc(x / std::sqrt(2.0)); }

CellMatrix one(double x) { return numbers({x}); }
Table text(const std::string& t) { return {{t}}; }

const CellMatrix pds = numbers({0.01, 0.5, 0.2}), defaults = numbers({0, 1, 0}), debtors = numbers({1, 1, 0});
const double nan = std::nan("");

std::vector<double> repeated(std::initializer_list<std::pair<double, int>> runs) {
    std::vector<double> v;
    for (const auto& [value, count] : runs) v.insert(v.end(), static_cast<std::size_t>(count), value);
    return v;
}
const CellMatrix tiedScores = numbers(repeated({{1, 32}, {2, 32}}));
const CellMatrix tiedIndicators = numbers(repeated({{1, 20}, {0, 12}, {1, 4}, {0, 28}}));

TEST(AnnualValidation, CellsInCellsOut) {
    const std::vector<std::string> head = {"Grade", "Debtors", "Defaults", "PD", "Default Rate", "p-Value"};
    const Table backTestHead = {{head[0], head[1], head[2], head[3], head[4], head[5]}};
    auto withHead = [&](Table rows) {
        rows.insert(rows.begin(), backTestHead[0]);
        return rows;
    };
    const double sqrtEighth = std::sqrt(0.125), z = 0.15 / sqrtEighth;
    const std::string sd0 = "not defined (the standard error is zero)";
    CellMatrix square(2, 2);
    square(0, 0) = 1.0, square(0, 1) = 2.0, square(1, 0) = 3.0, square(1, 1) = 4.0;
    const struct {
        int line;
        CellMatrix result;
        Table expected;
    } cases[] = {
        // Jeffreys: one debtor per grade has closed forms; a grade without debtors keeps its row.
        {__LINE__, jeffreysTest(pds, defaults, debtors),
         withHead({{1.0, 1.0, 0.0, 0.01, 0.0, beta05(0.01)},
                   {2.0, 1.0, 1.0, 0.5, 1.0, 1 - beta05(0.5)},
                   {3.0, 0.0, 0.0, 0.2, e, e},
                   {"Portfolio", 2.0, 1.0, 0.255, 0.5, beta15(0.255)}})},
        {__LINE__, binomialTest(pds, defaults, debtors),
         withHead({{1.0, 1.0, 0.0, 0.01, 0.0, 1.0},
                   {2.0, 1.0, 1.0, 0.5, 1.0, 0.5},
                   {3.0, 0.0, 0.0, 0.2, e, e},
                   {"Portfolio", 2.0, 1.0, 0.255, 0.5, 1 - 0.745 * 0.745}})},
        {__LINE__, binomialTest(numbers({0.1, 0.2}), numbers({1, 3}), numbers({2, 2})),
         text("The number of defaults exceeds the number of debtors in row 2")},
        {__LINE__, jeffreysTest(numbers({0.1, 1.2}, false), numbers({1, 1}, false), numbers({2, 2}, false)),
         text("The cell range for the default probabilities holds a value outside [0,1] in column 2")},
        {__LINE__, jeffreysTest(numbers({0.1, 0.2}), numbers({1, -1}), numbers({2, 2})),
         text("The cell range for the number of defaults holds a negative number in row 2")},
        {__LINE__, jeffreysTest(numbers({0.1, 0.2}), numbers({1, 1}), numbers({2.5, 2})),
         text("The cell range for the number of debtors holds a number that is not whole in row 1")},
        {__LINE__, jeffreysTest(numbers({0.1, 0.2}), numbers({0, 0}), numbers({0, 0})),
         text("The grades do not contain a single debtor")},
        {__LINE__, jeffreysTest(numbers({0.1, 0.2}), numbers({0, 0}), numbers({1, 1, 1})),
         text("The cell ranges for the default probabilities and the number of debtors are not of the same length")},
        {__LINE__, binomialTest(numbers({0.1, 0.2}), numbers({0, 0}, false), numbers({1, 1})),
         text("The cell ranges for the default probabilities and the number of defaults are not both columns or both "
              "rows")},
        {__LINE__, binomialTest(square, numbers({0, 0}), numbers({1, 1})),
         text("The cell range for the default probabilities is not one-dimensional")},

        // Defaults at scores 1 and 3, survivals at 2 and 4: placements {1, 1/2} and {1/2, 1}.
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 0, 1, 0}), 0, one(0.9)),
         {{"AUROC", 0.75}, {"Standard Error", sqrtEighth}, {"Initial AUROC", 0.9}, {"Test Statistic", z},
          {"p-Value", upperTail(z)}}},
        {__LINE__, aurocInitialComparison(numbers({4, 3, 2, 1}), numbers({1, 0, 1, 0}), 1, one(0.9)),
         {{"AUROC", 0.75}, {"Standard Error", sqrtEighth}, {"Initial AUROC", 0.9}, {"Test Statistic", z},
          {"p-Value", upperTail(z)}}},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 1, 0, 0}), 0, one(0.8)),
         {{"AUROC", 1.0}, {"Standard Error", 0.0}, {"Initial AUROC", 0.8}, {"Test Statistic", sd0},
          {"p-Value", sd0}}},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 0, 0, 0}), 0, one(0.8)),
         text("The standard error needs at least two defaults and two survivals")},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({0, 0, 0, 0}), 0, one(0.8)),
         text("The data do not contain a single default")},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 0.5, 0, 0}), 0, one(0.8)),
         text("At least one indicator is not Zero or One")},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 1, 0, 0}), 0, one(1.5)),
         text("The initial AUROC is not in [0,1]")},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 1, 0, 0}), 0, numbers({0.5, 0.6})),
         text("The initial AUROC is not a single number")},
        {__LINE__, aurocInitialComparison(numbers({1, 2, 3, 4}), numbers({1, 1, 0, 0}), 2, one(0.5)),
         text("The value of scoreIndex is not in the range of 0..1")},

        // KS in counts |d N_S - s N_D|: 3, 3, 6, 3, 0 over the scores 1..5.
        {__LINE__, ksStatistic(numbers({1, 2, 2, 3, 4, 5}), numbers({1, 1, 0, 1, 0, 0}), 0),
         {{"KS", 6.0 / 9}, {"Score", 3.0}}},
        // Equal distances 2, 0, 2, 0: the first threshold from the riskiest end, in either direction.
        {__LINE__, ksStatistic(numbers({1, 2, 3, 4}), numbers({1, 0, 1, 0}), 0), {{"KS", 0.5}, {"Score", 1.0}}},
        {__LINE__, ksStatistic(numbers({1, 2, 3, 4}), numbers({1, 0, 1, 0}), 1), {{"KS", 0.5}, {"Score", 4.0}}},
        // Scores within 1e-10 are one threshold.
        {__LINE__, ksStatistic(numbers({1, 1 + 5e-11, 2}), numbers({1, 0, 0}), 0), {{"KS", 0.5}, {"Score", 1.0}}},
        {__LINE__, ksStatistic(numbers({1, 2}), numbers({1, 1}), 0), text("The data do not contain a single survival")},
        // Two scores over 64 debtors, grouped through the table of ties: 20 and 4 defaults, 12 and 28
        // survivals; 512 / 960 from either end.
        {__LINE__, ksStatistic(tiedScores, tiedIndicators, 0), {{"KS", 512.0 / 960}, {"Score", 1.0}}},
        {__LINE__, ksStatistic(tiedScores, tiedIndicators, 1), {{"KS", 512.0 / 960}, {"Score", 2.0}}},

        {__LINE__, herfindahlIndex(numbers({1, 3})),
         {{"Coefficient of Variation", 0.5}, {"Herfindahl Index", 1 + std::log2(0.625)}}},
        {__LINE__, herfindahlIndex(numbers({0, 7, 0})),
         {{"Coefficient of Variation", std::sqrt(2.0)}, {"Herfindahl Index", 1.0}}},
        {__LINE__, herfindahlIndex(numbers({5, nan})),
         text("The cell range for the number of debtors holds fewer than two grades")},
        {__LINE__, herfindahlIndex(numbers({0, 0})), text("The grades do not contain a single debtor")},

        {__LINE__, populationStabilityIndex(numbers({1, 1}), numbers({1, 3})),
         {{"Grade", "Reference Share", "Current Share", "Contribution"},
          {1.0, 0.5, 0.25, 0.25 * std::log(2.0)},
          {2.0, 0.5, 0.75, 0.25 * std::log(1.5)},
          {"PSI", e, e, 0.25 * std::log(3.0)}}},
        {__LINE__, populationStabilityIndex(numbers({1, 1, 4}), numbers({1, 0, 3})),
         text("The grade in row 2 has no debtors in the cell range for the current counts")},

        // Grade 2 starts with no debtor: its row stays empty.
        {__LINE__, migrationMatrix(numbers({1, 1, 3, 3, 1}), numbers({1, 2, 1, 3, 3})),
         {{e, 1.0, 2.0, 3.0},
          {1.0, 1.0 / 3, 1.0 / 3, 1.0 / 3},
          {2.0, e, e, e},
          {3.0, 0.5, 0.0, 0.5},
          {"Stayed", 0.4, e, e},
          {"Upgraded", 0.2, e, e},
          {"Downgraded", 0.4, e, e},
          {"Moved Two Or More Grades", 0.4, e, e}}},
        {__LINE__, migrationMatrix(numbers({1, 0}), numbers({1, 2})),
         text("The cell range for the grades before holds a grade below 1 in row 2")},
        {__LINE__, migrationMatrix(numbers({1, 2}), numbers({1, 2.5})),
         text("The cell range for the grades after holds a number that is not whole in row 2")},
        {__LINE__, migrationMatrix(numbers({1, 2}), numbers({1001, 2})),
         text("The largest grade exceeds the limit of 1000 grades")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ASSERT_EQ(c.result.Rows(), c.expected.size()) << rejection(c.result);
        ASSERT_EQ(c.result.Columns(), c.expected[0].size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            for (std::size_t j = 0; j < c.expected[i].size(); ++j) {
                const xlframe::CellValue& got = c.result(i, j);
                const Cell& want = c.expected[i][j];
                if (const double* x = std::get_if<double>(&want)) {
                    ASSERT_TRUE(got.IsNumber()) << i << "," << j;
                    EXPECT_NEAR(got.GetNumber(), *x, 1e-13 * std::max(1.0, std::fabs(*x))) << i << "," << j;
                } else if (const std::string* t = std::get_if<std::string>(&want)) {
                    ASSERT_TRUE(got.IsNarrowString()) << i << "," << j;
                    EXPECT_EQ(got.GetString(), *t);
                } else {
                    EXPECT_TRUE(got.IsEmpty()) << i << "," << j;
                }
            }
        }
    }
}

}  // namespace
}  // namespace Korvanth
