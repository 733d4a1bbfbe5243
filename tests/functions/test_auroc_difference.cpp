// The AUROC difference test on aggregate data against the same debtors given one by one. The
// pairs and triples terms are held against their sums in the analytics tests; layouts, texts and
// the adjusted PowerStat are cases of the command-line tests.
#include <gtest/gtest.h>

#include <vector>

#include "functions/worksheet_functions.hpp"
#include "tests/functions/test_calibration_support.hpp"

namespace Korvanth {
namespace {

using testing::number;
using testing::numbers;
using testing::square;

TEST(AurocDifferenceAggregate, AgreesWithExpandedDebtors) {
    const std::vector<std::vector<double>> d = {{3, 1, 0}, {1, 2, 1}, {0, 0, 1}}, s = {{1, 2, 1}, {2, 5, 3}, {1, 4, 9}};
    const std::vector<double> grade = {1, 2, 3};
    std::vector<double> s1, s2, y;
    for (int u = 0; u < 3; ++u)
        for (int v = 0; v < 3; ++v) {
            for (int k = 0; k < d[u][v]; ++k) s1.push_back(grade[v]), s2.push_back(grade[u]), y.push_back(1);
            for (int k = 0; k < s[u][v]; ++k) s1.push_back(grade[v]), s2.push_back(grade[u]), y.push_back(0);
        }
    for (int scoreIndex : {0, 1}) {
        const CellMatrix agg = aurocDifferenceAggregate(numbers(grade), square(d), square(s), scoreIndex);
        const CellMatrix ind = aurocDifferenceIndividual(numbers(s1), numbers(s2), numbers(y), scoreIndex);
        for (int row : {1, 2, 4})
            for (int c = (row == 4 ? 0 : 1); c < 3; ++c) EXPECT_NEAR(number(agg, row, c), number(ind, row, c), 1e-12);
    }
}

}  // namespace
}  // namespace Korvanth
