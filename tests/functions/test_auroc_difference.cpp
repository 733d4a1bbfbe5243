// AUROC difference tests and the adjusted PowerStat against naive references and hand-worked cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>

#include "analytics/matrix.hpp"
#include "functions/concordance.hpp"
#include "functions/worksheet_functions.hpp"
#include "tests/functions/test_calibration_support.hpp"

namespace Korvanth {
namespace {

using testing::number;
using testing::numbers;
using testing::rejection;
using testing::square;
using testing::text;

const std::string unknown =
    "An unknown error occured. Please check the call of the add-in routine, e.g. if ranges are passed instead of "
    "numbers or vice versa";

TEST(Concordance, FastCountEqualsPairwiseCountWithHeavyTies) {
    std::mt19937 gen(2024);
    for (int trial = 0; trial < 2000; ++trial) {
        // Small cases with heavy ties, and cases with many defaults and few survivals per score.
        const bool large = trial % 4 == 0;
        const std::size_t nd = large ? 300 + gen() % 300 : gen() % 12, ns = gen() % 12;
        const std::size_t range = large ? 50 + gen() % 500 : 1 + gen() % 4;
        std::vector<std::uint64_t> d1(nd), d2(nd), s1(ns), s2(ns);
        for (auto* v : {&d1, &d2, &s1, &s2})
            for (auto& x : *v) x = gen() % range;
        std::int64_t naive = 0;
        for (std::size_t a = 0; a < nd; ++a)
            for (std::size_t b = 0; b < ns; ++b) {
                const int sign1 = (d1[a] > s1[b]) - (d1[a] < s1[b]), sign2 = (d2[a] > s2[b]) - (d2[a] < s2[b]);
                naive += sign1 * sign2;
            }
        ASSERT_EQ(concordanceCount(d1, d2, s1, s2), naive) << "trial " << trial;
    }
}

// Ranks against sorting and deduplicating with the standard library: few and many distinct
// keys (the table and the sorting path), keys at the ends of the range, a table grown often, and
// keys whose hashes share their top bits, so that a probe runs long and sorting takes over.
TEST(Concordance, KeyRanksEqualTheSortedDistinctKeys) {
    std::mt19937_64 gen(17);
    const std::vector<std::uint64_t> edges = {0, 1, ~std::uint64_t{0}, std::uint64_t{1} << 63, (std::uint64_t{1} << 63) - 1};
    std::vector<std::uint64_t> colliding;
    for (std::uint64_t k = 0; colliding.size() < 100; ++k)
        if (mixKey(k) >> 52 == 0) colliding.push_back(k);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = trial % 50 == 0 ? 20000 + gen() % 20000 : gen() % 3000;
        const std::uint64_t range = std::uint64_t{1} << (gen() % 40);
        std::vector<std::uint64_t> keys(n);
        for (auto& k : keys) {
            k = gen() % 7 == 0 ? edges[gen() % edges.size()] : gen() % range;
            if (trial % 3 == 0) k <<= 24;  // keys that differ only in their high bits
            if (trial % 5 == 1) k = colliding[gen() % colliding.size()];
        }
        std::vector<std::uint64_t> distinct = keys;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        const KeyRanks r = rankKeys(keys);
        ASSERT_EQ(r.distinct, distinct) << "trial " << trial;
        ASSERT_EQ(r.rank.size(), n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto expected = std::lower_bound(distinct.begin(), distinct.end(), keys[i]) - distinct.begin();
            ASSERT_EQ(r.rank[i], static_cast<std::uint32_t>(expected)) << "trial " << trial << " key " << i;
        }
    }
    EXPECT_TRUE(rankKeys({}).distinct.empty());
}

// The pairs term of the aggregate form summed block by block, as its definition reads.
double directPairsTerm(const Matrix& d, const Matrix& s) {
    const std::size_t n = d.rows();
    double total = 0;
    for (std::size_t u = 0; u < n; ++u)
        for (std::size_t v = 0; v < n; ++v) {
            double concordant = 0, discordant = 0;
            for (std::size_t u2 = 0; u2 < n; ++u2)
                for (std::size_t v2 = 0; v2 < n; ++v2) {
                    if ((u2 > u && v2 > v) || (u2 < u && v2 < v)) concordant += d(u2, v2);
                    if ((u2 > u && v2 < v) || (u2 < u && v2 > v)) discordant += d(u2, v2);
                }
            total += s(u, v) * (concordant - discordant);
        }
    return total;
}

TEST(Concordance, AggregatePrefixSumsEqualTheDirectBlockSums) {
    // By hand: the survivals at (0, 0) see 3 defaults above under both ratings, those at (0, 1)
    // see 2 defaults above under rating 2 and below under rating 1: 2 * 3 - 5 * 2.
    Matrix d(2, 2), s(2, 2);
    d(0, 0) = 1, d(1, 0) = 2, d(1, 1) = 3, s(0, 0) = 2, s(0, 1) = 5;
    EXPECT_EQ(aggregatePairsTerm(d, s), -4.0);
    EXPECT_EQ(aggregatePairsTerm(Matrix(), Matrix()), 0.0);

    std::mt19937 gen(31);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t n = 1 + gen() % 8;
        const bool whole = trial % 2 == 0;
        Matrix dm(n, n), sm(n, n);
        for (Matrix* m : {&dm, &sm})
            for (std::size_t u = 0; u < n; ++u)
                for (std::size_t v = 0; v < n; ++v) {
                    // Many empty cells, as in real migration matrices.
                    if (gen() % 3 == 0) continue;
                    (*m)(u, v) = whole ? static_cast<double>(gen() % 1000) : (gen() % 100000) / 7.0;
                }
        const double fast = aggregatePairsTerm(dm, sm), direct = directPairsTerm(dm, sm);
        if (whole) {
            ASSERT_EQ(fast, direct) << "trial " << trial;
        } else {
            // Rounding allowance relative to the largest sum of products the term can reach.
            double survivals = 0, defaults = 0;
            for (std::size_t i = 0; i < n * n; ++i) survivals += sm.data()[i], defaults += dm.data()[i];
            ASSERT_NEAR(fast, direct, 1e-14 * survivals * defaults) << "trial " << trial;
        }
    }
}

