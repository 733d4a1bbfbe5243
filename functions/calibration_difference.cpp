// Redelmeier's test of the difference in calibration of two ratings on the same debtors:
// is the mean squared error of rating 1's default probabilities different from rating 2's?
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "analytics/calibration.hpp"
#include "analytics/conversions.hpp"
#include "analytics/distributions.hpp"
#include "analytics/matrix.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

using Distributions::cumulativeNormal;

constexpr const char* zeroVarianceText = "not defined (zero variance)";

bool isProbability(double p) { return p >= 0.0 && p <= 1.0; }  // false for NaN too

double twoSidedPValue(double z) { return z > 0 ? 2.0 * (1.0 - cumulativeNormal(z)) : 2.0 * cumulativeNormal(z); }

using Calibration::Redelmeier;

CellMatrix differenceTable(const Redelmeier& sums, double count) {
    CellMatrix result(5, 3);
    result(0, 0) = "Calib.Diff.";
    result(0, 1) = "Rating 1";
    result(0, 2) = "Rating 2";
    result(1, 0) = "MSE";
    result(1, 1) = sums.squaredErrors1 / count;
    result(1, 2) = sums.squaredErrors2 / count;
    result(2, 0) = "E[MSE]";
    result(2, 1) = sums.expected1 / count;
    result(2, 2) = sums.expected2 / count;
    result(3, 0) = "";
    result(3, 1) = "Test Statistic";
    result(3, 2) = "p-Value";
    result(4, 0) = "";
    const double deviation = std::sqrt(sums.variance);
    if (deviation > 0) {
        const double z = sums.difference / deviation;
        result(4, 1) = z;
        result(4, 2) = twoSidedPValue(z);
    } else {
        // No debtor whose two PDs differ: A and B are both zero.
        result(4, 1) = zeroVarianceText;
        result(4, 2) = zeroVarianceText;
    }
    return result;
}

// Each debtor's checks, in the order of their texts.
void checkDebtor(double p, double q, int y) {
    if (!isProbability(p)) fail("At least one default probability of rating 1 is not in [0,1]");
    if (!isProbability(q)) fail("At least one default probability of rating 2 is not in [0,1]");
    if (y != 0 && y != 1) fail("At least one of the indicators is not Zero or One");
}

}  // namespace

CellMatrix calibrationDifferenceIndividual(const CellMatrix& defaultProbRating1, const CellMatrix& defaultProbRating2,
                                           const CellMatrix& indicators) {
    return guardWorksheet([&] {
        if (!isVector(defaultProbRating1))
            fail("The cell range for the default proabilities of rating 1 is not a vector");
        if (!isVector(defaultProbRating2))
            fail("The cell range for the default proabilities of rating 2 is not a vector");
        if (!isVector(indicators)) fail("The cell range for the indicators is not a vector");
        if (!sameShape(defaultProbRating1, indicators))
            fail("The cell ranges for the default probabilties of rating 1 and the indicators are not identical");
        if (!sameShape(defaultProbRating2, indicators))
            fail("The cell ranges for the default probabilties of rating 2 and the indicators are not identical");

        const PairedRows rows({{indicators, "indicators"},
                               {defaultProbRating1, "default probabilities 1", "default probabilities of rating 1"},
                               {defaultProbRating2, "default probabilities 2", "default probabilities of rating 2"}},
                              indicators.Columns() == 1);
        const std::vector<int> y = rows.integers(0);
        const std::vector<double> p = rows.numbers(1);
        const std::vector<double> q = rows.numbers(2);
        const std::size_t n = rows.size();

        for (std::size_t i = 0; i < n; ++i) checkDebtor(p[i], q[i], y[i]);
        const Redelmeier sums = Calibration::redelmeier(p, q, y);
        return differenceTable(sums, static_cast<double>(n));
    });
}

