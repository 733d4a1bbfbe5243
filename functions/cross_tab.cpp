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
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/result_size.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

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

// Counts in 64 bits: a full column of one outcome must not overflow.
struct Counts {
    std::int64_t survivals = 0;
    std::int64_t defaults = 0;
    void add(int indicator) { (indicator == 0 ? survivals : defaults) += 1; }
};

// Fills the WoE cell of a class. A zero count is replaced by half an observation relative to the
// other outcome's total; without any survival or any default at all there is no weight to give.
void setWeightOfEvidence(xlframe::CellValue& cell, const Counts& c, const Counts& total) {
    if (total.survivals == 0) {
        cell = "not defined (no survivals)";
        return;
    }
    if (total.defaults == 0) {
        cell = "not defined (no defaults)";
        return;
    }
    const double S = static_cast<double>(total.survivals), D = static_cast<double>(total.defaults);
    double s = static_cast<double>(c.survivals), d = static_cast<double>(c.defaults);
    if (s < 0.5 / D) s = 0.5 / D;
    if (d < 0.5 / S) d = 0.5 / S;
    cell = std::log((s / S) / (d / D));
}

// Classes of about equal size from the sorted scores t; m > k, or k = 1.
void automaticBoundaries(const std::vector<double>& t, std::size_t k, std::vector<double>& lower,
                         std::vector<double>& upper) {
    const std::size_t m = t.size();
    const std::size_t step = m / k;
    lower.assign(k, 0.0);
    upper.assign(k, 0.0);
    lower[0] = 2 * t[0] < -100000000.0 ? 2 * t[0] : -100000000.0;
    for (std::size_t j = 0; j + 1 < k; ++j) {
        const std::size_t i = (j + 1) * step;
        const double b = (t[i] + t[i + 1]) / 2;
        upper[j] = b;
        lower[j + 1] = b;
    }
    upper[k - 1] = 2 * t[m - 1] > 100000000.0 ? 2 * t[m - 1] : 100000000.0;
}

// NaN cannot be ordered; it goes last, where it can only ever fail the class lookup.
std::vector<double> sortedCopy(const std::vector<double>& scores) {
    std::vector<double> t(scores);
    const auto numbersEnd = std::partition(t.begin(), t.end(), [](double x) { return !std::isnan(x); });
    std::sort(t.begin(), numbersEnd);
    return t;
}

struct Tabulation {
    std::vector<Counts> counts;
    std::vector<std::size_t> members;
    Counts total;
};

Tabulation tabulate(const ScoreClasses& classes, const std::vector<double>& scores, const std::vector<int>& indicators,
                    std::vector<std::uint32_t>* classOf) {
    Tabulation tab;
    tab.counts.resize(classes.size());
    tab.members.assign(classes.size(), 0);
    if (classOf) classOf->resize(scores.size());
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const std::ptrdiff_t j = classes.find(scores[i]);
        if (j == ScoreClasses::none) fail("The score " + streamText(scores[i]) + " is not inside a boundary interval");
        tab.counts[static_cast<std::size_t>(j)].add(indicators[i]);
        tab.total.add(indicators[i]);
        ++tab.members[static_cast<std::size_t>(j)];
        if (classOf) (*classOf)[i] = static_cast<std::uint32_t>(j);
    }
    return tab;
}

// Median of each class: the entry at floor(n / 2) of its sorted scores (the upper middle one).
// When classes ascend, class j is a contiguous block of the sorted scores.
std::vector<double> mediansFromSorted(const std::vector<double>& t, const std::vector<std::size_t>& members) {
    std::vector<double> medians(members.size(), 0.0);
    std::size_t offset = 0;
    for (std::size_t j = 0; j < members.size(); ++j) {
        if (members[j] > 0) medians[j] = t[offset + members[j] / 2];
        offset += members[j];
    }
    return medians;
}

std::vector<double> mediansByClass(const std::vector<double>& scores, const std::vector<std::uint32_t>& classOf,
                                   const std::vector<std::size_t>& members) {
    std::vector<std::size_t> start(members.size() + 1, 0);
    for (std::size_t j = 0; j < members.size(); ++j) start[j + 1] = start[j] + members[j];
    std::vector<double> grouped(scores.size());
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < scores.size(); ++i) grouped[next[classOf[i]]++] = scores[i];
    std::vector<double> medians(members.size(), 0.0);
    for (std::size_t j = 0; j < members.size(); ++j) {
        if (members[j] == 0) continue;
        // Every score that found a class is a number, so the order is total.
        const auto first = grouped.begin() + static_cast<std::ptrdiff_t>(start[j]);
        const auto middle = first + static_cast<std::ptrdiff_t>(members[j] / 2);
        std::nth_element(first, middle, grouped.begin() + static_cast<std::ptrdiff_t>(start[j + 1]));
        medians[j] = *middle;
    }
    return medians;
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
        const Tabulation tab = tabulate(classes, x, y, nullptr);
        return numericalTable(lower, upper, tab, mediansFromSorted(t, tab.members));
    }
    std::vector<std::uint32_t> classOf;
    const Tabulation tab = tabulate(classes, x, y, &classOf);
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
    const Tabulation tab = tabulate(classes, x, y, &classOf);
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
        std::map<std::string, Counts> classes;
        Counts total;
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
