// Cells as a spreadsheet reads them from text and shows them again: numbers, booleans, error
// literals, blanks and texts, and the A1 names of columns and cells.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/standin_host.hpp"

namespace cli {

// Bad input of the command (a file, a reference, a formula): the message names where it is.
class InputError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// A failure of the machine rather than of the input: memory ran out, a file could not be written.
class SystemError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// The host's error codes, and the dynamic-array error that only this host produces.
inline constexpr int errorNull = 0;
inline constexpr int errorDiv0 = 7;
inline constexpr int errorValue = 15;
inline constexpr int errorRef = 23;
inline constexpr int errorName = 29;
inline constexpr int errorNum = 36;
inline constexpr int errorNA = 42;
inline constexpr int errorSpill = 2045;

// The largest sheet a spreadsheet holds.
inline constexpr std::size_t maxRows = 1048576;
inline constexpr std::size_t maxColumns = 16384;

// "#N/A" -> 42 and so on, case-insensitive; nullopt for anything else.
std::optional<int> errorCode(std::string_view literal);
// 42 -> "#N/A"; unknown codes show as "#N/A".
std::string_view errorLiteral(int code);

using host::CellView;

// Reads one cell's text the way a spreadsheet reads a typed or imported value. With
// `decimalComma` a number may use a comma instead of the point ("0,25").
host::Value readCell(std::string_view text, bool decimalComma = false);
// The same without copying: a Text view points into `text`.
CellView readCellView(std::string_view text, bool decimalComma = false);
// Only the number part of readCell: digits with an optional sign, point, exponent and percent.
std::optional<double> readNumber(std::string_view text, bool decimalComma = false);

// Numbers shown as in the cell's general format (up to 10 significant digits).
std::string formatGeneral(double number);
// Numbers written so that reading them back gives the same double.
std::string formatExact(double number);
// A cell for display: numbers with formatGeneral (or formatExact), TRUE/FALSE, error literals, blank "".
std::string showCell(const host::Value& value, bool exact);

// 0 -> "A", 26 -> "AA".
std::string columnName(std::size_t column);
// (0, 0) -> "A1".
std::string cellName(std::size_t row, std::size_t column);

}  // namespace cli
