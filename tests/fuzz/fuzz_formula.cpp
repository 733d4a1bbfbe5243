// Formula and reference parsing: any text gives an expression or a FormulaError whose position
// lies inside the formula (or just past its end).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/formula.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const cli::FormulaExpression f = cli::parseFormula(text);
        for (const cli::ArgumentExpression& a : f.arguments)
            if (a.position > text.size() + 1) std::abort();
        if (f.closePosition > text.size() + 1) std::abort();
    } catch (const cli::FormulaError& e) {
        if (e.position() > text.size() + 2) std::abort();
    } catch (const cli::InputError&) {
    }
    try {
        const cli::Reference r = cli::parseReference(text);
        if (!r.wholeColumns && !r.wholeRows && (r.lastRow < r.firstRow || r.lastColumn < r.firstColumn)) std::abort();
    } catch (const cli::InputError&) {
    }
    return 0;
}
