// Calibration tests of a rating system's default probabilities against observed defaults:
// Spiegelhalter's test on the mean squared error (per debtor or per grade) and the
// Hosmer-Lemeshow chi-square test (per grade).
#include <cmath>
#include <cstdint>
#include <vector>

#include "analytics/calibration.hpp"
#include "analytics/distributions.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

using Distributions::cumulativeGamma;
using Distributions::cumulativeNormal;

constexpr const char* zeroVarianceText = "not defined (zero variance)";
constexpr const char* contradictedText = "not defined (a PD of 0 or 1 contradicts the observed defaults)";
constexpr const char* noFreeGradeText = "not defined (no grade with debtors has a PD strictly between 0 and 1)";

bool isProbability(double p) { return p >= 0.0 && p <= 1.0; }  // false for NaN too

double twoSidedPValue(double z) { return z > 0 ? 2.0 * (1.0 - cumulativeNormal(z)) : 2.0 * cumulativeNormal(z); }

using Calibration::Spiegelhalter;

// Columns 0 to 5 of the value row: "Test", MSE, E[MSE], sqrt(V), z and its p-value.
void fillSpiegelhalter(CellMatrix& result, const Spiegelhalter& sums, double count) {
    const double mse = sums.squaredErrors / count;
    const double expected = sums.expected / count;
    const double deviation = std::sqrt(sums.variance / (count * count));
    result(1, 0) = "Test";
    result(1, 1) = mse;
    result(1, 2) = expected;
    result(1, 3) = deviation;
    if (deviation > 0) {
        const double z = (mse - expected) / deviation;
        result(1, 4) = z;
        result(1, 5) = twoSidedPValue(z);
    } else {
        // Every PD is 0, 0.5 or 1: the statistic is a quotient by zero.
        result(1, 4) = zeroVarianceText;
        result(1, 5) = zeroVarianceText;
    }
}

// Checks each debtor and adds its terms, in row order: the first bad row decides the text.
template <class Indicator>
Spiegelhalter checkedSums(std::size_t n, const double* p, Indicator indicator) {
    Spiegelhalter sums;
    for (std::size_t i = 0; i < n; ++i) {
        const int flag = indicator(i);
        if (!isProbability(p[i])) fail("At least one default probability is not in [0,1]");
        if (flag != 0 && flag != 1) fail("At least one of the indicators is not Zero or One");
        Calibration::addDebtor(sums, p[i], flag);
    }
    return sums;
}

CellMatrix individualTable(const Spiegelhalter& sums, std::size_t debtors) {
    CellMatrix result(2, 6);
    result(0, 0) = "Calibration";
    result(0, 1) = "MSE";
    result(0, 2) = "E[MSE]";
    result(0, 3) = "Var[MSE]";
    result(0, 4) = "Test Statistic";
    result(0, 5) = "p-Value";
    fillSpiegelhalter(result, sums, static_cast<double>(debtors));
    return result;
}

}  // namespace

CellMatrix calibrationTestIndividual(const CellMatrix& defaultProbabilities, const CellMatrix& indicators) {
    return guardWorksheet([&] {
        if (!isVector(defaultProbabilities)) fail("The cell range for the default proabilities is not a vector");
        if (!isVector(indicators)) fail("The cell range for the indicators is not a vector");
        if (!sameShape(defaultProbabilities, indicators))
            fail("The cell ranges for the default probabilties and the indicators are not identical");

        const PairedRows rows({{indicators, "indicators"}, {defaultProbabilities, "default probabilities"}},
                              indicators.Columns() == 1);
        const std::vector<int> y = rows.integers(0);
        const std::vector<double> p = rows.numbers(1);
        const std::size_t n = rows.size();
        return individualTable(checkedSums(n, p.data(), [&](std::size_t i) { return y[i]; }), n);
    });
}

CellMatrix calibrationTestIndividual(const NumberRange& defaultProbabilities, const NumberRange& indicators) {
    const NumberRange& p = defaultProbabilities;
    const NumberRange& y = indicators;
    // The checks and sums run in one pass over numbers as read; anything else goes the long way.
    if (!numberVectorsAlike({&p, &y})) {
        CellMatrix pCells, yCells;
        return calibrationTestIndividual(cellsOf(p, pCells), cellsOf(y, yCells));
    }
    return guardWorksheet([&] {
        const std::size_t n = p.rows * p.columns;
        const auto flag = [&](std::size_t i) { return xlframe::truncateToInt32(y.numbers[i]); };
        return individualTable(checkedSums(n, p.numbers, flag), n);
    });
}

CellMatrix calibrationTestAggregate(const CellMatrix& defaultProbabilities, const CellMatrix& numDefaults,
                                    const CellMatrix& numSurvivals) {
    return guardWorksheet([&] {
        if (!isVector(defaultProbabilities)) fail("The cell range for the default proabilities is not a vector");
        if (!isVector(numDefaults)) fail("The cell range for the number of defaults of each grade is not a vector");
        if (!isVector(numSurvivals)) fail("The cell range for the number of survivals of each grade is not a vector");
        if (!sameShape(defaultProbabilities, numDefaults))
            fail("The cell ranges for the default probabilties and the number of defaults are not identical");
        if (!sameShape(defaultProbabilities, numSurvivals))
            fail("The cell ranges for the default probabilties and the number of survivals are not identical");

        const PairedRows rows({{numDefaults, "number of defaults"},
                               {numSurvivals, "number of survivals"},
                               {defaultProbabilities, "default probabilities"}},
                              numDefaults.Columns() == 1);
        const std::vector<int> defaults = rows.counts(0);
        const std::vector<int> survivals = rows.counts(1);
        const std::vector<double> p = rows.numbers(2);
        const std::size_t k = rows.size();

        for (std::size_t i = 0; i < k; ++i) {
            if (!isProbability(p[i])) fail("At least one default probability is not in [0,1]");
            if (defaults[i] < 0 || survivals[i] < 0)
                fail("At least one of the number of defaults or number of survivals is a negative number");
        }
        const Calibration::Grades g = Calibration::grades(p, defaults, survivals);
        const std::int64_t debtors = g.debtors;
        if (debtors == 0) fail("The grades do not contain a single debtor");

        CellMatrix result(2, 8);
        result(0, 0) = "Calibration";
        result(0, 1) = "MSE";
        result(0, 2) = "E[MSE]";
        result(0, 3) = "Var[MSE]";
        result(0, 4) = "Test Statistic (SP)";
        result(0, 5) = "p-Value (SP)";
        result(0, 6) = "Test Statistic (HL)";
        result(0, 7) = "p-Value (HL)";
        fillSpiegelhalter(result, g.sums, static_cast<double>(debtors));
        if (g.contradicted) {
            result(1, 6) = contradictedText;
            result(1, 7) = contradictedText;
        } else if (g.freeGrades == 0) {
            result(1, 6) = noFreeGradeText;
            result(1, 7) = noFreeGradeText;
        } else {
            result(1, 6) = g.hosmerLemeshow;
            result(1, 7) = 1.0 - cumulativeGamma(g.hosmerLemeshow / 2.0, static_cast<double>(g.freeGrades) / 2.0);
        }
        return result;
    });
}

}  // namespace Korvanth
