// The validation statistics against closed forms, Boost.Math's quantiles and naive definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include <boost/math/distributions/beta.hpp>
#include <boost/math/distributions/binomial.hpp>

#include "analytics/supervisory_statistics.hpp"

namespace S = Korvanth::Supervisory;

namespace {

// The Beta(1/2, 3/2) distribution function: with p = sin^2 t, (2 / pi) (t + sin t cos t).
double betaHalfThreeHalves(double p) {
    const double t = std::asin(std::sqrt(p));
    return 2.0 / std::numbers::pi * (t + std::sin(t) * std::cos(t));
}

TEST(SupervisoryStatistics, JeffreysAndBinomialPValues) {
    // One debtor: closed forms of the Beta(1/2, 3/2) and Beta(3/2, 1/2) distribution functions.
    for (double p : {0.0, 0.01, 0.3, 0.9, 1.0}) {
        EXPECT_NEAR(S::jeffreysPValue(1, 0, p), betaHalfThreeHalves(p), 1e-14) << p;
        EXPECT_NEAR(S::jeffreysPValue(1, 1, p), 1.0 - betaHalfThreeHalves(1.0 - p), 1e-14) << p;
    }
    // At Boost's beta quantiles the p-value gives back the probability.
    struct Case {
        double n, d, q;
    };
    for (const Case& c : {Case{10, 3, 0.05}, Case{250, 1, 0.5}, Case{4000, 37, 0.99}}) {
        const double pd = quantile(boost::math::beta_distribution<>(c.d + 0.5, c.n - c.d + 0.5), c.q);
        EXPECT_NEAR(S::jeffreysPValue(c.n, c.d, pd), c.q, 1e-12);
    }
    // Binomial upper tails by hand, as the sum of the probability mass and from Boost's binomial.
    EXPECT_DOUBLE_EQ(S::binomialPValue(2, 1, 0.1), 0.19);
    EXPECT_DOUBLE_EQ(S::binomialPValue(3, 2, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(S::binomialPValue(4, 4, 0.5), 1.0 / 16);
    EXPECT_EQ(S::binomialPValue(5, 0, 0.0), 1.0);
    EXPECT_EQ(S::binomialPValue(5, 2, 0.0), 0.0);
    for (int d = 1; d <= 30; d += 7) {
        double tail = 0;
        for (int k = d; k <= 30; ++k)
            tail += std::exp(std::lgamma(31.0) - std::lgamma(k + 1.0) - std::lgamma(31.0 - k) + k * std::log(0.13) +
                             (30 - k) * std::log(0.87));
        EXPECT_NEAR(S::binomialPValue(30, d, 0.13), tail, 1e-12 * std::max(tail, 1e-3)) << d;
        EXPECT_NEAR(S::binomialPValue(30, d, 0.13),
                    cdf(complement(boost::math::binomial_distribution<>(30, 0.13), d - 1)), 1e-15) << d;
    }
    EXPECT_NEAR(S::upperNormalTail(1.6448536269514722), 0.05, 1e-15);
    EXPECT_NEAR(S::upperNormalTail(-40), 1.0, 0);
    EXPECT_GT(S::upperNormalTail(30), 0.0);  // no cancellation to zero in the tail
}

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

TEST(SupervisoryStatistics, ConcentrationStabilityAndMigrations) {
    // Herfindahl extremes and two grades of 1 and 3: CV 0.5, HI 1 + log2(0.625).
    const std::vector<double> even{3, 3, 3}, single{0, 0, 5}, skew{1, 3};
    EXPECT_NEAR(S::concentration(even).coefficientOfVariation, 0.0, 1e-15);
    EXPECT_NEAR(S::concentration(even).herfindahlIndex, 0.0, 1e-15);
    EXPECT_NEAR(S::concentration(single).coefficientOfVariation, std::sqrt(2.0), 1e-15);
    EXPECT_NEAR(S::concentration(single).herfindahlIndex, 1.0, 1e-15);
    EXPECT_NEAR(S::concentration(skew).coefficientOfVariation, 0.5, 1e-15);
    EXPECT_NEAR(S::concentration(skew).herfindahlIndex, 1.0 + std::log2(0.625), 1e-15);

    // Shares 1/2, 1/2 against 1/4, 3/4: 1/4 ln 2 + 1/4 ln 1.5.
    const std::vector<double> reference{1, 1}, current{1, 3};
    const S::Stability psi = S::populationStability(reference, current);
    EXPECT_EQ(psi.currentShares, (std::vector<double>{0.25, 0.75}));
    EXPECT_NEAR(psi.contributions[0], 0.25 * std::log(2.0), 1e-16);
    EXPECT_NEAR(psi.index, 0.25 * std::log(2.0) + 0.25 * std::log(1.5), 1e-16);

    // Six debtors over three grades: 1->1, 1->2, 2->2, 3->1, 3->3, 1->3.
    const std::vector<std::int64_t> before{1, 1, 2, 3, 3, 1}, after{1, 2, 2, 1, 3, 3};
    const S::Migrations m = S::migrations(before, after);
    EXPECT_EQ(m.grades, 3u);
    EXPECT_EQ(m.startingTotals, (std::vector<std::int64_t>{3, 1, 2}));
    ASSERT_EQ(m.cells.size(), 6u);
    EXPECT_EQ(m.cells[2].from, 0u);
    EXPECT_EQ(m.cells[2].to, 2u);
    EXPECT_EQ(m.cells[4].from, 2u);
    EXPECT_EQ(m.cells[4].to, 0u);
    EXPECT_DOUBLE_EQ(m.stayed, 3.0 / 6);
    EXPECT_DOUBLE_EQ(m.upgraded, 1.0 / 6);
    EXPECT_DOUBLE_EQ(m.downgraded, 2.0 / 6);
    EXPECT_DOUBLE_EQ(m.movedTwoOrMore, 2.0 / 6);
}

}  // namespace
