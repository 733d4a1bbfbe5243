// Small helpers shared by the worksheet functions' argument checks.
#pragma once

#include <initializer_list>
#include <string>

#include "analytics/error.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

// A worksheet function's own check failed; `text` is what the cell shows.
[[noreturn]] inline void fail(std::string text) { throw KorvanthTextException(std::move(text)); }

inline bool sameShape(const xlframe::CellMatrix& a, const xlframe::CellMatrix& b) {
    return a.Rows() == b.Rows() && a.Columns() == b.Columns();
}

// A 0-or-1 switch argument such as scoreIndex or outputIndex.
inline void requireZeroOrOne(int value, const char* name) {
    if (value != 0 && value != 1) fail(std::string("The value of ") + name + " is not in the range of 0..1");
}

// True for a range with exactly one row or exactly one column.
bool isVector(const xlframe::CellMatrix& range);

// True when every range was read as numbers and all are vectors of one shape: such ranges keep
// every row and pass every check on their cells, so a function may use the numbers as read.
bool numberVectorsAlike(std::initializer_list<const NumberRange*> ranges);

// The range's cells: its own, or its numbers made into cells in `made`.
const xlframe::CellMatrix& cellsOf(const NumberRange& range, xlframe::CellMatrix& made);

}  // namespace Korvanth
