// The placement values and the Kolmogorov-Smirnov distance against their pairwise definitions; the
// p-values, concentration, stability and migrations against hand-worked values are cases of the
// command-line tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "analytics/supervisory_statistics.hpp"

namespace S = Korvanth::Supervisory;

namespace {

TEST(SupervisoryStatistics, PlacementValuesAndKolmogorovSmirnovAgainstPairwiseDefinitions) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        const int n = 5 + round * 10;
        std::vector<int> score(n), defaulted(n);
        for (int i = 0; i < n; ++i) {
            score[i] = static_cast<int>(random() % 12);  // many ties
            defaulted[i] = random() % 3 == 0;
        }
        defaulted[0] = defaulted[1] = 1, defaulted[2] = defaulted[3] = 0;
        // Riskiest first: low scores.
        S::ScoreGroups groups{std::vector<std::int64_t>(12, 0), std::vector<std::int64_t>(12, 0)};
        for (int i = 0; i < n; ++i) ++(defaulted[i] ? groups.defaults : groups.survivals)[static_cast<std::size_t>(score[i])];

        std::vector<double> v10, v01;
        for (int i = 0; i < n; ++i) {
            double placed = 0, others = 0;
            for (int j = 0; j < n; ++j) {
                if (defaulted[j] == defaulted[i]) continue;
                others += 1;
                const int riskier = defaulted[i] ? score[j] - score[i] : score[i] - score[j];
                placed += riskier > 0 ? 1.0 : riskier == 0 ? 0.5 : 0.0;
            }
            (defaulted[i] ? v10 : v01).push_back(placed / others);
        }
        auto meanVariance = [](const std::vector<double>& v) {
            double mean = 0, squares = 0;
            for (double x : v) mean += x / static_cast<double>(v.size());
            for (double x : v) squares += (x - mean) * (x - mean);
            return std::pair{mean, squares / static_cast<double>(v.size() - 1)};
        };
        const auto [auroc, var10] = meanVariance(v10);
        const auto [meanV01, var01] = meanVariance(v01);
        const S::DeLong fast = S::deLong(groups);
        EXPECT_NEAR(fast.auroc, auroc, 1e-14);
        EXPECT_NEAR(fast.auroc, meanV01, 1e-14);
        EXPECT_NEAR(fast.standardError,
                    std::sqrt(var10 / static_cast<double>(v10.size()) + var01 / static_cast<double>(v01.size())), 1e-14);

        // Kolmogorov-Smirnov: every threshold score t, the debtors at or below it.
        double best = -1;
        int at = -1;
        for (int t = 0; t < 12; ++t) {
            double d = 0, s = 0;
            for (int i = 0; i < n; ++i) (defaulted[i] ? d : s) += score[i] <= t;
            const double distance = std::fabs(d / static_cast<double>(v10.size()) - s / static_cast<double>(v01.size()));
            if (distance > best + 1e-12) best = distance, at = t;
        }
        const S::KolmogorovSmirnov ks = S::kolmogorovSmirnov(groups);
        EXPECT_NEAR(ks.distance, best, 1e-14);
        EXPECT_EQ(static_cast<int>(ks.group), at);
    }
}

}  // namespace
