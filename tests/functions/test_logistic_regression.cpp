#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");

CellMatrix names(const std::vector<std::string>& labels, bool column) {
    CellMatrix range(column ? labels.size() : 1, column ? 1 : labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i)
        if (!labels[i].empty()) (column ? range(i, 0) : range(0, i)) = labels[i];
    return range;
}

// One observation per row; NaN marks an Empty cell.
CellMatrix observations(const std::vector<std::vector<double>>& rows, bool transpose = false) {
    const std::size_t m = rows.size(), k = rows[0].size();
    CellMatrix range(transpose ? k : m, transpose ? m : k);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < k; ++j)
            if (rows[i][j] == rows[i][j]) (transpose ? range(j, i) : range(i, j)) = rows[i][j];
    return range;
}

// Two factors: a binary one (d0/s0 at 0, d1/s1 at 1) and a seeded noise column.
struct Sample {
    std::vector<std::vector<double>> values;
    std::vector<double> indicators;
};
Sample binarySample(int d0, int s0, int d1, int s1) {
    Sample sample;
    std::mt19937 generator(7);
    std::normal_distribution<double> normal;
    auto add = [&](int count, double indicator, double x) {
        for (int i = 0; i < count; ++i) {
            sample.values.push_back({x, normal(generator)});
            sample.indicators.push_back(indicator);
        }
    };
    add(d0, 1, 0);
    add(s0, 0, 0);
    add(d1, 1, 1);
    add(s1, 0, 1);
    return sample;
}

double logit(double r) { return std::log(r / (1 - r)); }

// Two result cells hold the same number or the same text.
::testing::AssertionResult sameCell(const CellMatrix& a, const CellMatrix& b, std::size_t r, std::size_t c) {
    if (a(r, c).IsNumber() && b(r, c).IsNumber() && a(r, c).GetNumber() == b(r, c).GetNumber())
        return ::testing::AssertionSuccess();
    if (a(r, c).IsNarrowString() && b(r, c).IsNarrowString() && a(r, c).GetString() == b(r, c).GetString())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cells (" << r << ", " << c << ") differ";
}

TEST(LogisticRegression, SelectedBinaryFactorMatchesTheClosedFormInBothLayouts) {
    const Sample s = binarySample(6, 94, 18, 82);
    const double r0 = 0.06, r1 = 0.18;
    const double full = 6 * std::log(r0) + 94 * std::log(1 - r0) + 18 * std::log(r1) + 82 * std::log(1 - r1);
    const double pooled = 24.0 / 200;
    const double constantOnly = 24 * std::log(pooled) + 176 * std::log(1 - pooled);

    const CellMatrix rows = logisticRegression(names({"Rating", "Noise"}, false), numbers({1, 0}, false),
                                               observations(s.values), numbers(s.indicators));
    const CellMatrix columns = logisticRegression(names({"Rating", "Noise"}, true), numbers({1, 0}),
                                                  observations(s.values, true), numbers(s.indicators, false));
    for (const CellMatrix* r : {&rows, &columns}) {
        ASSERT_EQ(r->Rows(), 4u) << rejection(*r);
        ASSERT_EQ(r->Columns(), 4u);
        const char* header[] = {"Factor", "Coefficient", "LR Statistic", "p-Value"};
        for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(text(*r, 0, c), header[c]);
        EXPECT_EQ(text(*r, 1, 0), "Constant");
        EXPECT_EQ(text(*r, 2, 0), "Rating");
        EXPECT_EQ(text(*r, 3, 0), "Log-Likelihood");
        EXPECT_NEAR(number(*r, 1, 1), logit(r0), 1e-9);
        EXPECT_NEAR(number(*r, 2, 1), logit(r1) - logit(r0), 1e-9);
        EXPECT_NEAR(number(*r, 2, 2), 2 * (full - constantOnly), 1e-8);
        EXPECT_NEAR(number(*r, 3, 1), full, 1e-9);
        EXPECT_EQ(text(*r, 3, 2), "");
        EXPECT_EQ(text(*r, 3, 3), "");
    }
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c) EXPECT_TRUE(sameCell(rows, columns, r, c));
}

TEST(LogisticRegression, SingleNameDecidesTheLayoutByTheValues) {
    const Sample s = binarySample(3, 17, 7, 13);
    std::vector<std::vector<double>> one;
    for (const auto& row : s.values) one.push_back({row[0]});
    const CellMatrix asRows =
        logisticRegression(names({"Rating"}, true), numbers({1}), observations(one), numbers(s.indicators));
    const CellMatrix asColumns = logisticRegression(names({"Rating"}, true), numbers({1}),
                                                    observations(one, true), numbers(s.indicators, false));
    ASSERT_EQ(asRows.Rows(), 4u) << rejection(asRows);
    ASSERT_EQ(asColumns.Rows(), 4u) << rejection(asColumns);
    EXPECT_NEAR(number(asRows, 2, 1), logit(0.35) - logit(0.15), 1e-9);
    EXPECT_EQ(number(asColumns, 2, 1), number(asRows, 2, 1));
}

