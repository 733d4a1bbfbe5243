#include "xlframe/cell_matrix.hpp"

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace xlframe {
namespace impl {

CellMatrixImpl::CellMatrixImpl(std::size_t rows, std::size_t columns)
    : cells_(rows * columns), rows_(rows), columns_(columns) {
    if (columns != 0 && rows > cells_.max_size() / columns) throw std::bad_alloc();
}

CellMatrixImpl::CellMatrixImpl(std::size_t rows, std::size_t columns, std::vector<CellValueImpl>&& cells)
    : cells_(std::move(cells)), rows_(rows), columns_(columns) {
    if (columns != 0 && rows > cells_.max_size() / columns) throw std::bad_alloc();
    if (cells_.size() != rows * columns) throw std::length_error("cell count does not match the table's shape");
}

CellMatrixImpl::CellMatrixImpl(std::size_t rows, std::size_t columns, CellValueImpl* cells, InCallMemory) noexcept
    : lent_(rows * columns > 0 ? cells : nullptr), rows_(rows), columns_(columns) {}

CellMatrixImpl::CellMatrixImpl(const CellMatrixImpl& other)
    : cells_(other.data(), other.data() + other.rows_ * other.columns_), rows_(other.rows_), columns_(other.columns_) {}

CellMatrixImpl::~CellMatrixImpl() { destroyLent(); }

void CellMatrixImpl::destroyLent() noexcept {
    // Only text cells own anything: the others' storage is simply given up with the call's memory.
    if (lent_ != nullptr)
        for (std::size_t i = 0, n = rows_ * columns_; i < n; ++i)
            if (lent_[i].kind() == CellKind::String || lent_[i].kind() == CellKind::WideString) std::destroy_at(lent_ + i);
    lent_ = nullptr;
}

void CellMatrixImpl::check(std::size_t row, std::size_t column) const {
    if (row >= rows_ || column >= columns_) throw std::out_of_range("invalid vector<T> subscript");
}

const CellValue& CellMatrixImpl::operator()(std::size_t row, std::size_t column) const {
    check(row, column);
    return data()[row * columns_ + column];
}

CellValue& CellMatrixImpl::operator()(std::size_t row, std::size_t column) {
    check(row, column);
    return data()[row * columns_ + column];
}

void CellMatrixImpl::AppendBelow(const CellMatrix& other) {
    const std::size_t newRows = rows_ + other.Rows();
    const std::size_t newColumns = std::max(columns_, other.Columns());
    std::vector<CellValueImpl> table(newRows * newColumns);
    const CellValueImpl* cells = data();
    for (std::size_t i = 0; i < rows_; ++i)
        for (std::size_t j = 0; j < columns_; ++j) table[i * newColumns + j] = cells[i * columns_ + j];
    for (std::size_t i = 0; i < other.Rows(); ++i)
        for (std::size_t j = 0; j < other.Columns(); ++j) table[(rows_ + i) * newColumns + j] = other(i, j);
    destroyLent();
    cells_.swap(table);
    rows_ = newRows;
    columns_ = newColumns;
}

std::unique_ptr<CellMatrix_pimpl_abstract> CellMatrixImpl::clone() const {
    return std::make_unique<CellMatrixImpl>(*this);
}

}  // namespace impl

CellMatrix::CellMatrix() : pimpl_(std::make_unique<impl::CellMatrixImpl>(0, 0)) {}
CellMatrix::CellMatrix(std::size_t rows, std::size_t columns)
    : pimpl_(std::make_unique<impl::CellMatrixImpl>(rows, columns)) {}
CellMatrix::CellMatrix(std::unique_ptr<CellMatrix_pimpl_abstract> storage)
    : pimpl_(storage ? std::move(storage) : std::make_unique<impl::CellMatrixImpl>(0, 0)) {}
CellMatrix::CellMatrix(const CellMatrix& other)
    : pimpl_(other.pimpl_ ? other.pimpl_->clone() : std::make_unique<impl::CellMatrixImpl>(0, 0)) {}
CellMatrix::CellMatrix(CellMatrix&& other) noexcept = default;
CellMatrix::~CellMatrix() = default;

CellMatrix& CellMatrix::operator=(const CellMatrix& other) {
    if (this != &other) {
        CellMatrix copy(other);  // copy first: a failed copy leaves this matrix unchanged
        pimpl_.swap(copy.pimpl_);
    }
    return *this;
}

CellMatrix& CellMatrix::operator=(CellMatrix&& other) noexcept = default;

std::size_t CellMatrix::Rows() const { return pimpl_ ? pimpl_->rows() : 0; }
std::size_t CellMatrix::Columns() const { return pimpl_ ? pimpl_->columns() : 0; }

const CellValue& CellMatrix::operator()(std::size_t row, std::size_t column) const {
    if (!pimpl_) throw std::out_of_range("invalid vector<T> subscript");
    return (*pimpl_)(row, column);
}

CellValue& CellMatrix::operator()(std::size_t row, std::size_t column) {
    if (!pimpl_) throw std::out_of_range("invalid vector<T> subscript");
    return (*pimpl_)(row, column);
}

void CellMatrix::AppendBelow(const CellMatrix& other) {
    if (!pimpl_) pimpl_ = std::make_unique<impl::CellMatrixImpl>(0, 0);
    if (this == &other) {
        const CellMatrix copy(other);
        pimpl_->AppendBelow(copy);
        return;
    }
    pimpl_->AppendBelow(other);
}

impl::CellMatrixImpl* CellMatrix::storage() noexcept { return dynamic_cast<impl::CellMatrixImpl*>(pimpl_.get()); }
const impl::CellMatrixImpl* CellMatrix::storage() const noexcept {
    return dynamic_cast<const impl::CellMatrixImpl*>(pimpl_.get());
}

}  // namespace xlframe
