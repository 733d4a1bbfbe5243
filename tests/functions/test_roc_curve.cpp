// ROC curves and AUROC against hand-worked cases and the Mann-Whitney count.
#include <gtest/gtest.h>

#include <random>

#include "functions/worksheet_functions.hpp"
#include "tests/functions/test_calibration_support.hpp"

namespace Korvanth {
namespace {

using testing::number;
using testing::numbers;
using testing::rejection;
using testing::text;

TEST(RocCurveIndividual, HandWorkedFourDebtors) {
    const CellMatrix s = numbers({1, 2, 3, 4}), y = numbers({1, 0, 1, 0});
    EXPECT_DOUBLE_EQ(number(rocCurveIndividual(s, y, 0, 0, 0), 0, 1), 0.75);
    EXPECT_DOUBLE_EQ(number(rocCurveIndividual(s, y, 1, 0, 0), 0, 1), 0.25);
    const CellMatrix curve = rocCurveIndividual(s, y, 0, 1, 4);
    ASSERT_EQ(curve.Rows(), 8u);
    EXPECT_EQ(text(curve, 2, 0), "False Alarm Rate");
    EXPECT_EQ(text(curve, 2, 1), "Hit Rate");
    const double far[] = {0, 0, 0.5, 0.5, 1}, hr[] = {0, 0.5, 0.5, 1, 1};
    for (int j = 0; j < 5; ++j) {
        EXPECT_DOUBLE_EQ(number(curve, 3 + j, 0), far[j]);
        EXPECT_DOUBLE_EQ(number(curve, 3 + j, 1), hr[j]);
    }
}

TEST(RocCurveIndividual, OneBucketHasZeroVariance) {
    const CellMatrix r = rocCurveIndividual(numbers({5, 5, 5, 5}), numbers({1, 0, 1, 0}), 0, 0, 0);
    EXPECT_DOUBLE_EQ(number(r, 0, 1), 0.5);
    EXPECT_DOUBLE_EQ(number(r, 1, 0), 0.5);
    EXPECT_DOUBLE_EQ(number(r, 1, 1), 0.5);
}

TEST(RocCurveIndividual, Rejections) {
    const CellMatrix s = numbers({1, 2, 3}), y = numbers({1, 0, 1});
    struct Case {
        CellMatrix scores, indicators;
        int scoreIndex, outputIndex;
        std::string expected;
    } cases[] = {
        {CellMatrix(2, 2), y, 0, 0, "The cell range for the scores is not one-dimensional"},
        {s, CellMatrix(2, 2), 0, 0, "The cell range for the indicators is not one-dimensional"},
        {s, numbers({1, 0}), 0, 0, "The dimensions of the vectors for scores and indicators are not equal"},
        {s, y, 2, 0, "The value of scoreIndex is not in the range of 0..1"},
        {s, y, 0, -1, "The value of outputIndex is not in the range of 0..1"},
        {s, numbers({1, 2, 0}), 0, 0, "At least one indicator is not Zero or One"},
        {s, numbers({1, NAN, 0}), 0, 0, "The cell range for the indicators is empty in row 2, where that for the scores is not"},
        {s, numbers({1, 1, 1}), 0, 0, "The data do not contain a single survival"},
        {s, numbers({0, 0, 0}), 0, 0, "The data do not contain a single default"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rejection(rocCurveIndividual(c.scores, c.indicators, c.scoreIndex, c.outputIndex, 0)), c.expected);
}

TEST(RocCurveIndividual, ToleranceAndTruncation) {
    EXPECT_DOUBLE_EQ(number(rocCurveIndividual(numbers({1.0, 1.0 + 5e-11}), numbers({1, 0}), 0, 0, 0), 0, 1), 0.5);
    EXPECT_DOUBLE_EQ(number(rocCurveIndividual(numbers({1.0, 1.0 + 2e-10}), numbers({1, 0}), 0, 0, 0), 0, 1), 1.0);
    EXPECT_DOUBLE_EQ(number(rocCurveIndividual(numbers({1, 2}), numbers({1.7, 0.4}), 0, 0, 0), 0, 1), 1.0);
}

TEST(RocCurveIndividual, ResampledCurveAndHugeBucketCount) {
    std::mt19937 gen(7);
    std::vector<double> s(200), y(200);
    for (int i = 0; i < 200; ++i) s[i] = i, y[i] = gen() % 3 == 0;
    const CellMatrix r = rocCurveIndividual(numbers(s), numbers(y), 0, 1, 10);
    ASSERT_EQ(r.Rows(), 13u);
    for (int j = 0; j < 10; ++j) EXPECT_NEAR(number(r, 3 + j, 0), j * 0.1, 1e-15);
    EXPECT_EQ(rocCurveIndividual(numbers(s), numbers(y), 0, 1, 0).Rows(), 3u);
    EXPECT_EQ(rocCurveIndividual(numbers(s), numbers(y), 0, 1, -5).Rows(), 4u);
    const CellMatrix huge = rocCurveIndividual(numbers(s), numbers(y), 0, 1, 2147483647);
    EXPECT_EQ(huge.Rows(), 1048576u);
    for (std::size_t j = 3; j < huge.Rows(); j += 4099) EXPECT_TRUE(huge(j, 1).IsNumber());
    // A coarser grid, not a cut one: the last point lies a grid step short of (1, 1).
    EXPECT_NEAR(number(huge, huge.Rows() - 1, 0), 1.0, 2e-6);
    EXPECT_NEAR(number(huge, huge.Rows() - 1, 1), 1.0, 2e-6);
}

TEST(RocCurveIndividual, VerticalPieceGivesFiniteHitRate) {
    // Buckets: survival at 1, default at 2, survival at 3: x = 0.5 meets the vertical piece.
    const CellMatrix r = rocCurveIndividual(numbers({1, 2, 3}), numbers({0, 1, 0}), 0, 1, 2);
    ASSERT_EQ(r.Rows(), 5u);
    EXPECT_DOUBLE_EQ(number(r, 4, 0), 0.5);
    EXPECT_DOUBLE_EQ(number(r, 4, 1), 0.0);
}

// The AUROC is the share of (default, survival) pairs ordered correctly, ties counting 1/2.
TEST(RocCurveIndividual, EqualsMannWhitneyShare) {
    std::mt19937 gen(12345);
    for (int trial = 0; trial < 50; ++trial) {
        const int n = 2 + static_cast<int>(gen() % 60);
        std::vector<double> s(n), y(n);
        for (int i = 0; i < n; ++i) s[i] = static_cast<double>(gen() % 7), y[i] = gen() % 3 == 0;
        y[0] = 1, y[1] = 0;
        double share = 0, pairs = 0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (y[i] == 1 && y[j] == 0) share += s[i] < s[j] ? 1 : s[i] == s[j] ? 0.5 : 0, pairs += 1;
        EXPECT_NEAR(number(rocCurveIndividual(numbers(s), numbers(y), 0, 0, 0), 0, 1),
                    share / pairs, 1e-12);
        EXPECT_NEAR(number(rocCurveIndividual(numbers(s, false), numbers(y, false), 1, 0, 0), 0, 1), 1 - share / pairs,
                    1e-12);
    }
}

// Variance by hand for scores (1, 2, 3, 4), indicators (1, 0, 1, 0):
// p = (.5, 0, .5, 0), q = (0, .5, 0, .5), HR = (.5, .5, 1, 1), FAR = (0, .5, .5, 1).
// A = q1 HR0^2 + q3 HR2^2 + q1 (1-HR1)^2 - 2 q1 HR0 (1-HR1) = .125 + .5 + .125 - .25 = .5
// B = p2 FAR1^2 + p0 (1-FAR0)^2 + p2 (1-FAR2)^2 - 2 p2 FAR1 (1-FAR2) = .125 + .5 + .125 - .25 = .5
// C = 1, V = (.5 + 1 + .5 - 4 * 3 * .0625) / 4 = 0.3125.
TEST(RocCurveIndividual, VarianceByHand) {
    const CellMatrix r = rocCurveIndividual(numbers({1, 2, 3, 4}), numbers({1, 0, 1, 0}), 0, 0, 0);
    const double z = 1.959963984540054;
    EXPECT_NEAR(number(r, 1, 0), 0.75 - z * std::sqrt(0.3125), 1e-6);
    EXPECT_NEAR(number(r, 1, 1), 0.75 + z * std::sqrt(0.3125), 1e-6);
}

TEST(RocCurveAggregate, ThreeGradesAndExpansion) {
    const CellMatrix r = rocCurveAggregate(numbers({3, 1, 2}), numbers({1, 5, 2}), numbers({9, 2, 4}), 0, 1);
    ASSERT_EQ(r.Rows(), 7u);
    EXPECT_DOUBLE_EQ(number(r, 3, 0), 0.0);
    EXPECT_DOUBLE_EQ(number(r, 6, 0), 1.0);
    EXPECT_DOUBLE_EQ(number(r, 6, 1), 1.0);
    std::vector<double> s, y;
    const double grade[] = {3, 1, 2}, d[] = {1, 5, 2}, sv[] = {9, 2, 4};
    for (int g = 0; g < 3; ++g) {
        for (int k = 0; k < d[g]; ++k) s.push_back(grade[g]), y.push_back(1);
        for (int k = 0; k < sv[g]; ++k) s.push_back(grade[g]), y.push_back(0);
    }
    const CellMatrix ind = rocCurveIndividual(numbers(s), numbers(y), 0, 0, 0);
    for (int c = 0; c < 2; ++c) EXPECT_NEAR(number(r, 1, c), number(ind, 1, c), 1e-12);
    EXPECT_NEAR(number(r, 0, 1), number(ind, 0, 1), 1e-12);
}

TEST(RocCurveAggregate, Rejections) {
    const CellMatrix s = numbers({1, 2}), d = numbers({1, 0}), v = numbers({0, 1});
    EXPECT_EQ(rejection(rocCurveAggregate(s, CellMatrix(2, 2), v, 0, 0)),
              "The vectors for scores and the number of defaults do not have the same dimension");
    EXPECT_EQ(rejection(rocCurveAggregate(s, d, numbers({1}), 0, 0)),
              "The vectors for scores and the number of survivals do not have the same dimension");
    EXPECT_EQ(rejection(rocCurveAggregate(CellMatrix(2, 2), CellMatrix(2, 2), CellMatrix(2, 2), 0, 0)),
              "The range of scores must be a vector, either the number of rows or the number of columns must be "
              "equal to one");
    EXPECT_EQ(rejection(rocCurveAggregate(s, d, v, 2, 0)), "The value of scoreIndex is not in the range of 0..1");
    EXPECT_EQ(rejection(rocCurveAggregate(s, d, v, 0, 2)), "The value of outputIndex is not in the range of 0..1");
}

}  // namespace
}  // namespace Korvanth
