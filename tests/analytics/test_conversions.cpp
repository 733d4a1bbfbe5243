#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "analytics/conversions.hpp"
#include "analytics/error.hpp"

namespace Korvanth {
namespace {

using xlframe::CellMatrix;

struct Empty {};
struct Cell {
    enum { Number, Text, Wide, Flag, Error, Blank } kind;
    double number = 0;
    std::string text;
};
Cell num(double v) { return {Cell::Number, v, {}}; }
Cell txt(std::string t) { return {Cell::Text, 0, std::move(t)}; }
Cell wide(std::string t) { return {Cell::Wide, 0, std::move(t)}; }
const Cell flag{Cell::Flag, 1, {}};
const Cell err{Cell::Error, 42, {}};
const Cell blank{Cell::Blank, 0, {}};

CellMatrix table(std::size_t rows, std::size_t columns, const std::vector<Cell>& cells) {
    CellMatrix m(rows, columns);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        xlframe::CellValue& target = m(i / columns, i % columns);
        const Cell& c = cells[i];
        switch (c.kind) {
            case Cell::Number: target = c.number; break;
            case Cell::Text: target = c.text; break;
            case Cell::Wide: target = std::wstring(c.text.begin(), c.text.end()); break;
            case Cell::Flag: target = true; break;
            case Cell::Error: target.SetError(42); break;
            case Cell::Blank: break;
        }
    }
    return m;
}

template <class F>
int codeOf(F convert) {
    try {
        convert();
    } catch (const KorvanthException& error) {
        return error.getCode();
    }
    return 0;
}

TEST(Conversions, VectorsSkipEmptyCells) {
    const CellMatrix column = table(3, 1, {num(1), blank, num(2.7)});
    EXPECT_EQ(cellMatrixToColumnVector(column, "v"), (std::vector<double>{1, 2.7}));
    EXPECT_EQ(cellMatrixToColumnVectorInt(column, "v"), (std::vector<int>{1, 2}));
    const CellMatrix row = table(1, 4, {num(-2.7), blank, num(3), num(0.5)});
    EXPECT_EQ(cellMatrixToRowVector(row, "v"), (std::vector<double>{-2.7, 3, 0.5}));
    EXPECT_EQ(cellMatrixToRowVectorInt(row, "v"), (std::vector<int>{-2, 3, 0}));
    const CellMatrix single = table(1, 1, {num(4)});
    EXPECT_EQ(cellMatrixToColumnVector(single, "v").size(), 1u);
    EXPECT_EQ(cellMatrixToRowVector(single, "v").size(), 1u);
}

TEST(Conversions, IntegerFormsSaturateOutsideTheIntRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const CellMatrix column =
        table(5, 1, {num(1e12), num(-1e12), num(inf), num(-inf), num(std::numeric_limits<double>::quiet_NaN())});
    const int top = std::numeric_limits<int>::max(), bottom = std::numeric_limits<int>::min();
    EXPECT_EQ(cellMatrixToColumnVectorInt(column, "v"), (std::vector<int>{top, bottom, top, bottom, 0}));
}

TEST(Conversions, TextVectorsConvertWideTextsToUtf8) {
    CellMatrix column = table(3, 1, {txt("a"), blank, wide("b")});
    column(2, 0) = std::wstring{static_cast<wchar_t>(0x20AC)};
    EXPECT_EQ(cellMatrixToColumnVectorString(column, "c"), (std::vector<std::string>{"a", "\xE2\x82\xAC"}));
    EXPECT_EQ(cellMatrixToRowVectorString(table(1, 2, {wide("x"), txt("y")}), "c"),
              (std::vector<std::string>{"x", "y"}));
}

TEST(Conversions, FailuresCarryTheirCodesInCheckOrder) {
    struct Case {
        const char* name;
        std::function<void()> convert;
        int code;
    } cases[] = {
        {"column form on a row", [] { cellMatrixToColumnVector(table(1, 3, {num(1), num(2), num(3)}), "v"); }, 20004},
        {"row form on a column", [] { cellMatrixToRowVector(table(3, 1, {num(1), num(2), num(3)}), "v"); }, 20005},
        {"empty range", [] { cellMatrixToColumnVector(CellMatrix(), "v"); }, 20004},
        {"only empty cells", [] { cellMatrixToColumnVector(table(2, 1, {blank, blank}), "v"); }, 20007},
        {"only empty cells, int", [] { cellMatrixToRowVectorInt(table(1, 2, {blank, blank}), "v"); }, 20007},
        {"only empty cells, text", [] { cellMatrixToColumnVectorString(table(2, 1, {blank, blank}), "v"); }, 20009},
        {"text among numbers", [] { cellMatrixToColumnVector(table(3, 1, {num(1), txt("x"), num(2)}), "v"); }, 20006},
        {"flag among numbers", [] { cellMatrixToColumnVectorInt(table(2, 1, {num(1), flag}), "v"); }, 20006},
        {"error among numbers", [] { cellMatrixToRowVector(table(1, 2, {err, num(1)}), "v"); }, 20006},
        {"number among texts", [] { cellMatrixToColumnVectorString(table(2, 1, {txt("a"), num(1)}), "v"); }, 20008},
        {"wrong shape before bad cells", [] { cellMatrixToColumnVector(table(1, 2, {txt("a"), txt("b")}), "v"); },
         20004},
        {"matrix with a text", [] { cellMatrixToMatrix(table(1, 2, {num(1), txt("a")}), "m"); }, 20010},
        {"matrix not rectangular", [] { cellMatrixToMatrix(table(2, 2, {num(1), num(2), num(3), blank}), "m"); },
         20011},
        {"matrix of empties", [] { cellMatrixToMatrix(table(2, 2, {blank, blank, blank, blank}), "m"); }, 20012},
        {"double from 2 x 1", [] { cellMatrixToDouble(table(2, 1, {num(1), num(2)}), "d"); }, 20000},
        {"double from empty", [] { cellMatrixToDouble(table(1, 1, {blank}), "d"); }, 20002},
        {"double from text", [] { cellMatrixToDouble(table(1, 1, {txt("1")}), "d"); }, 20001},
        {"bool from number", [] { cellMatrixToBool(table(1, 1, {num(1)}), "b"); }, 20020},
        {"bool from empty", [] { cellMatrixToBool(table(1, 1, {blank}), "b"); }, 20002},
        {"bool from 0 x 0", [] { cellMatrixToBool(CellMatrix(), "b"); }, 20000},
    };
    for (const Case& c : cases) EXPECT_EQ(codeOf(c.convert), c.code) << c.name;
}

TEST(Conversions, MessagesNameTheArgument) {
    try {
        cellMatrixToColumnVector(table(1, 2, {num(1), num(2)}), "scores");
        FAIL();
    } catch (const KorvanthException& error) {
        EXPECT_EQ(error.getMessage(), "The vector scores is no column vector or empty");
    }
}

TEST(Conversions, MatrixDropsEmptyRowsAndShiftsCells) {
    EXPECT_EQ(cellMatrixToMatrix(table(3, 2, {num(1), num(2), blank, blank, num(3), num(4)}), "m"),
              (std::vector<std::vector<double>>{{1, 2}, {3, 4}}));
    EXPECT_EQ(cellMatrixToMatrix(table(2, 2, {num(1), blank, blank, num(2)}), "m"),
              (std::vector<std::vector<double>>{{1}, {2}}));
}

TEST(Conversions, SingleCells) {
    EXPECT_EQ(cellMatrixToDouble(table(1, 1, {num(0.25)}), "d"), 0.25);
    EXPECT_TRUE(cellMatrixToBool(table(1, 1, {flag}), "b"));
}

}  // namespace
}  // namespace Korvanth
