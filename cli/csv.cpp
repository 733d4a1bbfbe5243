// CSV reading through libcsv, with the cell rules of cell.hpp.
#include "cli/csv.hpp"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/memory.hpp"

namespace cli {
namespace {

const host::Value blankCell{};

// libcsv's callbacks collect into this.
struct Collector {
    std::vector<host::Value> cells;
    std::vector<std::size_t> rowStarts{0};  // index into cells where each row begins
    std::vector<FormulaCell> formulas;
    std::size_t fieldsInRow = 0;
    std::size_t maxColumns = 0;
    int lastTerminator = 0;
    bool decimalComma = false;
    bool tooManyColumns = false;

    std::size_t row() const { return rowStarts.size() - 1; }

    void field(const char* data, std::size_t length) {
        const std::string_view text(data ? data : "", data ? length : 0);
        if (fieldsInRow >= cli::maxColumns) {
            tooManyColumns = true;
            return;
        }
        if (!text.empty() && text.front() == '=') {
            formulas.push_back({row(), fieldsInRow, std::string(text)});
            cells.emplace_back(host::Blank{});
        } else {
            cells.push_back(readCell(text, decimalComma));
        }
        ++fieldsInRow;
        lastTerminator = 0;
    }

    void endRow(int terminator) {
        // With every line break reported, the "\n" of a "\r\n" pair arrives as an empty row of its own.
        if (fieldsInRow == 0 && terminator == '\n' && lastTerminator == '\r') {
            lastTerminator = 0;
            return;
        }
        if (fieldsInRow > maxColumns) maxColumns = fieldsInRow;
        rowStarts.push_back(cells.size());
        fieldsInRow = 0;
        lastTerminator = terminator;
    }
};

void onField(void* data, std::size_t length, void* collector) {
    static_cast<Collector*>(collector)->field(static_cast<const char*>(data), length);
}
void onRowEnd(int terminator, void* collector) { static_cast<Collector*>(collector)->endRow(terminator); }

int noBlankTrimming(unsigned char) { return 0; }

std::string where(const std::string& file, std::size_t row, std::size_t column) {
    return file + ": row " + std::to_string(row + 1) + ", column " + std::to_string(column + 1) + " (cell " +
           cellName(row, column) + ")";
}

}  // namespace

const host::Value& Sheet::at(std::size_t row, std::size_t column) const {
    if (row >= rows || column >= columns) return blankCell;
    return cells[row * columns + column];
}

void Sheet::extend(std::size_t newRows, std::size_t newColumns) {
    if (newRows <= rows && newColumns <= columns) return;
    newRows = std::max(newRows, rows);
    if (newColumns <= columns) {
        cells.resize(newRows * columns);
        rows = newRows;
        return;
    }
    std::vector<host::Value> grown(newRows * newColumns);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c) grown[r * newColumns + c] = std::move(cells[r * columns + c]);
    }
    cells = std::move(grown);
    rows = newRows;
    columns = newColumns;
}

char detectSeparator(std::string_view text) {
    std::size_t commas = 0, semicolons = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        if (c == ',') ++commas;
        if (c == ';') ++semicolons;
    }
    return semicolons > commas ? ';' : ',';
}

