#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include "analytics/categories.hpp"
#include "analytics/error.hpp"
#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");

// A column (or row) of wide texts, as the host hands them over.
CellMatrix wideTexts(const std::vector<std::wstring>& values, bool column = true) {
    CellMatrix range(column ? values.size() : 1, column ? 1 : values.size());
    for (std::size_t i = 0; i < values.size(); ++i) (column ? range(i, 0) : range(0, i)) = values[i];
    return range;
}

const CellMatrix omitted(1, 1);

// Weight of evidence worked out by hand from its definition, for counts that are not zero.
double woe(double s, double d, double S, double D) { return std::log((s / S) / (d / D)); }

struct CategoryRow {
    std::string key;
    double survivals, defaults, woe;
};

void expectCategoryTable(const CellMatrix& r, const std::vector<CategoryRow>& rows, int line) {
    ASSERT_EQ(r.Rows(), rows.size() + 1) << line << " " << rejection(r);
    ASSERT_EQ(r.Columns(), 4u) << line;
    const char* labels[] = {"Categories", "Survivals", "Defaults", "WoE"};
    for (std::size_t c = 0; c < 4; ++c) EXPECT_EQ(text(r, 0, c), labels[c]) << line;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(text(r, i + 1, 0), rows[i].key) << line;
        EXPECT_EQ(number(r, i + 1, 1), rows[i].survivals) << line;
        EXPECT_EQ(number(r, i + 1, 2), rows[i].defaults) << line;
        EXPECT_NEAR(number(r, i + 1, 3), rows[i].woe, 1e-13) << line;
    }
}

TEST(CrossTabCategorical, HandWorkedTables) {
    struct Case {
        int line;
        CellMatrix categories, indicators;
        std::vector<CategoryRow> rows;
    };
    // S = 5, D = 2 in the first two cases; "10" has no default, so d' = 0.5 / S and WoE = ln(2 s D).
    const std::vector<Case> cases = {
        {__LINE__, numbers({1, 2, 10, 2, 1, 10, 1}), numbers({0, 1, 0, 0, 1, 0, 0}),
         {{"1", 2, 1, std::log(0.8)}, {"10", 2, 0, std::log(8.0)}, {"2", 1, 1, std::log(0.4)}}},
        // Rows, numbers truncated toward zero (2.9 is 2, -1.5 is -1).
        {__LINE__, numbers({1.2, 2.9, 10, 2, 1, 10.5, 1}, false), numbers({0, 1, 0, 0, 1, 0, 0}, false),
         {{"1", 2, 1, std::log(0.8)}, {"10", 2, 0, std::log(8.0)}, {"2", 1, 1, std::log(0.4)}}},
        {__LINE__, numbers({-1.5, -1, 3}), numbers({1, 1, 0}),
         {{"-1", 0, 2, -std::log(2.0 * 1 * 2)}, {"3", 1, 0, std::log(2.0 * 1 * 2)}}},
        // Byte-wise order of texts: upper case first.
        {__LINE__, wideTexts({L"b", L"B", L"a", L"b"}), numbers({0, 1, 1, 0}),
         {{"B", 0, 1, -std::log(2.0 * 2 * 1)}, {"a", 0, 1, -std::log(2.0 * 2 * 1)}, {"b", 2, 0, std::log(8.0)}}},
        {__LINE__, wideTexts({L"x", L"y", L"x", L"y", L"x"}), numbers({0, 1, 1, 0, 0}),
         {{"x", 2, 1, woe(2, 1, 3, 2)}, {"y", 1, 1, woe(1, 1, 3, 2)}}},
    };
    for (const Case& c : cases) expectCategoryTable(crossTabCategorical(c.categories, c.indicators), c.rows, c.line);
}

TEST(CrossTabCategorical, WithoutOneOutcomeTheWeightIsNotDefined) {
    CellMatrix r = crossTabCategorical(numbers({1, 2, 2}), numbers({0, 0, 0}));
    ASSERT_EQ(r.Rows(), 3u);
    EXPECT_EQ(text(r, 1, 3), "not defined (no defaults)");
    EXPECT_EQ(text(r, 2, 3), "not defined (no defaults)");
    r = crossTabCategorical(numbers({1}), numbers({1}));
    EXPECT_EQ(text(r, 1, 3), "not defined (no survivals)");
}

