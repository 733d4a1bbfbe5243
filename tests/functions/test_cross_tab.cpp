#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "analytics/categories.hpp"
#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");

// The hand-worked tables and the texts of bad input are cases of the command-line tests.
const CellMatrix omitted(1, 1);

// The ordered scan as written: the first class that takes x.
std::ptrdiff_t scanReference(const std::vector<double>& lower, const std::vector<double>& upper, double x) {
    for (std::size_t j = 0; j < lower.size(); ++j)
        if (lower[j] < x && x <= upper[j] + 1e-15) return static_cast<std::ptrdiff_t>(j);
    return -1;
}

TEST(ScoreClasses, FindsTheSameClassAsTheOrderedScan) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> grid(-20, 20), count(1, 12), shape(0, 4);
    bool sawBisection = false, sawScan = false;
    for (int round = 0; round < 4000; ++round) {
        const int c = count(gen), kind = shape(gen);
        std::vector<double> lower(c), upper(c);
        for (int j = 0; j < c; ++j) {
            lower[j] = grid(gen) / 4.0;
            upper[j] = lower[j] + (grid(gen) + 21) / 8.0;
        }
        if (kind <= 2) std::sort(lower.begin(), lower.end());  // ascending, overlapping or with gaps
        if (kind <= 1) std::sort(upper.begin(), upper.end());
        if (kind == 0)  // touching intervals, some of them empty or tied
            for (int j = 1; j < c; ++j) lower[j] = upper[j - 1];
        if (kind == 4 && c > 1) lower[c / 2] = nan;
        const ScoreClasses classes(lower, upper);
        (classes.bisects() ? sawBisection : sawScan) = true;
        for (int probe = 0; probe < 40; ++probe) {
            double x = grid(gen) / 4.0;
            if (probe % 3 == 1) x += 1e-16;  // inside the tolerance above a boundary near 0
            if (probe % 7 == 0) x = upper[probe % c];
            ASSERT_EQ(classes.find(x), scanReference(lower, upper, x)) << "round " << round << " x " << x;
        }
        EXPECT_EQ(classes.find(nan), -1);
    }
    EXPECT_TRUE(sawBisection);
    EXPECT_TRUE(sawScan);
}

// crossTabNumerical against a naive reference: scan, per-class lists, sorted medians.
TEST(CrossTabNumerical, AgreesWithANaiveTabulation) {
    std::mt19937 gen(11);
    for (int round = 0; round < 60; ++round) {
        const std::size_t m = 5 + gen() % 400;
        const int k = 1 + static_cast<int>(gen() % std::min<std::size_t>(m - 1, 25));
        std::uniform_int_distribution<int> grid(-50, 50);  // many ties
        std::vector<double> x(m);
        std::vector<double> y(m);
        for (std::size_t i = 0; i < m; ++i) x[i] = grid(gen) / 8.0, y[i] = gen() % 3 == 0;
        const CellMatrix r = crossTabNumerical(numbers(x), numbers(y), numbers({double(k)}), omitted, omitted);
        ASSERT_EQ(r.Rows(), std::size_t(k) + 1) << rejection(r);
        std::vector<double> lower(k), upper(k);
        for (int j = 0; j < k; ++j) lower[j] = number(r, j + 1, 0), upper[j] = number(r, j + 1, 1);
        std::vector<double> t = x;
        std::sort(t.begin(), t.end());
        const std::size_t step = m / k;
        for (int j = 0; j + 1 < k; ++j) EXPECT_EQ(upper[j], (t[(j + 1) * step] + t[(j + 1) * step + 1]) / 2);
        std::vector<std::vector<double>> lists(k);
        std::vector<double> s(k, 0), d(k, 0);
        for (std::size_t i = 0; i < m; ++i) {
            const std::ptrdiff_t j = scanReference(lower, upper, x[i]);
            ASSERT_GE(j, 0);
            lists[j].push_back(x[i]);
            (y[i] ? d : s)[j] += 1;
        }
        // The same boundaries given explicitly tabulate the same (as rows; one cell counts as a column).
        const bool column = k == 1;
        const CellMatrix given = crossTabNumerical(numbers(x, column), numbers(y, column), omitted,
                                                   numbers(lower, column), numbers(upper, column));
        // Tied splits give empty classes, which explicit boundaries may not have.
        const bool comparable = rejection(given).empty();
        if (!comparable) {
            EXPECT_EQ(rejection(given), "At least one upper boundary is not greater than a corresponding lower boundary");
        }
        for (int j = 0; j < k; ++j) {
            std::sort(lists[j].begin(), lists[j].end());
            const double median = lists[j].empty() ? 0.0 : lists[j][lists[j].size() / 2];
            EXPECT_EQ(number(r, j + 1, 2), s[j]);
            EXPECT_EQ(number(r, j + 1, 3), d[j]);
            EXPECT_EQ(number(r, j + 1, 4), median);
            for (std::size_t col = 0; comparable && col < 6; ++col) {
                ASSERT_EQ(given(j + 1, col).Kind(), r(j + 1, col).Kind());
                if (r(j + 1, col).IsNumber()) {
                    EXPECT_EQ(given(j + 1, col).GetNumber(), r(j + 1, col).GetNumber());
                }
            }
        }
    }
}

// Only both boundaries omitted ask for classes of equal size; one of them alone is a mistake.
TEST(CrossTabNumerical, OneOmittedBoundaryRangeIsRefused) {
    const CellMatrix x = numbers({1, 2, 3, 4}), y = numbers({0, 1, 0, 1}), bounds = numbers({0, 2.5});
    EXPECT_EQ(rejection(crossTabNumerical(x, y, numbers({2}), bounds, omitted)), "The cell ranges of the upper and lower boundaries are not identical");
    EXPECT_EQ(rejection(crossTabNumerical(x, y, numbers({2}), omitted, bounds)), "The cell ranges of the upper and lower boundaries are not identical");
}

}  // namespace
}  // namespace Korvanth
