// Discriminatory power of rating systems: ROC curves with the AUROC and its confidence
// interval, the chi-square test of the difference of two AUROCs, and the adjusted PowerStat.
#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <numeric>
#include <stdexcept>
#include <utility>
#include <vector>

#include "analytics/conversions.hpp"
#include "analytics/distributions.hpp"
#include "analytics/matrix.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/concordance.hpp"
#include "functions/paired_ranges.hpp"
#include "functions/result_size.hpp"
#include "functions/score_groups.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

using Distributions::cumulativeGamma;
using Distributions::inverseCumulativeNormal;

constexpr const char* powerStatUndefinedText =
    "not defined (the area of the perfect rating is zero up to rounding: the shadow PDs do not differ)";

// A total order on doubles that agrees with < on numbers: -0 equals +0 and every NaN sorts
// last, so that sorting never meets an inconsistent comparison.
std::uint64_t orderKey(double x) {
    if (std::isnan(x)) return ~std::uint64_t{0};
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x + 0.0);
    return (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
}

// The score orderKey was made from (NaN for every NaN, +0 for -0).
double scoreOfKey(std::uint64_t key) {
    if (key == ~std::uint64_t{0}) return std::nan("");
    const std::uint64_t bits = (key >> 63) ? key & ~(std::uint64_t{1} << 63) : ~key;
    return std::bit_cast<double>(bits);
}

// Shares of defaults and survivals per bucket, riskiest bucket first.
struct Buckets {
    std::vector<double, UnsetAllocator<double>> p, q, hitRate, falseAlarmRate;
    std::int64_t defaults = 0;   // N_D, 64 bits so that large counts cannot overflow
    std::int64_t survivals = 0;  // N_S
    void add(double d, double s) {
        const double pk = d / static_cast<double>(defaults);
        const double qk = s / static_cast<double>(survivals);
        p.push_back(pk);
        q.push_back(qk);
        hitRate.push_back(hitRate.empty() ? pk : hitRate.back() + pk);
        falseAlarmRate.push_back(falseAlarmRate.empty() ? qk : falseAlarmRate.back() + qk);
    }
};

void requireBothOutcomes(std::int64_t defaults, std::int64_t survivals) {
    if (defaults == 0) fail("The data do not contain a single default");
    if (survivals == 0) fail("The data do not contain a single survival");
}

struct RocStatistics {
    double auroc = 0, lower = 0, upper = 0;
    std::vector<std::pair<double, double>> curve;
};

// Hit rate at false alarm rate x, read off the piecewise linear curve.
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

