// Ranges that a worksheet function pairs entry by entry (scores with indicators, defaults with
// survivals, ...), read as rows: down columns, or along rows for one-row ranges. A position empty
// in every range is left out, as if the row were deleted; one empty in some ranges only is refused
// with a text naming the range and the position, since pairing what is left would shift them.
//
//   const PairedRows rows({{scores, "scores"}, {indicators, "indicators"}}, scores.Columns() == 1);
//   std::vector<double> x = rows.numbers(0);
//   std::vector<int> y = rows.integers(1);
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "analytics/matrix.hpp"
#include "analytics/ranking.hpp"
#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

// What a range holds: numbers (counts and indicators too), category keys, or a table of
// numbers with several cells per position (factor values).
enum class Cells { numbers, categories, table };

struct PairedRange {
    const xlframe::CellMatrix& range;
    const char* name;             // in the catalogue texts of the conversions
    const char* label = nullptr;  // in this reader's own texts ("the cell range for the <label>"); name if null
    Cells cells = Cells::numbers;
};

class PairedRows {
public:
    // Checks in order: a vector range must be one column (one row when not `column`), or the
    // catalogue text 20004 (20005) names it; a range with no cell at all gets the catalogue text
    // of a range without entries (20007, 20009, 20012); then the rows are paired. A range shorter
    // than the others counts as empty past its end.
    PairedRows(std::initializer_list<PairedRange> ranges, bool column);

    // The number of kept positions, and the k-th of them (ascending, zero-based within the ranges).
    std::size_t size() const noexcept { return size_; }
    std::size_t position(std::size_t k) const noexcept { return skipped_ ? kept_[k] : k; }
    // "row 3" or "column 3" for a kept position, for texts about it.
    std::string where(std::size_t position) const;

    // The kept cells of range `r`: numbers (20006 for any other cell, 20007 when none is kept),
    // numbers truncated toward zero and saturated to 32 bits, counts (the same, refusing infinite
    // and NaN with a text naming the range), categories (the integer digits when every cell is a
    // number, else the texts: 20008, 20009), and a table of a block's rows (20010, 20012).
    std::vector<double> numbers(std::size_t r) const;
    // numbers(r) in a block kept from call to call: a full column read on every recalculation is
    // not faulted in again, on whichever thread reads it.
    std::vector<double, UnsetAllocator<double>> keptNumbers(std::size_t r) const;
    std::vector<int> integers(std::size_t r) const;
    std::vector<int> counts(std::size_t r) const;
    std::vector<std::string> categories(std::size_t r) const;
    Matrix table(std::size_t r) const;

private:
    struct Entry {
        const xlframe::CellMatrix* range;
        std::string name;
        std::string label;
        Cells cells;
        std::size_t length;  // positions
        std::size_t width;   // cells per position
        const xlframe::impl::CellValueImpl* storage;  // the row-major cells, when the range has it
    };
    // Cell j of `position`; read straight from the storage where there is one, since the
    // ranges can be whole columns.
    const xlframe::CellValue& cell(const Entry& e, std::size_t position, std::size_t j) const;
    bool isEmpty(const Entry& e, std::size_t position, std::size_t j) const;
    bool number(const Entry& e, std::size_t position, double& value) const;
    template <class Numbers>
    Numbers readNumbers(std::size_t r) const;

    std::vector<Entry> ranges_;
    bool column_;
    std::size_t size_ = 0;
    bool skipped_ = false;
    std::vector<std::size_t> kept_;  // listed only once a position is skipped
};

}  // namespace Korvanth
