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

}  // namespace Korvanth