RocStatistics computeRocStatistics(const Buckets& b, long long m, std::size_t maxPoints) {
    const std::size_t n = b.p.size();
    const auto& p = b.p;
    const auto& q = b.q;
    const auto& hr = b.hitRate;
    const auto& far = b.falseAlarmRate;
    RocStatistics r;
    double auroc = 0.5 * far[0] * hr[0];
    for (std::size_t k = 1; k < n; ++k) auroc += 0.5 * (far[k] - far[k - 1]) * (hr[k - 1] + hr[k]);
    double a = 0, bb = 0, c = 1;
    for (std::size_t k = 0; k < n; ++k) {
        if (k >= 1) {
            a += q[k] * hr[k - 1] * hr[k - 1];
            bb += p[k] * far[k - 1] * far[k - 1];
        }
        if (k + 1 < n) {
            a += q[k] * (1 - hr[k]) * (1 - hr[k]);
            bb += p[k] * (1 - far[k]) * (1 - far[k]);
        }
        if (k >= 1 && k + 1 < n) {
            a -= 2 * q[k] * hr[k - 1] * (1 - hr[k]);
            bb -= 2 * p[k] * far[k - 1] * (1 - far[k]);
        }
        c -= p[k] * q[k];
    }
    const double nd = static_cast<double>(b.defaults);
    const double ns = static_cast<double>(b.survivals);
    const double v = ((nd - 1) * a + c + (ns - 1) * bb - 4 * (nd + ns - 1) * (auroc - 0.5) * (auroc - 0.5)) /
                     (4 * (nd - 1) * (ns - 1));
    const double z = inverseCumulativeNormal(0.975);
    r.auroc = auroc;
    r.lower = auroc - z * std::sqrt(v);
    r.upper = auroc + z * std::sqrt(v);
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

CellMatrix rocTable(const RocStatistics& r, bool withCurve) {
    CellMatrix result(withCurve ? r.curve.size() + 3 : 2, 2);
    result(0, 0) = "AUROC";
    result(0, 1) = r.auroc;
    result(1, 0) = r.lower;
    result(1, 1) = r.upper;
    if (!withCurve) return result;
    result(2, 0) = "False Alarm Rate";
    result(2, 1) = "Hit Rate";
    for (std::size_t j = 0; j < r.curve.size(); ++j) {
        result(3 + j, 0) = r.curve[j].first;
        result(3 + j, 1) = r.curve[j].second;
    }
    return result;
}

struct IndividualData {
    std::vector<double> scores;
    std::vector<int> indicators;
};

IndividualData readIndividual(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex,
                              int outputIndex) {
    if (!isVector(scores)) fail("The cell range for the scores is not one-dimensional");
    if (!isVector(indicators)) fail("The cell range for the indicators is not one-dimensional");
    if (!sameShape(scores, indicators)) fail("The dimensions of the vectors for scores and indicators are not equal");
    requireZeroOrOne(scoreIndex, "scoreIndex");
    requireZeroOrOne(outputIndex, "outputIndex");
    const PairedRows rows({{indicators, "indicators"}, {scores, "scores"}}, scores.Columns() == 1);
    IndividualData data;
    data.indicators = rows.integers(0);
    data.scores = rows.numbers(1);
    for (int y : data.indicators)
        if (y != 0 && y != 1) fail("At least one indicator is not Zero or One");
    return data;
}

struct Grade {
    double score;
    double survivals;
    double defaults;
};

// Aggregate data: one bucket per grade, stable order by input position among equal scores.
Buckets aggregateBuckets(std::vector<Grade> grades, std::int64_t nd, std::int64_t ns, int scoreIndex) {
    requireBothOutcomes(nd, ns);
    std::stable_sort(grades.begin(), grades.end(), [&](const Grade& x, const Grade& y) {
        return scoreIndex == 0 ? orderKey(x.score) < orderKey(y.score) : orderKey(x.score) > orderKey(y.score);
    });
    Buckets b;
    b.defaults = nd;
    b.survivals = ns;
    for (const Grade& g : grades) b.add(g.defaults, g.survivals);
    return b;
}


// Fenwick tree of weights over positions 0..n-1.
// Its sums are 32 bits, half the cache a full column's tree would take otherwise: the total
// weight it may ever hold is given and must stay below 2^32.
class WeightTree {
public:
    WeightTree(std::size_t n, std::uint64_t total) : tree_(n + 1, 0) {
        if (total > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("too many weights");
    }
    void add(std::size_t position, std::uint32_t weight) {
        for (std::size_t i = position + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += weight;
    }
    // Total weight at positions below `end`.
    std::int64_t below(std::size_t end) const {
        std::uint32_t sum = 0;
        for (std::size_t i = end; i > 0; i -= i & (~i + 1)) sum += tree_[i];
        return sum;
    }

private:
    std::vector<std::uint32_t, UnsetAllocator<std::uint32_t>> tree_;
};

// Sorts items by their member `key` with a least-significant-digit radix sort: one pass per 11
// bits of the key, none where every key has the same digit there, all counts from one read.
template <class T>
void radixSortByKey(std::vector<T, UnsetAllocator<T>>& items) {
    constexpr int bits = 11, passes = 6;
    constexpr std::size_t width = std::size_t{1} << bits;
    const std::size_t n = items.size();
    if (n < 2) return;
    std::vector<std::uint32_t> counts(passes * width, 0);  // positions are 32 bits too
    for (const T& item : items)
        for (int p = 0; p < passes; ++p) ++counts[p * width + ((item.key >> (p * bits)) & (width - 1))];
    std::vector<T, UnsetAllocator<T>> other(n);
    for (int p = 0; p < passes; ++p) {
        std::uint32_t* next = counts.data() + p * width;
        if (next[(items[0].key >> (p * bits)) & (width - 1)] == n) continue;
        for (std::uint32_t d = 0, start = 0; d < width; ++d) start += std::exchange(next[d], start);
        for (const T& item : items) other[next[(item.key >> (p * bits)) & (width - 1)]++] = item;
        items.swap(other);
    }
}

// Ranks by sorting (key, position) pairs: for many distinct keys, where a table would not fit in
// the cache.
template <class KeyAt>
KeyRanks rankBySorting(std::size_t n, KeyAt keyAt) {
    struct Keyed {
        std::uint64_t key;
        std::uint32_t position;
    };
    std::vector<Keyed, UnsetAllocator<Keyed>> keyed(n);
    for (std::size_t i = 0; i < n; ++i) keyed[i] = {keyAt(i), static_cast<std::uint32_t>(i)};
    radixSortByKey(keyed);
    KeyRanks r{Ranks(n), {}};
    r.distinct.reserve(n);
    for (const auto& [key, position] : keyed) {
        if (r.distinct.empty() || r.distinct.back() != key) r.distinct.push_back(key);
        r.rank[position] = static_cast<std::uint32_t>(r.distinct.size() - 1);
    }
    return r;
}

// keyAt(i) gives the i-th of n keys; it is called once per key, or twice when sorting takes over.
template <class KeyAt>
KeyRanks rankKeysBy(std::size_t n, KeyAt keyAt) {
    // Ids in order of first appearance from an open-addressing table, then the distinct keys
    // sorted; too many distinct keys, or a long probe, and sorting every key is cheaper.
    const std::size_t limit = std::max<std::size_t>(n / 8, 1024);
    constexpr std::uint32_t vacant = ~std::uint32_t{0};
    struct Slot {
        std::uint64_t key;
        std::uint32_t id;
    };
    int bits = 8;
    std::vector<Slot> table(std::size_t{1} << bits, Slot{0, vacant});
    std::vector<std::uint64_t> seen;
    KeyRanks r{Ranks(n), {}};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = keyAt(i);
        const std::size_t mask = table.size() - 1;
        std::size_t h = static_cast<std::size_t>(mixKey(key) >> (64 - bits));
        for (int probes = 0; table[h].id != vacant && table[h].key != key; h = (h + 1) & mask)
            if (++probes > 64) return rankBySorting(n, keyAt);
        if (table[h].id == vacant) {
            // Mostly new keys after the first few thousand: they will not be few.
            if (seen.size() == limit || (i >= 4096 && 2 * seen.size() > i)) return rankBySorting(n, keyAt);
            table[h] = {key, static_cast<std::uint32_t>(seen.size())};
            seen.push_back(key);
            r.rank[i] = table[h].id;
            if (2 * seen.size() > table.size()) {
                ++bits;
                table.assign(std::size_t{1} << bits, Slot{0, vacant});
                const std::size_t wider = table.size() - 1;
                for (std::size_t id = 0; id < seen.size(); ++id) {
                    std::size_t g = static_cast<std::size_t>(mixKey(seen[id]) >> (64 - bits));
                    while (table[g].id != vacant) g = (g + 1) & wider;
                    table[g] = {seen[id], static_cast<std::uint32_t>(id)};
                }
            }
        } else {
            r.rank[i] = table[h].id;
        }
    }
    std::vector<std::uint32_t> byKey(seen.size());
    std::iota(byKey.begin(), byKey.end(), std::uint32_t{0});
    std::sort(byKey.begin(), byKey.end(), [&](std::uint32_t x, std::uint32_t y) { return seen[x] < seen[y]; });
    std::vector<std::uint32_t> rankOf(seen.size());
    r.distinct = std::vector<std::uint64_t>(seen.size());
    for (std::size_t k = 0; k < byKey.size(); ++k) {
        rankOf[byKey[k]] = static_cast<std::uint32_t>(k);
        r.distinct[k] = seen[byKey[k]];
    }
    for (std::uint32_t& x : r.rank) x = rankOf[x];
    return r;
}

// Per rank, how many of the counted lie above it minus how many lie below it.
using Counts = std::vector<std::int64_t, UnsetAllocator<std::int64_t>>;

Counts signedCounts(const Counts& perRank, std::int64_t total) {
    Counts result(perRank.size());
    std::int64_t below = 0;
    for (std::size_t r = 0; r < perRank.size(); ++r) {
        result[r] = total - below - perRank[r] - below;
        below += perRank[r];
    }
    return result;
}

// One rating of individual data in rank space: the debtors' ranks, the distinct keys, and the
// defaults and survivals per rank.
struct RankedRating {
    KeyRanks ranks;
    Counts defaults, survivals;
};

using Flags = std::vector<std::uint8_t, UnsetAllocator<std::uint8_t>>;

RankedRating rankRating(KeyRanks ranks, const Flags& defaulted) {
    RankedRating r{std::move(ranks), {}, {}};
    r.defaults.assign(r.ranks.distinct.size(), 0);
    r.survivals.assign(r.ranks.distinct.size(), 0);
    for (std::size_t i = 0; i < defaulted.size(); ++i) ++(defaulted[i] != 0 ? r.defaults : r.survivals)[r.ranks.rank[i]];
    return r;
}

// The same buckets as individualBuckets, from the counts per distinct score: equal scores always
// share a bucket, so walking the distinct scores decides as walking every debtor does.
Buckets rankedBuckets(const RankedRating& r, int scoreIndex) {
    Buckets b;
    b.defaults = std::accumulate(r.defaults.begin(), r.defaults.end(), std::int64_t{0});
    b.survivals = std::accumulate(r.survivals.begin(), r.survivals.end(), std::int64_t{0});
    requireBothOutcomes(b.defaults, b.survivals);
    const std::size_t u = r.ranks.distinct.size();
    for (auto* v : {&b.p, &b.q, &b.hitRate, &b.falseAlarmRate}) v->reserve(u);
    auto at = [&](std::size_t j) { return scoreIndex == 0 ? j : u - 1 - j; };
    double reference = scoreOfKey(r.ranks.distinct[at(0)]);
    std::int64_t d = 0, s = 0;
    for (std::size_t j = 0; j < u; ++j) {
        const std::size_t k = at(j);
        const double score = scoreOfKey(r.ranks.distinct[k]);
        if (std::fabs(score - reference) >= 1e-10) {
            b.add(static_cast<double>(d), static_cast<double>(s));
            d = s = 0;
            reference = score;
        }
        d += r.defaults[k];
        s += r.survivals[k];
    }
    b.add(static_cast<double>(d), static_cast<double>(s));
    return b;
}

// Individual data, checked: buckets of scores closer than 1e-10 to the bucket's first score,
// riskiest first (ascending scores for scoreIndex 0), from the counts per distinct score.
Buckets individualBuckets(const std::vector<double>& scores, const std::vector<int>& indicators, int scoreIndex) {
    const std::size_t n = scores.size();
    Flags defaulted(n);
    for (std::size_t i = 0; i < n; ++i) defaulted[i] = indicators[i] != 0;
    return rankedBuckets(rankRating(rankKeysBy(n, [&](std::size_t i) { return orderKey(scores[i]); }), defaulted),
                         scoreIndex);
}

struct PairsTerms {
    std::int64_t count = 0;     // sum over (default, survival) of sign(rating 1) * sign(rating 2)
    double survivalTriple = 0;  // sum over survivals of (defaults above - below), rating 1 times rating 2
    double defaultTriple = 0;   // sum over defaults of (survivals above - below), rating 1 times rating 2
};

// The pairs and triples terms from both ratings' ranks. The debtors are grouped by their rating-1
// rank with a counting sort; a sweep over the groups keeps the defaults of lower groups in a
// Fenwick tree over rating-2 ranks. The triples are added in the order of a sweep over the
// survivals by descending rating 1 (and over the defaults by ascending rating 1), later
// positions first among equals (earlier first), so that their rounding is always the same.
PairsTerms pairsTerms(const RankedRating& one, const RankedRating& two, const Flags& defaulted) {
    const std::size_t u1 = one.ranks.distinct.size(), u2 = two.ranks.distinct.size();
    const std::int64_t nd = std::accumulate(one.defaults.begin(), one.defaults.end(), std::int64_t{0});
    const std::int64_t ns = std::accumulate(one.survivals.begin(), one.survivals.end(), std::int64_t{0});
    using Starts = std::vector<std::size_t, UnsetAllocator<std::size_t>>;
    Starts dStart(u1 + 1, 0), sStart(u1 + 1, 0);
    for (std::size_t r = 0; r < u1; ++r) {
        dStart[r + 1] = dStart[r] + static_cast<std::size_t>(one.defaults[r]);
        sStart[r + 1] = sStart[r] + static_cast<std::size_t>(one.survivals[r]);
    }
    // Each group's rating-2 ranks, in input order.
    Ranks dRank2(static_cast<std::size_t>(nd)), sRank2(static_cast<std::size_t>(ns));
    {
        Starts dNext(dStart.begin(), dStart.end() - 1), sNext(sStart.begin(), sStart.end() - 1);
        const std::uint32_t* rank1 = one.ranks.rank.data();
        const std::uint32_t* rank2 = two.ranks.rank.data();
        for (std::size_t i = 0; i < defaulted.size(); ++i) {
            if (defaulted[i] != 0)
                dRank2[dNext[rank1[i]]++] = rank2[i];
            else
                sRank2[sNext[rank1[i]]++] = rank2[i];
        }
    }
    const Counts dSigned1 = signedCounts(one.defaults, nd), dSigned2 = signedCounts(two.defaults, nd);
    const Counts sSigned1 = signedCounts(one.survivals, ns), sSigned2 = signedCounts(two.survivals, ns);
    PairsTerms t;

    // For a survival of group r with rating-2 rank b, the sum over the defaults of
    // sign(rating 1) * sign(rating 2) is dSigned2[b] - 2 L - E, where L and E are (defaults above
    // b - defaults below b) among the lower groups and among group r. With the lower groups'
    // defaults weighing 2 and group r's 1, -2 L - E is (weight below b) - (weight above b).
    std::int64_t count = 0;
    for (std::size_t b = 0; b < u2; ++b) count += two.survivals[b] * dSigned2[b];
    Counts weight(u2, 0), prefix(u2 + 1, 0);
    WeightTree tree(u2, 2 * static_cast<std::uint64_t>(nd));  // each default goes in twice
    std::int64_t total = 0;
    const std::size_t depth = static_cast<std::size_t>(std::bit_width(u2));
    auto insertGroup = [&](std::size_t r) {
        for (std::size_t k = dStart[r]; k < dStart[r + 1]; ++k) {
            ++weight[dRank2[k]];
            tree.add(dRank2[k], 1);
        }
        total += one.defaults[r];
    };
    for (std::size_t r = 0; r < u1; ++r) {
        insertGroup(r);
        const std::size_t first = sStart[r], end = sStart[r + 1];
        std::int64_t sum = 0;
        if ((end - first) * depth > u2) {
            // A long run of tied survivals reads a prefix table instead of querying the tree.
            for (std::size_t b = 0; b < u2; ++b) prefix[b + 1] = prefix[b] + weight[b];
            for (std::size_t k = first; k < end; ++k) sum += prefix[sRank2[k]] + prefix[sRank2[k] + 1];
        } else {
            for (std::size_t k = first; k < end; ++k) {
                const std::uint32_t b = sRank2[k];
                sum += 2 * tree.below(b) + weight[b];
            }
        }
        count += sum - static_cast<std::int64_t>(end - first) * total;
        insertGroup(r);
    }
    t.count = count;

    for (std::size_t r = u1; r-- > 0;)
        for (std::size_t k = sStart[r + 1]; k-- > sStart[r];)
            t.survivalTriple += static_cast<double>(dSigned1[r] * dSigned2[sRank2[k]]);
    for (std::size_t r = 0; r < u1; ++r)
        for (std::size_t k = dStart[r]; k < dStart[r + 1]; ++k)
            t.defaultTriple += static_cast<double>(sSigned1[r] * sSigned2[dRank2[k]]);
    return t;
}

}  // namespace

CellMatrix rocCurveIndividual(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex, int outputIndex,
                              int numBuckets) {
    return guardWorksheet([&] {
        const IndividualData data = readIndividual(scores, indicators, scoreIndex, outputIndex);
        const Buckets b = individualBuckets(data.scores, data.indicators, scoreIndex);
        const RocStatistics r = computeRocStatistics(b, outputIndex == 1 ? numBuckets : 0, maxSheetRows - 3);
        return rocTable(r, outputIndex == 1);
    });
}

CellMatrix rocCurveAggregate(const CellMatrix& scores, const CellMatrix& numDefaults, const CellMatrix& numSurvivals,
                             int scoreIndex, int outputIndex) {
    return guardWorksheet([&] {
        if (!sameShape(scores, numDefaults))
            fail("The vectors for scores and the number of defaults do not have the same dimension");
        if (!sameShape(scores, numSurvivals))
            fail("The vectors for scores and the number of survivals do not have the same dimension");
        if (!isVector(scores))
            fail("The range of scores must be a vector, either the number of rows or the number of columns must be "
                 "equal to one");
        requireZeroOrOne(scoreIndex, "scoreIndex");
        requireZeroOrOne(outputIndex, "outputIndex");
        const PairedRows rows({{scores, "scores"},
                               {numSurvivals, "numSurvivals", "number of survivals"},
                               {numDefaults, "numDefaults", "number of defaults"}},
                              scores.Columns() == 1);
        const std::vector<double> s = rows.numbers(0);
        const std::vector<int> survivals = rows.counts(1);
        const std::vector<int> defaults = rows.counts(2);
        const std::size_t cells = rows.size();
        std::vector<Grade> grades(cells);
        std::int64_t nd = 0, ns = 0;
        for (std::size_t i = 0; i < cells; ++i) {
            if (defaults[i] < 0) fail("At least one of the number of defaults is a negative number");
            if (survivals[i] < 0) fail("At least one of the number of survivals is a negative number");
            grades[i] = {s[i], static_cast<double>(survivals[i]), static_cast<double>(defaults[i])};
            nd += defaults[i];
            ns += survivals[i];
        }
        const Buckets b = aggregateBuckets(std::move(grades), nd, ns, scoreIndex);
        const RocStatistics r = computeRocStatistics(b, outputIndex == 1 ? static_cast<long long>(cells) : 0,
                                                     b.p.size() + 1);
        return rocTable(r, outputIndex == 1);
    });
}

std::uint64_t mixKey(std::uint64_t x) {
    x ^= x >> 31;
    x *= 0x7fb5d329728ea185;
    x ^= x >> 27;
    x *= 0x81dadef4bc2dd44d;
    return x ^ (x >> 33);
}

KeyRanks rankKeys(const std::vector<std::uint64_t>& keys) {
    return rankKeysBy(keys.size(), [&](std::size_t i) { return keys[i]; });
}

std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2) {
    std::vector<std::uint64_t> keys1(d1), keys2(d2);
    keys1.insert(keys1.end(), s1.begin(), s1.end());
    keys2.insert(keys2.end(), s2.begin(), s2.end());
    Flags defaulted(keys1.size(), 0);
    std::fill(defaulted.begin(), defaulted.begin() + static_cast<std::ptrdiff_t>(d1.size()), 1);
    return pairsTerms(rankRating(rankKeys(keys1), defaulted), rankRating(rankKeys(keys2), defaulted), defaulted).count;
}