CellMatrix calibrationDifferenceIndividual(const NumberRange& defaultProbRating1, const NumberRange& defaultProbRating2,
                                           const NumberRange& indicators) {
    const NumberRange& p = defaultProbRating1;
    const NumberRange& q = defaultProbRating2;
    const NumberRange& y = indicators;
    // The PDs are summed as read; anything else goes the long way.
    if (!numberVectorsAlike({&y, &p, &q})) {
        CellMatrix pCells, qCells, yCells;
        return calibrationDifferenceIndividual(cellsOf(p, pCells), cellsOf(q, qCells), cellsOf(y, yCells));
    }
    return guardWorksheet([&] {
        const std::size_t n = y.rows * y.columns;
        std::vector<int> flags(n);
        for (std::size_t i = 0; i < n; ++i) {
            flags[i] = xlframe::truncateToInt32(y.numbers[i]);
            checkDebtor(p.numbers[i], q.numbers[i], flags[i]);
        }
        const Redelmeier sums =
            Calibration::redelmeier(std::span<const double>(p.numbers, n), std::span<const double>(q.numbers, n), flags);
        return differenceTable(sums, static_cast<double>(n));
    });
}

CellMatrix calibrationDifferenceAggregate(const CellMatrix& defaultProbabilities, const CellMatrix& matrixDefaults,
                                          const CellMatrix& matrixSurvivals) {
    return guardWorksheet([&] {
        if (!isVector(defaultProbabilities)) fail("The cell range for the default probabilities is not a vector");
        if (matrixDefaults.Columns() != matrixDefaults.Rows())
            fail("The cell range for the matrix of defaults is not quadratic");
        if (matrixSurvivals.Columns() != matrixSurvivals.Rows())
            fail("The cell range for the matrix of survivals is not quadratic");
        const bool column = defaultProbabilities.Columns() == 1;
        const std::size_t k = column ? defaultProbabilities.Rows() : defaultProbabilities.Columns();
        if (matrixDefaults.Columns() != k)
            fail("The dimension of the matrix of defaults does not equal the number of default probabilities");
        if (matrixSurvivals.Columns() != k)
            fail("The dimension of the matrix of survivals does not equal the number of default probabilities");

        const std::vector<double> pd =
            column ? cellMatrixToColumnVector(defaultProbabilities, "default probabilities")
                   : cellMatrixToRowVector(defaultProbabilities, "default probabilities");
        const Matrix defaults = cellMatrixToDenseMatrix(matrixDefaults, "matrix of defaults");
        const Matrix survivals = cellMatrixToDenseMatrix(matrixSurvivals, "matrix of survivals");
        // Skipped Empty cells would shorten the vector or shift a matrix row onto other grades.
        if (pd.size() != k) fail("The cell range for the default probabilities contains empty cells");
        if (defaults.rows() != k || defaults.columns() != k) fail("The matrix of defaults contains empty cells");
        if (survivals.rows() != k || survivals.columns() != k) fail("The matrix of survivals contains empty cells");

        // Rows are grades under rating 2, columns grades under rating 1. A PD of a later row is
        // used before its own check; a bad one still ends the call when its row comes.
        for (std::size_t u = 0; u < k; ++u) {
            for (std::size_t v = 0; v < k; ++v) {
                if (!std::isfinite(defaults(u, v)))
                    fail("At least one entry of the matrix of defaults is not a finite number");
                if (!std::isfinite(survivals(u, v)))
                    fail("At least one entry of the matrix of survivals is not a finite number");
                if (xlframe::truncateToInt32(defaults(u, v)) < 0)
                    fail("At least one entry of the matrix of defaults is a negative mumber");
                if (xlframe::truncateToInt32(survivals(u, v)) < 0)
                    fail("At least one entry of the matrix of survivals is a negative mumber");
            }
            if (!isProbability(pd[u])) fail("At least one entry of the vector of default probabilities is not in [0,1]");
        }
        std::int64_t debtors = 0;
        const Redelmeier sums = Calibration::redelmeier(pd, defaults, survivals, debtors);
        if (debtors == 0) fail("The matrices of defaults and survivals do not contain a single debtor");
        return differenceTable(sums, static_cast<double>(debtors));
    });
}

}  // namespace Korvanth