CellMatrix individual(std::mt19937& gen, int n, std::vector<double>& s1, std::vector<double>& s2,
                      std::vector<double>& y) {
    s1.resize(n), s2.resize(n), y.resize(n);
    for (int i = 0; i < n; ++i) {
        y[i] = gen() % 3 == 0;
        s1[i] = static_cast<double>(gen() % 6) + (y[i] ? 0 : 1);
        s2[i] = static_cast<double>(gen() % 5) + (y[i] ? 0 : 2);
    }
    y[0] = y[1] = 1, y[2] = y[3] = 0;
    return numbers(y);
}

TEST(AurocDifferenceIndividual, LayoutAndSymmetry) {
    std::mt19937 gen(99);
    std::vector<double> s1, s2, y;
    const CellMatrix ind = individual(gen, 80, s1, s2, y);
    const CellMatrix r = aurocDifferenceIndividual(numbers(s1), numbers(s2), ind, 0);
    ASSERT_EQ(r.Rows(), 5u);
    ASSERT_EQ(r.Columns(), 3u);
    EXPECT_EQ(text(r, 0, 0), "");
    EXPECT_EQ(text(r, 0, 1), "Rating 1");
    EXPECT_EQ(text(r, 3, 2), "p-Value");
    const CellMatrix roc1 = rocCurveIndividual(numbers(s1), ind, 0, 0, 0);
    EXPECT_DOUBLE_EQ(number(r, 1, 1), number(roc1, 0, 1));
    const CellMatrix swapped = aurocDifferenceIndividual(numbers(s2), numbers(s1), ind, 0);
    for (int row = 1; row <= 2; ++row) {
        EXPECT_DOUBLE_EQ(number(r, row, 1), number(swapped, row, 2));
        EXPECT_DOUBLE_EQ(number(r, row, 2), number(swapped, row, 1));
    }
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(number(r, 4, c), number(swapped, 4, c), 1e-12);
    EXPECT_EQ(rejection(aurocDifferenceIndividual(numbers(s1), numbers(s2), ind, 2)), unknown);
    EXPECT_EQ(rejection(aurocDifferenceIndividual(CellMatrix(2, 2), numbers(s2), ind, 0)), unknown);
}

