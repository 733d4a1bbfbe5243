#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

// The values against the binomial bound, the optional arguments and the texts of bad input are
// cases of the command-line tests.
namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const CellMatrix omitted(1, 1);

CellMatrix one(double value) { return numbers({value}); }
std::vector<double> column(const CellMatrix& result) {
    std::vector<double> values;
    for (std::size_t i = 0; i < result.Rows(); ++i) values.push_back(number(result, i, 0));
    return values;
}

// A positive correlation selects the correlated estimator, above the independent one.
TEST(LowDefaultPortfolioPD, CorrelationRaisesTheEstimates) {
    const CellMatrix d = numbers({0, 1, 3}), s = numbers({400, 300, 200});
    const std::vector<double> independent = column(lowDefaultPortfolioPD(d, s, omitted, omitted, omitted));
    const std::vector<double> correlated = column(lowDefaultPortfolioPD(d, s, one(0.05), omitted, omitted));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_GT(correlated[i], independent[i] * 1.01) << "grade " << i;
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

}  // namespace
}  // namespace Korvanth
