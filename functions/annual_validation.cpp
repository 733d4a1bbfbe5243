// The tests of an annual validation: per-grade back-tests of the PDs (Jeffreys, binomial), the
// AUROC against that of the initial validation, the Kolmogorov-Smirnov statistic, the
// concentration over the grades, the population stability index and the migration matrix.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <numeric>
#include <string>
#include <vector>

#include "analytics/supervisory_statistics.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/result_size.hpp"
#include "analytics/roc.hpp"
#include "functions/worksheet_functions.hpp"

namespace Korvanth {

namespace {

namespace S = Supervisory;

constexpr double maxMigrationGrades = 1000;

std::size_t lengthOf(const CellMatrix& range) { return range.Columns() == 1 ? range.Rows() : range.Columns(); }

// Every range one row or one column, and all as long as the first and laid out the same way.
void requirePairedVectors(std::initializer_list<PairedRange> ranges) {
    for (const PairedRange& r : ranges)
        if (!isVector(r.range)) fail(std::string("The cell range for the ") + r.name + " is not one-dimensional");
    const PairedRange& first = *ranges.begin();
    for (const PairedRange& r : ranges) {
        if (lengthOf(r.range) != lengthOf(first.range))
            fail(std::string("The cell ranges for the ") + first.name + " and the " + r.name +
                 " are not of the same length");
        if (!sameShape(r.range, first.range))
            fail(std::string("The cell ranges for the ") + first.name + " and the " + r.name +
                 " are not both columns or both rows");
    }
}

// The checks above, then the ranges read as paired rows.
PairedRows readPairedVectors(std::initializer_list<PairedRange> ranges) {
    requirePairedVectors(ranges);
    return PairedRows(ranges, ranges.begin()->range.Columns() == 1);
}

// Whole numbers of at least `least`; a fraction, like a count of debtors that is not whole, is refused.
std::vector<double> wholeNumbers(const PairedRows& rows, std::size_t r, const char* label, double least,
                                 const char* belowText) {
    const std::vector<double> x = rows.numbers(r);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::string where = rows.where(rows.position(i));
        if (!std::isfinite(x[i]) || x[i] != std::floor(x[i]))
            fail(std::string("The cell range for the ") + label + " holds a number that is not whole in " + where);
        if (x[i] < least) fail(std::string("The cell range for the ") + label + " holds " + belowText + " in " + where);
    }
    return x;
}

std::vector<double> counts(const PairedRows& rows, std::size_t r, const char* label) {
    return wholeNumbers(rows, r, label, 0.0, "a negative number");
}

// Scores and 0/1 indicators grouped by tied score, riskiest first, with a default and a survival.
S::ScoreGroups readGroups(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex,
                          std::vector<double>& groupScores) {
    const PairedRows rows({{scores, "scores"}, {indicators, "indicators"}}, scores.Columns() == 1);
    const std::vector<double> x = rows.numbers(0);
    const std::vector<double> y = rows.numbers(1);
    std::vector<std::uint8_t> defaulted(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (y[i] != 0.0 && y[i] != 1.0) fail("At least one indicator is not Zero or One");
        defaulted[i] = y[i] == 1.0;
    }
    S::ScoreGroups groups = riskGroups(x, defaulted, scoreIndex, groupScores);
    const auto defaults = std::accumulate(groups.defaults.begin(), groups.defaults.end(), std::int64_t{0});
    if (defaults == 0) fail("The data do not contain a single default");
    if (defaults == static_cast<std::int64_t>(y.size())) fail("The data do not contain a single survival");
    return groups;
}

using PValue = double (*)(double debtors, double defaults, double pd);

CellMatrix backTest(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                    const CellMatrix& numDebtors, PValue pValue) {
    const PairedRows rows = readPairedVectors({{defaultProbabilities, "default probabilities"},
                                               {numDefaults, "number of defaults"},
                                               {numDebtors, "number of debtors"}});
    const std::vector<double> pd = rows.numbers(0);
    const std::vector<double> defaults = counts(rows, 1, "number of defaults");
    const std::vector<double> debtors = counts(rows, 2, "number of debtors");
    const std::size_t k = rows.size();
    double totalDefaults = 0, totalDebtors = 0, weightedPD = 0;
    for (std::size_t i = 0; i < k; ++i) {
        const std::string where = rows.where(rows.position(i));
        if (!(pd[i] >= 0.0 && pd[i] <= 1.0))
            fail("The cell range for the default probabilities holds a value outside [0,1] in " + where);
        if (defaults[i] > debtors[i]) fail("The number of defaults exceeds the number of debtors in " + where);
        totalDefaults += defaults[i];
        totalDebtors += debtors[i];
        weightedPD += debtors[i] * pd[i];
    }
    if (totalDebtors == 0) fail("The grades do not contain a single debtor");
    requireShowable(k + 2, 6);

    CellMatrix result(k + 2, 6);
    const char* header[] = {"Grade", "Debtors", "Defaults", "PD", "Default Rate", "p-Value"};
    for (std::size_t j = 0; j < 6; ++j) result(0, j) = header[j];
    for (std::size_t i = 0; i < k; ++i) {
        result(i + 1, 0) = static_cast<double>(i + 1);
        result(i + 1, 1) = debtors[i];
        result(i + 1, 2) = defaults[i];
        result(i + 1, 3) = pd[i];
        // A grade without debtors keeps its row; it has no rate to test.
        if (debtors[i] == 0) continue;
        result(i + 1, 4) = defaults[i] / debtors[i];
        result(i + 1, 5) = pValue(debtors[i], defaults[i], pd[i]);
    }
    const double averagePD = std::clamp(weightedPD / totalDebtors, 0.0, 1.0);
    result(k + 1, 0) = "Portfolio";
    result(k + 1, 1) = totalDebtors;
    result(k + 1, 2) = totalDefaults;
    result(k + 1, 3) = averagePD;
    result(k + 1, 4) = totalDefaults / totalDebtors;
    result(k + 1, 5) = pValue(totalDebtors, totalDefaults, averagePD);
    return result;
}

}  // namespace