namespace {

struct Rating {
    double auroc, sigma;
};

Rating rating(const Buckets& b) {
    const RocStatistics r = computeRocStatistics(b, 0, 0);
    return {r.auroc, (r.auroc - r.lower) / inverseCumulativeNormal(0.975)};
}

CellMatrix differenceTable(const Rating& r1, const Rating& r2, double nd, double ns, double pds, double pdds,
                           double pssd) {
    const double cov = ((nd - 1) * pdds + pds + (ns - 1) * pssd - 4 * (ns + nd - 1) * (r1.auroc - 0.5) * (r2.auroc - 0.5)) /
                       (4 * (nd - 1) * (ns - 1));
    const double t = (r1.auroc - r2.auroc) * (r1.auroc - r2.auroc) / (r1.sigma * r1.sigma + r2.sigma * r2.sigma - 2 * cov);
    CellMatrix result(5, 3);
    result(0, 0) = "";
    result(0, 1) = "Rating 1";
    result(0, 2) = "Rating 2";
    result(1, 0) = "AUROC";
    result(1, 1) = r1.auroc;
    result(1, 2) = r2.auroc;
    result(2, 0) = "Sigma";
    result(2, 1) = r1.sigma;
    result(2, 2) = r2.sigma;
    result(3, 0) = "Cov";
    result(3, 1) = "Test Statistic";
    result(3, 2) = "p-Value";
    result(4, 0) = cov;
    result(4, 1) = t;
    result(4, 2) = 1.0 - cumulativeGamma(t / 2, 0.5);
    return result;
}

}  // namespace