TEST(LogisticRegression, IndexAboveOneHalfSelectsInOrder) {
    const Sample s = binarySample(10, 90, 30, 70);
    const CellMatrix both = logisticRegression(names({"Rating", "Noise"}, false), numbers({0.7, 3}, false),
                                               observations(s.values), numbers(s.indicators));
    ASSERT_EQ(both.Rows(), 5u) << rejection(both);
    EXPECT_EQ(text(both, 2, 0), "Rating");
    EXPECT_EQ(text(both, 3, 0), "Noise");
    // The binary factor is plainly informative, the noise is not.
    EXPECT_GT(number(both, 2, 2), 10.0);
    EXPECT_LT(number(both, 3, 2), 10.83);

    const CellMatrix noise = logisticRegression(names({"Rating", "Noise"}, false), numbers({0.5, 1}, false),
                                                observations(s.values), numbers(s.indicators));
    ASSERT_EQ(noise.Rows(), 4u) << rejection(noise);
    EXPECT_EQ(text(noise, 2, 0), "Noise");
}

TEST(LogisticRegression, IndicatorsAreTruncated) {
    Sample s = binarySample(5, 15, 9, 11);
    const CellMatrix plain = logisticRegression(names({"Rating", "Noise"}, false), numbers({1, 1}, false),
                                                observations(s.values), numbers(s.indicators));
    for (double& y : s.indicators) y = y == 1 ? 1.6 : 0.9;
    const CellMatrix truncated = logisticRegression(names({"Rating", "Noise"}, false), numbers({1, 1}, false),
                                                    observations(s.values), numbers(s.indicators));
    ASSERT_EQ(truncated.Rows(), 5u) << rejection(truncated);
    for (std::size_t r = 0; r < 5; ++r)
        for (std::size_t c = 0; c < 4; ++c) EXPECT_TRUE(sameCell(plain, truncated, r, c));
}

TEST(LogisticRegression, StatisticAboveOneHundredHasPValueZero) {
    const Sample s = binarySample(2, 398, 150, 250);
    std::vector<std::vector<double>> one;
    for (const auto& row : s.values) one.push_back({row[0]});
    const CellMatrix strong =
        logisticRegression(names({"Rating"}, true), numbers({1}), observations(one), numbers(s.indicators));
    ASSERT_EQ(strong.Rows(), 4u) << rejection(strong);
    EXPECT_GT(number(strong, 2, 2), 100.0);
    EXPECT_EQ(number(strong, 2, 3), 0.0);
}

struct Rejected {
    int line;
    CellMatrix factorNames, factorIndices, factorValues, indicators;
    std::string message;
};

class LogisticRegressionRejects : public ::testing::TestWithParam<Rejected> {};

TEST_P(LogisticRegressionRejects, WithItsText) {
    const Rejected& c = GetParam();
    SCOPED_TRACE(c.line);
    EXPECT_EQ(rejection(logisticRegression(c.factorNames, c.factorIndices, c.factorValues, c.indicators)), c.message);
}

const CellMatrix two = names({"A", "B"}, false);
const CellMatrix pick = numbers({1, 1}, false);
const CellMatrix values3 = observations({{1, 2}, {2, 1}, {3, 5}});
const CellMatrix y3 = numbers({0, 1, 0});

// k factors, all selected, in a row.
std::vector<std::string> manyNames(std::size_t k) {
    std::vector<std::string> labels;
    for (std::size_t j = 0; j < k; ++j) labels.push_back(std::to_string(j).insert(0, 1, 'F'));
    return labels;
}
constexpr std::size_t limit = 400;
const CellMatrix namesOverLimit = names(manyNames(limit + 1), false);
const CellMatrix pickOverLimit = numbers(std::vector<double>(limit + 1, 1.0), false);
const CellMatrix pickLimit = [] {
    std::vector<double> indices(limit + 1, 1.0);
    indices[limit / 2] = 0.0;
    return numbers(indices, false);
}();

