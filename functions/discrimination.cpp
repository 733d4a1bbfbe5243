// Discriminatory power of rating systems: ROC curves with the AUROC and its confidence
// interval, the chi-square test of the difference of two AUROCs, and the adjusted PowerStat.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "analytics/conversions.hpp"
#include "analytics/distributions.hpp"
#include "analytics/matrix.hpp"
#include "analytics/worksheet_guard.hpp"
#include "functions/checks.hpp"
#include "functions/concordance.hpp"
#include "functions/worksheet_functions.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth {

namespace {

using Distributions::cumulativeGamma;
using Distributions::inverseCumulativeNormal;

// The host shows no more rows than this, so no longer curve is ever built.
constexpr std::size_t maxResultRows = 1048576;

// A total order on doubles that agrees with < on numbers: -0 equals +0 and every NaN sorts
// last, so that sorting never meets an inconsistent comparison.
std::uint64_t orderKey(double x) {
    if (std::isnan(x)) return ~std::uint64_t{0};
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x + 0.0);
    return (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
}

std::vector<double> readNumbers(const CellMatrix& range, bool column, const char* name) {
    return column ? cellMatrixToColumnVector(range, name) : cellMatrixToRowVector(range, name);
}
std::vector<int> readIntegers(const CellMatrix& range, bool column, const char* name) {
    return column ? cellMatrixToColumnVectorInt(range, name) : cellMatrixToRowVectorInt(range, name);
}

// The conversions skip Empty cells, which would silently shift one range against the other.
void requireEveryCell(std::size_t length, std::size_t cells, const char* text) {
    if (length != cells) fail(text);
}

// Shares of defaults and survivals per bucket, riskiest bucket first.
struct Buckets {
    std::vector<double> p, q, hitRate, falseAlarmRate;
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
    if (m > 0 && static_cast<unsigned long long>(m) == n) {
        const std::size_t points = std::min(n + 1, maxPoints);
        r.curve.reserve(points);
        r.curve.emplace_back(0.0, 0.0);
        for (std::size_t k = 0; k + 1 < points; ++k) r.curve.emplace_back(far[k], hr[k]);
        return r;
    }
    r.curve.emplace_back(0.0, 0.0);
    if (m < 1) return r;
    const double step = 1.0 / static_cast<double>(m);
    const std::size_t points = static_cast<std::size_t>(std::min<long long>(m, static_cast<long long>(maxPoints)));
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

// Individual data, checked: buckets of scores closer than 1e-10 to the bucket's first score,
// riskiest first (ascending scores for scoreIndex 0).
Buckets individualBuckets(const std::vector<double>& scores, const std::vector<int>& indicators, int scoreIndex) {
    const std::size_t n = scores.size();
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(n);
    Buckets b;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = orderKey(scores[i]);
        keyed[i] = {scoreIndex == 0 ? key : ~key, static_cast<std::uint32_t>(indicators[i])};
        if (indicators[i] != 0) ++b.defaults; else ++b.survivals;
    }
    requireBothOutcomes(b.defaults, b.survivals);
    std::sort(keyed.begin(), keyed.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    auto scoreOf = [&](std::uint64_t key) {
        if (scoreIndex != 0) key = ~key;
        if (key == ~std::uint64_t{0}) return std::nan("");
        const std::uint64_t bits = (key >> 63) ? key & ~(std::uint64_t{1} << 63) : ~key;
        return std::bit_cast<double>(bits);
    };
    double reference = scoreOf(keyed[0].first);
    double d = 0, s = 0;
    for (const auto& [key, indicator] : keyed) {
        const double score = scoreOf(key);
        if (std::fabs(score - reference) >= 1e-10) {
            b.add(d, s);
            d = s = 0;
            reference = score;
        }
        (indicator ? d : s) += 1;
    }
    b.add(d, s);
    return b;
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
    if (scoreIndex != 0 && scoreIndex != 1) fail("The value of scoreIndex is not in the range of 0..1");
    if (outputIndex != 0 && outputIndex != 1) fail("The value of outputIndex is not in the range of 0..1");
    const bool column = scores.Columns() == 1;
    const std::size_t cells = column ? scores.Rows() : scores.Columns();
    IndividualData data;
    data.indicators = readIntegers(indicators, column, "indicators");
    data.scores = readNumbers(scores, column, "scores");
    requireEveryCell(data.indicators.size(), cells, "The cell range for the indicators contains empty cells");
    requireEveryCell(data.scores.size(), cells, "The cell range for the scores contains empty cells");
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


// Fenwick tree of counts over positions 0..n-1.
class CountTree {
public:
    explicit CountTree(std::size_t n) : tree_(n + 1, 0) {}
    void add(std::size_t position) {
        for (std::size_t i = position + 1; i < tree_.size(); i += i & (~i + 1)) ++tree_[i];
    }
    // Number of entries at positions below `end`.
    std::int64_t below(std::size_t end) const {
        std::int64_t sum = 0;
        for (std::size_t i = end; i > 0; i -= i & (~i + 1)) sum += tree_[i];
        return sum;
    }

private:
    std::vector<std::int64_t> tree_;
};

using Keys = std::vector<std::uint64_t>;

// Bisection without data-dependent branches: the number of sorted keys below `key` (or at
// most `key` when `orEqual`).
std::int64_t bisect(const Keys& sorted, std::uint64_t key, bool orEqual) {
    if (sorted.empty()) return 0;
    const std::uint64_t* base = sorted.data();
    std::size_t length = sorted.size();
    while (length > 1) {
        const std::size_t half = length / 2;
        const bool right = orEqual ? base[half] <= key : base[half] < key;
        base = right ? base + half : base;
        length -= half;
    }
    const bool last = orEqual ? *base <= key : *base < key;
    return (base - sorted.data()) + (last ? 1 : 0);
}
std::int64_t countBelow(const Keys& sorted, std::uint64_t key) { return bisect(sorted, key, false); }

}  // namespace

CellMatrix rocCurveIndividual(const CellMatrix& scores, const CellMatrix& indicators, int scoreIndex, int outputIndex,
                              int numBuckets) {
    return guardWorksheet([&] {
        const IndividualData data = readIndividual(scores, indicators, scoreIndex, outputIndex);
        const Buckets b = individualBuckets(data.scores, data.indicators, scoreIndex);
        const RocStatistics r = computeRocStatistics(b, outputIndex == 1 ? numBuckets : 0, maxResultRows - 3);
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
        if (scoreIndex != 0 && scoreIndex != 1) fail("The value of scoreIndex is not in the range of 0..1");
        if (outputIndex != 0 && outputIndex != 1) fail("The value of outputIndex is not in the range of 0..1");
        const bool column = scores.Columns() == 1;
        const std::size_t cells = column ? scores.Rows() : scores.Columns();
        const std::vector<double> s = readNumbers(scores, column, "scores");
        const std::vector<int> survivals = readIntegers(numSurvivals, column, "numSurvivals");
        const std::vector<int> defaults = readIntegers(numDefaults, column, "numDefaults");
        requireEveryCell(s.size(), cells, "The cell range for the scores contains empty cells");
        requireEveryCell(survivals.size(), cells, "The cell range for the number of survivals contains empty cells");
        requireEveryCell(defaults.size(), cells, "The cell range for the number of defaults contains empty cells");
        std::vector<Grade> grades(cells);
        std::int64_t nd = 0, ns = 0;
        for (std::size_t i = 0; i < cells; ++i) {
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

// Over all pairs of a default and a survival: +1 when both ratings order them alike, -1 when
// oppositely, 0 for a tie in either. Defaults are counted in a Fenwick tree over their rank under
// rating 2 while the survivals are swept in rating-1 order, once upwards and once downwards.
namespace {

// The pairs count, and as a by-product of the same sweeps the sum over survivals of
// (#defaults above - #defaults below under rating 1) (the same under rating 2).
// (#others above - #others below) for the j-th of the sorted keys (j its first place among
// equal keys), from each other's count of keys below it and of keys at most it.
std::vector<std::int64_t> signedCounts(std::size_t size, const std::vector<std::size_t>& below,
                                       const std::vector<std::size_t>& atMost) {
    std::vector<std::int64_t> upTo(size + 1, 0), under(size + 1, 0), result(size + 1, 0);
    for (std::size_t i = 0; i < below.size(); ++i) ++under[below[i]], ++upTo[atMost[i]];
    // An other lies below the j-th key when its at-most count is <= j, above it when its below
    // count is > j.
    std::int64_t lower = 0, higher = 0;
    for (std::size_t j = 0; j <= size; ++j) higher += under[j];
    for (std::size_t j = 0; j <= size; ++j) {
        lower += upTo[j];
        higher -= under[j];
        result[j] = higher - lower;
    }
    return result;
}

std::int64_t jointRanking(const Keys& d1, const Keys& d2, const Keys& s1, const Keys& s2, double& survivalTriple,
                          double& defaultTriple) {
    Keys sortedD2 = d2;
    std::sort(sortedD2.begin(), sortedD2.end());
    auto byKey = [](const Keys& keys) {
        // Sorting (key, position) pairs keeps equal keys in input order, with the keys at hand.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) keyed[i] = {keys[i], static_cast<std::uint32_t>(i)};
        std::sort(keyed.begin(), keyed.end());
        std::vector<std::uint32_t> order(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) order[i] = keyed[i].second;
        return order;
    };
    const std::vector<std::uint32_t> dOrder = byKey(d1), sOrder = byKey(s1);
    std::vector<std::size_t> rank(d2.size());
    for (std::size_t i = 0; i < d2.size(); ++i) rank[i] = static_cast<std::size_t>(countBelow(sortedD2, d2[i]));
    // Each survival's place among the defaults' rating-2 scores, shared by both sweeps.
    std::vector<std::size_t> below(s2.size()), atMost(s2.size());
    for (std::size_t i = 0; i < s2.size(); ++i) {
        below[i] = static_cast<std::size_t>(countBelow(sortedD2, s2[i]));
        atMost[i] = static_cast<std::size_t>(bisect(sortedD2, s2[i], true));
    }
    std::int64_t count = 0;
    const std::size_t nd = dOrder.size(), ns = sOrder.size();
    std::vector<std::int64_t> belowUnder1(s1.size(), 0);  // defaults below each survival under rating 1
    std::vector<std::size_t> below1(s1.size(), 0), atMost1(s1.size(), 0);
    survivalTriple = 0;
    std::size_t depth = 1;
    while ((std::size_t{1} << depth) < nd + 1) ++depth;
    for (int direction = 0; direction < 2; ++direction) {
        // Within a run of survivals with equal rating-1 scores the inserted defaults do not change:
        // a long run reads a prefix table of the counts instead of querying the tree per survival.
        CountTree tree(nd);
        std::vector<std::int64_t> counts(nd, 0), prefix(nd + 1, 0);
        std::int64_t inserted = 0;
        std::size_t next = 0;
        auto survivalAt = [&](std::size_t k) { return direction == 0 ? sOrder[k] : sOrder[ns - 1 - k]; };
        for (std::size_t k = 0; k < ns;) {
            const std::uint64_t key = s1[survivalAt(k)];
            std::size_t end = k + 1;
            while (end < ns && s1[survivalAt(end)] == key) ++end;
            for (; next < nd; ++next, ++inserted) {
                const std::uint32_t d = direction == 0 ? dOrder[next] : dOrder[nd - 1 - next];
                if (direction == 0 ? !(d1[d] < key) : !(d1[d] > key)) break;
                tree.add(rank[d]);
                ++counts[rank[d]];
            }
            const bool table = (end - k) * depth * 8 > nd;
            if (table)
                for (std::size_t i = 0; i < nd; ++i) prefix[i + 1] = prefix[i] + counts[i];
            std::int64_t runSum = 0;
            for (; k < end; ++k) {
                const std::uint32_t s = survivalAt(k);
                const std::int64_t lower = table ? prefix[below[s]] : tree.below(below[s]);
                const std::int64_t higher = inserted - (table ? prefix[atMost[s]] : tree.below(atMost[s]));
                runSum += lower - higher;
                if (direction == 0) {
                    belowUnder1[s] = inserted;
                    below1[s] = static_cast<std::size_t>(inserted);
                } else {
                    atMost1[s] = nd - static_cast<std::size_t>(inserted);
                    const auto aboveUnder2 = static_cast<std::int64_t>(nd - atMost[s]);
                    const auto belowUnder2 = static_cast<std::int64_t>(below[s]);
                    survivalTriple += static_cast<double>((inserted - belowUnder1[s]) * (aboveUnder2 - belowUnder2));
                }
            }
            count += direction == 0 ? runSum : -runSum;
        }
    }
    // The defaults' term, from the survivals' places among the sorted defaults.
    const std::vector<std::int64_t> signed1 = signedCounts(nd, below1, atMost1), signed2 = signedCounts(nd, below, atMost);
    defaultTriple = 0;
    std::size_t first = 0;
    for (std::size_t p = 0; p < nd; ++p) {
        if (p > 0 && d1[dOrder[p]] != d1[dOrder[p - 1]]) first = p;
        const std::uint32_t d = dOrder[p];
        defaultTriple += static_cast<double>(signed1[first] * signed2[rank[d]]);
    }
    return count;
}

}  // namespace

std::int64_t concordanceCount(const Keys& d1, const Keys& d2, const Keys& s1, const Keys& s2) {
    double survivalTriple = 0, defaultTriple = 0;
    return jointRanking(d1, d2, s1, s2, survivalTriple, defaultTriple);
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
        try {
            const IndividualData one = readIndividual(scoresRating1, indicators, scoreIndex, 0);
            const IndividualData two = readIndividual(scoresRating2, indicators, scoreIndex, 0);
            const Rating r1 = rating(individualBuckets(one.scores, one.indicators, scoreIndex));
            const Rating r2 = rating(individualBuckets(two.scores, two.indicators, scoreIndex));
            Keys d1, d2, s1, s2;
            for (std::size_t i = 0; i < one.scores.size(); ++i) {
                Keys& k1 = one.indicators[i] == 1 ? d1 : s1;
                Keys& k2 = one.indicators[i] == 1 ? d2 : s2;
                k1.push_back(orderKey(one.scores[i]));
                k2.push_back(orderKey(two.scores[i]));
            }
            const double nd = static_cast<double>(d1.size()), ns = static_cast<double>(s1.size());
            double survivalTriple = 0, defaultTriple = 0;
            const double pds =
                static_cast<double>(jointRanking(d1, d2, s1, s2, survivalTriple, defaultTriple)) / (ns * nd);
            const double pdds = survivalTriple / (nd * nd * ns);
            const double pssd = defaultTriple / (ns * ns * nd);
            return differenceTable(r1, r2, nd, ns, pds, pdds, pssd);
        } catch (...) {
            // Whatever either rating's ROC would reject, this function reports alike.
            return textResult(unknownErrorText);
        }
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
                const std::int32_t d = xlframe::truncateToInt32(dm(u, j));
                if (d < 0) fail("At least one entry of the matrix of defaults is a negative mumber");
                const std::int32_t s = xlframe::truncateToInt32(sm(u, j));
                if (s < 0) fail("At least one entry of the matrix of survivals is a negative mumber");
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
        if (scoreIndex != 0 && scoreIndex != 1) fail("The value of scoreIndex is not in the range of 0..1");
        const bool column = scores.Columns() == 1;
        const std::size_t cells = column ? scores.Rows() : scores.Columns();
        const std::vector<double> pd = readNumbers(shadowPDs, column, "shadow PDs");
        const std::vector<double> s = readNumbers(scores, column, "scores");
        requireEveryCell(pd.size(), cells, "The cell range for the shadow PDs contains empty cells");
        requireEveryCell(s.size(), cells, "The cell range for the scores contains empty cells");
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
        result(0, 1) = areaRating / areaPerfect;
        result(1, 0) = "Area Rating";
        result(1, 1) = areaRating;
        result(2, 0) = "Area Perfect Rating";
        result(2, 1) = areaPerfect;
        return result;
    });
}

}  // namespace Korvanth
