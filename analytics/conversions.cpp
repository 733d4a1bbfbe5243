#include "analytics/conversions.hpp"

#include <cstddef>

#include "analytics/error.hpp"
#include "xlframe/numeric.hpp"
#include "xlframe/platform.hpp"
#include "xlframe/utf.hpp"

namespace Korvanth {

namespace {

[[noreturn]] void raise(std::int32_t code, std::string name) {
    throw KorvanthException(code).addArgument(std::move(name));
}

// Walks the single column (or row) of a range, handing every non-Empty cell to `take`.
template <class Take>
void walkVector(const xlframe::CellMatrix& range, bool column, const std::string& name, Take take) {
    if (column ? range.Columns() != 1 : range.Rows() != 1) raise(column ? 20004 : 20005, name);
    const std::size_t count = column ? range.Rows() : range.Columns();
    for (std::size_t i = 0; i < count; ++i) {
        const xlframe::CellValue& cell = column ? range(i, 0) : range(0, i);
        if (!cell.IsEmpty()) take(cell);
    }
}

template <class T>
std::vector<T> numbers(const xlframe::CellMatrix& range, bool column, const std::string& name) {
    std::vector<T> result;
    result.reserve(column ? range.Rows() : range.Columns());
    xlframe::platform::adviseLargeAllocation(result.data(), result.capacity() * sizeof(T));
    walkVector(range, column, name, [&](const xlframe::CellValue& cell) {
        if (!cell.IsNumber()) raise(20006, name);
        if constexpr (std::is_same_v<T, int>) {
            result.push_back(xlframe::truncateToInt32(cell.GetNumber()));
        } else {
            result.push_back(cell.GetNumber());
        }
    });
    if (result.empty()) raise(20007, name);
    return result;
}

std::vector<std::string> texts(const xlframe::CellMatrix& range, bool column, const std::string& name) {
    std::vector<std::string> result;
    walkVector(range, column, name, [&](const xlframe::CellValue& cell) {
        if (cell.IsWideString()) {
            result.push_back(wideToNarrow(cell.GetWideString()));
        } else if (cell.IsNarrowString()) {
            result.push_back(cell.GetString());
        } else {
            raise(20008, name);
        }
    });
    if (result.empty()) raise(20009, name);
    return result;
}

const xlframe::CellValue& singleCell(const xlframe::CellMatrix& range, const std::string& name) {
    if (range.Columns() != 1 || range.Rows() != 1) raise(20000, name);
    const xlframe::CellValue& cell = range(0, 0);
    if (cell.IsEmpty()) raise(20002, name);
    return cell;
}

}  // namespace

std::vector<double> cellMatrixToColumnVector(const xlframe::CellMatrix& range, std::string name) {
    return numbers<double>(range, true, name);
}
std::vector<double> cellMatrixToRowVector(const xlframe::CellMatrix& range, std::string name) {
    return numbers<double>(range, false, name);
}
std::vector<int> cellMatrixToColumnVectorInt(const xlframe::CellMatrix& range, std::string name) {
    return numbers<int>(range, true, name);
}
std::vector<int> cellMatrixToRowVectorInt(const xlframe::CellMatrix& range, std::string name) {
    return numbers<int>(range, false, name);
}
std::vector<std::string> cellMatrixToColumnVectorString(const xlframe::CellMatrix& range, std::string name) {
    return texts(range, true, name);
}
std::vector<std::string> cellMatrixToRowVectorString(const xlframe::CellMatrix& range, std::string name) {
    return texts(range, false, name);
}

std::vector<std::vector<double>> cellMatrixToMatrix(const xlframe::CellMatrix& range, std::string name) {
    std::vector<std::vector<double>> result;
    std::size_t width = 0;
    for (std::size_t row = 0; row < range.Rows(); ++row) {
        std::vector<double> values;
        for (std::size_t column = 0; column < range.Columns(); ++column) {
            const xlframe::CellValue& cell = range(row, column);
            if (cell.IsEmpty()) continue;
            if (!cell.IsNumber()) raise(20010, name);
            values.push_back(cell.GetNumber());
        }
        if (values.empty()) continue;
        if (width == 0) {
            width = values.size();
        } else if (values.size() != width) {
            raise(20011, name);
        }
        result.push_back(std::move(values));
    }
    if (result.empty()) raise(20012, name);
    return result;
}

double cellMatrixToDouble(const xlframe::CellMatrix& range, std::string name) {
    const xlframe::CellValue& cell = singleCell(range, name);
    if (!cell.IsNumber()) raise(20001, name);
    return cell.GetNumber();
}

bool cellMatrixToBool(const xlframe::CellMatrix& range, std::string name) {
    const xlframe::CellValue& cell = singleCell(range, name);
    if (!cell.IsBoolean()) raise(20020, name);
    return cell.GetBoolean();
}

std::string wideToNarrow(const std::wstring& text) { return xlframe::utf16ToUtf8(text); }

}  // namespace Korvanth
