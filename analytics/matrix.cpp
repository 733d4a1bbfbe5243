// Reading numeric ranges into dense matrices, and Gauss-Jordan elimination with full pivoting.
#include "analytics/matrix.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include <immintrin.h>

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

void checkDimensions(const Matrix& a, const Matrix& b) {
    // The elimination reads a as n x n and b as n x m; anything else would reach outside the storage.
    if (a.columns() != a.rows() || (b.columns() > 0 && b.rows() != a.rows()) || a.rows() > 0x7fffffffu) {
        throw KorvanthTextException("The matrices of a Gauss elimination do not have matching dimensions");
    }
}

struct Largest {
    double magnitude = 0.0;  // the largest |entry| that is not NaN, 0 if there are none
    bool nan = false;        // whether an entry is NaN
};

// Subtracts factor times `pivot` from `row` on entries 0 .. n - 1 (without `pivot`, leaves it as
// it is) and returns the largest magnitude among them. SSE2 computes each lane exactly as the
// scalar would, and its maximum passes over NaNs, which are noted apart.
Largest eliminateSse2(double* row, const double* pivot, double factor, std::size_t n) {
    const __m128d signless = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
    const __m128d f = _mm_set1_pd(factor);
    __m128d largest = _mm_setzero_pd();
    __m128d nan = _mm_setzero_pd();
    std::size_t k = 0;
    for (; k + 2 <= n; k += 2) {
        __m128d x = _mm_loadu_pd(row + k);
        if (pivot != nullptr) {
            x = _mm_sub_pd(x, _mm_mul_pd(f, _mm_loadu_pd(pivot + k)));
            _mm_storeu_pd(row + k, x);
        }
        const __m128d v = _mm_and_pd(x, signless);
        nan = _mm_or_pd(nan, _mm_cmpunord_pd(v, v));
        largest = _mm_max_pd(v, largest);
    }
    double lanes[2];
    _mm_storeu_pd(lanes, largest);
    Largest result{std::max(lanes[0], lanes[1]), _mm_movemask_pd(nan) != 0};
    if (k < n) {
        if (pivot != nullptr) row[k] -= factor * pivot[k];
        const double v = std::fabs(row[k]);
        if (std::isnan(v)) result.nan = true;
        if (v > result.magnitude) result.magnitude = v;
    }
    return result;
}

#if defined(__x86_64__) && !defined(_WIN32)
// The same with AVX2's four lanes. Not on Windows, where GCC cannot align the stack for spilled
// 32-byte registers.
__attribute__((target("avx2"))) Largest eliminateAvx2(double* row, const double* pivot, double factor,
                                                       std::size_t n) {
    const __m256d signless = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
    const __m256d f = _mm256_set1_pd(factor);
    __m256d largest = _mm256_setzero_pd();
    __m256d nan = _mm256_setzero_pd();
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        __m256d x = _mm256_loadu_pd(row + k);
        if (pivot != nullptr) {
            x = _mm256_sub_pd(x, _mm256_mul_pd(f, _mm256_loadu_pd(pivot + k)));
            _mm256_storeu_pd(row + k, x);
        }
        const __m256d v = _mm256_and_pd(x, signless);
        nan = _mm256_or_pd(nan, _mm256_cmp_pd(v, v, _CMP_UNORD_Q));
        largest = _mm256_max_pd(v, largest);
    }
    double lanes[4];
    _mm256_storeu_pd(lanes, largest);
    const Largest rest = eliminateSse2(row + k, pivot != nullptr ? pivot + k : nullptr, factor, n - k);
    Largest result{std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3])),
                   _mm256_movemask_pd(nan) != 0 || rest.nan};
    if (rest.magnitude > result.magnitude) result.magnitude = rest.magnitude;
    return result;
}
#endif

using Eliminate = Largest (*)(double*, const double*, double, std::size_t);

const Eliminate eliminate = [] {
#if defined(__x86_64__) && !defined(_WIN32)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &eliminateAvx2;
#endif
    return &eliminateSse2;
}();

}  // namespace

