#include "analytics/cross_tab.hpp"

#include <algorithm>
#include <cmath>

namespace Korvanth::CrossTab {

double weightOfEvidence(const Counts& c, const Counts& total) {
    const double S = static_cast<double>(total.survivals), D = static_cast<double>(total.defaults);
    double s = static_cast<double>(c.survivals), d = static_cast<double>(c.defaults);
    if (s < 0.5 / D) s = 0.5 / D;
    if (d < 0.5 / S) d = 0.5 / S;
    return std::log((s / S) / (d / D));
}

void automaticBoundaries(const std::vector<double>& t, std::size_t k, std::vector<double>& lower,
                         std::vector<double>& upper) {
    const std::size_t m = t.size();
    const std::size_t step = m / k;
    lower.assign(k, 0.0);
    upper.assign(k, 0.0);
    lower[0] = 2 * t[0] < -100000000.0 ? 2 * t[0] : -100000000.0;
    for (std::size_t j = 0; j + 1 < k; ++j) {
        const std::size_t i = (j + 1) * step;
        const double b = (t[i] + t[i + 1]) / 2;
        upper[j] = b;
        lower[j + 1] = b;
    }
    upper[k - 1] = 2 * t[m - 1] > 100000000.0 ? 2 * t[m - 1] : 100000000.0;
}

std::vector<double> sortedCopy(const std::vector<double>& scores) {
    std::vector<double> t(scores);
    const auto numbersEnd = std::partition(t.begin(), t.end(), [](double x) { return !std::isnan(x); });
    std::sort(t.begin(), numbersEnd);
    return t;
}

std::size_t tabulate(const ScoreClasses& classes, const std::vector<double>& scores, const std::vector<int>& indicators,
                     Tabulation& tab, std::vector<std::uint32_t>* classOf) {
    tab.counts.resize(classes.size());
    tab.members.assign(classes.size(), 0);
    if (classOf) classOf->resize(scores.size());
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const std::ptrdiff_t j = classes.find(scores[i]);
        if (j == ScoreClasses::none) return i;
        tab.counts[static_cast<std::size_t>(j)].add(indicators[i]);
        tab.total.add(indicators[i]);
        ++tab.members[static_cast<std::size_t>(j)];
        if (classOf) (*classOf)[i] = static_cast<std::uint32_t>(j);
    }
    return scores.size();
}

std::vector<double> mediansFromSorted(const std::vector<double>& t, const std::vector<std::size_t>& members) {
    std::vector<double> medians(members.size(), 0.0);
    std::size_t offset = 0;
    for (std::size_t j = 0; j < members.size(); ++j) {
        if (members[j] > 0) medians[j] = t[offset + members[j] / 2];
        offset += members[j];
    }
    return medians;
}

std::vector<double> mediansByClass(const std::vector<double>& scores, const std::vector<std::uint32_t>& classOf,
                                   const std::vector<std::size_t>& members) {
    std::vector<std::size_t> start(members.size() + 1, 0);
    for (std::size_t j = 0; j < members.size(); ++j) start[j + 1] = start[j] + members[j];
    std::vector<double> grouped(scores.size());
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < scores.size(); ++i) grouped[next[classOf[i]]++] = scores[i];
    std::vector<double> medians(members.size(), 0.0);
    for (std::size_t j = 0; j < members.size(); ++j) {
        if (members[j] == 0) continue;
        // Every score that found a class is a number, so the order is total.
        const auto first = grouped.begin() + static_cast<std::ptrdiff_t>(start[j]);
        const auto middle = first + static_cast<std::ptrdiff_t>(members[j] / 2);
        std::nth_element(first, middle, grouped.begin() + static_cast<std::ptrdiff_t>(start[j + 1]));
        medians[j] = *middle;
    }
    return medians;
}

}  // namespace Korvanth::CrossTab