CellMatrix aurocDifferenceIndividual(const CellMatrix& scoresRating1, const CellMatrix& scoresRating2,
                                     const CellMatrix& indicators, int scoreIndex) {
    return guardWorksheet([&] {
        // Whatever either rating's ROC would reject, this function reports alike. Only the ROCs
        // are covered: the pairing of the rows and the test itself give their own texts, and
        // running out of memory reaches the guard.
        try {
            if (!isVector(scoresRating1) || !isVector(indicators) || !sameShape(scoresRating1, indicators) ||
                !sameShape(scoresRating2, indicators) || (scoreIndex != 0 && scoreIndex != 1))
                fail("");
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            return textResult(unknownErrorText);
        }
        const PairedRows rows({{scoresRating1, "scores", "scores of rating 1"},
                               {scoresRating2, "scores", "scores of rating 2"},
                               {indicators, "indicators"}},
                              scoresRating1.Columns() == 1);
        const std::size_t n = rows.size();
        Flags defaulted(n);
        RankedRating ranked1, ranked2;
        Rating r1{}, r2{};
        try {
            const std::vector<int> y = rows.integers(2);
            for (std::size_t i = 0; i < n; ++i) {
                if (y[i] != 0 && y[i] != 1) fail("");
                defaulted[i] = static_cast<std::uint8_t>(y[i]);
            }
            auto ranked = [&](const std::vector<double>& x) {
                return rankRating(rankKeysBy(n, [&](std::size_t i) { return orderKey(x[i]); }), defaulted);
            };
            ranked1 = ranked(rows.numbers(0));
            ranked2 = ranked(rows.numbers(1));
            r1 = rating(rankedBuckets(ranked1, scoreIndex));
            r2 = rating(rankedBuckets(ranked2, scoreIndex));
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            return textResult(unknownErrorText);
        }
        const PairsTerms terms = pairsTerms(ranked1, ranked2, defaulted);
        const double nd =
            static_cast<double>(std::accumulate(ranked1.defaults.begin(), ranked1.defaults.end(), std::int64_t{0}));
        const double ns = static_cast<double>(n) - nd;
        const double pds = static_cast<double>(terms.count) / (ns * nd);
        const double pdds = terms.survivalTriple / (nd * nd * ns);
        const double pssd = terms.defaultTriple / (ns * ns * nd);
        return differenceTable(r1, r2, nd, ns, pds, pdds, pssd);
    });
}

