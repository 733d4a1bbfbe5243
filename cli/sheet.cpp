// The compact cell store. A cell is one 64-bit word, kept XOR-ed with the blank pattern so that
// zero-filled blocks are blank: a finite number is its own bits, any other kind is a NaN whose
// spare bits hold a tag and a payload (a text's pool offset, a flag, an error code).
#include "cli/sheet.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace cli {
namespace {

constexpr std::uint64_t tagMask = 0xFFF0'0000'0000'0000;  // sign and exponent all set: never a finite number
constexpr std::uint64_t payloadMask = 0x0000'FFFF'FFFF'FFFF;
enum Tag : std::uint64_t { tagBlank = 1, tagText = 2, tagBoolean = 3, tagError = 4 };
constexpr std::uint64_t tagged(Tag tag, std::uint64_t payload) {
    return tagMask | (std::uint64_t{tag} << 48) | payload;
}
constexpr std::uint64_t blankPattern = tagged(tagBlank, 0);

constexpr std::size_t firstChunk = 4096, largestChunk = std::size_t{1} << 20;
constexpr unsigned offsetBits = 24;  // within a chunk; chunks hold at most 16 MiB

}  // namespace

std::uint64_t TextPool::add(std::string_view text) {
    const std::size_t need = text.size() + sizeof(std::uint32_t);
    if (chunks_.empty() || sizes_.back() - used_ < need) {
        std::size_t size = chunks_.empty() ? firstChunk : std::min(largestChunk, 2 * sizes_.back());
        size = std::max(size, need);
        if (size >= (std::size_t{1} << offsetBits) || chunks_.size() >= (std::size_t{1} << offsetBits))
            throw std::length_error("a text too long for a cell");
        chunks_.push_back(std::make_unique<char[]>(size));
        sizes_.push_back(size);
        used_ = 0;
    }
    char* at = chunks_.back().get() + used_;
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(at, &length, sizeof length);
    if (!text.empty()) std::memcpy(at + sizeof length, text.data(), text.size());
    const std::uint64_t offset = (static_cast<std::uint64_t>(chunks_.size() - 1) << offsetBits) | used_;
    used_ += need;
    bytes_ += need;
    return offset;
}

std::string_view TextPool::text(std::uint64_t offset) const {
    const char* at = chunks_[offset >> offsetBits].get() + (offset & ((std::uint64_t{1} << offsetBits) - 1));
    std::uint32_t length = 0;
    std::memcpy(&length, at, sizeof length);
    return {at + sizeof length, length};
}

std::uint64_t Sheet::word(std::size_t row, std::size_t column) const {
    if (column >= columns_cells_.size()) return 0;
    const auto& blocks = columns_cells_[column];
    const std::size_t block = row / blockRows;
    if (block >= blocks.size() || !blocks[block]) return 0;
    return blocks[block][row % blockRows];
}

void Sheet::put(std::size_t row, std::size_t column, std::uint64_t value) {
    const std::uint64_t stored = value ^ blankPattern;
    if (stored == 0 && word(row, column) == 0) return;  // blank onto blank allocates nothing
    blockFor(row, column)[row % blockRows] = stored;
    if (stored != 0) markUsed(row, column);
}

void Sheet::markUsed(std::size_t row, std::size_t column) {
    rows_ = std::max(rows_, row + 1);
    columns_ = std::max(columns_, column + 1);
}

CellView Sheet::decode(std::uint64_t stored) const {
    const std::uint64_t value = stored ^ blankPattern;
    CellView cell;
    if ((value & tagMask) != tagMask) {
        cell.kind = CellView::Kind::Number;
        cell.number = std::bit_cast<double>(value);
        return cell;
    }
    const std::uint64_t payload = value & payloadMask;
    switch ((value >> 48) & 0xF) {
        case tagText:
            cell.kind = CellView::Kind::Text;
            cell.text = texts_.text(payload);
            break;
        case tagBoolean:
            cell.kind = CellView::Kind::Boolean;
            cell.number = payload != 0 ? 1.0 : 0.0;
            break;
        case tagError:
            cell.kind = CellView::Kind::Error;
            cell.number = static_cast<double>(payload);
            break;
        default:
            break;
    }
    return cell;
}

std::uint64_t Sheet::storedNumber(double finite) { return std::bit_cast<std::uint64_t>(finite) ^ blankPattern; }

CellView Sheet::view(std::size_t row, std::size_t column) const { return decode(word(row, column)); }

host::Value Sheet::at(std::size_t row, std::size_t column) const { return host::valueOf(view(row, column)); }

void Sheet::set(std::size_t row, std::size_t column, const host::Value& value) {
    struct Visitor {
        Sheet& sheet;
        std::size_t row, column;
        void operator()(host::Blank) const { sheet.clear(row, column); }
        void operator()(double number) const { sheet.setNumber(row, column, number); }
        void operator()(const std::string& text) const { sheet.setText(row, column, text); }
        void operator()(bool flag) const { sheet.setBoolean(row, column, flag); }
        void operator()(host::ErrorValue error) const { sheet.setError(row, column, error.code); }
    };
    std::visit(Visitor{*this, row, column}, value);
}

