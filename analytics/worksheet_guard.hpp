// The worksheet error convention: a worksheet function never throws; every failure becomes
// a one-cell text result.
//
//   return Korvanth::guardWorksheet([&] { ...; return result; });
#pragma once

#include <new>
#include <utility>

#include "analytics/error.hpp"
#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

inline xlframe::CellMatrix textResult(const std::string& text) {
    xlframe::CellMatrix result(1, 1);
    result(0, 0) = text;
    return result;
}

// Selects English unless told not to (the bootstrap keeps the language as it is), then runs
// `body` and turns whatever it throws into the one-cell text.
template <class Body>
xlframe::CellMatrix guardWorksheet(Body&& body, bool selectEnglish = true) {
    if (selectEnglish) currentLanguage.store(1);
    try {
        return std::forward<Body>(body)();
    } catch (const KorvanthException& error) {
        return textResult(error.getMessage());
    } catch (const std::bad_alloc&) {
        return textResult(outOfMemoryText);
    } catch (...) {
        return textResult(unknownErrorText);
    }
}

}  // namespace Korvanth
