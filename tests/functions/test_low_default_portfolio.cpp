#include <gtest/gtest.h>

#include <boost/math/distributions/binomial.hpp>
#include <cmath>
#include <string>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");
const CellMatrix omitted(1, 1);

CellMatrix one(double value) { return numbers({value}); }
CellMatrix word(const std::string& value) {
    CellMatrix cell(1, 1);
    cell(0, 0) = value;
    return cell;
}

std::vector<double> column(const CellMatrix& result) {
    std::vector<double> values;
    for (std::size_t i = 0; i < result.Rows(); ++i) values.push_back(number(result, i, 0));
    return values;
}

double upperBound(double trials, double defaults, double quantile) {
    return boost::math::binomial_distribution<double>::find_upper_bound_on_p(trials, defaults, 1.0 - quantile);
}

TEST(LowDefaultPortfolioPD, ThreeGradesWithTheDefaults) {
    const CellMatrix r = lowDefaultPortfolioPD(numbers({0, 0, 1}), numbers({100, 200, 300}), omitted, omitted, omitted);
    ASSERT_EQ(r.Rows(), 3u) << rejection(r);
    ASSERT_EQ(r.Columns(), 1u);
    const double trials[] = {601, 501, 301};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(number(r, i, 0), upperBound(trials[i], 1, 0.999), 1e-9);
    EXPECT_LT(number(r, 0, 0), number(r, 1, 0));
    EXPECT_LT(number(r, 1, 0), number(r, 2, 0));
}

TEST(LowDefaultPortfolioPD, RowsGiveARowAndOneGradeOneCell) {
    const CellMatrix asColumn = lowDefaultPortfolioPD(numbers({0, 2}), numbers({50, 70}), omitted, one(0.9), omitted);
    const CellMatrix asRow =
        lowDefaultPortfolioPD(numbers({0, 2}, false), numbers({50, 70}, false), omitted, one(0.9), omitted);
    ASSERT_EQ(asRow.Rows(), 1u) << rejection(asRow);
    ASSERT_EQ(asRow.Columns(), 2u);
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(number(asRow, 0, i), number(asColumn, i, 0));

    const CellMatrix single = lowDefaultPortfolioPD(one(3), one(97), omitted, one(0.95), omitted);
    ASSERT_EQ(single.Rows(), 1u);
    ASSERT_EQ(single.Columns(), 1u);
    EXPECT_NEAR(number(single, 0, 0), upperBound(100, 3, 0.95), 1e-9);
}

// Which estimator a correlation selects, and how the optional arguments fall back.
TEST(LowDefaultPortfolioPD, OptionalArguments) {
    const CellMatrix d = numbers({0, 1, 3}), s = numbers({400, 300, 200});
    const std::vector<double> independent = column(lowDefaultPortfolioPD(d, s, omitted, omitted, omitted));
    for (const CellMatrix& rho : {one(0), one(-0.2), one(5e-11), word("high"), numbers({0.1, 0.2})})
        EXPECT_EQ(column(lowDefaultPortfolioPD(d, s, rho, omitted, omitted)), independent);
    const std::vector<double> correlated = column(lowDefaultPortfolioPD(d, s, one(0.05), omitted, omitted));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_GT(correlated[i], independent[i] * 1.01) << "grade " << i;

    EXPECT_EQ(column(lowDefaultPortfolioPD(d, s, omitted, word("x"), omitted)), independent);
    EXPECT_EQ(column(lowDefaultPortfolioPD(d, s, omitted, one(0.999), omitted)), independent);
    EXPECT_NE(column(lowDefaultPortfolioPD(d, s, omitted, one(0.99), omitted)), independent);

    const std::vector<double> scaled = column(lowDefaultPortfolioPD(d, s, omitted, omitted, one(0.02)));
    EXPECT_NEAR((400 * scaled[0] + 301 * scaled[1] + 203 * scaled[2]) / 904, 0.02, 1e-15);
    for (const CellMatrix& average : {one(0), one(1), one(-0.5), word("x")})
        EXPECT_EQ(column(lowDefaultPortfolioPD(d, s, omitted, omitted, average)), independent);
}

