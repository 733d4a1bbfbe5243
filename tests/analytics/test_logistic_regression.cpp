#include <gtest/gtest.h>

#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <random>
#include <vector>

#include "analytics/error.hpp"
#include "analytics/logistic_regression.hpp"

namespace Korvanth::LogisticRegression {
namespace {

double logit(double r) { return std::log(r / (1.0 - r)); }

// d ln r + s ln(1 - r): the log-likelihood of a group fitted by its own default rate r.
double groupLogLikelihood(double d, double s, double r) { return d * std::log(r) + s * std::log(1.0 - r); }

// One binary factor: observations with x = 0 (d0 defaults, s0 survivals), then x = 1 (d1, s1).
RegressionData binaryFactorData(int d0, int s0, int d1, int s1) {
    std::vector<int> y;
    std::vector<double> x;
    auto add = [&](int count, int indicator, double value) {
        for (int i = 0; i < count; ++i) {
            y.push_back(indicator);
            x.push_back(value);
        }
    };
    // Interleave the groups a little so that the row lists are not trivially ordered.
    add(s1, 0, 1.0);
    add(d0, 1, 0.0);
    add(s0, 0, 0.0);
    add(d1, 1, 1.0);
    Matrix factors(x.size(), 1);
    for (std::size_t i = 0; i < x.size(); ++i) factors(i, 0) = x[i];
    return RegressionData(y, factors);
}

struct BinaryCase {
    int line, d0, s0, d1, s1;
};

class BinaryFactor : public ::testing::TestWithParam<BinaryCase> {};

// The maximum has a closed form: each group is fitted by its own default rate, the constant
// being the logit of the rate at x = 0 and the coefficient the difference of the logits.
TEST_P(BinaryFactor, MatchesTheClosedForm) {
    const BinaryCase c = GetParam();
    SCOPED_TRACE(c.line);
    const RegressionData data = binaryFactorData(c.d0, c.s0, c.d1, c.s1);
    RegressionResult result;
    estimate(data, result);

    const double r0 = double(c.d0) / (c.d0 + c.s0), r1 = double(c.d1) / (c.d1 + c.s1);
    const double pooled = double(c.d0 + c.d1) / (c.d0 + c.s0 + c.d1 + c.s1);
    const double full = groupLogLikelihood(c.d0, c.s0, r0) + groupLogLikelihood(c.d1, c.s1, r1);
    // Without the constant the x = 0 group has PD 1/2 and the x = 1 group its own rate.
    const double noConstant = (c.d0 + c.s0) * std::log(0.5) + groupLogLikelihood(c.d1, c.s1, r1);
    const double constantOnly = groupLogLikelihood(c.d0 + c.d1, c.s0 + c.s1, pooled);

    ASSERT_EQ(result.coefficients.size(), 2u);
    EXPECT_NEAR(result.coefficients[0], logit(r0), 1e-9);
    EXPECT_NEAR(result.coefficients[1], logit(r1) - logit(r0), 1e-9);
    EXPECT_NEAR(result.logLikelihood, full, 1e-9 * std::fabs(full));
    EXPECT_NEAR(result.likelihoodRatios[0], 2.0 * (full - noConstant), 1e-8);
    EXPECT_NEAR(result.likelihoodRatios[1], 2.0 * (full - constantOnly), 1e-8);
    for (std::size_t a = 0; a < 2; ++a) {
        const double lr = result.likelihoodRatios[a];
        const double expected =
            lr > 100 ? 0.0 : boost::math::cdf(boost::math::complement(boost::math::chi_squared(1.0), lr));
        EXPECT_NEAR(result.pValues[a], expected, 1e-6) << "coefficient " << a;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BinaryFactor,
                         ::testing::Values(BinaryCase{__LINE__, 5, 95, 20, 80}, BinaryCase{__LINE__, 1, 9, 1, 9},
                                           BinaryCase{__LINE__, 30, 70, 3, 97}, BinaryCase{__LINE__, 2, 998, 15, 185},
                                           BinaryCase{__LINE__, 40, 60, 60, 40}));

struct Sample {
    std::vector<int> y;
    Matrix factors;
};

// Correlated factors with a known data-generating model; seeded, so reproducible.
Sample simulated(std::size_t observations, std::size_t k, unsigned seed, double noiseCoefficient = 1.0) {
    std::mt19937 generator(seed);
    std::normal_distribution<double> normal;
    std::uniform_real_distribution<double> uniform;
    Matrix factors(observations, k);
    std::vector<int> y(observations);
    for (std::size_t i = 0; i < observations; ++i) {
        double score = -2.0;
        const double common = normal(generator);
        for (std::size_t j = 0; j < k; ++j) {
            factors(i, j) = 0.5 * common + normal(generator);
            score += (j % 2 == 0 ? 0.4 : -0.3) * noiseCoefficient * factors(i, j);
        }
        y[i] = uniform(generator) < 1.0 / (1.0 + std::exp(-score)) ? 1 : 0;
    }
    return {y, factors};
}

TEST(LogLikelihoodThreads, SameDigitsForAnyThreadCount) {
    const Sample sample = simulated(20000, 6, 5);
    const RegressionData data(sample.y, sample.factors);
    const std::vector<double> b = {-2.0, 0.1, 0.2, -0.3, 0.4, -0.5, 0.6};
    double reference = 0.0;
    std::vector<double> referenceGradient(7);
    Matrix referenceHessian(7, 7);
    LogLikelihood(data, LogLikelihood::keepAll, 1).evaluate(b, reference, referenceGradient, referenceHessian);
    for (unsigned threads : {2u, 3u, 8u}) {
        double value = 0.0;
        std::vector<double> gradient(7);
        Matrix hessian(7, 7);
        LogLikelihood(data, LogLikelihood::keepAll, threads).evaluate(b, value, gradient, hessian);
        EXPECT_EQ(value, reference) << threads;
        EXPECT_EQ(gradient, referenceGradient) << threads;
        EXPECT_EQ(hessian, referenceHessian) << threads;
    }
}

TEST(RegressionData, SortsTheObservationsAndRejectsOtherIndicators) {
    Matrix factors(5, 1);
    for (std::size_t i = 0; i < 5; ++i) factors(i, 0) = double(10 + i);
    const RegressionData data({1, 0, 0, 1, 0}, factors);
    EXPECT_EQ(data.survivals, 3u);
    EXPECT_EQ(data.regressors, (std::vector<double>{1, 11, 1, 12, 1, 14, 1, 10, 1, 13}));
    EXPECT_THROW(RegressionData({1, 2}, Matrix(2, 1)), KorvanthTextException);
    EXPECT_THROW(RegressionData({1, 0, 1}, Matrix(2, 1)), KorvanthTextException);
}

}  // namespace
}  // namespace Korvanth::LogisticRegression