void Sheet::setNumber(std::size_t row, std::size_t column, double number) {
    if (!std::isfinite(number)) return setError(row, column, errorNum);  // a sheet holds no infinity
    put(row, column, std::bit_cast<std::uint64_t>(number));
}

void Sheet::setText(std::size_t row, std::size_t column, std::string_view text) {
    put(row, column, tagged(tagText, texts_.add(text)));
}

void Sheet::setBoolean(std::size_t row, std::size_t column, bool flag) {
    put(row, column, tagged(tagBoolean, flag ? 1 : 0));
}

void Sheet::setError(std::size_t row, std::size_t column, int code) {
    put(row, column, tagged(tagError, static_cast<std::uint64_t>(static_cast<std::uint32_t>(code))));
}

void Sheet::clear(std::size_t row, std::size_t column) { put(row, column, blankPattern); }

void Sheet::readColumn(std::size_t column, std::size_t first, std::size_t count, CellView* out) const {
    for (std::size_t done = 0; done < count;) {
        const std::size_t row = first + done;
        const std::size_t block = row / blockRows, offset = row % blockRows;
        const std::size_t run = std::min(count - done, blockRows - offset);
        const std::uint64_t* cells = nullptr;
        if (column < columns_cells_.size() && block < columns_cells_[column].size())
            cells = columns_cells_[column][block].get();
        if (!cells) {
            std::fill(out + done, out + done + run, CellView{});
        } else {
            for (std::size_t i = 0; i < run; ++i) {
                const std::uint64_t value = cells[offset + i] ^ blankPattern;
                // Numbers, the bulk of every large sheet, without the tag switch.
                if ((value & tagMask) != tagMask) {
                    out[done + i].kind = CellView::Kind::Number;
                    out[done + i].number = std::bit_cast<double>(value);
                } else {
                    out[done + i] = decode(cells[offset + i]);
                }
            }
        }
        done += run;
    }
}

std::uint64_t* Sheet::blockFor(std::size_t row, std::size_t column) {
    if (column >= columns_cells_.size()) columns_cells_.resize(column + 1);
    auto& blocks = columns_cells_[column];
    const std::size_t block = row / blockRows;
    if (block >= blocks.size()) blocks.resize(block + 1);
    if (!blocks[block]) blocks[block] = std::make_unique<std::uint64_t[]>(blockRows);
    return blocks[block].get();
}

void Sheet::append(const Sheet& part, std::size_t firstRow) {
    for (std::size_t column = 0; column < part.columns_cells_.size(); ++column) {
        const auto& blocks = part.columns_cells_[column];
        for (std::size_t block = 0; block < blocks.size(); ++block) {
            if (!blocks[block]) continue;
            const std::uint64_t* from = blocks[block].get();
            // A part's block lands on at most two of this sheet's blocks.
            for (std::size_t i = 0; i < blockRows;) {
                const std::size_t row = firstRow + block * blockRows + i;
                const std::size_t run = std::min(blockRows - i, blockRows - row % blockRows);
                std::uint64_t* to = blockFor(row, column) + row % blockRows;
                for (std::size_t k = 0; k < run; ++k) {
                    const std::uint64_t value = from[i + k] ^ blankPattern;
                    if ((value & tagMask) == tagMask && ((value >> 48) & 0xF) == tagText)
                        to[k] = tagged(tagText, texts_.add(part.texts_.text(value & payloadMask))) ^ blankPattern;
                    else
                        to[k] = from[i + k];
                }
                i += run;
            }
        }
    }
    if (part.rows_ > 0) markUsed(firstRow + part.rows_ - 1, part.columns_ - 1);
    formulas.reserve(formulas.size() + part.formulas.size());
    for (const FormulaCell& formula : part.formulas)
        formulas.push_back({firstRow + formula.row, formula.column, formula.text});
}

std::size_t Sheet::bytes() const {
    std::size_t total = texts_.bytes();
    for (const auto& blocks : columns_cells_) {
        total += blocks.capacity() * sizeof(Block);
        for (const auto& block : blocks) total += block ? blockRows * sizeof(std::uint64_t) : 0;
    }
    return total;
}

void Sheet::markPercent(const std::array<std::size_t, 4>& area) {
    // Cells come row by row: a few columns formatted alike each continue one of the last areas.
    for (std::size_t k = percent_.size(); k > 0 && k + 16 > percent_.size(); --k) {
        auto& last = percent_[k - 1];
        if (last[1] == area[1] && last[3] == area[3] && last[0] <= area[0] && area[0] <= last[2] + 1) {
            last[2] = std::max(last[2], area[2]);
            return;
        }
    }
    percent_.push_back(area);
}

bool Sheet::isPercent(std::size_t row, std::size_t column) const {
    for (const auto& area : percent_) {
        if (row >= area[0] && row <= area[2] && column >= area[1] && column <= area[3]) return true;
    }
    return false;
}

}  // namespace cli
