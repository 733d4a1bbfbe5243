// Category keys of a range, and the lookup of a number in a table of score classes.
//
//   std::vector<std::string> keys = Korvanth::cellMatrixToColumnCategories(range, "categories");
//   Korvanth::ScoreClasses classes(lower, upper);
//   std::ptrdiff_t j = classes.find(0.3);   // first class (lower, upper], or ScoreClasses::none
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "xlframe/cell_matrix.hpp"

namespace Korvanth {

// Numbers become the decimal text of their integer part (2.9 gives "2"); a range that is not
// all numbers is read as texts instead, and that conversion's error is the one reported.
std::vector<std::string> cellMatrixToColumnCategories(const xlframe::CellMatrix& range, std::string name);
std::vector<std::string> cellMatrixToRowCategories(const xlframe::CellMatrix& range, std::string name);

// Each class must be a proper interval that starts where the previous one ends (within 1e-10);
// throws the worksheet text of the first class that is not. Both vectors must be equally long.
void requireContiguousClasses(const std::vector<double>& lower, const std::vector<double>& upper);

// x as a standard output stream writes a double (six significant digits), for messages.
std::string streamText(double x);

// Class j takes the numbers x with lower[j] < x <= upper[j] + 1e-15; a number belongs to the
// first class (in ascending j) that takes it. When the lower and the widened upper boundaries
// both ascend, that class is found by bisection; otherwise every class is tried in order.
class ScoreClasses {
   public:
    static constexpr std::ptrdiff_t none = -1;

    // Both vectors must be equally long.
    ScoreClasses(std::vector<double> lower, const std::vector<double>& upper);

    std::ptrdiff_t find(double x) const noexcept { return bisects_ ? bisect(x) : scan(x); }
    std::size_t size() const noexcept { return lower_.size(); }
    bool bisects() const noexcept { return bisects_; }

    static constexpr double tolerance = 1e-15;

   private:
    std::ptrdiff_t bisect(double x) const noexcept;
    std::ptrdiff_t scan(double x) const noexcept;

    std::vector<double> lower_;
    std::vector<double> widenedUpper_;  // upper[j] + tolerance, as the ordered test forms it
    bool bisects_ = false;
};

}  // namespace Korvanth