CellMatrix jeffreysTest(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                        const CellMatrix& numDebtors) {
    return guardWorksheet(
        [&] { return backTest(defaultProbabilities, numDefaults, numDebtors, &S::jeffreysPValue); });
}

CellMatrix binomialTest(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                        const CellMatrix& numDebtors) {
    return guardWorksheet(
        [&] { return backTest(defaultProbabilities, numDefaults, numDebtors, &S::binomialPValue); });
}

CellMatrix aurocInitialComparison(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex,
                                  const CellMatrix& initialAuroc) {
    return guardWorksheet([&] {
        requirePairedVectors({{scores, "scores"}, {indicators, "indicators"}});
        requireZeroOrOne(scoreIndex, "scoreIndex");
        if (initialAuroc.Rows() != 1 || initialAuroc.Columns() != 1 || !initialAuroc(0, 0).IsNumber())
            fail("The initial AUROC is not a single number");
        const double initial = initialAuroc(0, 0).GetNumber();
        if (!(initial >= 0.0 && initial <= 1.0)) fail("The initial AUROC is not in [0,1]");
        std::vector<double> groupScores;
        const S::ScoreGroups groups = readGroups(scores, indicators, scoreIndex, groupScores);
        const auto defaults = std::accumulate(groups.defaults.begin(), groups.defaults.end(), std::int64_t{0});
        const auto survivals = std::accumulate(groups.survivals.begin(), groups.survivals.end(), std::int64_t{0});
        if (defaults < 2 || survivals < 2)
            fail("The standard error needs at least two defaults and two survivals");
        const S::DeLong current = S::deLong(groups);

        CellMatrix result(5, 2);
        result(0, 0) = "AUROC";
        result(0, 1) = current.auroc;
        result(1, 0) = "Standard Error";
        result(1, 1) = current.standardError;
        result(2, 0) = "Initial AUROC";
        result(2, 1) = initial;
        result(3, 0) = "Test Statistic";
        result(4, 0) = "p-Value";
        if (current.standardError > 0) {
            const double statistic = (initial - current.auroc) / current.standardError;
            result(3, 1) = statistic;
            result(4, 1) = S::upperNormalTail(statistic);
        } else {
            // Every default placed alike and every survival alike: the quotient has no divisor.
            result(3, 1) = "not defined (the standard error is zero)";
            result(4, 1) = "not defined (the standard error is zero)";
        }
        return result;
    });
}

CellMatrix herfindahlIndex(const CellMatrix& numDebtors) {
    return guardWorksheet([&] {
        const PairedRows rows = readPairedVectors({{numDebtors, "number of debtors"}});
        const std::vector<double> debtors = counts(rows, 0, "number of debtors");
        if (debtors.size() < 2) fail("The cell range for the number of debtors holds fewer than two grades");
        if (std::accumulate(debtors.begin(), debtors.end(), 0.0) == 0)
            fail("The grades do not contain a single debtor");
        const S::Concentration c = S::concentration(debtors);
        CellMatrix result(2, 2);
        result(0, 0) = "Coefficient of Variation";
        result(0, 1) = c.coefficientOfVariation;
        result(1, 0) = "Herfindahl Index";
        result(1, 1) = c.herfindahlIndex;
        return result;
    });
}

