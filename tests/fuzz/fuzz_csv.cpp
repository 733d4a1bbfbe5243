// CSV reading as the command-line host does it: any bytes give a sheet or a clear InputError.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/csv.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the separator: detected, comma or semicolon.
    const char separators[] = {0, ',', ';'};
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        cli::Sheet sheet = cli::parseCsv(text, "fuzz.csv", {separators[data[0] % 3]});
        if (sheet.cells.size() != sheet.rows * sheet.columns) std::abort();
        for (const cli::FormulaCell& f : sheet.formulas)
            if (f.row >= sheet.rows || f.column >= sheet.columns) std::abort();
        // What the host writes it must read back: quoting of its own output is never malformed.
        host::Table table(sheet.rows, sheet.columns);
        table.cells = sheet.cells;
        const std::string written = cli::writeCsv(table, sheet.separator);
        try {
            const cli::Sheet again = cli::parseCsv(written, "again.csv", {sheet.separator});
            if (again.rows > sheet.rows || again.columns > sheet.columns) std::abort();
        } catch (const cli::InputError&) {
            std::abort();
        }
    } catch (const cli::InputError&) {
    }
    return 0;
}