int sign(double x) { return (x > 0) - (x < 0); }

// The covariance, statistic and p-value from the pairs and triples of debtors themselves: the
// two three-observation terms as sums over every (default, default, survival) and (survival,
// survival, default), on small portfolios with heavy ties under both ratings.
TEST(AurocDifferenceIndividual, CovarianceEqualsTheSumsOverPairsAndTriples) {
    std::mt19937 gen(4711);
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 6 + static_cast<int>(gen() % 40);
        const int range1 = 2 + static_cast<int>(gen() % 6), range2 = 2 + static_cast<int>(gen() % 6);
        std::vector<double> s1(n), s2(n), y(n);
        for (int i = 0; i < n; ++i) {
            y[i] = i < 2 ? 1 : i < 4 ? 0 : static_cast<double>(gen() % 3 == 0);
            s1[i] = static_cast<double>(gen() % range1) + (y[i] == 1 ? 0 : static_cast<double>(gen() % 2));
            s2[i] = static_cast<double>(gen() % range2);
        }
        const int scoreIndex = trial % 2;
        const CellMatrix r = aurocDifferenceIndividual(numbers(s1), numbers(s2), numbers(y), scoreIndex);
        ASSERT_EQ(r.Rows(), 5u) << rejection(r);
        std::vector<int> d, sv;
        for (int i = 0; i < n; ++i) (y[i] == 1 ? d : sv).push_back(i);
        const double nd = static_cast<double>(d.size()), ns = static_cast<double>(sv.size());
        double pds = 0, pdds = 0, pssd = 0;
        for (int a : d)
            for (int b : sv) pds += sign(s1[a] - s1[b]) * sign(s2[a] - s2[b]);
        for (int b : sv)
            for (int a : d)
                for (int a2 : d) pdds += sign(s1[a] - s1[b]) * sign(s2[a2] - s2[b]);
        for (int a : d)
            for (int b : sv)
                for (int b2 : sv) pssd += sign(s1[b] - s1[a]) * sign(s2[b2] - s2[a]);
        pds /= nd * ns, pdds /= nd * nd * ns, pssd /= ns * ns * nd;
        const double a1 = number(r, 1, 1), a2 = number(r, 1, 2), sigma1 = number(r, 2, 1), sigma2 = number(r, 2, 2);
        const double cov = ((nd - 1) * pdds + pds + (ns - 1) * pssd - 4 * (ns + nd - 1) * (a1 - 0.5) * (a2 - 0.5)) /
                           (4 * (nd - 1) * (ns - 1));
        // The sums are whole numbers well within a double's exact range, so no rounding differs.
        ASSERT_EQ(number(r, 4, 0), cov) << "trial " << trial;
        const double t = (a1 - a2) * (a1 - a2) / (sigma1 * sigma1 + sigma2 * sigma2 - 2 * cov);
        ASSERT_NEAR(number(r, 4, 1), t, 1e-9 * (1 + std::fabs(t))) << "trial " << trial;
    }
}

// Expanding every cell of the aggregate matrices into its debtors gives the individual result.
TEST(AurocDifferenceAggregate, AgreesWithExpandedDebtors) {
    const std::vector<std::vector<double>> d = {{3, 1, 0}, {1, 2, 1}, {0, 0, 1}}, s = {{1, 2, 1}, {2, 5, 3}, {1, 4, 9}};
    const std::vector<double> grade = {1, 2, 3};
    std::vector<double> s1, s2, y;
    for (int u = 0; u < 3; ++u)
        for (int v = 0; v < 3; ++v) {
            for (int k = 0; k < d[u][v]; ++k) s1.push_back(grade[v]), s2.push_back(grade[u]), y.push_back(1);
            for (int k = 0; k < s[u][v]; ++k) s1.push_back(grade[v]), s2.push_back(grade[u]), y.push_back(0);
        }
    const CellMatrix agg = aurocDifferenceAggregate(numbers(grade), square(d), square(s), 0);
    const CellMatrix ind = aurocDifferenceIndividual(numbers(s1), numbers(s2), numbers(y), 0);
    for (int row : {1, 2, 4})
        for (int c = (row == 4 ? 0 : 1); c < 3; ++c) EXPECT_NEAR(number(agg, row, c), number(ind, row, c), 1e-12);
    // Transposing both matrices swaps the ratings.
    std::vector<std::vector<double>> dt(3, std::vector<double>(3)), st = dt;
    for (int u = 0; u < 3; ++u)
        for (int v = 0; v < 3; ++v) dt[u][v] = d[v][u], st[u][v] = s[v][u];
    const CellMatrix swapped = aurocDifferenceAggregate(numbers(grade), square(dt), square(st), 0);
    EXPECT_NEAR(number(agg, 1, 1), number(swapped, 1, 2), 1e-12);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(number(agg, 4, c), number(swapped, 4, c), 1e-12);
}

