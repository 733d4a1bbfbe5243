#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/math/distributions/binomial.hpp>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"
#include "analytics/low_default_portfolio.hpp"

namespace Korvanth::LowDefaultPortfolio {
namespace {

double binomialCdf(double trials, double defaults, double p) {
    return boost::math::cdf(boost::math::binomial_distribution<double>(trials, p), defaults);
}

struct Portfolio {
    int line;
    std::vector<GradeCounts> counts;
    double quantile;
};

const Portfolio portfolios[] = {
    {__LINE__, {{0, 100}, {0, 200}, {1, 300}}, 0.999},
    {__LINE__, {{0, 100}, {0, 200}, {1, 300}}, 0.5},
    {__LINE__, {{0, 1000}}, 0.95},
    {__LINE__, {{2, 400}, {5, 300}, {11, 150}, {20, 80}}, 0.9},
    {__LINE__, {{0, 50}, {0, 50}, {0, 50}, {0, 50}, {3, 10}}, 0.99},
    {__LINE__, {{1, 1}}, 0.75},
};

// The estimate of each grade is the upper confidence bound of the pooled grades from it to the worst.
TEST(PlutoTasche, MatchesTheBinomialBoundOfThePooledGrades) {
    for (const Portfolio& c : portfolios) {
        SCOPED_TRACE(c.line);
        const std::vector<double> pd = plutoTasche(c.counts, c.quantile, 0.0);
        ASSERT_EQ(pd.size(), c.counts.size());
        for (std::size_t i = 0; i < pd.size(); ++i) {
            double k = 0, n = 0;
            for (std::size_t g = i; g < c.counts.size(); ++g) {
                k += c.counts[g].first;
                n += c.counts[g].first + c.counts[g].second;
            }
            EXPECT_NEAR(pd[i], boost::math::binomial_distribution<double>::find_upper_bound_on_p(n, k, 1.0 - c.quantile),
                        1e-9)
                << "grade " << i;
            if (i > 0) {
                EXPECT_GE(pd[i], pd[i - 1] - 1e-12) << "grade " << i;
            }
        }
    }
}

// Cumulated counts beyond the 32-bit range are summed in 64 bits.
TEST(PlutoTasche, CountsBeyondTheIntRange) {
    const std::vector<GradeCounts> counts = {
        {10'000'000, 1'000'000'000}, {20'000'000, 1'000'000'000}, {30'000'000, 1'000'000'000}};
    const std::vector<double> pd = plutoTasche(counts, 0.9, 0.0);
    const double k[] = {6e7, 5e7, 3e7};
    const double n[] = {3.06e9, 2.05e9, 1.03e9};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(pd[i], boost::math::binomial_distribution<double>::find_upper_bound_on_p(n[i], k[i], 0.1), 1e-9)
            << "grade " << i;
}

TEST(PlutoTasche, RescalesToTheWeightedAverage) {
    const std::vector<GradeCounts> counts = {{0, 100}, {1, 200}, {4, 300}};
    const std::vector<double> raw = plutoTasche(counts, 0.9, 0.0);
    for (double average : {0.02, 0.5, 1e-6}) {
        const std::vector<double> scaled = plutoTasche(counts, 0.9, average);
        const double weighted = (100 * scaled[0] + 201 * scaled[1] + 304 * scaled[2]) / 605;
        EXPECT_NEAR(weighted, average, 1e-14);
        EXPECT_NEAR(scaled[2] / scaled[0], raw[2] / raw[0], 1e-12);
    }
    // Outside (0, 1) the estimates stay as they are.
    for (double average : {0.0, 1.0, -0.1, 2.0}) EXPECT_EQ(plutoTasche(counts, 0.9, average), raw);
}

TEST(PlutoTasche, ZeroEstimatesAreNotScaled) {
    // A quantile of 0 puts every root at 0, where no factor reaches a positive average.
    EXPECT_EQ(plutoTasche({{0, 10}, {1, 10}}, 0.0, 0.0), (std::vector<double>{0.0, 0.0}));
    try {
        plutoTasche({{0, 10}, {1, 10}}, 0.0, 0.02);
        ADD_FAILURE() << "no exception";
    } catch (const KorvanthException& e) {
        EXPECT_EQ(e.getMessage(), "The PD estimates are zero and cannot be scaled to the average portfolio PD");
    }
}

// The mixed likelihood against Simpson's rule over the normal factor, written from the model.
// The library's normal functions are used on both sides, so only the mixing is compared.
TEST(LikelihoodCalculatorCorr, AgreesWithADirectIntegration) {
    struct Case {
        int trials, defaults;
        double rho, p;
    } cases[] = {{600, 1, 0.12, 0.01}, {300, 0, 0.05, 0.002}, {1000, 10, 0.3, 0.02}, {50, 3, 0.12, 0.2}};
    for (const Case& c : cases) {
        LikelihoodCalculatorCorr likelihood;
        likelihood.trials = c.trials;
        likelihood.defaults = c.defaults;
        likelihood.correlation = c.rho;
        const double threshold = Distributions::inverseCumulativeNormal(c.p);
        const int steps = 12000;  // even
        const double h = 12.0 / steps;
        double reference = 0.0;
        for (int s = 0; s <= steps; ++s) {
            const double y = -6.0 + s * h;
            const double q =
                Distributions::cumulativeNormal((threshold - std::sqrt(c.rho) * y) / std::sqrt(1.0 - c.rho));
            const double f = binomialCdf(c.trials, c.defaults, q) * std::exp(-0.5 * y * y) / std::sqrt(2 * std::numbers::pi);
            reference += (s == 0 || s == steps ? 1.0 : s % 2 == 1 ? 4.0 : 2.0) * h / 3.0 * f;
        }
        EXPECT_NEAR(likelihood(c.p), reference, 1e-10) << c.trials << " " << c.defaults << " " << c.rho;
    }
}

TEST(PlutoTascheCorrelated, ChecksInOrder) {
    struct Case {
        int line;
        std::vector<GradeCounts> counts;
        double rho, quantile;
        int code;
    } cases[] = {
        {__LINE__, {{-1, 0}}, -0.1, 5.0, 193},
        {__LINE__, {{0, 10}}, 1.0, 0.9, 193},
        {__LINE__, {{0, 10}}, 0.99999999995, 0.9, 193},
        {__LINE__, {{-1, 0}}, 0.1, 1.5, 194},
        {__LINE__, {{0, 10}}, 0.1, 5e-11, 194},
        {__LINE__, {{0, 10}}, 0.1, 0.99999999995, 194},
        {__LINE__, {{0, 10}, {-1, 0}}, 0.1, 0.9, 196},
        {__LINE__, {{0, 0}, {-1, 10}}, 0.1, 0.9, 197},
        {__LINE__, {{0, 10}, {2, 0}}, 0.1, 0.9, 197},
    };
    // A grade of one debtor is a grade.
    for (const double pd : plutoTascheCorrelated({{0, 1}, {1, 1}}, 0.1, 0.9, 0.0)) EXPECT_TRUE(pd > 0 && pd < 1) << pd;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        try {
            plutoTascheCorrelated(c.counts, c.rho, c.quantile, 0.0);
            ADD_FAILURE() << "no exception";
        } catch (const KorvanthException& e) {
            EXPECT_EQ(e.getCode(), c.code) << e.getMessage();
        }
    }
}

}  // namespace
}  // namespace Korvanth::LowDefaultPortfolio
