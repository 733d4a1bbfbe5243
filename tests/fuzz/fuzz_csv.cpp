// CSV reading as the command-line host does it: any bytes give a sheet or a clear InputError, the
// same whether read whole or in small blocks parsed in parts on threads.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cli/csv.hpp"
#include "cli/output.hpp"

namespace {

std::string shown(const cli::Sheet& sheet) {
    std::string out = cli::writeCsv(cli::usedCells(sheet), sheet.separator);
    for (const cli::FormulaCell& f : sheet.formulas) out += cli::cellName(f.row, f.column) + f.text + "\n";
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte picks the separator and the encoding, the second the block size.
    const char separators[] = {0, ',', ';'};
    const cli::Encoding encodings[] = {cli::Encoding::Detect, cli::Encoding::Utf8, cli::Encoding::Windows1252};
    const cli::CsvOptions options{
        .separator = separators[data[0] % 3], .encoding = encodings[data[0] / 3 % 3], .threads = 1};
    const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string whole, parts;
    try {
        const cli::Sheet sheet = cli::parseCsv(text, "fuzz.csv", options);
        for (const cli::FormulaCell& f : sheet.formulas)
            if (f.row >= sheet.rows() || f.column >= sheet.columns()) std::abort();
        whole = shown(sheet);
        // What the host writes it must read back: quoting of its own output is never malformed.
        try {
            cli::parseCsv(cli::writeCsv(cli::usedCells(sheet), sheet.separator), "again.csv", {sheet.separator});
        } catch (const cli::InputError&) {
            std::abort();
        }
    } catch (const cli::InputError& error) {
        whole = error.what();
    }
    std::size_t at = 0;
    auto read = [&](char* into, std::size_t wanted) {
        const std::size_t n = std::min({wanted, text.size() - at, std::size_t{1} + data[1] % 13});
        std::copy_n(text.data() + at, n, into);
        at += n;
        return n;
    };
    cli::CsvOptions small = options;
    small.threads = 3;
    small.blockBytes = 1 + data[1] % 41;
    small.partBytes = 1 + data[1] % 7;
    try {
        parts = shown(cli::readCsv(read, "fuzz.csv", small));
    } catch (const cli::InputError& error) {
        parts = error.what();
    }
    if (parts != whole) std::abort();
    return 0;
}
