#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

// The hand-worked tables and the texts of bad input are cases of the command-line tests.
TEST(CalibrationDifference, AggregateAgreesWithItsDebtorsExpanded) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 20; ++trial) {
        const std::size_t k = 1 + trial % 5;
        std::vector<double> pd;
        for (std::size_t g = 0; g < k; ++g) pd.push_back(std::uniform_real_distribution<double>(0, 1)(random));
        std::vector<std::vector<double>> d(k, std::vector<double>(k)), s = d;
        std::vector<double> p1, p2, y;
        for (std::size_t u = 0; u < k; ++u)
            for (std::size_t v = 0; v < k; ++v) {
                d[u][v] = std::uniform_int_distribution<int>(0, 3)(random);
                s[u][v] = std::uniform_int_distribution<int>(1, 6)(random);
                for (int i = 0; i < d[u][v] + s[u][v]; ++i) {
                    p1.push_back(pd[v]);
                    p2.push_back(pd[u]);
                    y.push_back(i < d[u][v] ? 1 : 0);
                }
            }
        const CellMatrix a = calibrationDifferenceAggregate(numbers(pd), square(d), square(s));
        const CellMatrix b = calibrationDifferenceIndividual(numbers(p1), numbers(p2), numbers(y));
        for (std::size_t r : {1u, 2u, 4u})
            for (std::size_t c = 1; c < 3; ++c)
                if (b(r, c).IsNumber()) {
                    EXPECT_NEAR(number(a, r, c), number(b, r, c), 1e-12) << trial;
                }
    }
}

// 4e9 debtors: the averages equal those of the same shares in counts of one.
TEST(CalibrationDifference, CountsBeyondThirtyTwoBits) {
    const CellMatrix big =
        calibrationDifferenceAggregate(numbers({0.1, 0.4}), square({{0, 2e9}, {0, 0}}), square({{0, 0}, {2e9, 0}}));
    const CellMatrix small =
        calibrationDifferenceAggregate(numbers({0.1, 0.4}), square({{0, 1}, {0, 0}}), square({{0, 0}, {1, 0}}));
    for (std::size_t c = 1; c < 3; ++c) EXPECT_NEAR(number(big, 1, c), number(small, 1, c), 1e-15);
    EXPECT_NEAR(number(big, 4, 1), number(small, 4, 1) * std::sqrt(2e9), 1e-6);
    EXPECT_EQ(text(big, 3, 0) + text(big, 4, 0), "");  // texts of length 0, not Empty cells (the sheets show both alike)
}

}  // namespace
}  // namespace Korvanth
