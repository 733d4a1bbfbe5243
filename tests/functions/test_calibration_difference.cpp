#include <gtest/gtest.h>

#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <random>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");
// The library's normal distribution function is a fixed approximation, good to about 1e-7.
constexpr double probabilityTolerance = 1e-6;

double twoSidedNormal(double z) {
    return 2.0 * boost::math::cdf(boost::math::complement(boost::math::normal(), std::fabs(z)));
}

void expectTable(const CellMatrix& r, double mse1, double mse2, double e1, double e2, double z) {
    ASSERT_EQ(r.Rows(), 5u);
    ASSERT_EQ(r.Columns(), 3u);
    const char* labels[][3] = {{"Calib.Diff.", "Rating 1", "Rating 2"},
                               {"MSE", "", ""},
                               {"E[MSE]", "", ""},
                               {"", "Test Statistic", "p-Value"},
                               {"", "", ""}};
    for (std::size_t row : {0u, 3u})
        for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(text(r, row, c), labels[row][c]);
    EXPECT_EQ(text(r, 1, 0), "MSE");
    EXPECT_EQ(text(r, 2, 0), "E[MSE]");
    EXPECT_EQ(text(r, 4, 0), "");  // a text of length 0, not an Empty cell
    EXPECT_NEAR(number(r, 1, 1), mse1, 1e-15);
    EXPECT_NEAR(number(r, 1, 2), mse2, 1e-15);
    EXPECT_NEAR(number(r, 2, 1), e1, 1e-15);
    EXPECT_NEAR(number(r, 2, 2), e2, 1e-15);
    EXPECT_NEAR(number(r, 4, 1), z, 1e-12);
    EXPECT_NEAR(number(r, 4, 2), twoSidedNormal(z), probabilityTolerance);
}

TEST(CalibrationDifference, HandComputedCases) {
    // A = -0.08 - 0.28, B = 0.0256 + 0.0336.
    expectTable(calibrationDifferenceIndividual(numbers({0.1, 0.4}), numbers({0.3, 0.2}), numbers({0, 1})), 0.185,
                0.365, 0.165, 0.185, -0.36 / std::sqrt(0.0592));
    // Swapping the ratings swaps the columns and the sign of z.
    expectTable(calibrationDifferenceIndividual(numbers({0.3, 0.2}), numbers({0.1, 0.4}), numbers({0, 1})), 0.365,
                0.185, 0.185, 0.165, 0.36 / std::sqrt(0.0592));
    // Grades with PDs 0.1 and 0.4; a survivor in grade 0 under rating 1 and grade 1 under rating 2
    // (row 1, column 0), a default the other way round: A = -0.6, B = 2 * 0.5 * 0.09 * 1.5.
    const double z = -0.6 / std::sqrt(0.135);
    expectTable(calibrationDifferenceAggregate(numbers({0.1, 0.4}), square({{0, 1}, {0, 0}}), square({{0, 0}, {1, 0}})),
                0.185, 0.485, 0.165, 0.165, z);
    expectTable(
        calibrationDifferenceIndividual(numbers({0.1, 0.4}, false), numbers({0.4, 0.1}, false), numbers({0, 1}, false)),
        0.185, 0.485, 0.165, 0.165, z);
    // A row of PDs with the same matrices: orientation of the matrices is unchanged.
    expectTable(calibrationDifferenceAggregate(numbers({0.1, 0.4}, false), square({{0, 1}, {-0.5, 0}}),
                                               square({{0, 0}, {1, 0}})),
                0.185, 0.485, 0.165, 0.165, z);
}

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

TEST(CalibrationDifference, ZeroVarianceAndLargeCounts) {
    const char* undefined = "not defined (zero variance)";
    CellMatrix r = calibrationDifferenceIndividual(numbers({0.2, 0.5}), numbers({0.2, 0.5}), numbers({1, 0}));
    EXPECT_EQ(text(r, 4, 1), undefined);
    EXPECT_EQ(text(r, 4, 2), undefined);
    EXPECT_NEAR(number(r, 1, 1), number(r, 1, 2), 0);
    // A single debtor whose PDs differ gives a finite z.
    r = calibrationDifferenceIndividual(numbers({0.2}), numbers({0.6}), numbers({1}));
    EXPECT_TRUE(std::isfinite(number(r, 4, 1)));
    // Every debtor on the diagonal: p = q everywhere.
    r = calibrationDifferenceAggregate(numbers({0.1, 0.4}), square({{1, 0}, {0, 2}}), square({{5, 0}, {0, 3}}));
    EXPECT_EQ(text(r, 4, 1), undefined);
    // 4e9 debtors: the averages equal those of the same shares in counts of one.
    const CellMatrix big =
        calibrationDifferenceAggregate(numbers({0.1, 0.4}), square({{0, 2e9}, {0, 0}}), square({{0, 0}, {2e9, 0}}));
    const CellMatrix small =
        calibrationDifferenceAggregate(numbers({0.1, 0.4}), square({{0, 1}, {0, 0}}), square({{0, 0}, {1, 0}}));
    for (std::size_t c = 1; c < 3; ++c) EXPECT_NEAR(number(big, 1, c), number(small, 1, c), 1e-15);
    EXPECT_NEAR(number(big, 4, 1), number(small, 4, 1) * std::sqrt(2e9), 1e-6);
}

