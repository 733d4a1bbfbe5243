#include "functions/checks.hpp"

namespace Korvanth {

bool isVector(const xlframe::CellMatrix& range) { return range.Rows() == 1 || range.Columns() == 1; }

bool numberVectorsAlike(std::initializer_list<const NumberRange*> ranges) {
    const NumberRange& first = **ranges.begin();
    if (first.rows != 1 && first.columns != 1) return false;
    for (const NumberRange* range : ranges)
        if (range->numbers == nullptr || range->rows != first.rows || range->columns != first.columns) return false;
    return true;
}

const xlframe::CellMatrix& cellsOf(const NumberRange& range, xlframe::CellMatrix& made) {
    if (range.numbers == nullptr) return range.cells;
    made = xlframe::CellMatrix(range.rows, range.columns);
    for (std::size_t r = 0; r < range.rows; ++r)
        for (std::size_t c = 0; c < range.columns; ++c) made(r, c) = range.numbers[r * range.columns + c];
    return made;
}

}  // namespace Korvanth