TEST(CrossTabCategorical, ChecksInOrder) {
    CellMatrix mixed = numbers({1, 2});
    mixed(1, 0) = std::wstring(L"b");
    CellMatrix flag = numbers({1, 2});
    flag(1, 0) = true;
    const struct {
        int line;
        CellMatrix categories, indicators;
        std::string text;
    } cases[] = {
        {__LINE__, CellMatrix(2, 2), CellMatrix(2, 2), "The cell range for the categories is not a vector"},
        {__LINE__, numbers({1, 2}), CellMatrix(2, 2), "The cell range of the indicators is not a vector"},
        {__LINE__, numbers({1, 2}), numbers({0, 1}, false),
         "The cell ranges for the categories and the indicators have different dimensions"},
        {__LINE__, mixed, numbers({0, 1}), "The vector categories contains a non-string entry"},
        {__LINE__, flag, numbers({0, 1}), "The vector categories contains a non-string entry"},
        {__LINE__, numbers({nan, nan}), numbers({0, 1}), "The vector categories does not contain a single string entry"},
        {__LINE__, numbers({1, 2}), mixed, "The vector indicators contains a non-numerical entry"},
        {__LINE__, numbers({1, 2}), numbers({0, 2}), "At least one indicator is not Zero or One"},
        {__LINE__, numbers({1, 2}), numbers({0, -1}), "At least one indicator is not Zero or One"},
        {__LINE__, numbers({1, nan}), numbers({0, 1}),
         "The cell range for the categories is empty in row 2, where that for the indicators is not"},
    };
    for (const auto& c : cases) EXPECT_EQ(rejection(crossTabCategorical(c.categories, c.indicators)), c.text) << c.line;
}

TEST(CategoryConversions, NumbersBecomeTheirIntegerPartsAndTextsStay) {
    EXPECT_EQ(cellMatrixToColumnCategories(numbers({2.9, -1.5, nan, 10}), "c"),
              (std::vector<std::string>{"2", "-1", "10"}));
    EXPECT_EQ(cellMatrixToRowCategories(wideTexts({L"a", L"1"}, false), "c"), (std::vector<std::string>{"a", "1"}));
    try {
        cellMatrixToRowCategories(numbers({1, 2}), "c");
        FAIL();
    } catch (const KorvanthException& e) {
        EXPECT_EQ(e.getMessage(), "The vector c is no row vector or empty");
    }
}

struct IntervalRow {
    double lower, upper, survivals, defaults, median;
};

void expectNumericalTable(const CellMatrix& r, const std::vector<IntervalRow>& rows, int line) {
    ASSERT_EQ(r.Rows(), rows.size() + 1) << line << " " << rejection(r);
    ASSERT_EQ(r.Columns(), 6u) << line;
    const char* labels[] = {"Lower Bndry", "Upper Bndry", "Survivals", "Defaults", "Median", "WoE"};
    for (std::size_t c = 0; c < 6; ++c) EXPECT_EQ(text(r, 0, c), labels[c]) << line;
    double S = 0, D = 0;
    for (const IntervalRow& row : rows) S += row.survivals, D += row.defaults;
    for (std::size_t j = 0; j < rows.size(); ++j) {
        const IntervalRow& e = rows[j];
        EXPECT_EQ(number(r, j + 1, 0), e.lower) << line << " class " << j;
        EXPECT_EQ(number(r, j + 1, 1), e.upper) << line << " class " << j;
        EXPECT_EQ(number(r, j + 1, 2), e.survivals) << line << " class " << j;
        EXPECT_EQ(number(r, j + 1, 3), e.defaults) << line << " class " << j;
        EXPECT_EQ(number(r, j + 1, 4), e.median) << line << " class " << j;
        const double s = e.survivals > 0 ? e.survivals : 0.5 / D, d = e.defaults > 0 ? e.defaults : 0.5 / S;
        EXPECT_NEAR(number(r, j + 1, 5), woe(s, d, S, D), 1e-13) << line << " class " << j;
    }
}

