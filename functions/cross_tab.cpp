// Cross tabulations of a risk driver against defaults: survivals, defaults and the weight of
// evidence per category (categorical drivers) or per score interval (numerical drivers).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "analytics/categories.hpp"
#include "analytics/conversions.hpp"
#include "analytics/cross_tab.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/result_size.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

using namespace CrossTab;

constexpr const char* indicatorText = "At least one indicator is not Zero or One";

std::vector<double> readBoundaries(const CellMatrix& range, bool column, const char* name) {
    return column ? cellMatrixToColumnVector(range, name) : cellMatrixToRowVector(range, name);
}

void requireIndicators(const std::vector<int>& indicators) {
    for (int y : indicators)
        if (y != 0 && y != 1) fail(indicatorText);
}

void requireSameLength(std::size_t a, std::size_t b, const char* text) {
    if (a != b) fail(text);
}

// Fills the WoE cell of a class; without any survival or any default at all there is no weight to give.
void setWeightOfEvidence(xlframe::CellValue& cell, const CrossTab::Counts& c, const CrossTab::Counts& total) {
    if (total.survivals == 0) {
        cell = "not defined (no survivals)";
        return;
    }
    if (total.defaults == 0) {
        cell = "not defined (no defaults)";
        return;
    }
    cell = weightOfEvidence(c, total);
}

Tabulation tabulated(const ScoreClasses& classes, const std::vector<double>& scores, const std::vector<int>& indicators,
                     std::vector<std::uint32_t>* classOf) {
    Tabulation tab;
    const std::size_t outside = tabulate(classes, scores, indicators, tab, classOf);
    if (outside < scores.size())
        fail("The score " + streamText(scores[outside]) + " is not inside a boundary interval");
    return tab;
}

CellMatrix numericalTable(const std::vector<double>& lower, const std::vector<double>& upper, const Tabulation& tab,
                          const std::vector<double>& medians) {
    const std::size_t c = lower.size();
    CellMatrix result(c + 1, 6);
    result(0, 0) = "Lower Bndry";
    result(0, 1) = "Upper Bndry";
    result(0, 2) = "Survivals";
    result(0, 3) = "Defaults";
    result(0, 4) = "Median";
    result(0, 5) = "WoE";
    for (std::size_t j = 0; j < c; ++j) {
        result(j + 1, 0) = lower[j];
        result(j + 1, 1) = upper[j];
        result(j + 1, 2) = tab.counts[j].survivals;
        result(j + 1, 3) = tab.counts[j].defaults;
        result(j + 1, 4) = medians[j];
        setWeightOfEvidence(result(j + 1, 5), tab.counts[j], tab.total);
    }
    return result;
}

bool isSingleEmpty(const CellMatrix& range) {
    return range.Rows() == 1 && range.Columns() == 1 && range(0, 0).IsEmpty();
}

CellMatrix automaticCrossTab(const CellMatrix& scores, const CellMatrix& indicators,
                             const CellMatrix& numberCategories) {
    const int k = xlframe::truncateToInt32(cellMatrixToDouble(numberCategories, "numberCategories"));
    if (k < 1) fail("The number of categories is non-positive");
    const PairedRows rows({{scores, "scores"}, {indicators, "indicators"}}, scores.Columns() == 1);
    const std::vector<double> x = rows.numbers(0);
    const std::vector<int> y = rows.integers(1);
    requireIndicators(y);
    const std::size_t m = x.size(), classCount = static_cast<std::size_t>(k);
    if (m < classCount)
        fail("More categories then observations given. Reduce the number of categories to build the crosstab.");
    // With one score per class the last split would need a score past the last one.
    if (m == classCount && classCount > 1)
        fail("As many categories as observations given. Reduce the number of categories to build the crosstab.");
    requireShowable(classCount + 1, 6);

    const std::vector<double> t = sortedCopy(x);
    std::vector<double> lower, upper;
    automaticBoundaries(t, classCount, lower, upper);
    const ScoreClasses classes(lower, upper);
    if (classes.bisects()) {
        const Tabulation tab = tabulated(classes, x, y, nullptr);
        return numericalTable(lower, upper, tab, mediansFromSorted(t, tab.members));
    }
    std::vector<std::uint32_t> classOf;
    const Tabulation tab = tabulated(classes, x, y, &classOf);
    return numericalTable(lower, upper, tab, mediansByClass(x, classOf, tab.members));
}