double aggregatePairsTerm(const Matrix& dm, const Matrix& sm) {
    const std::size_t n = dm.rows();
    // prefix(i, j): defaults in grades u < i (rating 2) and v < j (rating 1).
    std::vector<double> prefix((n + 1) * (n + 1), 0.0);
    auto at = [&](std::size_t i, std::size_t j) -> double& { return prefix[i * (n + 1) + j]; };
    for (std::size_t u = 0; u < n; ++u)
        for (std::size_t v = 0; v < n; ++v) at(u + 1, v + 1) = dm(u, v) + at(u, v + 1) + at(u + 1, v) - at(u, v);
    const double total = at(n, n);
    double pairs = 0;
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = 0; v < n; ++v) {
            const double bothBelow = at(u, v);
            const double bothAbove = total - at(u + 1, n) - at(n, v + 1) + at(u + 1, v + 1);
            const double aboveBelow = at(n, v) - at(u + 1, v);  // u' > u, v' < v
            const double belowAbove = at(u, n) - at(u, v + 1);  // u' < u, v' > v
            pairs += sm(u, v) * (bothAbove + bothBelow - aboveBelow - belowAbove);
        }
    }
    return pairs;
}

CellMatrix aurocDifferenceAggregate(const CellMatrix& scores, const CellMatrix& matrixDefaults,
                                    const CellMatrix& matrixSurvivals, int scoreIndex) {
    return guardWorksheet([&] {
        if (!isVector(scores)) fail("The cell range for the rating scores is not a vector");
        if (matrixDefaults.Rows() != matrixDefaults.Columns())
            fail("The cell range for the matrix of defaults is not quadratic");
        if (matrixSurvivals.Rows() != matrixSurvivals.Columns())
            fail("The cell range for the matrix of survivals is not quadratic");
        const bool column = scores.Columns() == 1;
        const std::size_t n = column ? scores.Rows() : scores.Columns();
        if (matrixDefaults.Columns() != n)
            fail("The dimension of the matrix of defaults does not equal the number of rating scores");
        if (matrixSurvivals.Columns() != n)
            fail("The dimension of the matrix of survivals does not equal the number of rating scores");
        const Matrix dm = cellMatrixToDenseMatrix(matrixDefaults, "matrix of defaults");
        const Matrix sm = cellMatrixToDenseMatrix(matrixSurvivals, "matrix of survivals");
        if (dm.rows() != n || dm.columns() != n) fail("The matrix of defaults contains empty cells");
        if (sm.rows() != n || sm.columns() != n) fail("The matrix of survivals contains empty cells");
        std::vector<std::int64_t> d1(n, 0), s1(n, 0), d2(n, 0), s2(n, 0);
        std::vector<double> gradeScores(n);
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t j = 0; j < n; ++j) {
                // The entries weigh the pairs as they stand, so a negative fraction is refused too.
                if (!std::isfinite(dm(u, j))) fail("At least one entry of the matrix of defaults is not a finite number");
                if (dm(u, j) < 0) fail("At least one entry of the matrix of defaults is a negative mumber");
                if (!std::isfinite(sm(u, j)))
                    fail("At least one entry of the matrix of survivals is not a finite number");
                if (sm(u, j) < 0) fail("At least one entry of the matrix of survivals is a negative mumber");
                const std::int32_t d = xlframe::truncateToInt32(dm(u, j));
                const std::int32_t s = xlframe::truncateToInt32(sm(u, j));
                d1[j] += d, s1[j] += s, d2[u] += d, s2[u] += s;
            }
            const xlframe::CellValue& cell = column ? scores(u, 0) : scores(0, u);
            if (cell.IsEmpty()) fail("At least one entry of the vector of scores is empty");
            if (!cell.IsNumber()) fail("At least one entry of the vector of scores is not a number");
            gradeScores[u] = cell.GetNumber();
        }
        const std::int64_t ndInt = std::accumulate(d1.begin(), d1.end(), std::int64_t{0});
        const std::int64_t nsInt = std::accumulate(s1.begin(), s1.end(), std::int64_t{0});
        Rating r1{}, r2{};
        try {
            if (scoreIndex != 0 && scoreIndex != 1) fail("");
            std::vector<Grade> g1(n), g2(n);
            for (std::size_t i = 0; i < n; ++i) {
                g1[i] = {gradeScores[i], static_cast<double>(s1[i]), static_cast<double>(d1[i])};
                g2[i] = {gradeScores[i], static_cast<double>(s2[i]), static_cast<double>(d2[i])};
            }
            r1 = rating(aggregateBuckets(std::move(g1), ndInt, nsInt, scoreIndex));
            r2 = rating(aggregateBuckets(std::move(g2), ndInt, nsInt, scoreIndex));
        } catch (const std::bad_alloc&) {
            throw;
        } catch (...) {
            return textResult(unknownErrorText);
        }
        std::vector<double> cd1(n + 1, 0), cs1(n + 1, 0), cd2(n + 1, 0), cs2(n + 1, 0);  // cd1[v + 1] = d1[0..v]
        for (std::size_t i = 0; i < n; ++i) {
            cd1[i + 1] = cd1[i] + static_cast<double>(d1[i]);
            cs1[i + 1] = cs1[i] + static_cast<double>(s1[i]);
            cd2[i + 1] = cd2[i] + static_cast<double>(d2[i]);
            cs2[i + 1] = cs2[i] + static_cast<double>(s2[i]);
        }
        const double nd = static_cast<double>(ndInt), ns = static_cast<double>(nsInt);
        const double pairs = aggregatePairsTerm(dm, sm);
        double dds = 0, ssd = 0;
        for (std::size_t u = 0; u < n; ++u) {
            for (std::size_t v = 0; v < n; ++v) {
                const double gd1 = nd - cd1[v + 1], ld1 = cd1[v], gd2 = nd - cd2[u + 1], ld2 = cd2[u];
                dds += sm(u, v) * (gd1 * gd2 + ld1 * ld2 - gd1 * ld2 - ld1 * gd2);
                const double gs1 = ns - cs1[v + 1], ls1 = cs1[v], gs2 = ns - cs2[u + 1], ls2 = cs2[u];
                ssd += dm(u, v) * (gs1 * gs2 + ls1 * ls2 - gs1 * ls2 - ls1 * gs2);
            }
        }
        return differenceTable(r1, r2, nd, ns, pairs / (ns * nd), dds / (ns * nd * nd), ssd / (ns * ns * nd));
    });
}

