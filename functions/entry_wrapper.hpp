// The one pattern of every exported worksheet entry point: the temporary-memory guard, the
// function-wizard shortcut, the conversion of the host's arguments in order, the call, the
// conversion of the result, and the answer to whatever escapes.
//
//   XLL_EXPORT xlframe::LPXLFOPER xlgetInfo() { return Korvanth::entry::call<&Korvanth::getInfo>(); }
//   ... call<&Korvanth::adjustedPowerStat>(Range{scores, "scores"}, Range{shadowPDs, "shadowPDs"},
//                                          Flag{scoreIndex});
#pragma once

#include <cstddef>
#include <exception>
#include <new>
#include <string>
#include <tuple>

#include "analytics/error.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/cell_matrix.hpp"
#include "xlframe/exceptions.hpp"
#include "xlframe/numeric.hpp"
#include "xlframe/xl_oper.hpp"

namespace Korvanth::entry {

// An "XLF_OPER" argument: the host's record and the name its conversion errors carry.
struct Range {
    xlframe::LPXLFOPER record;
    const char* name;
};

// An "XLF_OPER" argument that the function needs only as numbers.
struct Numbers {
    xlframe::LPXLFOPER record;
    const char* name;
};

// A "B" argument: the host's double, handed on as a 32-bit int.
struct Flag {
    double value;
};

// A record the host never hands over null; should one come, it reads as an omitted argument. The
// table lives in the call's temporary memory: it is used only inside the call.
inline xlframe::CellMatrix convert(const Range& argument) {
    if (argument.record == nullptr) return xlframe::CellMatrix(1, 1);
    return xlframe::XlfOper(argument.record).ReadCellMatrixForCall(argument.name);
}
// Read straight into numbers when every cell is one, else into cells as a Range is.
inline NumberRange convert(const Numbers& argument) {
    NumberRange range;
    if (argument.record != nullptr) {
        if (const auto table = xlframe::XlfOper(argument.record).ReadNumbersForCall()) {
            range.numbers = table->values;
            range.rows = table->rows;
            range.columns = table->columns;
            return range;
        }
    }
    range.cells = convert(Range{argument.record, argument.name});
    return range;
}
// Saturating: a huge or non-finite double must not be undefined behaviour; NaN gives 0.
inline int convert(const Flag& argument) noexcept { return xlframe::truncateToInt32(argument.value); }

inline xlframe::XlfOper toOper(const xlframe::CellMatrix& result) { return xlframe::XlfOper(result); }
inline xlframe::XlfOper toOper(const std::string& result) { return xlframe::XlfOper(result); }

// True while the host's function wizard is open. No host-access object yet (nothing opened the
// add-in): false, so that a worksheet call never creates it off the main thread.
bool functionWizardOpen();

// Replaces the function-wizard query (null: the host's own again). For tests of the wrappers.
using WizardQuery = bool (*)();
void setWizardQuery(WizardQuery query);

namespace detail {

// Hands back through the host the arguments that carry the host-owned bit, as the call ends.
template <std::size_t N>
class Release {
   public:
    template <class... Args>
    explicit Release(const Args&... arguments) noexcept : records_{recordOf(arguments)...} {}
    ~Release() {
        for (xlframe::LPXLFOPER record : records_) {
            if (record == nullptr) continue;
            try {
                xlframe::XlfOper(record).FreeHostMemory();
            } catch (...) {
                // Nothing may leave an entry point.
            }
        }
    }
    Release(const Release&) = delete;
    Release& operator=(const Release&) = delete;

   private:
    static xlframe::LPXLFOPER recordOf(const Range& argument) noexcept { return argument.record; }
    static xlframe::LPXLFOPER recordOf(const Numbers& argument) noexcept { return argument.record; }
    static xlframe::LPXLFOPER recordOf(const Flag&) noexcept { return nullptr; }

    xlframe::LPXLFOPER records_[N == 0 ? 1 : N];
};

// The answers to what escapes, in the order of the catch clauses.
xlframe::LPXLFOPER answerText(const std::string& text) noexcept;
xlframe::LPXLFOPER answerMatrix(const xlframe::CellMatrix& cells) noexcept;
xlframe::LPXLFOPER answerValueError() noexcept;
xlframe::LPXLFOPER answerWizard() noexcept;

}  // namespace detail

// Runs one worksheet call. Arguments are converted left to right (braced initialisation fixes the
// order), so the first bad argument in registered order is the one reported.
template <auto Function, class... Args>
xlframe::LPXLFOPER call(const Args&... arguments) noexcept {
    try {
        xlframe::TempMemory::EntryGuard guard;
        detail::Release<sizeof...(Args)> release(arguments...);
        try {
            if (functionWizardOpen()) return detail::answerWizard();
            std::tuple<decltype(convert(arguments))...> converted{convert(arguments)...};
            return toOper(std::apply(Function, converted)).ReturnValue();
        } catch (const xlframe::XlfException&) {
            return nullptr;
        } catch (const std::bad_alloc&) {
            return detail::answerText(outOfMemoryText);
        } catch (const std::exception& error) {
            return detail::answerText(error.what());
        } catch (const std::string& text) {
            return detail::answerText(text);
        } catch (const char* text) {
            return detail::answerText(text != nullptr ? std::string(text) : std::string());
        } catch (const xlframe::CellMatrix& cells) {
            return detail::answerMatrix(cells);
        } catch (...) {
            return detail::answerValueError();
        }
    } catch (...) {
        // The guard itself failed (out of memory): nothing can be built for the host.
        return nullptr;
    }
}

}  // namespace Korvanth::entry
