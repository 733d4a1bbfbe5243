#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "functions/worksheet_functions.hpp"
#include "test_calibration_support.hpp"

namespace Korvanth {
namespace {

using namespace Korvanth::testing;

const double nan = std::nan("");

CellMatrix wideTexts(const std::vector<std::wstring>& values, bool column = true) {
    CellMatrix range(column ? values.size() : 1, column ? 1 : values.size());
    for (std::size_t i = 0; i < values.size(); ++i) (column ? range(i, 0) : range(0, i)) = values[i];
    return range;
}

std::vector<double> column(const CellMatrix& r) {
    std::vector<double> values;
    for (std::size_t i = 0; i < r.Rows(); ++i)
        for (std::size_t j = 0; j < r.Columns(); ++j) values.push_back(number(r, i, j));
    return values;
}

TEST(MapCategoricals2Scores, LooksUpEveryValue) {
    const struct {
        int line;
        CellMatrix scores, set, values;
        std::size_t rows, columns;
        std::vector<double> expected;
    } cases[] = {
        // Numbers are matched by their integer parts; texts of the same digits match too.
        {__LINE__, numbers({1, 2.5, 3.9}), numbers({1, 2, 3}), numbers({10, 20, 30}), 3, 1, {10, 20, 30}},
        {__LINE__, wideTexts({L"3", L"1", L"2"}), numbers({1, 2, 3}), numbers({10, 20, 30}), 3, 1, {30, 10, 20}},
        {__LINE__, numbers({-1.7, 2}, false), numbers({-1, 2}, false), numbers({0.5, -4}, false), 1, 2, {0.5, -4}},
        // The table's orientation is its own; the result follows the scores.
        {__LINE__, numbers({2, 2, 1}, false), numbers({1, 2}), numbers({7, 8}), 1, 3, {8, 8, 7}},
        {__LINE__, numbers({2}), numbers({1, 2}, false), numbers({7, 8}, false), 1, 1, {8}},
        // A key listed twice keeps its last value.
        {__LINE__, numbers({1, 2}), numbers({1, 2, 1}), numbers({5, 6, 7}), 2, 1, {7, 6}},
        {__LINE__, wideTexts({L"b", L"a"}), wideTexts({L"a", L"b"}), numbers({1.5, 2.5}), 2, 1, {2.5, 1.5}},
        // A row of the table empty in both ranges is skipped.
        {__LINE__, numbers({1, 3}), numbers({1, nan, 3}), numbers({4, nan, 6}), 2, 1, {4, 6}},
    };
    for (const auto& c : cases) {
        const CellMatrix r = mapCategoricals2Scores(c.scores, c.set, c.values);
        ASSERT_EQ(r.Rows(), c.rows) << c.line << " " << rejection(r);
        ASSERT_EQ(r.Columns(), c.columns) << c.line;
        EXPECT_EQ(column(r), c.expected) << c.line;
    }
}

TEST(MapCategoricals2Scores, ChecksInOrder) {
    CellMatrix mixed = numbers({1, 2});
    mixed(1, 0) = std::wstring(L"x");
    const CellMatrix ok = numbers({1, 2}), block(2, 2);
    const struct {
        int line;
        CellMatrix scores, set, values;
        std::string text;
    } cases[] = {
        {__LINE__, block, block, block, "The cell range for the categorical scores is not a vector"},
        {__LINE__, ok, block, block, "The cell range for the set of categorical value is not a vector"},
        {__LINE__, ok, ok, block, "The cell range for the score values is not a vector"},
        {__LINE__, ok, ok, numbers({1, 2}, false),
         "The cell ranges for the set of categorical values and the score values do not have the same dimension"},
        {__LINE__, mixed, mixed, mixed, "The vector categoricalSet contains a non-string entry"},
        {__LINE__, mixed, ok, mixed, "The vector scoreValueSet contains a non-numerical entry"},
        {__LINE__, mixed, ok, ok, "The vector categoricalScores contains a non-string entry"},
        {__LINE__, numbers({nan}), ok, ok, "The vector categoricalScores does not contain a single string entry"},
        {__LINE__, ok, numbers({1, nan}), ok,
         "The cell range for the set of categorical values is empty in row 2, where that for the score values is not"},
        {__LINE__, numbers({1, 3}), ok, ok,
         "An entry of the categorical scores is not contained in the categorical set"},
        // Letter case counts.
        {__LINE__, wideTexts({L"A"}), wideTexts({L"a", L"b"}), ok,
         "An entry of the categorical scores is not contained in the categorical set"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rejection(mapCategoricals2Scores(c.scores, c.set, c.values)), c.text) << c.line;
}

// A table of three classes (0, 1], (1, 2], (2, 3] whose score values are cells of every kind.
CellMatrix scoreCells(bool asColumn) {
    CellMatrix cells(asColumn ? 3 : 1, asColumn ? 1 : 3);
    auto at = [&](std::size_t j) -> xlframe::CellValue& { return asColumn ? cells(j, 0) : cells(0, j); };
    at(0) = std::wstring(L"low");
    at(1) = 5.0;
    at(2) = true;
    return cells;
}

TEST(MapNumericals2Scores, CopiesTheCellOfTheClass) {
    for (bool tableColumn : {true, false}) {
        const CellMatrix lower = numbers({0, 1, 2}, tableColumn), upper = numbers({1, 2, 3}, tableColumn);
        const CellMatrix values = scoreCells(tableColumn);
        for (bool scoresColumn : {true, false}) {
            // On a boundary the class below; Empty stays Empty.
            const CellMatrix r =
                mapNumericals2Scores(numbers({0.5, 1, nan, 2.5, 3, 1 + 1e-12}, scoresColumn), values, lower, upper);
            ASSERT_EQ(r.Rows(), scoresColumn ? 6u : 1u) << rejection(r);
            ASSERT_EQ(r.Columns(), scoresColumn ? 1u : 6u);
            auto at = [&](std::size_t i) -> const xlframe::CellValue& { return scoresColumn ? r(i, 0) : r(0, i); };
            EXPECT_EQ(at(0).GetWideString(), L"low");
            EXPECT_EQ(at(1).GetWideString(), L"low");
            EXPECT_TRUE(at(2).IsEmpty());
            EXPECT_TRUE(at(3).GetBoolean());
            EXPECT_TRUE(at(4).GetBoolean());
            EXPECT_EQ(at(5).GetNumber(), 5.0);
        }
    }
    // Error and Empty score-value cells are copied as they are.
    CellMatrix values(2, 1);
    values(0, 0).SetError(42);
    const CellMatrix r = mapNumericals2Scores(numbers({0.5, 1.5}), values, numbers({0, 1}), numbers({1, 2}));
    ASSERT_EQ(r.Rows(), 2u);
    EXPECT_EQ(r(0, 0).GetErrorCode(), 42u);
    EXPECT_TRUE(r(1, 0).IsEmpty());
}

TEST(MapNumericals2Scores, ChecksInOrder) {
    const CellMatrix lo = numbers({0, 1}), up = numbers({1, 2}), v = numbers({10, 20}), s = numbers({0.5}), block(2, 2);
    CellMatrix textCell = numbers({0, 1});
    textCell(1, 0) = "x";
    const struct {
        int line;
        CellMatrix scores, values, lower, upper;
        std::string text;
    } cases[] = {
        {__LINE__, block, block, block, block, "The cell range for the numerical scores is not a vector"},
        {__LINE__, s, block, block, block, "The cell range for the score values is not a vector"},
        {__LINE__, s, v, block, block, "The cell range for the lower boundaries of score classings is not a vector"},
        {__LINE__, s, v, lo, block, "The cell range for the upper boundaries of score classings is not a vector"},
        {__LINE__, s, v, lo, numbers({1, 2}, false),
         "The cell ranges of the upper and lower boundaries are not identical"},
        {__LINE__, s, v, numbers({0, 1}, false), numbers({1, 2}, false),
         "The cell ranges of the score value set and the upper boundaries are not identical"},
        {__LINE__, s, v, textCell, up, "The vector lower boundaries contains a non-numerical entry"},
        {__LINE__, s, v, lo, textCell, "The vector upper boundaries contains a non-numerical entry"},
        {__LINE__, s, v, numbers({nan, 1}), up,
         "The cell range for the lower boundaries of score classings contains empty cells"},
        {__LINE__, s, v, lo, numbers({1, nan}),
         "The cell range for the upper boundaries of score classings contains empty cells"},
        {__LINE__, s, v, lo, numbers({1, 1}),
         "At least one upper boundary is not greater than a corresponding lower boundary"},
        {__LINE__, s, v, numbers({0, 1.5}), numbers({1, 2}),
         "At least one lower boundary of a category is not identical to the previous category's upper boundary"},
        {__LINE__, textCell, v, lo, up, "The vector numerical scores contains a non-numerical entry"},
        {__LINE__, numbers({nan, nan}), v, lo, up,
         "The vector numerical scores does not contain a single numerical entry"},
        {__LINE__, numbers({0.5, 0}), v, lo, up,
         "The score value 0 cannot be mapped into the given intervals for score classifying"},
        {__LINE__, numbers({-0.0001234567}), v, lo, up,
         "The score value -0.000123457 cannot be mapped into the given intervals for score classifying"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rejection(mapNumericals2Scores(c.scores, c.values, c.lower, c.upper)), c.text) << c.line;
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
