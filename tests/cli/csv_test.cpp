// CSV reading: quoting, separators, byte-order mark, line ends, used rows, and malformed input.
#include "cli/csv.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
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

struct CsvCase {
    int line;
    const char* text;
    const char* cells;  // rows joined by "\n", cells by "|"
};

TEST(ParseCsv, QuotingSeparatorsAndLineEnds) {
    const CsvCase cases[] = {
        {__LINE__, "a,b\n1,2\n", "a|b\n1|2\n"},
        {__LINE__, "a,b\r\n1,2\r\n", "a|b\n1|2\n"},
        {__LINE__, "a,b\n1,2", "a|b\n1|2\n"},
        {__LINE__, "\xEF\xBB\xBFx,y\n3,4\n", "x|y\n3|4\n"},
        {__LINE__, "\"a,b\",\"say \"\"hi\"\"\"\n", "a,b|say \"hi\"\n"},
        {__LINE__, "\"two\nlines\",2\n", "two\nlines|2\n"},
        {__LINE__, "\"12\",\"TRUE\"\n", "12|TRUE\n"},
        {__LINE__, "a;b\n0,5;1,25e1\n", "a|b\n0.5|12.5\n"},
        {__LINE__, "a,,c\n,\nz\n", "a||c\n||\nz||\n"},
        {__LINE__, "a\n\nb\n\n\n", "a\n\nb\n"},
        {__LINE__, " x , y \n", " x | y \n"},
        {__LINE__, "1,2,3\n4\n", "1|2|3\n4||\n"},
        {__LINE__, "=total(A1),#N/A\n", "|#N/A\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(all(parseCsv(c.text, "t.csv")), c.cells) << "line " << c.line;
}

TEST(ParseCsv, FormulaCellsAndUsedRows) {
    const auto sheet = parseCsv("x,=echo(A1:A2)\n2\n\n", "book.csv");
    ASSERT_EQ(sheet.formulas.size(), 1u);
    EXPECT_EQ(sheet.formulas[0].row, 0u);
    EXPECT_EQ(sheet.formulas[0].column, 1u);
    EXPECT_EQ(sheet.formulas[0].text, "=echo(A1:A2)");
    EXPECT_EQ(sheet.rows(), 2u);
    EXPECT_EQ(sheet.name, "book");
}

TEST(DetectSeparator, FirstLineDecides) {
    EXPECT_EQ(cli::detectSeparator("a;b;c\n1,2;3"), ';');
    EXPECT_EQ(cli::detectSeparator("a,b;c\n"), ',');
    EXPECT_EQ(cli::detectSeparator("\"x;y;z\",b\n"), ',');
    EXPECT_EQ(cli::detectSeparator(""), ',');
    EXPECT_EQ(parseCsv("a;b\n", "t.csv", {.separator = ','}).columns(), 1u);
}

struct BadCase {
    int line;
    const char* text;
    const char* message;
};

TEST(ParseCsv, MalformedInputNamesFileRowAndColumn) {
    const BadCase cases[] = {
        {__LINE__, "a,b\n1,\"open\n2,3\n", "t.csv: row 2, column 2 (cell B2): a quoted field has no closing quote"},
        {__LINE__, "\"x", "t.csv: row 1, column 1 (cell A1): a quoted field has no closing quote"},
        {__LINE__, "a,b\"c\n",
         "t.csv: row 1, column 2 (cell B1): a quote inside an unquoted field (quote the field and double the quote)"},
        {__LINE__, "a\nb,c,\"d\"e\n",
         "t.csv: row 2, column 3 (cell C2): text after the closing quote of a quoted field"},
    };
    for (const auto& c : cases) {
        try {
            parseCsv(c.text, "t.csv");
            ADD_FAILURE() << "line " << c.line << ": no error";
        } catch (const cli::InputError& error) {
            EXPECT_EQ(std::string(error.what()), c.message) << "line " << c.line;
        }
    }
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

TEST(ReadCsvFile, UnreadableFile) {
    try {
        cli::readCsvFile("/nonexistent/data.csv");
        ADD_FAILURE();
    } catch (const cli::InputError& error) {
        EXPECT_EQ(std::string(error.what()), "/nonexistent/data.csv: cannot read the file: No such file or directory");
    }
}

TEST(WriteCsv, QuotesWhatNeedsQuoting) {
    host::Table table(2, 3);
    table.at(0, 0) = std::string("a,b");
    table.at(0, 1) = std::string("say \"hi\"");
    table.at(0, 2) = 0.5;
    table.at(1, 0) = true;
    table.at(1, 1) = host::ErrorValue{42};
    table.at(1, 2) = std::string("two\nlines");
    EXPECT_EQ(cli::writeCsv(table), "\"a,b\",\"say \"\"hi\"\"\",0.5\nTRUE,#N/A,\"two\nlines\"\n");
    // What is written reads back as the same cells.
    const auto back = parseCsv(cli::writeCsv(table), "back.csv");
    EXPECT_EQ(cli::usedCells(back), table);
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