CellMatrix adjustedPowerStat(const CellMatrix& scores, const CellMatrix& shadowPDs, int scoreIndex) {
    return guardWorksheet([&] {
        if (!isVector(scores)) fail("The cell range for the scores is not one-dimensional");
        if (!isVector(shadowPDs)) fail("The cell range for the shadowPDs is not one-dimensional");
        if (!sameShape(scores, shadowPDs)) fail("The dimensions of the vectors for scores and shadowPDs are not equal");
        requireZeroOrOne(scoreIndex, "scoreIndex");
        const PairedRows rows({{shadowPDs, "shadow PDs"}, {scores, "scores"}}, scores.Columns() == 1);
        const std::vector<double> pd = rows.numbers(0);
        const std::vector<double> s = rows.numbers(1);
        const std::size_t cells = rows.size();
        std::vector<std::pair<std::uint64_t, double>> debtors(cells);
        for (std::size_t i = 0; i < cells; ++i) {
            if (!(pd[i] >= 0.0 && pd[i] <= 1.0)) fail("At least one shadow PD is not in [0,1]");
            const std::uint64_t key = orderKey(s[i]);
            debtors[i] = {scoreIndex == 0 ? key : ~key, pd[i]};
        }
        std::stable_sort(debtors.begin(), debtors.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<double> perfect = pd;
        std::sort(perfect.begin(), perfect.end(), [](double a, double b) { return a > b; });
        double total = 0;
        for (double x : perfect) total += x;
        const double n = static_cast<double>(cells);
        double areaRating = 0, areaPerfect = 0, x0 = 0, rating0 = 0, perfect0 = 0, sumRating = 0, sumPerfect = 0;
        for (std::size_t k = 1; k <= cells; ++k) {
            sumRating += debtors[k - 1].second;
            sumPerfect += perfect[k - 1];
            const double x = static_cast<double>(k) / n;
            const double yr = sumRating / total, yp = sumPerfect / total;
            const double w = (x - x0) * 0.5;
            areaRating += (yr + rating0 - x - x0) * w;
            areaPerfect += (yp + perfect0 - x - x0) * w;
            x0 = x, rating0 = yr, perfect0 = yp;
        }
        CellMatrix result(3, 2);
        result(0, 0) = "Adjusted PowerStat";
        // Equal shadow PDs leave the perfect rating on the diagonal: its area is a rounding residue
        // (of the cumulated sums, at most about n epsilon), and so would the quotient be.
        if (perfect.front() == perfect.back() || !(areaPerfect > 4.0 * (n + 1.0) * DBL_EPSILON))
            result(0, 1) = powerStatUndefinedText;
        else
            result(0, 1) = areaRating / areaPerfect;
        result(1, 0) = "Area Rating";
        result(1, 1) = areaRating;
        result(2, 0) = "Area Perfect Rating";
        result(2, 1) = areaPerfect;
        return result;
    });
}

// The order and buckets of individualBuckets, with the counts and each bucket's first score. With
// many ties the counts per distinct score come from rankKeysBy's table, as the AUROC difference
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
    const KeyRanks head = rankKeysBy(sample, [&](std::size_t i) { return orderKey(scores[i]); });
    if (head.distinct.size() * 8 <= sample) {
        const RankedRating r =
            rankRating(rankKeysBy(n, [&](std::size_t i) { return orderKey(scores[i]); }),
                       Flags(defaulted.begin(), defaulted.end()));
        const std::size_t u = r.ranks.distinct.size();
        double reference = 0;
        for (std::size_t j = 0; j < u; ++j) {
            const std::size_t k = scoreIndex == 0 ? j : u - 1 - j;
            const double score = scoreOfKey(r.ranks.distinct[k]);
            if (j == 0 || std::fabs(score - reference) >= 1e-10) open(reference = score);
            g.defaults.back() += r.defaults[k];
            g.survivals.back() += r.survivals[k];
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