INSTANTIATE_TEST_SUITE_P(
    Checks, LogisticRegressionRejects,
    ::testing::Values(
        Rejected{__LINE__, observations({{1, 2}, {3, 4}}), observations({{1, 2}, {3, 4}}), values3, y3,
                 "The cell range with the names of the risk drivers must be a vector"},
        Rejected{__LINE__, two, numbers({1, 1}), values3, y3,
                 "The cell ranges of factor names and factor indices must have the same dimension"},
        Rejected{__LINE__, names({"A"}, true), numbers({1}), observations({{1, 2}, {3, 4}}), y3,
                 "The number of factor names and the dimension of the matrix of factor values are inconsistent"},
        Rejected{__LINE__, names({"A"}, true), numbers({1}), numbers({1}), numbers({1}),
                 "There is only 1 factor value available; not enough to run a logistic regression"},
        Rejected{__LINE__, two, numbers({0, 0.5}, false), values3, y3,
                 "The number of risk drivers is zero. Please check the factor indicators"},
        Rejected{__LINE__, two, numbers({nan, nan}, false), values3, y3,
                 "The vector factor indices does not contain a single numerical entry"},
        // The factor limit is checked before the ranges are compared or converted.
        Rejected{__LINE__, namesOverLimit, pickOverLimit, values3, y3, "The number of factors exceeds the limit of 400"},
        // The limit itself is allowed; the values' shape is checked next.
        Rejected{__LINE__, namesOverLimit, pickLimit, values3, y3,
                 "The number of columns in the cell ranges for factor values and factor names must be identical"},
        // Row layout.
        Rejected{__LINE__, two, pick, values3, numbers({0, 1}),
                 "The number of row in the cell ranges for factor values and indicators must be identical"},
        Rejected{__LINE__, two, pick, values3, observations({{0, 1}, {1, 0}, {0, 0}}),
                 "The cell range for indicators must be a vector"},
        Rejected{__LINE__, two, pick, observations({{1, 2, 3}, {2, 1, 3}, {3, 5, 3}}), y3,
                 "The number of columns in the cell ranges for factor values and factor names must be identical"},
        // Column layout.
        Rejected{__LINE__, names({"A", "B"}, true), numbers({1, 1}), observations({{1, 2}, {2, 1}, {3, 5}}, true),
                 numbers({0, 1}, false),
                 "The number of columns in the cell ranges for factor values and indicators must be identical"},
        Rejected{__LINE__, names({"A", "B"}, true), numbers({1, 1}), observations({{1, 2}, {2, 1}}, true),
                 observations({{0, 1}, {1, 0}}),
                 "The cell range for indicators must be a vector"},
        Rejected{__LINE__, names({"A", "B"}, true), numbers({1, 1}), observations({{1, 2, 3}, {2, 1, 3}}, true),
                 numbers({0, 1}, false),
                 "The number of rows in the cell ranges for factor values and factor names must be identical"},
        // Conversions, in the order indicators, names, values.
        Rejected{__LINE__, two, pick, values3, numbers({0, 1, 2}), "At least one indicator is not Zero or One"},
        // The values are converted before the indicators are checked.
        Rejected{__LINE__, two, pick, observations({{1, 2}, {2, 1}, {nan, 5}}), numbers({0, 1, 2}),
                 "The cell range for the factor values is partly empty in row 3"},
        Rejected{__LINE__, two, pick, observations({{1, 2}, {2, 1}, {3, 5}}), numbers({nan, nan, nan}),
                 "The vector indicators does not contain a single numerical entry"},
        Rejected{__LINE__, names({"A", ""}, false), pick, values3, y3,
                 "A selected risk driver has no factor name or no factor values (are there empty cells?)"},
        Rejected{__LINE__, two, pick, observations({{1, 2}, {2, 1}, {nan, 5}}), y3,
                 "The cell range for the factor values is partly empty in row 3"},
        // Empty cells that would no longer line up.
        Rejected{__LINE__, two, numbers({0, 1}, false), observations({{1, nan}, {2, nan}, {3, nan}}), y3,
                 "The cell range for the factor values is partly empty in row 1"},
        Rejected{__LINE__, two, pick, values3, numbers({0, nan, 1}),
                 "The cell range for the indicators is empty in row 2, where that for the factor values is not"},
        // A factor that is 0 throughout leaves an exactly zero row in the Hessian.
        Rejected{__LINE__, two, pick, observations({{1, 0}, {2, 0}, {3, 0}, {1, 0}}), numbers({0, 1, 0, 1}),
                 "Singular matrix in a Gauss elimination"},
        Rejected{__LINE__, names({"A"}, true), numbers({1}), observations({{1}, {2}, {3}, {4}}),
                 numbers({0, 0, 1, 1}), "Newton solver of the logistic regression did not converge"}));

}  // namespace
}  // namespace Korvanth
