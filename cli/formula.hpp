// Formulas as a spreadsheet user writes them for the add-in's functions:
//
//   =Korvanth.Tavirune.rocCurveAggregate(A2:A9,B2:B9,data!C2:C9,0,1)
//   =rocCurveIndividual(A:A, B:B, 0, 1, 10)      (prefix left out, whole columns)
//   =crossTabNumerical(A2:A100,B2:B100,5,,)      (omitted arguments)
//
// Arguments are references (A1, A1:B2, $A$1, A:C, 2:5, sheet!A1, 'my sheet'!A1), numbers, quoted
// texts with "" for a quote, TRUE/FALSE, error literals, array constants {1,2;3,4}, or nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cell.hpp"

namespace cli {

// A formula that cannot be read; `position` counts characters of the formula from 1.
class FormulaError : public InputError {
   public:
    FormulaError(const std::string& formula, std::size_t position, const std::string& problem);
    std::size_t position() const { return position_; }
    const std::string& problem() const { return problem_; }

   private:
    std::size_t position_;
    std::string problem_;
};

// A rectangle of cells; rows and columns count from 0. A whole column leaves the rows open
// (`wholeColumns`), a whole row the columns; they close on the sheet's used area when bound.
struct Reference {
    std::string sheet;  // empty: the formula's own (or the first) sheet
    std::size_t firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
    bool wholeColumns = false;
    bool wholeRows = false;
};

struct ArgumentExpression {
    enum class Kind { Omitted, Value, Reference, Array } kind = Kind::Omitted;
    host::Value value;         // Value
    Reference reference;       // Reference
    host::Table array;         // Array
    std::size_t position = 0;  // 1-based start in the formula text
};

struct FormulaExpression {
    std::string text;  // the formula as written
    std::string name;  // the function name as written, prefix included
    std::size_t namePosition = 0;
    std::vector<ArgumentExpression> arguments;
    std::size_t closePosition = 0;  // of the closing parenthesis
};

// The formula for a message: whole when short, else about 80 characters around `position` (counted
// from 1; 0 for the start) with "..." where it is cut.
std::string quoteFormula(std::string_view formula, std::size_t position = 0);

// Parses one formula; the leading "=" is optional. Throws FormulaError.
FormulaExpression parseFormula(std::string_view text);

// Reads an A1 reference alone ("B2", "A:A", "data!B2:C10"); throws FormulaError on bad ones.
Reference parseReference(std::string_view text);

}  // namespace cli