Sheet parseCsv(std::string_view text, const std::string& file, CsvOptions options) {
    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) text.remove_prefix(3);
    const char separator = options.separator ? options.separator : detectSeparator(text);

    csv_parser parser{};
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_REPALL_NL) != 0)
        throw InputError(file + ": the CSV reader could not start");
    std::unique_ptr<csv_parser, void (*)(csv_parser*)> guard(&parser, csv_free);
    csv_set_delim(&parser, static_cast<unsigned char>(separator));
    csv_set_space_func(&parser, noBlankTrimming);

    Collector collector;
    // Spreadsheets that write semicolons write decimal commas.
    collector.decimalComma = separator == ';';
    // Reserving for the expected cells spares the copies of a growing vector on large sheets.
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    const std::string_view firstLine = text.substr(0, text.find('\n'));
    const std::size_t perLine = static_cast<std::size_t>(std::count(firstLine.begin(), firstLine.end(), separator)) + 1;
    reserveLarge(collector.cells, std::min<std::size_t>(lines * perLine, std::size_t{1} << 28));
    collector.rowStarts.reserve(lines + 1);
    const std::size_t parsed = csv_parse(&parser, text.data(), text.size(), onField, onRowEnd, &collector);
    if (parsed != text.size()) {
        if (csv_error(&parser) == CSV_EPARSE) {
            const bool strayQuote = text[parsed] == '"';
            throw InputError(where(file, collector.row(), collector.fieldsInRow) + ": " +
                             (strayQuote ? "a quote inside an unquoted field (quote the field and double the quote)"
                                         : "text after the closing quote of a quoted field"));
        }
        throw InputError(file + ": " + csv_strerror(csv_error(&parser)));
    }
    if (csv_fini(&parser, onField, onRowEnd, &collector) != 0) {
        throw InputError(where(file, collector.row(), collector.fieldsInRow) +
                         ": a quoted field has no closing quote");
    }
    if (collector.tooManyColumns) {
        throw InputError(file + ": more than " + std::to_string(cli::maxColumns) +
                         " columns, more than a sheet holds");
    }

    Sheet sheet;
    sheet.file = file;
    sheet.name = sheetNameFromPath(file);
    sheet.separator = separator;
    const std::size_t rowCount = collector.rowStarts.size() - 1;
    // Trailing empty lines are not part of the used range.
    std::size_t used = rowCount;
    while (used > 0) {
        const std::size_t begin = collector.rowStarts[used - 1], end = collector.rowStarts[used];
        bool empty = true;
        for (std::size_t i = begin; i < end && empty; ++i) empty = std::holds_alternative<host::Blank>(collector.cells[i]);
        for (const auto& formula : collector.formulas) empty = empty && formula.row != used - 1;
        if (!empty) break;
        --used;
    }
    if (used > maxRows) {
        throw InputError(where(file, maxRows, 0) + ": more than " + std::to_string(maxRows) +
                         " rows, more than a sheet holds");
    }
    sheet.usedRows = used;
    sheet.rows = used;
    sheet.columns = collector.maxColumns;
    bool rectangular = true;
    for (std::size_t r = 0; r < used && rectangular; ++r)
        rectangular = collector.rowStarts[r + 1] - collector.rowStarts[r] == sheet.columns;
    if (rectangular) {
        collector.cells.resize(used * sheet.columns);
        sheet.cells = std::move(collector.cells);
    } else {
        reserveLarge(sheet.cells, used * sheet.columns);
        sheet.cells.resize(used * sheet.columns);
        for (std::size_t r = 0; r < used; ++r) {
            for (std::size_t i = collector.rowStarts[r]; i < collector.rowStarts[r + 1]; ++i)
                sheet.cells[r * sheet.columns + (i - collector.rowStarts[r])] = std::move(collector.cells[i]);
        }
    }
    sheet.formulas = std::move(collector.formulas);
    return sheet;
}

Sheet readCsvFile(const std::string& path, CsvOptions options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path + ": cannot read the file: " + std::strerror(errno));
    // Read in one piece where the file has a size: a stream buffer grows by copying all it holds.
    std::string text;
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (!sizeError && size > 0 && size < text.max_size()) {
        text.resize(static_cast<std::size_t>(size));
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (!in.eof() && !in.bad()) {
        // What the size did not cover: a file that grew, or one without a size (a pipe).
        std::ostringstream rest;
        rest << in.rdbuf();
        text += std::move(rest).str();
    }
    if (in.bad()) throw InputError(path + ": cannot read the file");
    return parseCsv(text, path, options);
}

std::string sheetNameFromPath(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\:");  // Windows paths also part with \ and a drive's colon
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

std::string quoteCsvField(std::string_view field, char separator) {
    if (field.find_first_of(std::string{'"', '\n', '\r', separator}) == std::string_view::npos) return std::string(field);
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted.push_back('"');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string writeCsv(const host::Table& table, char separator) {
    std::string out;
    for (std::size_t r = 0; r < table.rows; ++r) {
        for (std::size_t c = 0; c < table.columns; ++c) {
            if (c > 0) out.push_back(separator);
            out += quoteCsvField(showCell(table.at(r, c), true), separator);
        }
        out.push_back('\n');
    }
    return out;
}

}  // namespace cli
