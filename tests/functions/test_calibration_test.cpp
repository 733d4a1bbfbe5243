#include <gtest/gtest.h>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <random>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");
// The library's normal and gamma functions are fixed approximations, good to about 1e-7.
constexpr double probabilityTolerance = 1e-6;

double twoSidedNormal(double z) {
    return 2.0 * boost::math::cdf(boost::math::complement(boost::math::normal(), std::fabs(z)));
}
double chiSquareTail(double x, double dof) {
    return boost::math::cdf(boost::math::complement(boost::math::chi_squared(dof), x));
}

TEST(CalibrationTestIndividual, HandComputedPortfolio) {
    // MSE = 0.9 / 4, E[MSE] = 0.7 / 4, V = 0.1584 / 16.
    const CellMatrix r = calibrationTestIndividual(numbers({0.1, 0.2, 0.4, 0.7}), numbers({0, 1, 0, 1}));
    ASSERT_EQ(r.Rows(), 2u);
    ASSERT_EQ(r.Columns(), 6u);
    const char* labels[] = {"Calibration", "MSE", "E[MSE]", "Var[MSE]", "Test Statistic", "p-Value"};
    for (std::size_t c = 0; c < 6; ++c) EXPECT_EQ(text(r, 0, c), labels[c]);
    EXPECT_EQ(text(r, 1, 0), "Test");
    const double s = std::sqrt(0.1584 / 16), z = 0.05 / s;
    EXPECT_NEAR(number(r, 1, 1), 0.225, 1e-15);
    EXPECT_NEAR(number(r, 1, 2), 0.175, 1e-15);
    EXPECT_NEAR(number(r, 1, 3), s, 1e-15);
    EXPECT_NEAR(number(r, 1, 4), z, 1e-12);
    EXPECT_NEAR(number(r, 1, 5), twoSidedNormal(z), probabilityTolerance);
    // Two row ranges give the same table.
    const CellMatrix rows =
        calibrationTestIndividual(numbers({0.1, 0.2, 0.4, 0.7}, false), numbers({0, 1, 0, 1}, false));
    for (std::size_t c = 1; c < 6; ++c) EXPECT_EQ(number(rows, 1, c), number(r, 1, c));
}

TEST(CalibrationTestIndividual, EdgeCases) {
    // MSE = E[MSE] exactly: z = 0 and p = 2 N(0) = 1.
    CellMatrix r = calibrationTestIndividual(numbers({0.25, 0.25, 0.25, 0.25}), numbers({1, 0, 0, 0}));
    EXPECT_EQ(number(r, 1, 4), 0.0);
    EXPECT_EQ(number(r, 1, 5), 1.0);
    // Indicators are truncated; PDs 0 and 1 pass; a single debtor works.
    r = calibrationTestIndividual(numbers({0, 1, 0.3}), numbers({0.7, 1.9, 0}));
    EXPECT_EQ(rejection(r), "");
    EXPECT_NEAR(number(r, 1, 1), 0.09 / 3, 1e-15);
    EXPECT_EQ(rejection(calibrationTestIndividual(numbers({0.3}), numbers({1}))), "");
    // Every PD 0, 0.5 or 1: the variance is zero and the statistic is a text, not a number.
    r = calibrationTestIndividual(numbers({0.5, 0, 1}), numbers({1, 0, 0}));
    EXPECT_EQ(number(r, 1, 3), 0.0);
    EXPECT_EQ(text(r, 1, 4), "not defined (zero variance)");
    EXPECT_EQ(text(r, 1, 5), "not defined (zero variance)");
}

TEST(CalibrationTestAggregate, HandComputedPortfolios) {
    // Two grades of ten: MSE = 3.8 / 20, E[MSE] = 3 / 20, V = 0.912 / 400, HL = 0.1 / 0.09,
    // and with two degrees of freedom the chi-square tail is exp(-HL / 2).
    CellMatrix r = calibrationTestAggregate(numbers({0.1, 0.3}), numbers({2, 3}), numbers({8, 7}));
    ASSERT_EQ(r.Rows(), 2u);
    ASSERT_EQ(r.Columns(), 8u);
    const char* labels[] = {
        "Calibration",         "MSE",         "E[MSE]", "Var[MSE]", "Test Statistic (SP)", "p-Value (SP)",
        "Test Statistic (HL)", "p-Value (HL)"};
    for (std::size_t c = 0; c < 8; ++c) EXPECT_EQ(text(r, 0, c), labels[c]);
    EXPECT_EQ(text(r, 1, 0), "Test");
    const double s = std::sqrt(0.912 / 400), z = 0.04 / s, hl = 0.1 / 0.09;
    EXPECT_NEAR(number(r, 1, 1), 0.19, 1e-15);
    EXPECT_NEAR(number(r, 1, 2), 0.15, 1e-15);
    EXPECT_NEAR(number(r, 1, 3), s, 1e-15);
    EXPECT_NEAR(number(r, 1, 4), z, 1e-12);
    EXPECT_NEAR(number(r, 1, 5), twoSidedNormal(z), probabilityTolerance);
    EXPECT_NEAR(number(r, 1, 6), hl, 1e-12);
    EXPECT_NEAR(number(r, 1, 7), std::exp(-hl / 2), probabilityTolerance);

    // Three grades, three degrees of freedom (not one): HL = 20 (0.05)^2 / 0.0475 + 0 + 10 (0.1)^2 / 0.24.
    r = calibrationTestAggregate(numbers({0.05, 0.2, 0.4}, false), numbers({2, 4, 5}, false),
                                 numbers({18, 16, 5}, false));
    const double hl3 = 20 * 0.0025 / 0.0475 + 10 * 0.01 / 0.24;
    EXPECT_NEAR(number(r, 1, 6), hl3, 1e-12);
    EXPECT_NEAR(number(r, 1, 7), chiSquareTail(hl3, 3), probabilityTolerance);

    // HL = 0 with two grades gives the p-value 1.
    r = calibrationTestAggregate(numbers({0.25, 0.5}), numbers({1, 2}), numbers({3, 2}));
    EXPECT_EQ(number(r, 1, 6), 0.0);
    EXPECT_EQ(number(r, 1, 7), 1.0);
}

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

