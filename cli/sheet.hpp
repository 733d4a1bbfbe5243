// A sheet's cells held compactly, whatever file they came from: each column is a list of blocks of
// 1024 cells of 8 bytes (a number as itself, every other kind inside the payload of a NaN, texts
// as offsets into a pool), and a block exists only where its column holds something, so memory
// follows the cells that exist rather than rows x widest row.
//
//   cli::Sheet sheet;
//   sheet.setNumber(0, 0, 0.25);
//   sheet.setText(1, 2, "Retail");
//   cli::CellView cell = sheet.view(1, 2);   // kind Text, text "Retail" (valid while the sheet lives)
//   host::Value value = sheet.at(0, 0);      // 0.25
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cell.hpp"

namespace cli {

// A cell whose text starts with "=": its position and the formula as written.
struct FormulaCell {
    std::size_t row = 0;
    std::size_t column = 0;
    std::string text;
};

// Texts appended once and kept until the pool goes: chunks that never move, so views stay valid.
class TextPool {
   public:
    // The offset by which text() finds it again.
    std::uint64_t add(std::string_view text);
    std::string_view text(std::uint64_t offset) const;
    std::size_t bytes() const { return bytes_; }

   private:
    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::size_t> sizes_;
    std::size_t used_ = 0;  // in the last chunk
    std::size_t bytes_ = 0;
};

class Sheet {
   public:
    static constexpr std::size_t blockRows = 1024;

    std::string name;  // as formulas name it: data!A1
    std::string file;  // where it came from, for messages
    char separator = ',';
    std::vector<FormulaCell> formulas;  // row-major order; their cells hold blanks
    // The results a workbook file holds for its formula cells, by (row, column): kept for the
    // formulas that call none of the add-in's functions.
    std::map<std::pair<std::size_t, std::size_t>, host::Value> fileResults;

    Sheet() = default;
    Sheet(Sheet&&) noexcept = default;
    Sheet& operator=(Sheet&&) noexcept = default;

    // The used area: up to the last row and the last column that hold a value or a formula.
    std::size_t rows() const { return rows_; }
    std::size_t columns() const { return columns_; }

    CellView view(std::size_t row, std::size_t column) const;
    host::Value at(std::size_t row, std::size_t column) const;
    bool isBlank(std::size_t row, std::size_t column) const { return word(row, column) == 0; }

    void set(std::size_t row, std::size_t column, const host::Value& value);
    void setNumber(std::size_t row, std::size_t column, double number);
    void setText(std::size_t row, std::size_t column, std::string_view text);
    void setBoolean(std::size_t row, std::size_t column, bool flag);
    void setError(std::size_t row, std::size_t column, int code);
    void clear(std::size_t row, std::size_t column);
    // Counts the row as used although it holds nothing (a formula cell, whose value comes later).
    void markUsed(std::size_t row, std::size_t column);

    // For a reader filling the sheet fast: the block of 1024 cells that holds (row, column), made
    // when missing, and a finite number as it is stored there. The reader then calls markUsed.
    std::uint64_t* slot(std::size_t row, std::size_t column) { return blockFor(row, column) + row % blockRows; }
    static std::uint64_t storedNumber(double finite);

    // Cells of one column, rows [first, first + count), into `out` (count of them).
    void readColumn(std::size_t column, std::size_t first, std::size_t count, CellView* out) const;
    // Moves the cells and formulas of `part` below row `firstRow - 1` of this sheet (for a file read
    // in parts); the part's texts are copied into this sheet's pool.
    void append(const Sheet& part, std::size_t firstRow);

    // Bytes held by the cells and texts, for the memory benchmark.
    std::size_t bytes() const;

    // Cells a workbook file formats as percentages: an area as first row, first column, last row,
    // last column. Areas of one column that continue each other are held as one.
    void markPercent(const std::array<std::size_t, 4>& area);
    bool isPercent(std::size_t row, std::size_t column) const;

   private:
    using Block = std::unique_ptr<std::uint64_t[]>;
    std::vector<std::vector<Block>> columns_cells_;
    TextPool texts_;
    std::size_t rows_ = 0, columns_ = 0;
    std::vector<std::array<std::size_t, 4>> percent_;

    std::uint64_t word(std::size_t row, std::size_t column) const;
    void put(std::size_t row, std::size_t column, std::uint64_t word);
    std::uint64_t* blockFor(std::size_t row, std::size_t column);
    CellView decode(std::uint64_t word) const;
};

}  // namespace cli
