// lowDefaultPortfolioPD: Pluto-Tasche PD estimates per grade, best grade first.
#include <cstddef>
#include <vector>

#include "analytics/conversions.hpp"
#include "analytics/low_default_portfolio.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/worksheet_functions.hpp"

namespace Korvanth {

namespace {

// Each correlated grade integrates the binomial distribution over the systematic factor inside a
// root search: about 40 ms a grade. Far more grades than any rating scale has would run for hours.
constexpr std::size_t maxCorrelatedGrades = 1000;

// An optional argument that is not a single number (omitted, empty, text, several cells) takes its default.
double optionalNumber(const CellMatrix& range, const char* name, double fallback) {
    try {
        return cellMatrixToDouble(range, name);
    } catch (...) {
        return fallback;
    }
}

}  // namespace

CellMatrix lowDefaultPortfolioPD(const CellMatrix& numDefaults, const CellMatrix& numSurvivals,
                                 const CellMatrix& correlation, const CellMatrix& quantile,
                                 const CellMatrix& averagePortfolioPD) {
    const double rho = optionalNumber(correlation, "correlation", 0.0);
    const double level = optionalNumber(quantile, "quantile", 0.999);
    const double average = optionalNumber(averagePortfolioPD, "average portfolio PD", 0.0);
    return guardWorksheet([&] {
        if (!isVector(numDefaults)) fail("The cell range for the number of defaults is not one-dimensional");
        if (!isVector(numSurvivals)) fail("The cell range for the number of survivals is not one-dimensional");
        if (!sameShape(numDefaults, numSurvivals))
            fail("The dimensions of the vectors for numbers of defaults and survivals are not equal");

        const bool column = numDefaults.Columns() == 1;
        const PairedRows rows({{numDefaults, "number of defaults"}, {numSurvivals, "number of survivals"}}, column);
        const std::vector<int> defaults = rows.counts(0);
        const std::vector<int> survivals = rows.counts(1);
        // The correlated estimate checks its counts itself (and wants a survival in every grade).
        for (std::size_t i = 0; rho < 1e-10 && i < defaults.size(); ++i) {
            if (defaults[i] < 0) throw KorvanthException(196);
            if (survivals[i] < 0) fail("At least one entry in the number of survivals is negative");
        }

        if (rho >= 1e-10 && defaults.size() > maxCorrelatedGrades)
            fail("The number of grades exceeds the limit of 1000 for correlated defaults");

        std::vector<LowDefaultPortfolio::GradeCounts> counts(defaults.size());
        for (std::size_t i = 0; i < defaults.size(); ++i) counts[i] = {defaults[i], survivals[i]};

        const std::vector<double> pd = rho >= 1e-10
                                           ? LowDefaultPortfolio::plutoTascheCorrelated(counts, rho, level, average)
                                           : LowDefaultPortfolio::plutoTasche(counts, level, average);

        // Rescaling multiplies every PD by one factor; clipping one at 1 would change the average asked for.
        for (std::size_t i = 0; i < pd.size(); ++i) {
            if (pd[i] > 1.0)
                fail("The PD of the grade in " + rows.where(rows.position(i)) +
                     " is above 1 once scaled to the average portfolio PD");
        }
        CellMatrix result(column ? pd.size() : 1, column ? 1 : pd.size());
        for (std::size_t i = 0; i < pd.size(); ++i) (column ? result(i, 0) : result(0, i)) = pd[i];
        return result;
    });
}

}  // namespace Korvanth