TEST(CalibrationTestAggregate, DegenerateGrades) {
    const CellMatrix plain = calibrationTestAggregate(numbers({0.1, 0.3}), numbers({2, 3}), numbers({8, 7}));
    // A grade without debtors, or a PD of 1 that came true for all, leaves the HL test as it is.
    for (const auto& extra : {std::vector<double>{0.2, 0, 0}, {1, 4, 0}, {0, 0, 9}}) {
        const CellMatrix r = calibrationTestAggregate(numbers({0.1, 0.3, extra[0]}), numbers({2, 3, extra[1]}),
                                                      numbers({8, 7, extra[2]}));
        EXPECT_NEAR(number(r, 1, 6), number(plain, 1, 6), 1e-15);
        EXPECT_NEAR(number(r, 1, 7), number(plain, 1, 7), 1e-15);
    }
    CellMatrix r = calibrationTestAggregate(numbers({0.1, 0}), numbers({2, 1}), numbers({8, 7}));
    EXPECT_EQ(text(r, 1, 6), "not defined (a PD of 0 or 1 contradicts the observed defaults)");
    r = calibrationTestAggregate(numbers({0, 1}), numbers({0, 3}), numbers({8, 0}));
    EXPECT_EQ(text(r, 1, 7), "not defined (no grade with debtors has a PD strictly between 0 and 1)");
    EXPECT_EQ(text(r, 1, 4), "not defined (zero variance)");
    EXPECT_EQ(rejection(calibrationTestAggregate(numbers({0.1, 0.2}), numbers({0, 0}), numbers({0, 0}))),
              "The grades do not contain a single debtor");
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

TEST(CalibrationTests, ChecksInOrder) {
    const CellMatrix block(2, 2), ok = numbers({0.1, 0.2}), okRow = numbers({0.1, 0.2}, false);
    const CellMatrix counts = numbers({1, 2});
    const std::vector<Rejection> cases = {
        {__LINE__, block, block, block, "The cell range for the default proabilities is not a vector",
         "The cell range for the default proabilities is not a vector"},
        {__LINE__, ok, block, block, "The cell range for the indicators is not a vector",
         "The cell range for the number of defaults of each grade is not a vector"},
        {__LINE__, ok, counts, block, "", "The cell range for the number of survivals of each grade is not a vector"},
        {__LINE__, okRow, counts, counts,
         "The cell ranges for the default probabilties and the indicators are not identical",
         "The cell ranges for the default probabilties and the number of defaults are not identical"},
        {__LINE__, ok, counts, numbers({1, 2, 3}), "",
         "The cell ranges for the default probabilties and the number of survivals are not identical"},
        {__LINE__, numbers({0.1, 2}), numbers({1, nan}), numbers({1, 1}),
         "The cell range for the indicators is empty in row 2, where that for the default probabilities is not",
         "The cell range for the number of defaults is empty in row 2, where that for the number of survivals is not"},
        {__LINE__, numbers({nan, 0.1}), numbers({1, 0}), numbers({nan, 1}),
         "The cell range for the default probabilities is empty in row 1, where that for the indicators is not",
         "The cell range for the number of survivals is empty in row 1, where that for the number of defaults is not"},
        {__LINE__, numbers({nan, nan}), numbers({1, 0}), numbers({1, 1}),
         "The vector default probabilities does not contain a single numerical entry",
         "The vector default probabilities does not contain a single numerical entry"},
        // The first debtor decides: an indicator 2 before a PD of 1.5.
        {__LINE__, numbers({0.1, 1.5}), numbers({2, -1}), numbers({1, 1}),
         "At least one of the indicators is not Zero or One", "At least one default probability is not in [0,1]"},
        {__LINE__, numbers({-0.1, 0.2}), numbers({-1, 0}), numbers({1, 1}),
         "At least one default probability is not in [0,1]", "At least one default probability is not in [0,1]"},
        {__LINE__, numbers({0.1, 0.2}), numbers({0, 0}), numbers({1, -1}), "",
         "At least one of the number of defaults or number of survivals is a negative number"},
    };
    for (const Rejection& c : cases) {
        if (!c.individual.empty()) {
            EXPECT_EQ(rejection(calibrationTestIndividual(c.pd, c.second)), c.individual) << c.line;
        }
        EXPECT_EQ(rejection(calibrationTestAggregate(c.pd, c.second, c.third)), c.aggregate) << c.line;
    }
    CellMatrix textCell = numbers({1, 0});
    textCell(1, 0) = "x";
    EXPECT_EQ(rejection(calibrationTestIndividual(ok, textCell)),
              "The vector indicators contains a non-numerical entry");
    EXPECT_EQ(rejection(calibrationTestAggregate(ok, counts, textCell)),
              "The vector number of survivals contains a non-numerical entry");
}

}  // namespace
}  // namespace Korvanth
