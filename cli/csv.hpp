// Sheets read from CSV files as spreadsheets write them (RFC 4180 quoting, embedded separators and
// line breaks, a UTF-8 byte-order mark, comma or semicolon separators), and tables written as CSV.
//
//   cli::Sheet data = cli::readCsvFile("data.csv", {});
//   const host::Value& score = data.at(1, 0);   // cell A2
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cell.hpp"

namespace cli {

// A cell whose text starts with "=": its position and the formula as written.
struct FormulaCell {
    std::size_t row = 0;
    std::size_t column = 0;
    std::string text;
};

struct Sheet {
    std::string name;  // as formulas name it: data!A1
    std::string file;  // where it came from, for messages
    std::size_t rows = 0;
    std::size_t columns = 0;
    std::vector<host::Value> cells;     // rows x columns, row-major
    std::vector<FormulaCell> formulas;  // row-major order; their cells hold blanks
    std::size_t usedRows = 0;           // rows of the file that hold something: whole columns end there
    char separator = ',';

    const host::Value& at(std::size_t row, std::size_t column) const;
    host::Value& at(std::size_t row, std::size_t column) { return cells[row * columns + column]; }
    // Grows the sheet so that the cell exists; new cells are blank.
    void extend(std::size_t newRows, std::size_t newColumns);
};

struct CsvOptions {
    char separator = 0;  // ',' or ';'; 0 detects it from the first line
};

// The separator a spreadsheet would take for this text: the more frequent of ',' and ';' outside
// quotes on the first line, ',' on a tie.
char detectSeparator(std::string_view text);

// Parses CSV text into a sheet. `file` names the source in messages. Throws InputError naming the
// file, row and column for malformed quoting and for sheets larger than a spreadsheet holds.
Sheet parseCsv(std::string_view text, const std::string& file, CsvOptions options = {});
// Reads a whole file; throws InputError when it cannot be read.
Sheet readCsvFile(const std::string& path, CsvOptions options = {});
// The file's name without folder and extension: "data/portfolio.csv" -> "portfolio".
std::string sheetNameFromPath(const std::string& path);

// One field quoted as RFC 4180 wants when it holds the separator, a quote or a line break.
std::string quoteCsvField(std::string_view field, char separator = ',');
// A table as CSV lines ending in "\n"; numbers written exactly.
std::string writeCsv(const host::Table& table, char separator = ',');

}  // namespace cli