struct Rejection {
    int line;
    CellMatrix a, b, c;
    std::string text;
};

TEST(CalibrationDifferenceIndividual, ChecksInOrder) {
    const CellMatrix block(2, 2), ok = numbers({0.1, 0.2}), y = numbers({0, 1});
    const std::vector<Rejection> cases = {
        {__LINE__, block, block, block, "The cell range for the default proabilities of rating 1 is not a vector"},
        {__LINE__, ok, block, block, "The cell range for the default proabilities of rating 2 is not a vector"},
        {__LINE__, ok, ok, block, "The cell range for the indicators is not a vector"},
        {__LINE__, numbers({0.1, 0.2}, false), ok, y,
         "The cell ranges for the default probabilties of rating 1 and the indicators are not identical"},
        {__LINE__, ok, numbers({0.1}), y,
         "The cell ranges for the default probabilties of rating 2 and the indicators are not identical"},
        {__LINE__, numbers({nan, nan}), ok, numbers({nan, 1}),
         "The vector default probabilities 1 does not contain a single numerical entry"},
        {__LINE__, ok, numbers({nan, 0.3}), y,
         "The cell range for the default probabilities of rating 2 is empty in row 1, where that for the indicators "
         "is not"},
        {__LINE__, numbers({0.1, nan}), ok, numbers({nan, 1}),
         "The cell range for the indicators is empty in row 1, where that for the default probabilities of rating 1 "
         "is not"},
        {__LINE__, ok, numbers({1.2, 0.1}), numbers({0, 2}),
         "At least one default probability of rating 2 is not in [0,1]"},
        {__LINE__, numbers({0.1, -0.2}), ok, numbers({3, 1}), "At least one of the indicators is not Zero or One"},
        {__LINE__, numbers({0.1, -0.2}), ok, y, "At least one default probability of rating 1 is not in [0,1]"},
    };
    for (const Rejection& c : cases)
        EXPECT_EQ(rejection(calibrationDifferenceIndividual(c.a, c.b, c.c)), c.text) << c.line;
}

TEST(CalibrationDifferenceAggregate, ChecksInOrder) {
    const CellMatrix pd = numbers({0.1, 0.2}), m = square({{1, 2}, {3, 4}}), wide(2, 3);
    CellMatrix gap = m;
    gap(1, 0).Clear();
    gap(1, 1).Clear();
    const std::vector<Rejection> cases = {
        {__LINE__, CellMatrix(2, 2), m, m, "The cell range for the default probabilities is not a vector"},
        {__LINE__, pd, wide, wide, "The cell range for the matrix of defaults is not quadratic"},
        {__LINE__, pd, m, wide, "The cell range for the matrix of survivals is not quadratic"},
        {__LINE__, numbers({0.1}), CellMatrix(3, 3), m,
         "The dimension of the matrix of defaults does not equal the number of default probabilities"},
        {__LINE__, pd, m, CellMatrix(1, 1),
         "The dimension of the matrix of survivals does not equal the number of default probabilities"},
        {__LINE__, pd, m, CellMatrix(2, 2),
         "The matrix matrix of survivals does not contain numerical entries or is empty"},
        {__LINE__, numbers({0.1, nan}), m, m, "The cell range for the default probabilities contains empty cells"},
        {__LINE__, pd, square({{1, 2}, {0, 0}}), gap, "The matrix of survivals contains empty cells"},
        // Row 0's counts come before PD[0]; within a cell the defaults before the survivals.
        {__LINE__, numbers({2, 0.1}), square({{0, -1}, {0, 0}}), square({{0, -1}, {0, 0}}),
         "At least one entry of the matrix of defaults is a negative mumber"},
        {__LINE__, numbers({2, 0.1}), m, square({{0, 0}, {0, -1}}),
         "At least one entry of the vector of default probabilities is not in [0,1]"},
        {__LINE__, numbers({0.2, 0.1}), m, square({{0, 0}, {0, -1}}),
         "At least one entry of the matrix of survivals is a negative mumber"},
        {__LINE__, pd, square({{0, 0}, {0, 0}}), square({{-0.5, 0}, {0, 0}}),
         "The matrices of defaults and survivals do not contain a single debtor"},
    };
    for (const Rejection& c : cases)
        EXPECT_EQ(rejection(calibrationDifferenceAggregate(c.a, c.b, c.c)), c.text) << c.line;
}

}  // namespace
}  // namespace Korvanth
