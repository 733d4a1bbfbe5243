#include "functions/paired_ranges.hpp"

#include <algorithm>
#include <cmath>

#include "analytics/conversions.hpp"
#include "analytics/error.hpp"
#include "functions/checks.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

[[noreturn]] void raise(std::int32_t code, const std::string& name) {
    throw KorvanthException(code).addArgument(name);
}

enum class Filled { none, all, some };

}  // namespace

PairedRows::PairedRows(std::initializer_list<PairedRange> ranges, bool column) : column_(column) {
    std::size_t length = 0;
    for (const PairedRange& r : ranges) {
        const std::size_t across = column ? r.range.Columns() : r.range.Rows();
        if (r.cells != Cells::table && across != 1) raise(column ? 20004 : 20005, r.name);
        Entry e{&r.range, r.name, r.label != nullptr ? r.label : r.name, r.cells,
                column ? r.range.Rows() : r.range.Columns(), across,
                r.range.storage() != nullptr ? r.range.storage()->data() : nullptr};
        length = std::max(length, e.length);
        ranges_.push_back(std::move(e));
    }
    for (const Entry& e : ranges_) {
        bool any = false;
        for (std::size_t i = 0; i < e.length && !any; ++i)
            for (std::size_t j = 0; j < e.width && !any; ++j) any = !isEmpty(e, i, j);
        if (!any) raise(e.cells == Cells::numbers ? 20007 : e.cells == Cells::categories ? 20009 : 20012, e.name);
    }
    std::vector<Filled> filled(ranges_.size());
    for (std::size_t i = 0; i < length; ++i) {
        std::size_t empty = 0;
        for (std::size_t r = 0; r < ranges_.size(); ++r) {
            const Entry& e = ranges_[r];
            std::size_t blanks = e.width;
            if (i < e.length) {
                blanks = 0;
                for (std::size_t j = 0; j < e.width; ++j) blanks += isEmpty(e, i, j) ? 1 : 0;
            }
            filled[r] = blanks == 0 ? Filled::all : blanks == e.width ? Filled::none : Filled::some;
            if (filled[r] == Filled::some)
                fail("The cell range for the " + e.label + " is partly empty in " + where(i));
            empty += filled[r] == Filled::none ? 1 : 0;
        }
        if (empty == ranges_.size()) {
            if (!skipped_) {
                kept_.resize(size_);
                for (std::size_t k = 0; k < size_; ++k) kept_[k] = k;
                skipped_ = true;
            }
            continue;
        }
        if (empty != 0) {
            const auto blank = std::find(filled.begin(), filled.end(), Filled::none) - filled.begin();
            const auto full = std::find(filled.begin(), filled.end(), Filled::all) - filled.begin();
            fail("The cell range for the " + ranges_[static_cast<std::size_t>(blank)].label + " is empty in " +
                 where(i) + ", where that for the " + ranges_[static_cast<std::size_t>(full)].label + " is not");
        }
        if (skipped_) kept_.push_back(i);
        ++size_;
    }
}

std::string PairedRows::where(std::size_t position) const {
    return (column_ ? "row " : "column ") + std::to_string(position + 1);
}

const xlframe::CellValue& PairedRows::cell(const Entry& e, std::size_t position, std::size_t j) const {
    if (e.storage != nullptr) return e.storage[column_ ? position * e.width + j : j * e.length + position];
    return column_ ? (*e.range)(position, j) : (*e.range)(j, position);
}

bool PairedRows::isEmpty(const Entry& e, std::size_t position, std::size_t j) const {
    if (e.storage != nullptr)
        return e.storage[column_ ? position * e.width + j : j * e.length + position].kind() == xlframe::CellKind::Empty;
    return cell(e, position, j).IsEmpty();
}

bool PairedRows::number(const Entry& e, std::size_t position, double& value) const {
    if (e.storage != nullptr) {
        const xlframe::impl::CellValueImpl& c = e.storage[column_ ? position * e.width : position];
        if (c.kind() != xlframe::CellKind::Number) return false;
        value = c.GetNumber();
        return true;
    }
    const xlframe::CellValue& c = cell(e, position, 0);
    if (!c.IsNumber()) return false;
    value = c.GetNumber();
    return true;
}

template <class Numbers>
Numbers PairedRows::readNumbers(std::size_t r) const {
    const Entry& e = ranges_.at(r);
    if (size_ == 0) raise(20007, e.name);
    Numbers result(size_);
    for (std::size_t k = 0; k < size_; ++k)
        if (!number(e, position(k), result[k])) raise(20006, e.name);
    return result;
}

std::vector<double> PairedRows::numbers(std::size_t r) const {
    return readNumbers<std::vector<double>>(r);
}

std::vector<double, UnsetAllocator<double>> PairedRows::keptNumbers(std::size_t r) const {
    return readNumbers<std::vector<double, UnsetAllocator<double>>>(r);
}

std::vector<int> PairedRows::integers(std::size_t r) const {
    const Entry& e = ranges_.at(r);
    if (size_ == 0) raise(20007, e.name);
    std::vector<int> result(size_);
    for (std::size_t k = 0; k < size_; ++k) {
        double x = 0;
        if (!number(e, position(k), x)) raise(20006, e.name);
        result[k] = xlframe::truncateToInt32(x);
    }
    return result;
}

std::vector<int> PairedRows::counts(std::size_t r) const {
    const std::vector<double> x = numbers(r);
    for (double v : x)
        if (!std::isfinite(v))
            fail("At least one entry of the cell range for the " + ranges_[r].label + " is not a finite number");
    std::vector<int> result(x.size());
    std::transform(x.begin(), x.end(), result.begin(), [](double v) { return xlframe::truncateToInt32(v); });
    return result;
}

std::vector<std::string> PairedRows::categories(std::size_t r) const {
    const Entry& e = ranges_.at(r);
    if (size_ == 0) raise(20009, e.name);
    std::vector<std::string> result;
    result.reserve(size_);
    bool allNumbers = true;
    for (std::size_t k = 0; k < size_ && allNumbers; ++k) allNumbers = cell(e, position(k), 0).IsNumber();
    for (std::size_t k = 0; k < size_; ++k) {
        const xlframe::CellValue& c = cell(e, position(k), 0);
        if (allNumbers) {
            // The digits a stream writes for the integer part: 2.9 and 2 are one category.
            result.push_back(std::to_string(xlframe::truncateToInt32(c.GetNumber())));
        } else if (c.IsWideString()) {
            result.push_back(wideToNarrow(c.GetWideString()));
        } else if (c.IsNarrowString()) {
            result.push_back(c.GetString());
        } else {
            raise(20008, e.name);
        }
    }
    return result;
}

Matrix PairedRows::table(std::size_t r) const {
    const Entry& e = ranges_.at(r);
    if (size_ == 0) raise(20012, e.name);
    Matrix result(size_, e.width);
    for (std::size_t k = 0; k < size_; ++k) {
        for (std::size_t j = 0; j < e.width; ++j) {
            const xlframe::CellValue& c = cell(e, position(k), j);
            if (!c.IsNumber()) raise(20010, e.name);
            result(k, j) = c.GetNumber();
        }
    }
    return result;
}

}  // namespace Korvanth
