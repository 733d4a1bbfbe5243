// Decodes fuzz bytes into worksheet arguments: cell tables of any shape and cell kind, and
// integers over the whole 32-bit range, with numbers biased towards the values that break
// statistics (0, -0, denormals, huge magnitudes, just outside [0, 1], around 0.5 and 1).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "xlframe/cell_matrix.hpp"

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }

    std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }

    std::uint16_t half() {
        const std::uint16_t high = byte();
        return static_cast<std::uint16_t>(high << 8 | byte());
    }

    std::uint32_t word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | byte();
        return value;
    }

    std::int32_t integer() {
        switch (byte() % 8) {
            case 0: return 0;
            case 1: return 1;
            case 2: return -1;
            case 3: return std::numeric_limits<std::int32_t>::max();
            case 4: return std::numeric_limits<std::int32_t>::min();
            case 5: return static_cast<std::int32_t>(byte() % 40);
            default: return static_cast<std::int32_t>(word());
        }
    }

    double number() {
        static constexpr double specials[] = {0.0,
                                              -0.0,
                                              1.0,
                                              -1.0,
                                              0.5,
                                              1.0 + 1e-12,
                                              -1e-12,
                                              0.9999999999,
                                              1e-10,
                                              std::numeric_limits<double>::denorm_min(),
                                              1e308,
                                              -1e308,
                                              2147483648.0,
                                              -2147483649.0,
                                              4294967296.0,
                                              1e9,
                                              0.12,
                                              0.999};
        const std::uint8_t selector = byte();
        if (selector < 96) return static_cast<double>(selector % 4);  // indicators and small counts
        if (selector < 160) return specials[selector % std::size(specials)];
        if (selector < 224) return static_cast<double>(word() % 2000) / 1000.0 - 0.5;
        std::uint64_t bits = (static_cast<std::uint64_t>(word()) << 32) | word();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;  // any bit pattern, NaN and infinities included
    }

    std::string text() {
        static const char* const texts[] = {"", "a", "b", "Age", "A", "%s", "\xE2\x82\xAC", "x%sy", "TRUE"};
        return texts[byte() % std::size(texts)];
    }

    // Mostly column vectors of modest length, sometimes rows, empty tables, or wide ones.
    xlframe::CellMatrix table(std::size_t maxCells = 4096) {
        std::size_t rows = 0, columns = 0;
        switch (byte() % 8) {
            case 0: rows = 1; columns = 1; break;
            case 1: rows = 0; columns = byte() % 3; break;
            case 2: rows = 1; columns = 1 + byte() % 64; break;
            case 3: rows = 1 + byte() % 16; columns = 1 + byte() % 16; break;
            case 4: rows = 1 + (static_cast<std::size_t>(byte()) << 4 | byte() % 16); columns = 1; break;
            default: rows = 1 + byte() % 64; columns = 1; break;
        }
        if (rows * columns > maxCells) rows = maxCells / (columns == 0 ? 1 : columns);
        xlframe::CellMatrix result(rows, columns);
        const std::uint8_t mix = byte();  // how often cells are not numbers
        for (std::size_t r = 0; r < rows; ++r)
            for (std::size_t c = 0; c < columns; ++c) {
                xlframe::CellValue& cell = result(r, c);
                if (empty()) {
                    cell = static_cast<double>((r + c) % 2);
                    continue;
                }
                const std::uint8_t kind = byte();
                if (kind >= mix / 4 + 8) {
                    cell = number();
                    continue;
                }
                switch (kind % 6) {
                    case 0: break;  // Empty
                    case 1: cell = text(); break;
                    case 2: {
                        const std::string narrow = text();
                        cell = std::wstring(narrow.begin(), narrow.end());
                        break;
                    }
                    case 3: cell = (kind & 8) != 0; break;
                    case 4: cell.SetError(static_cast<std::uint32_t>(byte() % 43)); break;
                    default: cell = number(); break;
                }
            }
        return result;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace fuzzing
