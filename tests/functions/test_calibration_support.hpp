// Building ranges and reading result tables for the calibration tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xlframe/cell_matrix.hpp"

namespace Korvanth::testing {

using xlframe::CellMatrix;

// A column (or row) of numbers; NaN marks an Empty cell.
inline CellMatrix numbers(const std::vector<double>& values, bool column = true) {
    CellMatrix range(column ? values.size() : 1, column ? 1 : values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i] == values[i]) (column ? range(i, 0) : range(0, i)) = values[i];
    return range;
}

// A square table given row by row.
inline CellMatrix square(const std::vector<std::vector<double>>& rows) {
    CellMatrix range(rows.size(), rows.empty() ? 0 : rows[0].size());
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) range(r, c) = rows[r][c];
    return range;
}

inline double number(const CellMatrix& result, std::size_t row, std::size_t column) {
    EXPECT_TRUE(result(row, column).IsNumber()) << "cell (" << row << ", " << column << ")";
    return result(row, column).IsNumber() ? result(row, column).GetNumber() : 0.0;
}

inline std::string text(const CellMatrix& result, std::size_t row = 0, std::size_t column = 0) {
    EXPECT_TRUE(result(row, column).IsNarrowString()) << "cell (" << row << ", " << column << ")";
    return result(row, column).IsNarrowString() ? result(row, column).GetString() : std::string();
}

// The one-cell text of a rejected call, or "" for a table.
inline std::string rejection(const CellMatrix& result) {
    if (result.Rows() != 1 || result.Columns() != 1 || !result(0, 0).IsNarrowString()) return "";
    return result(0, 0).GetString();
}

}  // namespace Korvanth::testing
