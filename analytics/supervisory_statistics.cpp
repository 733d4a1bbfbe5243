#include "analytics/supervisory_statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include <boost/math/distributions/normal.hpp>
#include <boost/math/special_functions/beta.hpp>

namespace Korvanth::Supervisory {

double jeffreysPValue(double debtors, double defaults, double pd) {
    return boost::math::ibeta(defaults + 0.5, debtors - defaults + 0.5, pd);
}

double binomialPValue(double debtors, double defaults, double pd) {
    if (defaults == 0) return 1.0;
    // P(X >= D) for X ~ Binomial(N, p) is the Beta(D, N - D + 1) distribution function at p.
    return boost::math::ibeta(defaults, debtors - defaults + 1.0, pd);
}

double upperNormalTail(double x) {
    return boost::math::cdf(boost::math::complement(boost::math::normal_distribution<double>(), x));
}

DeLong deLong(const ScoreGroups& groups) {
    const std::size_t k = groups.defaults.size();
    const std::int64_t nd = std::accumulate(groups.defaults.begin(), groups.defaults.end(), std::int64_t{0});
    const std::int64_t ns = std::accumulate(groups.survivals.begin(), groups.survivals.end(), std::int64_t{0});
    const double nD = static_cast<double>(nd), nS = static_cast<double>(ns);
    // A default of group g ranks as riskier the survivals of later groups and half of its own
    // group's; a survival of group g is ranked below the defaults of earlier groups and half of its
    // own group's. Both means are the AUROC.
    std::vector<double> v10(k), v01(k);
    std::int64_t defaultsBefore = 0, survivalsAfter = ns;
    for (std::size_t g = 0; g < k; ++g) {
        survivalsAfter -= groups.survivals[g];
        v10[g] = (static_cast<double>(survivalsAfter) + 0.5 * static_cast<double>(groups.survivals[g])) / nS;
        v01[g] = (static_cast<double>(defaultsBefore) + 0.5 * static_cast<double>(groups.defaults[g])) / nD;
        defaultsBefore += groups.defaults[g];
    }
    double auroc = 0;
    for (std::size_t g = 0; g < k; ++g) auroc += static_cast<double>(groups.defaults[g]) * v10[g];
    auroc /= nD;
    // Both variances about the AUROC in a second pass. Placement values
    // that are all equal have no variance, whatever the rounding of their mean.
    double s10 = 0, s01 = 0;
    bool spread10 = false, spread01 = false;
    double first10 = -1, first01 = -1;
    for (std::size_t g = 0; g < k; ++g) {
        if (groups.defaults[g] != 0) {
            if (first10 < 0) first10 = v10[g];
            spread10 = spread10 || v10[g] != first10;
            s10 += static_cast<double>(groups.defaults[g]) * (v10[g] - auroc) * (v10[g] - auroc);
        }
        if (groups.survivals[g] != 0) {
            if (first01 < 0) first01 = v01[g];
            spread01 = spread01 || v01[g] != first01;
            s01 += static_cast<double>(groups.survivals[g]) * (v01[g] - auroc) * (v01[g] - auroc);
        }
    }
    if (!spread10) s10 = 0;
    if (!spread01) s01 = 0;
    const double variance = s10 / (nD - 1.0) / nD + s01 / (nS - 1.0) / nS;
    return {auroc, std::sqrt(variance)};
}

KolmogorovSmirnov kolmogorovSmirnov(const ScoreGroups& groups) {
    const std::int64_t nd = std::accumulate(groups.defaults.begin(), groups.defaults.end(), std::int64_t{0});
    const std::int64_t ns = std::accumulate(groups.survivals.begin(), groups.survivals.end(), std::int64_t{0});
    // |d / N_D - s / N_S| compared as |d N_S - s N_D|: exact in 64 bits for any count a sheet holds.
    std::int64_t d = 0, s = 0, best = -1;
    KolmogorovSmirnov result;
    for (std::size_t g = 0; g < groups.defaults.size(); ++g) {
        d += groups.defaults[g];
        s += groups.survivals[g];
        const std::int64_t distance = std::llabs(d * ns - s * nd);
        if (distance > best) {
            best = distance;
            result.group = g;
        }
    }
    result.distance = static_cast<double>(best) / (static_cast<double>(nd) * static_cast<double>(ns));
    return result;
}

Concentration concentration(std::span<const double> counts) {
    const double k = static_cast<double>(counts.size());
    const double total = std::accumulate(counts.begin(), counts.end(), 0.0);
    double squares = 0;
    for (double c : counts) {
        const double gap = c / total - 1.0 / k;
        squares += gap * gap;
    }
    const double cv = std::sqrt(k * squares);
    return {cv, 1.0 + std::log((cv * cv + 1.0) / k) / std::log(k)};
}

Stability populationStability(std::span<const double> reference, std::span<const double> current) {
    const double totalReference = std::accumulate(reference.begin(), reference.end(), 0.0);
    const double totalCurrent = std::accumulate(current.begin(), current.end(), 0.0);
    Stability s;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double r = reference[i] / totalReference;
        const double c = current[i] / totalCurrent;
        s.referenceShares.push_back(r);
        s.currentShares.push_back(c);
        s.contributions.push_back((c - r) * std::log(c / r));
        s.index += s.contributions.back();
    }
    return s;
}

Migrations migrations(std::span<const std::int64_t> before, std::span<const std::int64_t> after) {
    Migrations m;
    const std::size_t n = before.size();
    std::int64_t largest = 0;
    for (std::size_t i = 0; i < n; ++i) largest = std::max({largest, before[i], after[i]});
    m.grades = static_cast<std::size_t>(largest);
    m.startingTotals.assign(m.grades, 0);
    // The cells from sorted pairs: memory grows with the debtors, not with the square of the grades.
    std::vector<std::pair<std::int64_t, std::int64_t>> pairs(n);
    std::int64_t stayed = 0, up = 0, down = 0, far = 0;
    for (std::size_t i = 0; i < n; ++i) {
        pairs[i] = {before[i], after[i]};
        ++m.startingTotals[static_cast<std::size_t>(before[i] - 1)];
        const std::int64_t step = after[i] - before[i];
        stayed += step == 0;
        up += step < 0;
        down += step > 0;
        far += step <= -2 || step >= 2;
    }
    std::sort(pairs.begin(), pairs.end());
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i;
        while (j < n && pairs[j] == pairs[i]) ++j;
        m.cells.push_back({static_cast<std::size_t>(pairs[i].first - 1), static_cast<std::size_t>(pairs[i].second - 1),
                           static_cast<std::int64_t>(j - i)});
        i = j;
    }
    const double all = static_cast<double>(n);
    m.stayed = static_cast<double>(stayed) / all;
    m.upgraded = static_cast<double>(up) / all;
    m.downgraded = static_cast<double>(down) / all;
    m.movedTwoOrMore = static_cast<double>(far) / all;
    return m;
}

}  // namespace Korvanth::Supervisory
