// Reading numeric ranges into dense matrices, and Gauss-Jordan elimination with full pivoting.
#include "analytics/matrix.hpp"

#include <cmath>
#include <cstdint>
#include <utility>

#include "analytics/conversions.hpp"
#include "analytics/error.hpp"

namespace Korvanth {

Matrix cellMatrixToDenseMatrix(const xlframe::CellMatrix& range, std::string name) {
    const std::vector<std::vector<double>> rows = cellMatrixToMatrix(range, std::move(name));
    // The conversion guarantees at least one row and rows of equal length.
    Matrix result(rows.size(), rows.front().size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t j = 0; j < rows[i].size(); ++j) result(i, j) = rows[i][j];
    }
    return result;
}

namespace {

void swapRows(Matrix& m, std::size_t r1, std::size_t r2) {
    double* x = m.row(r1);
    double* y = m.row(r2);
    for (std::size_t j = 0; j < m.columns(); ++j) std::swap(x[j], y[j]);
}

[[noreturn]] void singular() { throw KorvanthException(89); }

}  // namespace

void gaussJordan(Matrix& a, Matrix& b) {
    // The elimination reads a as n x n and b as n x m; anything else would reach outside the storage.
    if (a.columns() != a.rows() || (b.columns() > 0 && b.rows() != a.rows()) || a.rows() > 0x7fffffffu) {
        throw KorvanthTextException("The matrices of a Gauss elimination do not have matching dimensions");
    }
    const auto n = static_cast<std::int32_t>(a.rows());
    const std::size_t m = b.columns();
    const auto un = static_cast<std::size_t>(n);

    // -1: column not yet a pivot column, 0: pivoted once, above 0: pivoted more than once.
    std::vector<std::int32_t> marks(un, -1);
    std::vector<std::int32_t> pivotRows(un, 0);
    std::vector<std::int32_t> pivotColumns(un, 0);

    std::int32_t pivotRow = 0;
    std::int32_t pivotColumn = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        double largest = 0.0;
        for (std::int32_t j = 0; j < n; ++j) {
            if (marks[j] == 0) continue;
            const double* row = a.row(j);
            for (std::int32_t k = 0; k < n; ++k) {
                if (marks[k] == -1) {
                    if (std::fabs(row[k]) >= largest) {
                        largest = std::fabs(row[k]);
                        pivotRow = j;
                        pivotColumn = k;
                    }
                } else if (marks[k] > 0) {
                    singular();
                }
            }
        }
        ++marks[pivotColumn];

        const auto c = static_cast<std::size_t>(pivotColumn);
        if (pivotRow != pivotColumn) {
            swapRows(a, static_cast<std::size_t>(pivotRow), c);
            if (m > 0) swapRows(b, static_cast<std::size_t>(pivotRow), c);
        }
        pivotRows[i] = pivotRow;
        pivotColumns[i] = pivotColumn;

        if (a(c, c) == 0.0) singular();
        const double inverse = 1.0 / a(c, c);
        a(c, c) = 1.0;
        double* pivotA = a.row(c);
        for (std::size_t k = 0; k < un; ++k) pivotA[k] *= inverse;
        double* pivotB = m > 0 ? b.row(c) : nullptr;
        for (std::size_t k = 0; k < m; ++k) pivotB[k] *= inverse;

        for (std::size_t r = 0; r < un; ++r) {
            if (r == c) continue;
            double* rowA = a.row(r);
            const double factor = rowA[c];
            rowA[c] = 0.0;
            for (std::size_t k = 0; k < un; ++k) rowA[k] -= factor * pivotA[k];
            if (m > 0) {
                double* rowB = b.row(r);
                for (std::size_t k = 0; k < m; ++k) rowB[k] -= factor * pivotB[k];
            }
        }
    }

    // Undo the column interchanges that the row swaps stand for.
    for (std::int32_t l = n - 1; l >= 0; --l) {
        if (pivotRows[l] == pivotColumns[l]) continue;
        const auto c1 = static_cast<std::size_t>(pivotRows[l]);
        const auto c2 = static_cast<std::size_t>(pivotColumns[l]);
        for (std::size_t r = 0; r < un; ++r) std::swap(a(r, c1), a(r, c2));
    }
}

}  // namespace Korvanth