void gaussJordan(Matrix& a, Matrix& b) {
    checkDimensions(a, b);
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

namespace Korvanth {

bool solveGaussJordan(Matrix& a, Matrix& b) {
    checkDimensions(a, b);
    const std::size_t n = a.rows();
    const std::size_t m = b.columns();

    // The columns not yet pivoted are kept together at the front of every row, in positions
    // 0 .. free - 1: column k sits at position `position[k]`, and `column[p]` is the column at p.
    // The pivoted ones are never read again once only the solution is wanted.
    std::vector<std::size_t> position(n), column(n);
    for (std::size_t k = 0; k < n; ++k) position[k] = column[k] = k;
    std::vector<bool> pivoted(n, false);  // rows that have been pivot rows
    std::vector<Largest> largest(n);
    for (std::size_t r = 0; r < n; ++r) largest[r] = eliminate(a.row(r), nullptr, 0.0, n);

    for (std::size_t free = n; free > 0; --free) {
        // The pivot is the last entry of the largest magnitude, scanning the rows not yet pivoted
        // in order and each row's free columns in column order, as gaussJordan scans them.
        bool nan = false;
        for (std::size_t r = 0; r < n; ++r) nan = nan || (!pivoted[r] && largest[r].nan);
        std::size_t pivotRow = n;
        std::size_t pivotColumn = n;
        double magnitude = 0.0;
        if (nan) {
            // No comparison selects a NaN: walk the entries one by one.
            for (std::size_t r = 0; r < n; ++r) {
                if (pivoted[r]) continue;
                const double* row = a.row(r);
                for (std::size_t k = 0; k < n; ++k) {
                    if (position[k] < free && std::fabs(row[position[k]]) >= magnitude) {
                        magnitude = std::fabs(row[position[k]]);
                        pivotRow = r;
                        pivotColumn = k;
                    }
                }
            }
            // gaussJordan goes on with the previous pivot, on entries this elimination has left behind.
            if (pivotRow == n) return false;
        } else {
            for (std::size_t r = 0; r < n; ++r) {
                if (!pivoted[r] && largest[r].magnitude >= magnitude) {
                    magnitude = largest[r].magnitude;
                    pivotRow = r;
                }
            }
            const double* row = a.row(pivotRow);
            for (std::size_t p = 0; p < free; ++p)
                if (std::fabs(row[p]) >= magnitude && (pivotColumn == n || column[p] > pivotColumn)) pivotColumn = column[p];
        }

        // The pivot row moves to the row of its column's number; the column to the last free position.
        const std::size_t c = pivotColumn;
        if (pivotRow != c) {
            swapRows(a, pivotRow, c);
            if (m > 0) swapRows(b, pivotRow, c);
            std::swap(largest[pivotRow], largest[c]);
        }
        pivoted[c] = true;
        const std::size_t last = free - 1;
        const std::size_t at = position[c];
        if (at != last) {
            for (std::size_t r = 0; r < n; ++r) std::swap(a(r, at), a(r, last));
            std::swap(column[at], column[last]);
            position[column[at]] = at;
            position[column[last]] = last;
        }

        double* pivotA = a.row(c);
        if (pivotA[last] == 0.0) singular();
        const double inverse = 1.0 / pivotA[last];
        for (std::size_t p = 0; p < last; ++p) pivotA[p] *= inverse;
        double* pivotB = m > 0 ? b.row(c) : nullptr;
        for (std::size_t k = 0; k < m; ++k) pivotB[k] *= inverse;

        for (std::size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            double* rowA = a.row(r);
            const double factor = rowA[last];
            largest[r] = eliminate(rowA, pivotA, factor, last);
            if (m > 0) {
                double* rowB = b.row(r);
                for (std::size_t k = 0; k < m; ++k) rowB[k] -= factor * pivotB[k];
            }
        }
    }
    return true;
}

}  // namespace Korvanth
