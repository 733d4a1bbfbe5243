// The AUROC difference test on aggregate data against the same debtors given one by one. The
// pairs and triples terms are held against their sums in the analytics tests; layouts, texts and
// the adjusted PowerStat are cases of the command-line tests.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "tests/functions/test_calibration_support.hpp"

namespace Korvanth {
namespace {

using testing::number;
using testing::numbers;
using testing::square;

struct Expanded {
    std::vector<double> s1, s2, y;
};

// Each cell's defaults and survivals, `times` over, as debtors: rating 1's grade is the column,
// rating 2's the row.
Expanded expand(const std::vector<std::vector<double>>& d, const std::vector<std::vector<double>>& s,
                const std::vector<double>& grade, int times) {
    Expanded e;
    for (int t = 0; t < times; ++t)
        for (std::size_t u = 0; u < d.size(); ++u)
            for (std::size_t v = 0; v < d.size(); ++v) {
                for (int k = 0; k < d[u][v]; ++k) e.s1.push_back(grade[v]), e.s2.push_back(grade[u]), e.y.push_back(1);
                for (int k = 0; k < s[u][v]; ++k) e.s1.push_back(grade[v]), e.s2.push_back(grade[u]), e.y.push_back(0);
            }
    return e;
}

const std::vector<std::vector<double>> d = {{3, 1, 0}, {1, 2, 1}, {0, 0, 1}}, s = {{1, 2, 1}, {2, 5, 3}, {1, 4, 9}};
const std::vector<double> grade = {1, 2, 3};

TEST(AurocDifferenceAggregate, AgreesWithExpandedDebtors) {
    const Expanded e = expand(d, s, grade, 1);
    for (int scoreIndex : {0, 1}) {
        const CellMatrix agg = aurocDifferenceAggregate(numbers(grade), square(d), square(s), scoreIndex);
        const CellMatrix ind = aurocDifferenceIndividual(numbers(e.s1), numbers(e.s2), numbers(e.y), scoreIndex);
        for (int row : {1, 2, 4})
            for (int c = (row == 4 ? 0 : 1); c < 3; ++c) EXPECT_NEAR(number(agg, row, c), number(ind, row, c), 1e-12);
    }
}

// A column long enough that the two ratings are ranked, and then summed, on threads of their own:
// the grades agree with the aggregate form, and all-distinct scores with each rating's own ROC.
TEST(AurocDifferenceThreads, ALongColumnAgreesWithTheAggregateFormAndEachRatingsRoc) {
    constexpr int times = 2000;  // 74,000 debtors
    std::vector<std::vector<double>> dTimes = d, sTimes = s;
    for (auto* m : {&dTimes, &sTimes})
        for (auto& row : *m)
            for (double& x : row) x *= times;
    Expanded e = expand(d, s, grade, times);
    const CellMatrix agg = aurocDifferenceAggregate(numbers(grade), square(dTimes), square(sTimes), 0);
    const CellMatrix ind = aurocDifferenceIndividual(numbers(e.s1), numbers(e.s2), numbers(e.y), 0);
    for (int row : {1, 2, 4})
        for (int c = (row == 4 ? 0 : 1); c < 3; ++c)
            EXPECT_NEAR(number(agg, row, c), number(ind, row, c), 1e-9 * std::abs(number(agg, row, c))) << row << c;

    // Every score its own: the grades spread by the debtor's place, in opposite directions.
    for (std::size_t i = 0; i < e.y.size(); ++i) {
        e.s1[i] += static_cast<double>(i) * 1e-6;
        e.s2[i] -= static_cast<double>(i) * 1e-6;
    }
    const CellMatrix distinct = aurocDifferenceIndividual(numbers(e.s1), numbers(e.s2), numbers(e.y), 0);
    for (int k : {0, 1}) {
        const CellMatrix roc = rocCurveIndividual(numbers(k == 0 ? e.s1 : e.s2), numbers(e.y), 0, 0, 0);
        EXPECT_EQ(number(distinct, 1, 1 + k), number(roc, 0, 1)) << k;
        EXPECT_NEAR(number(distinct, 2, 1 + k), (number(roc, 0, 1) - number(roc, 1, 0)) / 1.959963984540054,
                    1e-9 * number(distinct, 2, 1 + k))
            << k;
    }
    EXPECT_NE(number(distinct, 1, 1), number(distinct, 1, 2));
}

}  // namespace
}  // namespace Korvanth
