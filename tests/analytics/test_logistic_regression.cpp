#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <cmath>
#include <random>
#include <vector>

#include "analytics/error.hpp"
#include "analytics/logistic_regression.hpp"
#include "analytics/newton.hpp"

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

// Written straight from the definition, row by row in observation order, full square.
void naiveLogLikelihood(const Sample& data, const std::vector<double>& b, double& value,
                        std::vector<double>& gradient, Matrix& hessian) {
    const std::size_t n = b.size();
    value = 0.0;
    gradient.assign(n, 0.0);
    hessian = Matrix(n, n);
    for (std::size_t i = 0; i < data.y.size(); ++i) {
        std::vector<double> z(n, 1.0);
        for (std::size_t j = 1; j < n; ++j) z[j] = data.factors(i, j - 1);
        double s = 0.0;
        for (std::size_t j = 0; j < n; ++j) s += b[j] * z[j];
        const double p = 1.0 / (1.0 + std::exp(-s));
        const int y = data.y[i];
        value += y == 1 ? std::log(p) : std::log(1.0 - p);
        for (std::size_t a = 0; a < n; ++a) {
            gradient[a] += (y - p) * z[a];
            for (std::size_t c = 0; c < n; ++c) hessian(a, c) -= p * (1.0 - p) * z[a] * z[c];
        }
    }
}

TEST(LogLikelihood, AgreesWithTheDefinition) {
    const Sample sample = simulated(9000, 4, 11);
    const RegressionData data(sample.y, sample.factors);
    const std::vector<double> b = {-1.5, 0.2, -0.1, 0.3, 0.05};
    LogLikelihood f(data);
    double value = 0.0;
    std::vector<double> gradient(5);
    Matrix hessian(5, 5);
    f.evaluate(b, value, gradient, hessian);

    double naiveValue = 0.0;
    std::vector<double> naiveGradient;
    Matrix naiveHessian;
    naiveLogLikelihood(sample, b, naiveValue, naiveGradient, naiveHessian);
    EXPECT_NEAR(value, naiveValue, 1e-9 * std::fabs(naiveValue));
    for (std::size_t a = 0; a < 5; ++a) {
        EXPECT_NEAR(gradient[a], naiveGradient[a], 1e-8) << a;
        for (std::size_t c = 0; c < 5; ++c) {
            EXPECT_NEAR(hessian(a, c), naiveHessian(a, c), 1e-8) << a << ", " << c;
            EXPECT_EQ(hessian(a, c), hessian(c, a));
        }
    }
}

TEST(LogLikelihood, LeavesOutTheDroppedCoefficient) {
    const Sample sample = simulated(500, 3, 3);
    const RegressionData data(sample.y, sample.factors);
    double value = 0.0;
    std::vector<double> gradient(3);
    Matrix hessian(3, 3);
    // Without the constant every column counts from the first.
    LogLikelihood(data, 0).evaluate({0.3, -0.2, 0.1}, value, gradient, hessian);
    double expected = 0.0;
    for (std::size_t i = 0; i < 500; ++i) {
        const double p = 1.0 / (1.0 + std::exp(-(0.3 * sample.factors(i, 0) - 0.2 * sample.factors(i, 1) +
                                                0.1 * sample.factors(i, 2))));
        expected += sample.y[i] == 1 ? std::log(p) : std::log(1.0 - p);
    }
    EXPECT_NEAR(value, expected, 1e-10 * std::fabs(expected));
    // Without factor 2: every digit as on the data without its column.
    Matrix smaller(500, 2);
    for (std::size_t i = 0; i < 500; ++i) {
        smaller(i, 0) = sample.factors(i, 0);
        smaller(i, 1) = sample.factors(i, 2);
    }
    double reducedValue = 0.0;
    std::vector<double> reducedGradient(3);
    Matrix reducedHessian(3, 3);
    LogLikelihood(data, 2).evaluate({-1.0, 0.3, 0.1}, value, gradient, hessian);
    LogLikelihood(RegressionData(sample.y, smaller)).evaluate({-1.0, 0.3, 0.1}, reducedValue, reducedGradient,
                                                              reducedHessian);
    EXPECT_EQ(value, reducedValue);
    EXPECT_EQ(gradient, reducedGradient);
    EXPECT_EQ(hessian, reducedHessian);
    // Other numbers of coefficients would not fit the rows.
    EXPECT_THROW(LogLikelihood(data, 0).evaluate({0.0, 0.0, 0.0, 0.0}, value, gradient, hessian),
                 KorvanthTextException);
}

