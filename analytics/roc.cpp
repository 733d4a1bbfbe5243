// ROC buckets and statistics; the AUROC's variance follows the sums over the buckets' shares.
#include "analytics/roc.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "analytics/distributions.hpp"

namespace Korvanth {

using Distributions::inverseCumulativeNormal;

double hitRateAt(const Buckets& b, double x) {
    const auto& far = b.falseAlarmRate;
    const auto& hr = b.hitRate;
    if (x < far[0]) return x * hr[0] / far[0];
    std::size_t lo = 0, hi = far.size() - 1;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (far[mid] < x) lo = mid; else hi = mid;
    }
    // A vertical piece (a bucket without survivals) meets x at its lower end.
    if (!(far[hi] != far[lo])) return hr[lo];
    return hr[lo] + (hr[hi] - hr[lo]) / (far[hi] - far[lo]) * (x - far[lo]);
}

RocStatistics RocSums::finish(std::int64_t defaults, std::int64_t survivals) {
    settle(true);
    const double nd = static_cast<double>(defaults);
    const double ns = static_cast<double>(survivals);
    const double auroc = auroc_;
    const double v = ((nd - 1) * a_ + c_ + (ns - 1) * b_ - 4 * (nd + ns - 1) * (auroc - 0.5) * (auroc - 0.5)) /
                     (4 * (nd - 1) * (ns - 1));
    const double z = inverseCumulativeNormal(0.975);
    RocStatistics r;
    r.auroc = auroc;
    r.lower = auroc - z * std::sqrt(v);
    r.upper = auroc + z * std::sqrt(v);
    return r;
}

// Aligned to a cache line: where its loop fell across lines moved the time of a full column's
// sums by a tenth from one build to the next.
__attribute__((aligned(64))) void RocSums::addSingles(std::span<const std::uint8_t> defaulted, double defaultShare,
                                                      double survivalShare) {
    // The first buckets have none before them, and the pending one may hold several debtors: both
    // take the general way, which leaves a bucket of one debtor pending, not the first.
    std::size_t i = 0;
    if (defaulted.empty()) return;
    do {
        addOne(defaulted[i++] != 0, defaultShare, survivalShare);
    } while (i < defaulted.size() && buckets_ < 2);
    if (i == defaulted.size()) return;
    buckets_ += defaulted.size() - i;
    Bucket now = pending_, before = before_;
    double auroc = auroc_, a = a_, b = b_;
    for (; i < defaulted.size(); ++i) {
        // settle(false) of a bucket of one debtor: only its own chain of additions.
        if (now.q != 0) {
            a += now.q * before.hitRate * before.hitRate;
            a += now.q * (1 - now.hitRate) * (1 - now.hitRate);
            a -= 2 * now.q * before.hitRate * (1 - now.hitRate);
        } else {
            b += now.p * before.falseAlarmRate * before.falseAlarmRate;
            b += now.p * (1 - now.falseAlarmRate) * (1 - now.falseAlarmRate);
            b -= 2 * now.p * before.falseAlarmRate * (1 - now.falseAlarmRate);
        }
        before = now;
        if (defaulted[i] != 0) {
            // The false alarm rate stays, so the AUROC gains an exact zero.
            now = {defaultShare, 0.0, before.hitRate + defaultShare, before.falseAlarmRate};
        } else {
            const double falseAlarmRate = before.falseAlarmRate + survivalShare;
            auroc += 0.5 * (falseAlarmRate - before.falseAlarmRate) * (before.hitRate + before.hitRate);
            now = {0.0, survivalShare, before.hitRate, falseAlarmRate};
        }
    }
    pending_ = now;
    before_ = before;
    auroc_ = auroc;
    a_ = a;
    b_ = b;
}

RocStatistics computeRocStatistics(const Buckets& b, long long m, std::size_t maxPoints) {
    const std::size_t n = b.p.size();
    const auto& hr = b.hitRate;
    const auto& far = b.falseAlarmRate;
    RocSums sums;
    for (std::size_t k = 0; k < n; ++k) sums.add(b.p[k], b.q[k], hr[k], far[k]);
    RocStatistics r = sums.finish(b.defaults, b.survivals);
    if (m == 0) return r;
    if (m > 0 && static_cast<unsigned long long>(m) == n && n + 1 <= maxPoints) {
        r.curve.reserve(n + 1);
        r.curve.emplace_back(0.0, 0.0);
        for (std::size_t k = 0; k < n; ++k) r.curve.emplace_back(far[k], hr[k]);
        return r;
    }
    r.curve.emplace_back(0.0, 0.0);
    if (m < 1) return r;
    // More points than a sheet shows: a coarser grid, so that the curve still spans every false
    // alarm rate rather than stopping short of its end.
    m = std::min<long long>(m, static_cast<long long>(maxPoints));
    const double step = 1.0 / static_cast<double>(m);
    const std::size_t points = static_cast<std::size_t>(m);
    r.curve.reserve(points);
    for (std::size_t j = 1; j < points; ++j) {
        const double x = static_cast<double>(j) * step;
        r.curve.emplace_back(x, hitRateAt(b, x));
    }
    return r;
}

// Aggregate data: one bucket per grade, stable order by input position among equal scores.
Buckets aggregateBuckets(std::vector<Grade> grades, std::int64_t nd, std::int64_t ns, int scoreIndex) {
    std::stable_sort(grades.begin(), grades.end(), [&](const Grade& x, const Grade& y) {
        return scoreIndex == 0 ? orderKey(x.score) < orderKey(y.score) : orderKey(x.score) > orderKey(y.score);
    });
    Buckets b;
    b.defaults = nd;
    b.survivals = ns;
    for (const Grade& g : grades) b.add(g.defaults, g.survivals);
    return b;
}