CellMatrix populationStabilityIndex(const CellMatrix& referenceCounts, const CellMatrix& currentCounts) {
    return guardWorksheet([&] {
        const PairedRows rows =
            readPairedVectors({{referenceCounts, "reference counts"}, {currentCounts, "current counts"}});
        const std::vector<double> reference = counts(rows, 0, "reference counts");
        const std::vector<double> current = counts(rows, 1, "current counts");
        const std::size_t k = rows.size();
        // A share of zero has no logarithm: the grade is named rather than given an invented share.
        for (std::size_t i = 0; i < k; ++i) {
            const std::string where = rows.where(rows.position(i));
            if (reference[i] == 0)
                fail("The grade in " + where + " has no debtors in the cell range for the reference counts");
            if (current[i] == 0)
                fail("The grade in " + where + " has no debtors in the cell range for the current counts");
        }
        requireShowable(k + 2, 4);
        const S::Stability s = S::populationStability(reference, current);
        CellMatrix result(k + 2, 4);
        result(0, 0) = "Grade";
        result(0, 1) = "Reference Share";
        result(0, 2) = "Current Share";
        result(0, 3) = "Contribution";
        for (std::size_t i = 0; i < k; ++i) {
            result(i + 1, 0) = static_cast<double>(i + 1);
            result(i + 1, 1) = s.referenceShares[i];
            result(i + 1, 2) = s.currentShares[i];
            result(i + 1, 3) = s.contributions[i];
        }
        result(k + 1, 0) = "PSI";
        result(k + 1, 3) = s.index;
        return result;
    });
}

CellMatrix ksStatistic(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex) {
    return guardWorksheet([&] {
        requirePairedVectors({{scores, "scores"}, {indicators, "indicators"}});
        requireZeroOrOne(scoreIndex, "scoreIndex");
        std::vector<double> groupScores;
        const S::KolmogorovSmirnov ks = S::kolmogorovSmirnov(readGroups(scores, indicators, scoreIndex, groupScores));
        CellMatrix result(2, 2);
        result(0, 0) = "KS";
        result(0, 1) = ks.distance;
        result(1, 0) = "Score";
        result(1, 1) = groupScores[ks.group];
        return result;
    });
}

CellMatrix migrationMatrix(const CellMatrix& gradesBefore, const CellMatrix& gradesAfter) {
    return guardWorksheet([&] {
        const PairedRows rows =
            readPairedVectors({{gradesBefore, "grades before"}, {gradesAfter, "grades after"}});
        const std::vector<double> before = wholeNumbers(rows, 0, "grades before", 1.0, "a grade below 1");
        const std::vector<double> after = wholeNumbers(rows, 1, "grades after", 1.0, "a grade below 1");
        // The table grows with the square of the largest grade, which one cell can make huge:
        // checked before the grades become integers.
        const double largest = std::max(*std::max_element(before.begin(), before.end()),
                                        *std::max_element(after.begin(), after.end()));
        if (largest > maxMigrationGrades) fail("The largest grade exceeds the limit of 1000 grades");
        const std::vector<std::int64_t> from(before.begin(), before.end()), to(after.begin(), after.end());
        const S::Migrations m = S::migrations(from, to);
        const std::size_t k = m.grades;

        CellMatrix result(k + 5, k + 1);
        for (std::size_t g = 0; g < k; ++g) {
            result(0, g + 1) = static_cast<double>(g + 1);
            result(g + 1, 0) = static_cast<double>(g + 1);
            // A starting grade with debtors shows a share in every column; one without stays empty.
            if (m.startingTotals[g] != 0)
                for (std::size_t j = 0; j < k; ++j) result(g + 1, j + 1) = 0.0;
        }
        for (const auto& cell : m.cells)
            result(cell.from + 1, cell.to + 1) =
                static_cast<double>(cell.debtors) / static_cast<double>(m.startingTotals[cell.from]);
        const std::pair<const char*, double> summary[] = {{"Stayed", m.stayed},
                                                          {"Upgraded", m.upgraded},
                                                          {"Downgraded", m.downgraded},
                                                          {"Moved Two Or More Grades", m.movedTwoOrMore}};
        for (std::size_t r = 0; r < 4; ++r) {
            result(k + 1 + r, 0) = summary[r].first;
            result(k + 1 + r, 1) = summary[r].second;
        }
        return result;
    });
}

}  // namespace Korvanth
