// Sheets read from CSV files as spreadsheets write them (RFC 4180 quoting, embedded separators and
// line breaks, a UTF-8 byte-order mark, comma or semicolon separators, UTF-8 or Windows-1252
// texts), and tables written as CSV. A large file is read in blocks whose parts, split at line
// ends outside quotes, are parsed on several threads at once; reading stops as soon as the file
// passes a sheet's limits.
//
//   cli::Sheet data = cli::readCsvFile("data.csv", {});
//   host::Value score = data.at(1, 0);   // cell A2
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "cli/sheet.hpp"

namespace cli {

// The most characters a cell holds.
inline constexpr std::size_t maxCellCharacters = 32767;

enum class Encoding { Detect, Utf8, Windows1252 };

struct CsvOptions {
    char separator = 0;  // ',' or ';'; 0 detects it from the first line
    // Detect: UTF-8 (with or without byte-order mark), or Windows-1252 when the file's texts are
    // not valid UTF-8, with one notice.
    Encoding encoding = Encoding::Detect;
    unsigned threads = 2;                            // parts of a large file parsed at once
    std::size_t blockBytes = std::size_t{16} << 20;  // read at a time
    std::size_t partBytes = std::size_t{1} << 20;    // the least text worth a part of its own
    std::function<void(const std::string&)> notice{};
};

// The separator a spreadsheet would take for this text: the more frequent of ',' and ';' outside
// quotes on the first line, ',' on a tie.
char detectSeparator(std::string_view text);

// Parses CSV text into a sheet. `file` names the source in messages. Throws InputError naming the
// file, row and column for malformed quoting, bad text encoding and sheets larger than a
// spreadsheet holds.
Sheet parseCsv(std::string_view text, const std::string& file, CsvOptions options = {});
// Reads a file ("-" is standard input); throws InputError when it cannot be read, is a folder or
// anything else that is neither a regular file nor a pipe.
Sheet readCsvFile(const std::string& path, CsvOptions options = {});
// The same from any reader: read(into, size) gives up to `size` bytes, 0 at the end.
Sheet readCsv(const std::function<std::size_t(char*, std::size_t)>& read, const std::string& file,
              CsvOptions options = {});
// The file's name without folder and extension: "data/portfolio.csv" -> "portfolio".
std::string sheetNameFromPath(const std::string& path);

// "file: row 2, column 3 (cell C2)"
std::string cellPlace(const std::string& file, std::size_t row, std::size_t column);

// One field quoted as RFC 4180 wants when it holds the separator, a quote or a line break.
std::string quoteCsvField(std::string_view field, char separator = ',');
// A table as CSV lines ending in "\n"; numbers written exactly.
std::string writeCsv(const host::Table& table, char separator = ',');

}  // namespace cli