TEST(AurocDifferenceAggregate, Rejections) {
    const CellMatrix g = numbers({1, 2}), m = square({{1, 2}, {3, 4}});
    EXPECT_EQ(rejection(aurocDifferenceAggregate(CellMatrix(2, 2), m, m, 0)),
              "The cell range for the rating scores is not a vector");
    EXPECT_EQ(rejection(aurocDifferenceAggregate(g, CellMatrix(2, 3), m, 0)),
              "The cell range for the matrix of defaults is not quadratic");
    EXPECT_EQ(rejection(aurocDifferenceAggregate(g, m, CellMatrix(3, 2), 0)),
              "The cell range for the matrix of survivals is not quadratic");
    EXPECT_EQ(rejection(aurocDifferenceAggregate(numbers({1, 2, 3}), m, m, 0)),
              "The dimension of the matrix of defaults does not equal the number of rating scores");
    EXPECT_EQ(rejection(aurocDifferenceAggregate(g, square({{1, -1}, {3, 4}}), m, 0)),
              "At least one entry of the matrix of defaults is a negative mumber");
    EXPECT_EQ(rejection(aurocDifferenceAggregate(numbers({1, NAN}), m, m, 0)),
              "At least one entry of the vector of scores is empty");
    EXPECT_EQ(rejection(aurocDifferenceAggregate(g, m, m, 3)), unknown);
    // The entries weigh the pairs as they stand: a negative fraction is a negative weight.
    EXPECT_EQ(rejection(aurocDifferenceAggregate(g, square({{-0.5, 2}, {3, 4}}), m, 0)),
              "At least one entry of the matrix of defaults is a negative mumber");
}

TEST(AdjustedPowerStat, PerfectAndReversedOrder) {
    const CellMatrix s = numbers({1, 2, 3, 4}), pd = numbers({0.4, 0.3, 0.2, 0.1});
    EXPECT_NEAR(number(adjustedPowerStat(s, pd, 0), 0, 1), 1.0, 1e-12);
    EXPECT_NEAR(number(adjustedPowerStat(s, pd, 1), 0, 1), -1.0, 1e-12);
    EXPECT_EQ(text(adjustedPowerStat(s, pd, 0), 2, 0), "Area Perfect Rating");
    EXPECT_EQ(rejection(adjustedPowerStat(s, numbers({0.4, 1.0000001, 0.2, 0.1}), 0)),
              "At least one shadow PD is not in [0,1]");
    EXPECT_EQ(rejection(adjustedPowerStat(s, pd, 2)), "The value of scoreIndex is not in the range of 0..1");
    EXPECT_EQ(rejection(adjustedPowerStat(s, numbers({0.4, 0.3, 0.2, 0.1}, false), 0)),
              "The dimensions of the vectors for scores and shadowPDs are not equal");
}

}  // namespace
}  // namespace Korvanth

namespace Korvanth {
namespace {

// Concurrent calls share nothing, so each thread gets the single-threaded result.
TEST(DiscriminationThreads, ConcurrentCallsAgree) {
    std::mt19937 gen(5);
    std::vector<double> s1, s2, y;
    const CellMatrix ind = individual(gen, 400, s1, s2, y);
    const CellMatrix a = numbers(s1), b = numbers(s2);
    const CellMatrix expected = aurocDifferenceIndividual(a, b, ind, 1);
    std::vector<CellMatrix> results(4);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&] { r = aurocDifferenceIndividual(a, b, ind, 1); });
    for (auto& t : threads) t.join();
    for (const auto& r : results)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(number(r, 4, c), number(expected, 4, c));
}

}  // namespace
}  // namespace Korvanth