// The correlated estimator is bounded in the number of grades; the independent one is not.
TEST(LowDefaultPortfolioPD, CorrelatedGradesAreLimited) {
    const CellMatrix defaults = numbers(std::vector<double>(1001, 0.0));
    const CellMatrix survivals = numbers(std::vector<double>(1001, 100.0));
    EXPECT_EQ(rejection(lowDefaultPortfolioPD(defaults, survivals, one(0.1), omitted, omitted)),
              "The number of grades exceeds the limit of 1000 for correlated defaults");
    const CellMatrix independent = lowDefaultPortfolioPD(defaults, survivals, omitted, omitted, omitted);
    ASSERT_EQ(independent.Rows(), 1001u);
    EXPECT_TRUE(independent(1000, 0).IsNumber());
}

struct Rejected {
    int line;
    CellMatrix defaults, survivals, correlation, quantile;
    std::string message;
};

class LowDefaultPortfolioPDRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(LowDefaultPortfolioPDRejects, WithItsText) {
    const Rejected& c = GetParam();
    SCOPED_TRACE(c.line);
    EXPECT_EQ(rejection(lowDefaultPortfolioPD(c.defaults, c.survivals, c.correlation, c.quantile, omitted)),
              c.message);
}

const CellMatrix square2 = square({{1, 2}, {3, 4}});
const std::string noSolution = "The Pluto-Tasche method failed finding a solution. Please check your input data";

INSTANTIATE_TEST_SUITE_P(
    Checks, LowDefaultPortfolioPDRejects,
    ::testing::Values(
        Rejected{__LINE__, square2, square2, omitted, omitted,
                 "The cell range for the number of defaults is not one-dimensional"},
        Rejected{__LINE__, numbers({0, 1}), square2, omitted, omitted,
                 "The cell range for the number of survivals is not one-dimensional"},
        Rejected{__LINE__, numbers({0, 1}), numbers({5, 5}, false), omitted, omitted,
                 "The dimensions of the vectors for numbers of defaults and survivals are not equal"},
        Rejected{__LINE__, numbers({0, 1}), numbers({5, 5, 5}), omitted, omitted,
                 "The dimensions of the vectors for numbers of defaults and survivals are not equal"},
        Rejected{__LINE__, numbers({nan, nan}), numbers({5, 5}), omitted, omitted,
                 "The vector number of defaults does not contain a single numerical entry"},
        Rejected{__LINE__, numbers({0, 1}), CellMatrix(2, 1), omitted, omitted,
                 "The vector number of survivals does not contain a single numerical entry"},
        Rejected{__LINE__, numbers({0, 1}, false), [] {
                     CellMatrix r = numbers({5, 5}, false);
                     r(0, 1) = "five";
                     return r;
                 }(),
                 omitted, omitted, "The vector number of survivals contains a non-numerical entry"},
        Rejected{__LINE__, numbers({0, 1, 2}), numbers({5, nan, 5}), omitted, omitted,
                 "The cell range for the number of survivals is empty in row 2, where that for the number of defaults "
                 "is not"},
        // A worst grade without survivals.
        Rejected{__LINE__, numbers({0, 2}), numbers({100, 0}), omitted, omitted, noSolution},
        Rejected{__LINE__, numbers({0, 2}), numbers({100, 0}), one(0.1), omitted,
                 "At least one entry in the number of survivals is not positive"},
        Rejected{__LINE__, numbers({0, -1}), numbers({100, 10}), one(0.1), omitted,
                 "At least one entry in the number of defaults is negative"},
        Rejected{__LINE__, numbers({0, -1}), numbers({100, 10}), omitted, omitted,
                 "At least one entry in the number of defaults is negative"},
        Rejected{__LINE__, numbers({0, 1}), numbers({100, -10}), omitted, omitted,
                 "At least one entry in the number of survivals is negative"},
        Rejected{__LINE__, numbers({0}), numbers({100}), one(1.0), omitted,
                 "The asset correlation provided in the low-default portfolio PD estimation is not in [0, 1)"},
        Rejected{__LINE__, numbers({0}), numbers({100}), omitted, one(1.5), noSolution},
        Rejected{__LINE__, numbers({0}), numbers({100}), one(0.1), one(1.5),
                 "The quantile provided in the low-default portfolio PD estimation is not in (0, 1)"}));

}  // namespace
}  // namespace Korvanth