CellMatrix explicitCrossTab(const CellMatrix& scores, const CellMatrix& indicators, const CellMatrix& lowerBoundaries,
                            const CellMatrix& upperBoundaries) {
    if (!isVector(lowerBoundaries)) fail("The cell range for the lower boundaries of score classings is not a vector");
    if (!isVector(upperBoundaries)) fail("The cell range for the upper boundaries of score classings is not a vector");
    if (!sameShape(scores, indicators))
        fail("The cell ranges of the scores and the indicators do not have the same dimension");
    if (!sameShape(lowerBoundaries, upperBoundaries))
        fail("The cell ranges of the upper and lower boundaries are not identical");

    const bool column = lowerBoundaries.Columns() == 1;
    const PairedRows rows({{scores, "scores"}, {indicators, "indicators"}}, column);
    const std::vector<double> x = rows.numbers(0);
    std::vector<double> lower = readBoundaries(lowerBoundaries, column, "lower boundaries");
    const std::vector<double> upper = readBoundaries(upperBoundaries, column, "upper boundaries");
    const std::vector<int> y = rows.integers(1);
    requireIndicators(y);
    requireSameLength(lower.size(), upper.size(),
                      "The lower and the upper boundaries do not have the same number of non-empty cells");
    requireContiguousClasses(lower, upper);
    requireShowable(lower.size() + 1, 6);

    const ScoreClasses classes(lower, upper);
    std::vector<std::uint32_t> classOf;
    const Tabulation tab = tabulated(classes, x, y, &classOf);
    return numericalTable(lower, upper, tab, mediansByClass(x, classOf, tab.members));
}

}  // namespace

CellMatrix crossTabCategorical(const CellMatrix& categories, const CellMatrix& indicators) {
    return guardWorksheet([&] {
        if (categories.Rows() > 1 && categories.Columns() > 1)
            fail("The cell range for the categories is not a vector");
        if (indicators.Rows() > 1 && indicators.Columns() > 1) fail("The cell range of the indicators is not a vector");
        if (!sameShape(categories, indicators))
            fail("The cell ranges for the categories and the indicators have different dimensions");

        const PairedRows rows({{categories, "categories", nullptr, Cells::categories}, {indicators, "indicators"}}, categories.Columns() == 1);
        const std::vector<std::string> keys = rows.categories(0);
        const std::vector<int> y = rows.integers(1);
        requireIndicators(y);

        // Byte-wise key order, as std::string compares: "10" before "2", "B" before "a".
        std::map<std::string, CrossTab::Counts> classes;
        CrossTab::Counts total;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            classes[keys[i]].add(y[i]);
            total.add(y[i]);
        }
        requireShowable(classes.size() + 1, 4);

        CellMatrix result(classes.size() + 1, 4);
        result(0, 0) = "Categories";
        result(0, 1) = "Survivals";
        result(0, 2) = "Defaults";
        result(0, 3) = "WoE";
        std::size_t row = 1;
        for (const auto& [key, counts] : classes) {
            result(row, 0) = key;
            result(row, 1) = counts.survivals;
            result(row, 2) = counts.defaults;
            setWeightOfEvidence(result(row, 3), counts, total);
            ++row;
        }
        return result;
    });
}

CellMatrix crossTabNumerical(const CellMatrix& scores, const CellMatrix& indicators, const CellMatrix& numberCategories,
                             const CellMatrix& lowerBoundaries, const CellMatrix& upperBoundaries) {
    return guardWorksheet([&] {
        if (!isVector(scores)) fail("The cell range for scores is not a vector");
        if (!isVector(indicators)) fail("The cell range for indicators is not a vector");
        if (isSingleEmpty(lowerBoundaries) && isSingleEmpty(upperBoundaries))
            return automaticCrossTab(scores, indicators, numberCategories);
        return explicitCrossTab(scores, indicators, lowerBoundaries, upperBoundaries);
    });
}

}  // namespace Korvanth