TEST(CrossTabNumerical, AutomaticClasses) {
    struct Case {
        int line;
        CellMatrix scores, indicators, k;
        std::vector<IntervalRow> rows;
    };
    const CellMatrix oneToTen = numbers({10, 1, 9, 2, 8, 3, 7, 4, 6, 5});
    const CellMatrix tenIndicators = numbers({0, 1, 0, 1, 0, 0, 1, 0, 0, 0});
    const std::vector<Case> cases = {
        // step 5: the split lies between t[5] = 6 and t[6] = 7; medians at positions 3 and 2.
        {__LINE__, oneToTen, tenIndicators, numbers({2}), {{-1e8, 6.5, 4, 2, 4}, {6.5, 1e8, 3, 1, 9}}},
        {__LINE__, oneToTen, tenIndicators, numbers({2.9}), {{-1e8, 6.5, 4, 2, 4}, {6.5, 1e8, 3, 1, 9}}},
        {__LINE__, numbers({10, 1, 9, 2, 8, 3, 7, 4, 6, 5}, false), numbers({0, 1, 0, 1, 0, 0, 1, 0, 0, 0}, false),
         numbers({2}), {{-1e8, 6.5, 4, 2, 4}, {6.5, 1e8, 3, 1, 9}}},
        // One class reaching past twice the extremes.
        {__LINE__, numbers({-6e7, 1, 7e7}), numbers({0, 1, 0}), numbers({1}), {{-1.2e8, 1.4e8, 2, 1, 1}}},
        // Equal scores at the split: the boundary is the score itself and all of them fall below.
        {__LINE__, numbers({3, 1, 3, 4, 3, 2}), numbers({1, 0, 0, 1, 0, 0}), numbers({2}),
         {{-1e8, 3, 4, 1, 3}, {3, 1e8, 0, 1, 4}}},
        // step 2 over seven scores, three classes: splits after t[2] and t[4].
        {__LINE__, numbers({0.7, 0.1, 0.6, 0.2, 0.5, 0.3, 0.4}), numbers({1, 0, 0, 1, 0, 0, 1}), numbers({3}),
         {{-1e8, (0.3 + 0.4) / 2, 2, 1, 0.2}, {(0.3 + 0.4) / 2, (0.5 + 0.6) / 2, 1, 1, 0.5},
          {(0.5 + 0.6) / 2, 1e8, 1, 1, 0.7}}},
    };
    for (const Case& c : cases)
        expectNumericalTable(crossTabNumerical(c.scores, c.indicators, c.k, omitted, omitted), c.rows, c.line);
}

TEST(CrossTabNumerical, ExplicitClasses) {
    // A score on a boundary belongs to the class below; the boundaries may meet within 1e-10.
    const CellMatrix lower = numbers({0, 1, 2}), upper = numbers({1, 2, 3});
    expectNumericalTable(crossTabNumerical(numbers({0.5, 1, 1.5, 3, 2, 2.5}), numbers({0, 1, 0, 0, 1, 1}), omitted,
                                           lower, upper),
                         {{0, 1, 1, 1, 1}, {1, 2, 1, 1, 2}, {2, 3, 1, 1, 3}}, __LINE__);
    expectNumericalTable(crossTabNumerical(numbers({0.5, 1.5}, false), numbers({0, 1}, false), numbers({7}),
                                           numbers({0, 1 + 5e-11}, false), numbers({1, 2}, false)),
                         {{0, 1, 1, 0, 0.5}, {1 + 5e-11, 2, 0, 1, 1.5}}, __LINE__);
    // A class that no score reaches has median 0.
    expectNumericalTable(crossTabNumerical(numbers({0.5, 0.7}), numbers({0, 1}), omitted, lower, upper),
                         {{0, 1, 1, 1, 0.7}, {1, 2, 0, 0, 0}, {2, 3, 0, 0, 0}}, __LINE__);
}

