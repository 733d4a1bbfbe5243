// CSV reading in blocks and parts against the whole text, and sheet names. Quoting, separators,
// byte-order mark, line ends, used rows, malformed input and the quoting of written cells are
// worksheet cases of the command (tests/cli/e2e/csv_reading, calc_cells).
#include "cli/csv.hpp"

#include <gtest/gtest.h>

#include <random>

#include "cli/output.hpp"

namespace {

using cli::parseCsv;

std::string all(const cli::Sheet& sheet) {
    std::string out;
    for (std::size_t r = 0; r < sheet.rows(); ++r) {
        for (std::size_t c = 0; c < sheet.columns(); ++c) {
            if (c > 0) out.push_back('|');
            out.append(cli::showCell(sheet.at(r, c), true));
        }
        out += "\n";
    }
    return out;
}

TEST(ReadCsvThreads, PartsAndBlocksReadAsTheWholeText) {
    // Quotes, line breaks and doubled quotes across every place a block or part may end.
    std::string text = "a;\"b\nc\";\"=echo(A1)\"\r\n";
    std::mt19937 random(3);
    const char* fields[] = {"1,5", "\"x;\"\"y\"\"\nz\"", "TRUE",   "#N/A", "\xC3\xA4rzte",
                            "",    "\"=total(A1:A2)\"",  "-0,25e1"};
    for (int row = 0; row < 3000; ++row) {
        for (int column = 0; column < 4; ++column) text += std::string(column ? ";" : "") + fields[random() % 8];
        text += random() % 3 ? "\n" : "\r\n";
    }
    const auto whole = parseCsv(text, "t.csv", {.threads = 1});
    for (std::size_t block : {7u, 64u, 1000u}) {
        std::size_t at = 0;
        auto read = [&](char* into, std::size_t size) {
            const std::size_t n = std::min({size, text.size() - at, std::size_t{1} + random() % 97});
            std::copy_n(text.data() + at, n, into);
            at += n;
            return n;
        };
        const auto parts = cli::readCsv(read, "t.csv", {.threads = 4, .blockBytes = block, .partBytes = 16});
        EXPECT_EQ(all(parts), all(whole)) << block;
        ASSERT_EQ(parts.formulas.size(), whole.formulas.size());
        for (std::size_t i = 0; i < parts.formulas.size(); ++i)
            EXPECT_EQ(parts.formulas[i].row, whole.formulas[i].row) << i;
    }
}

}  // namespace

TEST(SheetNameFromPath, FileNameWithoutItsExtension) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"data.csv", "data"},
        {"dir/sub/book.v2.csv", "book.v2"},
        {".hidden", ".hidden"},
        {"noext", "noext"},
#ifdef _WIN32
        {R"(C:\users\me\data.csv)", "data"},
        {R"(C:\users\me/mixed\book.csv)", "book"},
        {"D:grades.csv", "grades"},
#else
        {R"(back\slash.csv)", R"(back\slash)"},
#endif
    };
    for (const Case& c : cases) EXPECT_EQ(cli::sheetNameFromPath(c.path), c.name) << c.path;
}