// The chunks are summed in a fixed order, so every digit is the same for any number of threads.
TEST(LogLikelihoodThreads, SameDigitsForAnyThreadCount) {
    const Sample sample = simulated(50000, 6, 5);
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

TEST(EstimateThreads, SameResultForAnyThreadCount) {
    const Sample sample = simulated(20000, 3, 8);
    const RegressionData data(sample.y, sample.factors);
    RegressionResult one, two, four;
    estimate(data, one, 1);
    estimate(data, two, 2);
    estimate(data, four, 4);
    for (const RegressionResult* other : {&two, &four}) {
        EXPECT_EQ(other->logLikelihood, one.logLikelihood);
        EXPECT_EQ(other->coefficients, one.coefficients);
        EXPECT_EQ(other->likelihoodRatios, one.likelihoodRatios);
        EXPECT_EQ(other->pValues, one.pValues);
    }
}

// At the maximum the score equations hold and every nearby point is worse.
TEST(Estimate, FindsTheMaximum) {
    const Sample data = simulated(4000, 3, 21);
    RegressionResult result;
    estimate(RegressionData(data.y, data.factors), result);
    double value = 0.0;
    std::vector<double> gradient;
    Matrix hessian;
    naiveLogLikelihood(data, result.coefficients, value, gradient, hessian);
    EXPECT_NEAR(value, result.logLikelihood, 1e-9 * std::fabs(value));
    for (double g : gradient) EXPECT_NEAR(g, 0.0, 1e-7);
    for (std::size_t a = 0; a < 4; ++a) {
        for (double h : {-1e-3, 1e-3}) {
            std::vector<double> moved = result.coefficients;
            moved[a] += h;
            double other = 0.0;
            naiveLogLikelihood(data, moved, other, gradient, hessian);
            EXPECT_LT(other, value) << a << " " << h;
        }
    }
    // The generating model's coefficients, -2, 0.4, -0.3, 0.4, are recovered roughly.
    EXPECT_NEAR(result.coefficients[0], -2.0, 0.3);
    EXPECT_NEAR(result.coefficients[1], 0.4, 0.2);
    EXPECT_NEAR(result.coefficients[2], -0.3, 0.2);
}

// Each restricted fit is the maximum of the smaller model: refitting it by hand gives the statistic.
TEST(Estimate, StatisticsAreTwiceTheLossOfEachRestrictedFit) {
    const Sample data = simulated(3000, 3, 4);
    RegressionResult full;
    estimate(RegressionData(data.y, data.factors), full);
    for (std::size_t dropped = 0; dropped < 3; ++dropped) {
        Matrix smaller(3000, 2);
        for (std::size_t i = 0; i < 3000; ++i)
            for (std::size_t j = 0, to = 0; j < 3; ++j)
                if (j != dropped) smaller(i, to++) = data.factors(i, j);
        RegressionResult fit;
        estimate(RegressionData(data.y, smaller), fit);
        EXPECT_NEAR(full.likelihoodRatios[dropped + 1], 2.0 * (full.logLikelihood - fit.logLikelihood), 1e-7);
    }
}

TEST(RegressionData, SortsTheObservationsAndRejectsOtherIndicators) {
    Matrix factors(5, 1);
    for (std::size_t i = 0; i < 5; ++i) factors(i, 0) = double(10 + i);
    const RegressionData data({1, 0, 0, 1, 0}, factors);
    EXPECT_EQ(data.survivals, 3u);
    EXPECT_EQ(data.regressors, (std::vector<double>{1, 11, 1, 12, 1, 14, 1, 10, 1, 13}));
    try {
        RegressionData({1, 2}, Matrix(2, 1));
        FAIL() << "no exception";
    } catch (const KorvanthTextException& error) {
        EXPECT_EQ(error.getMessage(), "At least one indicator value is not equal to 0 or 1");
    }
    EXPECT_THROW(RegressionData({1, 0, 1}, Matrix(2, 1)), KorvanthTextException);
}

TEST(Estimate, CompleteSeparationFails) {
    Matrix factors(6, 1);
    for (std::size_t i = 0; i < 6; ++i) factors(i, 0) = double(i);
    RegressionResult result;
    try {
        estimate(RegressionData({0, 0, 0, 1, 1, 1}, factors), result);
        FAIL() << "no exception";
    } catch (const KorvanthException& error) {
        const std::string text = error.getMessage();
        EXPECT_TRUE(text == "Newton solver of the logistic regression did not converge" ||
                    text == "Singular matrix in a Gauss elimination")
            << text;
    }
}

// A full table of more than 400 factors would take minutes; they are refused at once.
TEST(Estimate, RefusesMoreThanFourHundredFactors) {
    for (std::size_t k : {401u, 5000u}) {
        Matrix factors(2, k);
        RegressionResult result;
        try {
            estimate(RegressionData({0, 1}, factors), result);
            ADD_FAILURE() << "no exception for " << k;
        } catch (const KorvanthException& error) {
            EXPECT_EQ(error.getMessage(), "The number of factors exceeds the limit of 400");
        }
        EXPECT_TRUE(result.coefficients.empty());
    }
}

// A concave quadratic: Newton's method lands on the maximum in one step.
class Quadratic : public FunctionND_Der {
public:
    void evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                  Matrix& hessian) override {
        const double u = x[0] - 1.0, v = x[1] + 2.0;
        value = -(2 * u * u + u * v + v * v);
        gradient = {-(4 * u + v), -(u + 2 * v)};
        hessian(0, 0) = -4;
        hessian(0, 1) = hessian(1, 0) = -1;
        hessian(1, 1) = -2;
        ++calls;
    }
    int calls = 0;
};