TEST(CrossTabNumerical, ChecksInOrder) {
    const CellMatrix s = numbers({1, 2, 3}), y = numbers({0, 1, 0}), lo = numbers({0, 2}), up = numbers({2, 4});
    CellMatrix textScore = s;
    textScore(1, 0) = std::wstring(L"x");
    const struct {
        int line;
        CellMatrix scores, indicators, k, lower, upper;
        std::string text;
    } cases[] = {
        {__LINE__, CellMatrix(2, 2), CellMatrix(2, 2), numbers({1}), omitted, omitted,
         "The cell range for scores is not a vector"},
        {__LINE__, s, CellMatrix(2, 2), numbers({1}), omitted, omitted, "The cell range for indicators is not a vector"},
        {__LINE__, s, y, omitted, omitted, omitted, "The cell numberCategories is empty"},
        {__LINE__, s, y, numbers({1, 2}), omitted, omitted, "The entry numberCategories is no single cell or empty"},
        {__LINE__, s, y, numbers({0.5}), omitted, omitted, "The number of categories is non-positive"},
        {__LINE__, s, y, numbers({-3}), omitted, omitted, "The number of categories is non-positive"},
        {__LINE__, textScore, y, numbers({1}), omitted, omitted, "The vector scores contains a non-numerical entry"},
        // Not compared for shape, so a row of indicators fails its column conversion.
        {__LINE__, s, numbers({0, 1, 0}, false), numbers({1}), omitted, omitted,
         "The vector indicators is no column vector or empty"},
        {__LINE__, s, numbers({0, 1, 3}), numbers({9}), omitted, omitted, "At least one indicator is not Zero or One"},
        {__LINE__, s, numbers({0, 1}), numbers({1}), omitted, omitted,
         "The cell range for the indicators is empty in row 3, where that for the scores is not"},
        {__LINE__, s, y, numbers({4}), omitted, omitted,
         "More categories then observations given. Reduce the number of categories to build the crosstab."},
        {__LINE__, s, y, numbers({3}), omitted, omitted,
         "As many categories as observations given. Reduce the number of categories to build the crosstab."},
        // Explicit boundaries.
        {__LINE__, s, y, omitted, CellMatrix(2, 2), up,
         "The cell range for the lower boundaries of score classings is not a vector"},
        {__LINE__, s, y, omitted, lo, CellMatrix(2, 2),
         "The cell range for the upper boundaries of score classings is not a vector"},
        {__LINE__, s, numbers({0, 1, 0}, false), omitted, lo, up,
         "The cell ranges of the scores and the indicators do not have the same dimension"},
        {__LINE__, s, y, omitted, lo, numbers({2, 4}, false),
         "The cell ranges of the upper and lower boundaries are not identical"},
        {__LINE__, s, y, omitted, numbers({0, 2}, false), numbers({2, 4}, false),
         "The vector scores is no row vector or empty"},
        {__LINE__, textScore, y, omitted, lo, up, "The vector scores contains a non-numerical entry"},
        {__LINE__, s, y, omitted, numbers({0, nan}), numbers({2, 4}),
         "The lower and the upper boundaries do not have the same number of non-empty cells"},
        {__LINE__, s, numbers({0, 2, 0}), omitted, lo, up, "At least one indicator is not Zero or One"},
        {__LINE__, s, y, omitted, numbers({0, 2}), numbers({2, 2}),
         "At least one upper boundary is not greater than a corresponding lower boundary"},
        {__LINE__, s, y, omitted, numbers({0, 2.1}), numbers({2, 4}),
         "At least one lower boundary of a category is not identical to the previous category's upper boundary"},
        {__LINE__, s, y, omitted, numbers({0, 1.9}), numbers({2, 4}),
         "At least one lower boundary of a category is not identical to the previous category's upper boundary"},
        {__LINE__, numbers({1, 0, 5}), y, omitted, lo, up, "The score 0 is not inside a boundary interval"},
        {__LINE__, numbers({1, 1234567.8, 5}), y, omitted, lo, up,
         "The score 1.23457e+06 is not inside a boundary interval"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rejection(crossTabNumerical(c.scores, c.indicators, c.k, c.lower, c.upper)), c.text) << c.line;
}

TEST(CrossTabNumerical, RefusesATableTooLongForASheet) {
    const std::size_t classes = 1048576;  // one more row for the labels
    CellMatrix lower(classes, 1), upper(classes, 1);
    for (std::size_t j = 0; j < classes; ++j) {
        lower(j, 0) = static_cast<double>(j);
        upper(j, 0) = static_cast<double>(j + 1);
    }
    EXPECT_EQ(rejection(crossTabNumerical(numbers({0.5}), numbers({0}), omitted, lower, upper)),
              "The result would have more than 1048576 rows or 16384 columns and cannot be shown in a worksheet");
}

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

}  // namespace
}  // namespace Korvanth
