// The library's dense row-major matrix of doubles, and Gauss-Jordan elimination.
//
//   Korvanth::Matrix a(2, 2), b(2, 1);
//   a(0, 0) = 2; ...
//   Korvanth::gaussJordan(a, b);   // a becomes its inverse, b the solution of a x = b
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

class Matrix {
public:
    Matrix() = default;
    Matrix(std::size_t rows, std::size_t columns, double value = 0.0)
        : rows_(rows), columns_(columns), data_(rows * columns, value) {}

    std::size_t rows() const noexcept { return rows_; }
    std::size_t columns() const noexcept { return columns_; }

    // Unchecked: element (i, j) lives at i * columns + j.
    double& operator()(std::size_t i, std::size_t j) noexcept { return data_[i * columns_ + j]; }
    double operator()(std::size_t i, std::size_t j) const noexcept { return data_[i * columns_ + j]; }

    double* data() noexcept { return data_.data(); }
    const double* data() const noexcept { return data_.data(); }
    double* row(std::size_t i) noexcept { return data_.data() + i * columns_; }
    const double* row(std::size_t i) const noexcept { return data_.data() + i * columns_; }

    friend bool operator==(const Matrix&, const Matrix&) = default;

private:
    std::size_t rows_ = 0;
    std::size_t columns_ = 0;
    std::vector<double> data_;
};

// Reads a rectangular numeric range (codes 20010, 20011, 20012 with `name`).
Matrix cellMatrixToDenseMatrix(const xlframe::CellMatrix& range, std::string name);

// In place, with full pivoting: `a` (n x n) becomes its inverse and `b` (n x m, m may be 0)
// the solution of a X = b. A zero pivot raises code 89, leaving both partly transformed.
void gaussJordan(Matrix& a, Matrix& b);

// The same elimination for the solution alone: `b` becomes exactly what gaussJordan makes of it,
// and `a` is left in an unspecified state. It updates only the columns not yet pivoted, which
// halves the work, and keeps each row's largest magnitude at hand for the pivot search. A zero
// pivot raises code 89. Returns false, with both in an unspecified state, when NaNs leave a step
// without a pivot; gaussJordan on the original matrices then says what becomes of them.
bool solveGaussJordan(Matrix& a, Matrix& b);

}  // namespace Korvanth
