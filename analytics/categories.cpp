#include "analytics/categories.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "analytics/conversions.hpp"
#include "analytics/error.hpp"

namespace Korvanth {

namespace {

std::vector<std::string> categories(const xlframe::CellMatrix& range, const std::string& name, bool column) {
    std::vector<int> values;
    try {
        values = column ? cellMatrixToColumnVectorInt(range, name) : cellMatrixToRowVectorInt(range, name);
    } catch (const KorvanthException&) {
        return column ? cellMatrixToColumnVectorString(range, name) : cellMatrixToRowVectorString(range, name);
    }
    std::vector<std::string> keys;
    keys.reserve(values.size());
    for (int value : values) keys.push_back(std::to_string(value));  // the digits a stream writes for an int
    return keys;
}

}  // namespace

std::vector<std::string> cellMatrixToColumnCategories(const xlframe::CellMatrix& range, std::string name) {
    return categories(range, name, true);
}

std::vector<std::string> cellMatrixToRowCategories(const xlframe::CellMatrix& range, std::string name) {
    return categories(range, name, false);
}

void requireContiguousClasses(const std::vector<double>& lower, const std::vector<double>& upper) {
    for (std::size_t j = 0; j < lower.size(); ++j) {
        if (!(upper[j] > lower[j]))
            throw KorvanthTextException(
                "At least one upper boundary is not greater than a corresponding lower boundary");
        if (j > 0 && !(std::fabs(lower[j] - upper[j - 1]) <= 1e-10))
            throw KorvanthTextException(
                "At least one lower boundary of a category is not identical to the previous category's upper boundary");
    }
}

std::string streamText(double x) {
    std::ostringstream out;
    out << x;
    return out.str();
}

ScoreClasses::ScoreClasses(std::vector<double> lower, const std::vector<double>& upper) : lower_(std::move(lower)) {
    widenedUpper_.reserve(upper.size());
    for (double u : upper) widenedUpper_.push_back(u + tolerance);
    // The first class whose widened upper boundary reaches x is the only candidate once both
    // boundary sequences ascend: every earlier class ends below x, and if its lower boundary
    // is not below x, no later one is either. The test is false for NaN, which forces the scan.
    bisects_ = !lower_.empty() && lower_.size() == widenedUpper_.size();
    for (std::size_t j = 1; bisects_ && j < lower_.size(); ++j)
        bisects_ = lower_[j - 1] <= lower_[j] && widenedUpper_[j - 1] <= widenedUpper_[j];
}

std::ptrdiff_t ScoreClasses::bisect(double x) const noexcept {
    if (std::isnan(x)) return none;
    // Branch-free lower bound: the first widened upper boundary not below x.
    const double* first = widenedUpper_.data();
    const double* base = first;
    std::size_t length = widenedUpper_.size();
    while (length > 1) {
        const std::size_t half = length / 2;
        base = base[half - 1] < x ? base + half : base;
        length -= half;
    }
    const std::size_t j = static_cast<std::size_t>(base - first) + (*base < x ? 1 : 0);
    if (j < lower_.size() && lower_[j] < x) return static_cast<std::ptrdiff_t>(j);
    return none;
}

std::ptrdiff_t ScoreClasses::scan(double x) const noexcept {
    const std::size_t count = std::min(lower_.size(), widenedUpper_.size());
    for (std::size_t j = 0; j < count; ++j)
        if (lower_[j] < x && x <= widenedUpper_[j]) return static_cast<std::ptrdiff_t>(j);
    return none;
}

}  // namespace Korvanth
