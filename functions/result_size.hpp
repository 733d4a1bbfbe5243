// The largest table a worksheet can show; larger results are refused before they are built.
#pragma once

#include <cstddef>

#include "functions/checks.hpp"

namespace Korvanth {

inline constexpr std::size_t maxSheetRows = 1048576;
inline constexpr std::size_t maxSheetColumns = 16384;

inline void requireShowable(std::size_t rows, std::size_t columns) {
    if (rows > maxSheetRows || columns > maxSheetColumns)
        fail("The result would have more than 1048576 rows or 16384 columns and cannot be shown in a worksheet");
}

}  // namespace Korvanth
