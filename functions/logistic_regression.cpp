// logisticRegression: a logistic model of the default indicators on the selected risk drivers,
// with the likelihood-ratio test of every coefficient.
#include <cstddef>
#include <string>
#include <vector>

#include "analytics/conversions.hpp"
#include "analytics/logistic_regression.hpp"
#include "analytics/matrix.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/worksheet_functions.hpp"

namespace Korvanth {

namespace {

Matrix selectedColumns(const Matrix& m, const std::vector<std::size_t>& columns) {
    Matrix result(m.rows(), columns.size());
    for (std::size_t i = 0; i < m.rows(); ++i) {
        const double* from = m.row(i);
        double* to = result.row(i);
        for (std::size_t j = 0; j < columns.size(); ++j) to[j] = from[columns[j]];
    }
    return result;
}

}  // namespace

CellMatrix logisticRegression(const CellMatrix& factorNames, const CellMatrix& factorIndices,
                              const CellMatrix& factorValues, const CellMatrix& indicators) {
    return guardWorksheet([&] {
        if (!isVector(factorNames)) fail("The cell range with the names of the risk drivers must be a vector");
        if (!sameShape(factorNames, factorIndices))
            fail("The cell ranges of factor names and factor indices must have the same dimension");

        std::size_t decidingCount = 0;
        if (factorNames.Rows() == 1 && factorNames.Columns() == 1) {
            if (!isVector(factorValues))
                fail("The number of factor names and the dimension of the matrix of factor values are inconsistent");
            if (factorValues.Rows() == 1 && factorValues.Columns() == 1)
                fail("There is only 1 factor value available; not enough to run a logistic regression");
            decidingCount = factorValues.Rows();
        } else {
            decidingCount = factorNames.Columns();
        }
        // Column layout: one factor per row of the values, one observation per column.
        const bool columnLayout = decidingCount < 2;

        const std::vector<double> indexValues = columnLayout ? cellMatrixToColumnVector(factorIndices, "factor indices")
                                                             : cellMatrixToRowVector(factorIndices, "factor indices");
        std::vector<std::size_t> selected;
        for (std::size_t j = 0; j < indexValues.size(); ++j)
            if (indexValues[j] > 0.5) selected.push_back(j);
        if (selected.empty()) fail("The number of risk drivers is zero. Please check the factor indicators");
        // The Hessian grows with the square of the factors; refuse before anything is converted.
        if (selected.size() > LogisticRegression::maximumFactors)
            fail(LogisticRegression::tooManyFactorsText);

        if (columnLayout) {
            if (factorValues.Columns() != indicators.Columns())
                fail("The number of columns in the cell ranges for factor values and indicators must be identical");
            if (indicators.Rows() != 1) fail("The cell range for indicators must be a vector");
            if (factorValues.Rows() != factorNames.Rows())
                fail("The number of rows in the cell ranges for factor values and factor names must be identical");
        } else {
            if (factorValues.Rows() != indicators.Rows())
                fail("The number of row in the cell ranges for factor values and indicators must be identical");
            if (indicators.Columns() != 1) fail("The cell range for indicators must be a vector");
            if (factorValues.Columns() != factorNames.Columns())
                fail("The number of columns in the cell ranges for factor values and factor names must be identical");
        }

        // One observation per row of the values (per column in the column layout), with its indicator.
        const PairedRows rows({{factorValues, "factor values", nullptr, Cells::table}, {indicators, "indicators"}},
                              !columnLayout);
        const std::vector<int> y = rows.integers(1);
        const std::vector<std::string> names = columnLayout
                                                   ? cellMatrixToColumnVectorString(factorNames, "factor names")
                                                   : cellMatrixToRowVectorString(factorNames, "factor names");
        Matrix factors = rows.table(0);

        for (int indicator : y)
            if (indicator != 0 && indicator != 1) fail("At least one indicator is not Zero or One");

        // Empty cells shorten the converted names, so a position counted in the indices may name
        // no factor, or lie past the columns of values.
        for (std::size_t position : selected) {
            if (position >= names.size() || position >= factors.columns())
                fail("A selected risk driver has no factor name or no factor values (are there empty cells?)");
        }

        if (selected.size() != factors.columns()) factors = selectedColumns(factors, selected);

        LogisticRegression::RegressionData data(y, std::move(factors));
        LogisticRegression::RegressionResult fitted;
        LogisticRegression::estimate(data, fitted);

        const std::size_t s = selected.size();
        CellMatrix result(s + 3, 4);
        result(0, 0) = "Factor";
        result(0, 1) = "Coefficient";
        result(0, 2) = "LR Statistic";
        result(0, 3) = "p-Value";
        for (std::size_t j = 0; j <= s; ++j) {
            result(1 + j, 0) = j == 0 ? std::string("Constant") : names[selected[j - 1]];
            result(1 + j, 1) = fitted.coefficients[j];
            result(1 + j, 2) = fitted.likelihoodRatios[j];
            result(1 + j, 3) = fitted.pValues[j];
        }
        result(s + 2, 0) = "Log-Likelihood";
        result(s + 2, 1) = fitted.logLikelihood;
        result(s + 2, 2) = "";
        result(s + 2, 3) = "";
        return result;
    });
}

}  // namespace Korvanth