// g(x) = sign(x) sqrt|x|: every Newton step maps x to -x, so it never converges.
class Cycling : public FunctionND_Der {
public:
    void evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                  Matrix& hessian) override {
        value = 0.0;
        gradient[0] = std::copysign(std::sqrt(std::fabs(x[0])), x[0]);
        hessian(0, 0) = 0.5 / std::sqrt(std::fabs(x[0]));
        ++calls;
    }
    int calls = 0;
};

TEST(NewtonSolve, ConvergesAndReportsTheValueBeforeTheLastStep) {
    auto f = boost::make_shared<Quadratic>();
    std::vector<double> solution;
    double value = 1.0;
    ASSERT_EQ(newtonSolve(f, solution, value, {0.0, 0.0}, 1e-8), 0);
    EXPECT_NEAR(solution[0], 1.0, 1e-14);
    EXPECT_NEAR(solution[1], -2.0, 1e-14);
    // The second evaluation sits at the maximum, where the gradient vanishes.
    EXPECT_EQ(f->calls, 2);
    EXPECT_EQ(value, 0.0);
}

TEST(NewtonSolve, GivesUpAfterTwentyIterations) {
    auto f = boost::make_shared<Cycling>();
    std::vector<double> solution = {42.0};
    double value = 42.0;
    EXPECT_EQ(newtonSolve(f, solution, value, {1.0}, 1e-8), 1);
    EXPECT_EQ(f->calls, 20);
    EXPECT_EQ(solution, std::vector<double>{42.0});
    EXPECT_EQ(value, 42.0);
}

}  // namespace
}  // namespace Korvanth::LogisticRegression
