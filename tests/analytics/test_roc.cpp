// ROC buckets and statistics against the Mann-Whitney count, expanded grades and naive grouping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "analytics/roc.hpp"

namespace Korvanth {
namespace {

RankedRating ranked(const std::vector<double>& scores, const std::vector<int>& y) {
    Flags defaulted(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) defaulted[i] = static_cast<std::uint8_t>(y[i]);
    return rankRating(rankScores(scores), defaulted);
}
Buckets individual(const std::vector<double>& scores, const std::vector<int>& y, int scoreIndex) {
    return rankedBuckets(ranked(scores, y), scoreIndex);
}

// The AUROC is the share of (default, survival) pairs ordered correctly, ties counting 1/2.
TEST(Roc, AurocEqualsTheMannWhitneyShare) {
    std::mt19937 gen(12345);
    for (int trial = 0; trial < 100; ++trial) {
        const int n = 2 + static_cast<int>(gen() % 60);
        std::vector<double> s(n);
        std::vector<int> y(n);
        for (int i = 0; i < n; ++i) s[i] = static_cast<double>(gen() % 7), y[i] = gen() % 3 == 0;
        y[0] = 1, y[1] = 0;
        double share = 0, pairs = 0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                if (y[i] == 1 && y[j] == 0) share += s[i] < s[j] ? 1 : s[i] == s[j] ? 0.5 : 0, pairs += 1;
        const int scoreIndex = trial % 2;
        const RocStatistics r = computeRocStatistics(individual(s, y, scoreIndex), 0, 0);
        EXPECT_NEAR(r.auroc, scoreIndex == 0 ? share / pairs : 1 - share / pairs, 1e-12) << trial;
        // Summed bucket by bucket without the table, to the last bit.
        const RocStatistics streamed = rankedRocStatistics(ranked(s, y), scoreIndex);
        EXPECT_EQ(streamed.auroc, r.auroc) << trial;
        EXPECT_TRUE(streamed.lower == r.lower || (std::isnan(streamed.lower) && std::isnan(r.lower))) << trial;
    }
}

// Distinct scores leave each debtor a bucket of its own, summed in batches without divisions;
// scores closer than 1e-10 still share a bucket, at the start, in a batch and across batches.
// The sums equal those of the buckets' table to the last bit, and the AUROC the Mann-Whitney share.
TEST(Roc, BucketsOfOneDebtorSumToTheTablesBits) {
    std::mt19937_64 gen(99);
    std::normal_distribution<double> z;
    for (int trial = 0; trial < 8; ++trial) {
        const std::size_t n = trial < 4 ? 3000 : 9000;
        const int rate = trial % 2 == 0 ? 40 : 2;  // defaults few, or half of all
        std::vector<double> s(n);
        std::vector<int> y(n);
        for (std::size_t i = 0; i < n; ++i) {
            y[i] = gen() % static_cast<unsigned>(rate) == 0;
            s[i] = z(gen) - (y[i] != 0 ? 0.7 : 0.0);
        }
        y[0] = 1, y[1] = 0;
        // Near ties: the riskiest scores for either direction, runs within a batch and across one.
        std::vector<std::size_t> order(n);
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return s[a] < s[b]; });
        for (const std::size_t k : {std::size_t{0}, std::size_t{1}, n / 3, n / 3 + 1, std::size_t{511}, n - 2})
            s[order[k + 1]] = s[order[k]] + 3e-11 * static_cast<double>(1 + trial % 3);
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return s[a] < s[b]; });
        const RankedRating r = ranked(s, y);
        ASSERT_TRUE(r.singles());
        for (int scoreIndex = 0; scoreIndex < 2; ++scoreIndex) {
            const RocStatistics streamed = rankedRocStatistics(r, scoreIndex);
            const RocStatistics table = computeRocStatistics(rankedBuckets(r, scoreIndex), 0, 0);
            EXPECT_EQ(streamed.auroc, table.auroc) << trial;
            EXPECT_EQ(streamed.lower, table.lower) << trial;
            EXPECT_EQ(streamed.upper, table.upper) << trial;
            // Buckets numbered riskiest first, each opened by a score 1e-10 or more from its first.
            std::vector<std::size_t> bucket(n), risk(order);
            if (scoreIndex == 1) std::reverse(risk.begin(), risk.end());
            double first = s[risk[0]];
            for (std::size_t k = 0, b = 0; k < n; ++k) {
                if (std::fabs(s[risk[k]] - first) >= 1e-10) ++b, first = s[risk[k]];
                bucket[risk[k]] = b;
            }
            double share = 0, pairs = 0;
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t j = 0; j < n; ++j)
                    if (y[i] == 1 && y[j] == 0)
                        share += bucket[i] < bucket[j] ? 1 : bucket[i] == bucket[j] ? 0.5 : 0, pairs += 1;
            EXPECT_NEAR(streamed.auroc, share / pairs, 1e-12) << trial;
        }
    }
}