namespace {

// Calls bucket(d, s) for each bucket of rankedBuckets, riskiest first; countsAt(k) gives rank k's
// defaults and survivals.
template <class CountsAt, class Bucket>
void walkRankedBuckets(const RankedRating& r, int scoreIndex, CountsAt countsAt, Bucket bucket) {
    const std::size_t u = r.ranks.distinct.size();
    auto at = [&](std::size_t j) { return scoreIndex == 0 ? j : u - 1 - j; };
    double reference = scoreOfKey(r.ranks.distinct[at(0)]);
    std::int64_t d = 0, s = 0;
    for (std::size_t j = 0; j < u; ++j) {
        const std::size_t k = at(j);
        const double score = scoreOfKey(r.ranks.distinct[k]);
        if (std::fabs(score - reference) >= 1e-10) {
            bucket(d, s);
            d = s = 0;
            reference = score;
        }
        const auto [dk, sk] = countsAt(k);
        d += dk;
        s += sk;
    }
    bucket(d, s);
}

template <class Bucket>
void walkRankedBuckets(const RankedRating& r, int scoreIndex, Bucket bucket) {
    r.withCountsAt([&](auto countsAt) { walkRankedBuckets(r, scoreIndex, countsAt, bucket); });
}

}  // namespace

Buckets rankedBuckets(const RankedRating& r, int scoreIndex) {
    Buckets b;
    b.defaults = r.totalDefaults;
    b.survivals = r.totalSurvivals;
    const std::size_t u = r.ranks.distinct.size();
    for (auto* v : {&b.p, &b.q, &b.hitRate, &b.falseAlarmRate}) v->reserve(u);
    walkRankedBuckets(r, scoreIndex, [&](std::int64_t d, std::int64_t s) {
        b.add(static_cast<double>(d), static_cast<double>(s));
    });
    return b;
}

RocStatistics rankedRocStatistics(const RankedRating& r, int scoreIndex) {
    const std::int64_t nd = r.totalDefaults, ns = r.totalSurvivals;
    RocSums sums;
    // Buckets of one debtor, as most are where scores are distinct, are added in batches and
    // without divisions.
    const double defaultShare = 1 / static_cast<double>(nd), survivalShare = 1 / static_cast<double>(ns);
    std::uint8_t singles[512];
    std::size_t pending = 0;
    auto flush = [&] {
        sums.addSingles(std::span<const std::uint8_t>(singles, pending), defaultShare, survivalShare);
        pending = 0;
    };
    // Kept out of the walk's loop, so that the walk stays small enough to be inlined.
    auto several = [&](std::int64_t d, std::int64_t s) __attribute__((noinline)) {
        flush();
        sums.add(static_cast<double>(d), static_cast<double>(s), nd, ns);
    };
    walkRankedBuckets(r, scoreIndex, [&](std::int64_t d, std::int64_t s) {
        if (d + s != 1) return several(d, s);
        singles[pending++] = static_cast<std::uint8_t>(d);
        if (pending == std::size(singles)) flush();
    });
    flush();
    return sums.finish(nd, ns);
}

// The order and buckets of rankedBuckets, with the counts and each bucket's first score. With
// many ties the counts per distinct score come from the ranking's table, as the AUROC difference
// ranks; with few, one radix sort of (key, flag) pairs and a walk, as the ROC curve does, since ranking
// would then look every debtor up at random. Both give the same buckets; only the time differs.
Supervisory::ScoreGroups riskGroups(const std::vector<double>& scores, const std::vector<std::uint8_t>& defaulted,
                                    int scoreIndex, std::vector<double>& groupScores) {
    const std::size_t n = scores.size();
    Supervisory::ScoreGroups g;
    auto open = [&](double score) {
        groupScores.push_back(score);
        g.defaults.push_back(0);
        g.survivals.push_back(0);
    };
    // The first scores tell which: a rating's grades or rounded scores repeat within them.
    const std::size_t sample = std::min<std::size_t>(n, 65536);
    const KeyRanks head = rankScores(std::span<const double>(scores).first(sample), false);
    if (head.distinct.size() * 8 <= sample) {
        const RankedRating r =
            rankRating(rankScores(scores, false),
                       Flags(defaulted.begin(), defaulted.end()));
        const std::size_t u = r.ranks.distinct.size();
        double reference = 0;
        for (std::size_t j = 0; j < u; ++j) {
            const std::size_t k = scoreIndex == 0 ? j : u - 1 - j;
            const double score = scoreOfKey(r.ranks.distinct[k]);
            if (j == 0 || std::fabs(score - reference) >= 1e-10) open(reference = score);
            g.defaults.back() += r.defaultsAt(k);
            g.survivals.back() += r.survivalsAt(k);
        }
        return g;
    }
    struct Keyed {
        std::uint64_t key;
        std::uint8_t defaulted;
    };
    std::vector<Keyed, UnsetAllocator<Keyed>> keyed(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = orderKey(scores[i]);
        keyed[i] = {scoreIndex == 0 ? key : ~key, defaulted[i]};
    }
    radixSortByKey(keyed);
    auto scoreOf = [&](std::uint64_t key) { return scoreOfKey(scoreIndex != 0 ? ~key : key); };
    double reference = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double score = scoreOf(keyed[i].key);
        if (i == 0 || std::fabs(score - reference) >= 1e-10) open(reference = score);
        ++(keyed[i].defaulted != 0 ? g.defaults : g.survivals).back();
    }
    return g;
}

}  // namespace Korvanth
