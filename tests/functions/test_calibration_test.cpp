#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

// The hand-worked tables and the texts of bad input are cases of the command-line tests.
TEST(CalibrationTestAggregate, AgreesWithItsDebtorsExpanded) {
    std::mt19937 random(20261206);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<double> pd, defaults, survivals, debtorPDs, indicators;
        const int grades = 1 + trial % 6;
        for (int g = 0; g < grades; ++g) {
            pd.push_back(std::uniform_real_distribution<double>(0.01, 0.6)(random));
            defaults.push_back(std::uniform_int_distribution<int>(0, 5)(random));
            survivals.push_back(std::uniform_int_distribution<int>(1, 30)(random));
            for (int i = 0; i < defaults.back() + survivals.back(); ++i) {
                debtorPDs.push_back(pd.back());
                indicators.push_back(i < defaults.back() ? 1 : 0);
            }
        }
        const CellMatrix a = calibrationTestAggregate(numbers(pd), numbers(defaults), numbers(survivals));
        const CellMatrix b = calibrationTestIndividual(numbers(debtorPDs), numbers(indicators));
        for (std::size_t c = 1; c < 6; ++c) EXPECT_NEAR(number(a, 1, c), number(b, 1, c), 1e-12) << trial << " " << c;
    }
}

TEST(CalibrationTestAggregate, CountsBeyondThirtyTwoBits) {
    // 6e9 debtors: the averages are those of the same shares in small counts, the deviation
    // shrinks with the square root of the scale.
    const double scale = 1e9;
    const CellMatrix small = calibrationTestAggregate(numbers({0.1, 0.3}), numbers({1, 2}), numbers({1, 2}));
    const CellMatrix big =
        calibrationTestAggregate(numbers({0.1, 0.3}), numbers({1 * scale, 2 * scale}), numbers({1 * scale, 2 * scale}));
    EXPECT_NEAR(number(big, 1, 1), number(small, 1, 1), 1e-14);
    EXPECT_NEAR(number(big, 1, 2), number(small, 1, 2), 1e-14);
    EXPECT_NEAR(number(big, 1, 3) * std::sqrt(scale), number(small, 1, 3), 1e-14);
    EXPECT_NEAR(number(big, 1, 6), number(small, 1, 6) * scale, 1e-3);
}

struct Rejection {
    int line;
    CellMatrix pd, second, third;  // third unused by the individual test
    std::string individual, aggregate;
};

}  // namespace
}  // namespace Korvanth
