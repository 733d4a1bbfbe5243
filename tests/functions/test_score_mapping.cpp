#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

// The lookups, the copied cells and the texts of bad input are cases of the command-line tests.
std::vector<double> column(const CellMatrix& r) {
    std::vector<double> values;
    for (std::size_t i = 0; i < r.Rows(); ++i)
        for (std::size_t j = 0; j < r.Columns(); ++j) values.push_back(number(r, i, j));
    return values;
}

// Boundaries that meet only within the tolerance of 1e-10, and scores on and near them, against
// the first class of the ordered test.
TEST(MapNumericals2Scores, AgreesWithTheOrderedTestNearBoundaries) {
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> jitter(-9e-11, 9e-11);
    for (int round = 0; round < 200; ++round) {
        const std::size_t c = 1 + gen() % 10;
        std::vector<double> lower(c), upper(c), values(c);
        for (std::size_t j = 0; j < c; ++j) {
            lower[j] = j == 0 ? -1.0 : upper[j - 1] + jitter(gen);
            upper[j] = static_cast<double>(j) + (j + 1 == c ? 0.0 : jitter(gen));
            values[j] = 100.0 + static_cast<double>(j);
        }
        std::vector<double> scores;
        for (std::size_t j = 0; j < c; ++j)
            for (double d : {-2e-10, -1e-15, 0.0, 5e-16, 1e-15, 3e-15, 2e-10}) scores.push_back(upper[j] + d);
        std::vector<double> expected;
        std::vector<double> mapped;
        for (double x : scores) {
            std::ptrdiff_t first = -1;
            for (std::size_t j = 0; j < c && first < 0; ++j)
                if (lower[j] < x && x <= upper[j] + 1e-15) first = static_cast<std::ptrdiff_t>(j);
            if (first < 0) continue;
            mapped.push_back(x);
            expected.push_back(values[static_cast<std::size_t>(first)]);
        }
        const CellMatrix r = mapNumericals2Scores(numbers(mapped), numbers(values), numbers(lower), numbers(upper));
        ASSERT_EQ(rejection(r), "") << round;
        EXPECT_EQ(column(r), expected) << round;
    }
}

}  // namespace
}  // namespace Korvanth
