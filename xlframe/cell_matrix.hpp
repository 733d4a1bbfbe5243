// A rectangular table of cells: what every worksheet function receives and returns.
//
//   xlframe::CellMatrix result(2, 2);       // four Empty cells
//   result(0, 0) = "AUROC";
//   result(0, 1) = 0.75;
//   result.AppendBelow(other);               // grows downwards, widening with Empty cells
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "xlframe/cell_value.hpp"

namespace xlframe {

class CellMatrix;

class CellMatrix_pimpl_abstract {
public:
    virtual const CellValue& operator()(std::size_t row, std::size_t column) const = 0;
    virtual CellValue& operator()(std::size_t row, std::size_t column) = 0;
    virtual std::size_t rows() const = 0;
    virtual std::size_t columns() const = 0;
    virtual void AppendBelow(const CellMatrix& other) = 0;
    virtual ~CellMatrix_pimpl_abstract() = default;
    virtual std::unique_ptr<CellMatrix_pimpl_abstract> clone() const = 0;
};

namespace impl {

// Cells are kept in one row-major block, so a tall column costs no allocation per row.
class CellMatrixImpl final : public CellMatrix_pimpl_abstract {
public:
    CellMatrixImpl(std::size_t rows, std::size_t columns);
    // Takes cells built elsewhere (row-major, rows x columns of them), so that a large table is
    // written once rather than made Empty first.
    CellMatrixImpl(std::size_t rows, std::size_t columns, std::vector<CellValueImpl>&& cells);
    // Takes rows x columns cells made in the calling thread's temporary memory during a worksheet
    // call: the table destroys them but never frees their memory, which the call's end releases,
    // so such a table must not outlive the call. Reused from call to call, that memory costs no
    // fresh pages per call, as a large argument's own allocation would.
    struct InCallMemory {};
    CellMatrixImpl(std::size_t rows, std::size_t columns, CellValueImpl* cells, InCallMemory) noexcept;
    CellMatrixImpl(const CellMatrixImpl& other);  // the copy's cells are its own
    CellMatrixImpl& operator=(const CellMatrixImpl&) = delete;
    ~CellMatrixImpl() override;

    const CellValue& operator()(std::size_t row, std::size_t column) const override;
    CellValue& operator()(std::size_t row, std::size_t column) override;
    std::size_t rows() const override { return rows_; }
    std::size_t columns() const override { return columns_; }
    void AppendBelow(const CellMatrix& other) override;
    std::unique_ptr<CellMatrix_pimpl_abstract> clone() const override;

    // Unchecked row-major storage for the operand conversions.
    CellValueImpl* data() noexcept { return lent_ != nullptr ? lent_ : cells_.data(); }
    const CellValueImpl* data() const noexcept { return lent_ != nullptr ? lent_ : cells_.data(); }

private:
    void check(std::size_t row, std::size_t column) const;
    void destroyLent() noexcept;

    std::vector<CellValueImpl> cells_;  // empty while the cells are lent
    CellValueImpl* lent_ = nullptr;      // cells in a call's temporary memory
    std::size_t rows_;
    std::size_t columns_;
};

}  // namespace impl

class CellMatrix {
public:
    CellMatrix();
    CellMatrix(std::size_t rows, std::size_t columns);
    // Adopts the storage (null: a 0 x 0 matrix).
    explicit CellMatrix(std::unique_ptr<CellMatrix_pimpl_abstract> storage);
    CellMatrix(const CellMatrix& other);
    CellMatrix(CellMatrix&& other) noexcept;
    CellMatrix& operator=(const CellMatrix& other);
    CellMatrix& operator=(CellMatrix&& other) noexcept;
    ~CellMatrix();

    std::size_t Rows() const;
    std::size_t Columns() const;

    // Zero-based; outside the table throws std::out_of_range("invalid vector<T> subscript").
    const CellValue& operator()(std::size_t row, std::size_t column) const;
    CellValue& operator()(std::size_t row, std::size_t column);

    void AppendBelow(const CellMatrix& other);

    // The row-major cells when the storage is the library's own, else null.
    impl::CellMatrixImpl* storage() noexcept;
    const impl::CellMatrixImpl* storage() const noexcept;

private:
    // Null only in a moved-from matrix, which behaves as 0 x 0.
    std::unique_ptr<CellMatrix_pimpl_abstract> pimpl_;
};

}  // namespace xlframe