// Grades expanded into their debtors give the same buckets.
TEST(Roc, AggregateBucketsEqualThoseOfTheExpandedDebtors) {
    const std::vector<Grade> grades = {{3, 9, 1}, {1, 2, 5}, {2, 4, 2}, {2.5, 0, 1}};
    std::vector<double> s;
    std::vector<int> y;
    for (const Grade& g : grades) {
        for (int k = 0; k < g.defaults + g.survivals; ++k) s.push_back(g.score), y.push_back(k < g.defaults);
    }
    for (int scoreIndex : {0, 1}) {
        const Buckets b = individual(s, y, scoreIndex), a = aggregateBuckets(grades, 9, 15, scoreIndex);
        EXPECT_EQ(a.p, b.p);
        EXPECT_EQ(a.q, b.q);
        EXPECT_EQ(a.hitRate, b.hitRate);
        EXPECT_EQ(a.falseAlarmRate, b.falseAlarmRate);
    }
}

TEST(Roc, CurvePointsOnTheBucketsOrOnAGrid) {
    std::vector<double> s(200);
    std::vector<int> y(200);
    std::mt19937 gen(7);
    for (int i = 0; i < 200; ++i) s[i] = i, y[i] = gen() % 3 == 0;
    const Buckets b = individual(s, y, 0);
    // As many points as buckets: the corners.
    RocStatistics r = computeRocStatistics(b, 200, 1000);
    ASSERT_EQ(r.curve.size(), 201u);
    for (std::size_t k = 0; k < 200; ++k) EXPECT_EQ(r.curve[k + 1], std::make_pair(b.falseAlarmRate[k], b.hitRate[k]));
    r = computeRocStatistics(b, 10, 1000);
    ASSERT_EQ(r.curve.size(), 10u);
    for (std::size_t j = 0; j < 10; ++j) EXPECT_NEAR(r.curve[j].first, j * 0.1, 1e-15);
    // More points than fit: a coarser grid, not a cut one, reaching a grid step short of (1, 1).
    r = computeRocStatistics(b, 2147483647, 1048573);
    ASSERT_EQ(r.curve.size(), 1048573u);
    EXPECT_NEAR(r.curve.back().first, 1.0, 2e-6);
    EXPECT_NEAR(r.curve.back().second, 1.0, 2e-6);
    // Survival at 1, default at 2, survival at 3: x = 0.5 meets the vertical piece at its lower end.
    EXPECT_EQ(hitRateAt(individual({1, 2, 3}, {0, 1, 0}, 0), 0.5), 0.0);
    EXPECT_EQ(hitRateAt(individual({1, 2, 3, 4}, {1, 0, 1, 0}, 0), 0.25), 0.5);
    // Before the first corner: on the line from (0, 0) to it.
    EXPECT_EQ(hitRateAt(individual({1, 1, 2, 3}, {1, 0, 0, 1}, 0), 0.25), 0.25);
}

// Both paths of the grouping (the table of many ties and the sort of few) against a sort and a
// walk, riskiest first.
TEST(Roc, RiskGroupsEqualANaiveGrouping) {
    std::mt19937 gen(3);
    for (int trial = 0; trial < 40; ++trial) {
        const std::size_t n = 1 + gen() % 3000;
        const bool ties = trial % 2 == 0;
        std::vector<double> s(n);
        std::vector<std::uint8_t> y(n);
        for (std::size_t i = 0; i < n; ++i) {
            const double tie = static_cast<double>(gen() % 20) + (gen() % 4 == 0 ? 4e-11 : 0);
            s[i] = ties ? tie : std::ldexp(double(gen()), -20);
            y[i] = gen() % 5 == 0;
        }
        const int scoreIndex = trial % 4 < 2 ? 0 : 1;
        std::vector<std::pair<double, int>> sorted;
        for (std::size_t i = 0; i < n; ++i) sorted.emplace_back(scoreIndex == 0 ? s[i] : -s[i], y[i]);
        std::sort(sorted.begin(), sorted.end());
        std::vector<double> scores, groupScores;
        std::vector<std::int64_t> d, sv;
        for (const auto& [key, flag] : sorted) {
            const double x = scoreIndex == 0 ? key : -key;
            if (scores.empty() || std::fabs(x - scores.back()) >= 1e-10)
                scores.push_back(x), d.push_back(0), sv.push_back(0);
            ++(flag ? d : sv).back();
        }
        const Supervisory::ScoreGroups g = riskGroups(s, y, scoreIndex, groupScores);
        ASSERT_EQ(groupScores, scores) << trial;
        ASSERT_EQ(g.defaults, d) << trial;
        ASSERT_EQ(g.survivals, sv) << trial;
    }
}

}  // namespace
}  // namespace Korvanth
