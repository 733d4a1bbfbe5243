// Conversions of cell ranges into numbers; their failures reach the sheet as the texts the
// command-line tests hold.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

#include "analytics/conversions.hpp"

namespace Korvanth {
namespace {

using xlframe::CellMatrix;
const std::optional<double> blank;

CellMatrix table(std::size_t rows, std::size_t columns, const std::vector<std::optional<double>>& cells) {
    CellMatrix m(rows, columns);
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (cells[i]) m(i / columns, i % columns) = *cells[i];
    return m;
}

TEST(Conversions, VectorsSkipEmptyCells) {
    const CellMatrix column = table(3, 1, {1, blank, 2.7});
    EXPECT_EQ(cellMatrixToColumnVector(column, "v"), (std::vector<double>{1, 2.7}));
    EXPECT_EQ(cellMatrixToColumnVectorInt(column, "v"), (std::vector<int>{1, 2}));
    const CellMatrix row = table(1, 4, {-2.7, blank, 3, 0.5});
    EXPECT_EQ(cellMatrixToRowVector(row, "v"), (std::vector<double>{-2.7, 3, 0.5}));
    EXPECT_EQ(cellMatrixToRowVectorInt(row, "v"), (std::vector<int>{-2, 3, 0}));
    EXPECT_EQ(cellMatrixToColumnVector(table(1, 1, {4}), "v").size(), 1u);
    EXPECT_EQ(cellMatrixToRowVector(table(1, 1, {4}), "v").size(), 1u);
}

TEST(Conversions, IntegerFormsSaturateOutsideTheIntRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const CellMatrix column = table(5, 1, {1e12, -1e12, inf, -inf, std::numeric_limits<double>::quiet_NaN()});
    const int top = std::numeric_limits<int>::max(), bottom = std::numeric_limits<int>::min();
    EXPECT_EQ(cellMatrixToColumnVectorInt(column, "v"), (std::vector<int>{top, bottom, top, bottom, 0}));
}

TEST(Conversions, MatrixDropsEmptyRowsAndShiftsCells) {
    EXPECT_EQ(cellMatrixToMatrix(table(3, 2, {1, 2, blank, blank, 3, 4}), "m"),
              (std::vector<std::vector<double>>{{1, 2}, {3, 4}}));
    EXPECT_EQ(cellMatrixToMatrix(table(2, 2, {1, blank, blank, 2}), "m"), (std::vector<std::vector<double>>{{1}, {2}}));
}

}  // namespace
}  // namespace Korvanth
