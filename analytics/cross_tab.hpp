// Cross tabulation of a risk driver against defaults: survivals and defaults per class, the
// weight of evidence, and for numerical drivers classes of about equal size and their medians.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analytics/categories.hpp"

namespace Korvanth::CrossTab {

// Counts in 64 bits: a full column of one outcome must not overflow.
struct Counts {
    std::int64_t survivals = 0;
    std::int64_t defaults = 0;
    void add(int indicator) { (indicator == 0 ? survivals : defaults) += 1; }
};

// ln((s / S) / (d / D)) of a class with s survivals and d defaults among totals S and D (both
// positive); a zero count is replaced by half an observation relative to the other outcome's total.
double weightOfEvidence(const Counts& c, const Counts& total);

// Classes of about equal size from the sorted scores t; m > k, or k = 1.
void automaticBoundaries(const std::vector<double>& t, std::size_t k, std::vector<double>& lower,
                         std::vector<double>& upper);

// NaN cannot be ordered; it goes last, where it can only ever fail the class lookup.
std::vector<double> sortedCopy(const std::vector<double>& scores);

struct Tabulation {
    std::vector<Counts> counts;
    std::vector<std::size_t> members;
    Counts total;
};

// Counts of each class; `classOf` (when given) receives each score's class. Returns the position
// of the first score that no class takes, or scores.size() when every score has its class.
std::size_t tabulate(const ScoreClasses& classes, const std::vector<double>& scores, const std::vector<int>& indicators,
                     Tabulation& tab, std::vector<std::uint32_t>* classOf);

// Median of each class: the entry at floor(n / 2) of its sorted scores (the upper middle one).
// From the sorted scores t when classes ascend (class j is then a contiguous block of t), or
// from each score's class.
std::vector<double> mediansFromSorted(const std::vector<double>& t, const std::vector<std::size_t>& members);
std::vector<double> mediansByClass(const std::vector<double>& scores, const std::vector<std::uint32_t>& classOf,
                                   const std::vector<std::size_t>& members);

}  // namespace Korvanth::CrossTab
