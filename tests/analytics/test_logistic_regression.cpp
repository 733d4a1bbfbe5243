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
    RegressionData data = binaryFactorData(c.d0, c.s0, c.d1, c.s1);
    const Matrix original = data.factors;
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
    EXPECT_EQ(data.factors, original);
}

INSTANTIATE_TEST_SUITE_P(Cases, BinaryFactor,
                         ::testing::Values(BinaryCase{__LINE__, 5, 95, 20, 80}, BinaryCase{__LINE__, 1, 9, 1, 9},
                                           BinaryCase{__LINE__, 30, 70, 3, 97}, BinaryCase{__LINE__, 2, 998, 15, 185},
                                           BinaryCase{__LINE__, 40, 60, 60, 40}));

// Correlated factors with a known data-generating model; seeded, so reproducible.
RegressionData simulated(std::size_t observations, std::size_t k, unsigned seed, double noiseCoefficient = 1.0) {
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
    return RegressionData(y, factors);
}

// Written straight from the definition, row by row in observation order, full square.
void naiveLogLikelihood(const RegressionData& data, const std::vector<double>& b, double& value,
                        std::vector<double>& gradient, Matrix& hessian) {
    const std::size_t n = b.size();
    value = 0.0;
    gradient.assign(n, 0.0);
    hessian = Matrix(n, n);
    for (std::size_t i = 0; i < data.indicators.size(); ++i) {
        std::vector<double> z(n, 1.0);
        for (std::size_t j = 1; j < n; ++j) z[j] = data.factors(i, j - 1);
        double s = 0.0;
        for (std::size_t j = 0; j < n; ++j) s += b[j] * z[j];
        const double p = 1.0 / (1.0 + std::exp(-s));
        const int y = data.indicators[i];
        value += y == 1 ? std::log(p) : std::log(1.0 - p);
        for (std::size_t a = 0; a < n; ++a) {
            gradient[a] += (y - p) * z[a];
            for (std::size_t c = 0; c < n; ++c) hessian(a, c) -= p * (1.0 - p) * z[a] * z[c];
        }
    }
}

TEST(LogLikelihood, AgreesWithTheDefinition) {
    RegressionData data = simulated(9000, 4, 11);
    const std::vector<double> b = {-1.5, 0.2, -0.1, 0.3, 0.05};
    LogLikelihood f(&data);
    double value = 0.0;
    std::vector<double> gradient(5);
    Matrix hessian(5, 5);
    f.evaluate(b, value, gradient, hessian);

    double naiveValue = 0.0;
    std::vector<double> naiveGradient;
    Matrix naiveHessian;
    naiveLogLikelihood(data, b, naiveValue, naiveGradient, naiveHessian);
    EXPECT_NEAR(value, naiveValue, 1e-9 * std::fabs(naiveValue));
    for (std::size_t a = 0; a < 5; ++a) {
        EXPECT_NEAR(gradient[a], naiveGradient[a], 1e-8) << a;
        for (std::size_t c = 0; c < 5; ++c) {
            EXPECT_NEAR(hessian(a, c), naiveHessian(a, c), 1e-8) << a << ", " << c;
            EXPECT_EQ(hessian(a, c), hessian(c, a));
        }
    }
    // The PDs of the observations were stored, in the order of the row lists.
    for (std::size_t i = 0; i < data.defaultRows.size(); ++i) {
        double s = b[0];
        for (std::size_t j = 0; j < 4; ++j) s += b[j + 1] * data.factors(std::size_t(data.defaultRows[i]), j);
        EXPECT_NEAR(data.defaultPDs[i], 1.0 / (1.0 + std::exp(-s)), 1e-15);
    }
}

TEST(LogLikelihood, WithoutConstantUsesEveryColumnFromTheFirst) {
    RegressionData data = simulated(500, 2, 3);
    LogLikelihood f(&data);
    f.withConstant = false;
    double value = 0.0;
    std::vector<double> gradient(2);
    Matrix hessian(2, 2);
    f.evaluate({0.3, -0.2}, value, gradient, hessian);
    double expected = 0.0;
    for (std::size_t i = 0; i < 500; ++i) {
        const double p = 1.0 / (1.0 + std::exp(-(0.3 * data.factors(i, 0) - 0.2 * data.factors(i, 1))));
        expected += data.indicators[i] == 1 ? std::log(p) : std::log(1.0 - p);
    }
    EXPECT_NEAR(value, expected, 1e-10 * std::fabs(expected));
    // More coefficients than columns would read past the rows.
    std::vector<double> tooLong(3);
    Matrix h3(3, 3);
    EXPECT_THROW(f.evaluate({0.0, 0.0, 0.0}, value, tooLong, h3), KorvanthTextException);
}

// The chunks are summed in a fixed order, so every digit is the same for any number of threads.
TEST(LogLikelihoodThreads, SameDigitsForAnyThreadCount) {
    RegressionData data = simulated(50000, 6, 5);
    const std::vector<double> b = {-2.0, 0.1, 0.2, -0.3, 0.4, -0.5, 0.6};
    double reference = 0.0;
    std::vector<double> referenceGradient(7);
    Matrix referenceHessian(7, 7);
    LogLikelihood(&data, 1).evaluate(b, reference, referenceGradient, referenceHessian);
    const std::vector<double> referencePDs = data.defaultPDs;
    for (unsigned threads : {2u, 3u, 8u}) {
        double value = 0.0;
        std::vector<double> gradient(7);
        Matrix hessian(7, 7);
        LogLikelihood(&data, threads).evaluate(b, value, gradient, hessian);
        EXPECT_EQ(value, reference) << threads;
        EXPECT_EQ(gradient, referenceGradient) << threads;
        EXPECT_EQ(hessian, referenceHessian) << threads;
        EXPECT_EQ(data.defaultPDs, referencePDs) << threads;
    }
}

TEST(EstimateThreads, SameResultForAnyThreadCount) {
    RegressionData data = simulated(20000, 3, 8);
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
    RegressionData data = simulated(4000, 3, 21);
    RegressionResult result;
    estimate(data, result);
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
    RegressionData data = simulated(3000, 3, 4);
    RegressionResult full;
    estimate(data, full);
    for (std::size_t dropped = 0; dropped < 3; ++dropped) {
        Matrix smaller(3000, 2);
        for (std::size_t i = 0; i < 3000; ++i)
            for (std::size_t j = 0, to = 0; j < 3; ++j)
                if (j != dropped) smaller(i, to++) = data.factors(i, j);
        RegressionData restricted(data.indicators, smaller);
        RegressionResult fit;
        estimate(restricted, fit);
        EXPECT_NEAR(full.likelihoodRatios[dropped + 1], 2.0 * (full.logLikelihood - fit.logLikelihood), 1e-7);
    }
}

TEST(Estimate, PureNoiseFactorHasASmallStatistic) {
    struct Case {
        int line;
        unsigned seed;
    };
    for (const Case c : {Case{__LINE__, 1}, Case{__LINE__, 2}, Case{__LINE__, 3}}) {
        std::mt19937 generator(c.seed);
        std::normal_distribution<double> normal;
        std::bernoulli_distribution defaults(0.1);
        const std::size_t m = 5000;
        Matrix factors(m, 2);
        std::vector<int> y(m);
        for (std::size_t i = 0; i < m; ++i) {
            y[i] = defaults(generator) ? 1 : 0;
            factors(i, 0) = y[i] + normal(generator);  // informative
            factors(i, 1) = normal(generator);         // pure noise
        }
        RegressionData data(y, factors);
        RegressionResult result;
        estimate(data, result);
        // 10.83 is the 99.9% point of chi-square(1): a seeded false alarm is essentially impossible.
        EXPECT_LT(result.likelihoodRatios[2], 10.83) << c.line;
        EXPECT_GT(result.pValues[2], 0.001) << c.line;
        EXPECT_GT(result.likelihoodRatios[1], 100.0) << c.line;
        EXPECT_EQ(result.pValues[1], 0.0) << c.line;
    }
}

TEST(RegressionData, SortsTheObservationsAndRejectsOtherIndicators) {
    const RegressionData data({1, 0, 0, 1, 0}, Matrix(5, 1));
    EXPECT_EQ(data.defaultRows, (std::vector<int>{0, 3}));
    EXPECT_EQ(data.survivalRows, (std::vector<int>{1, 2, 4}));
    EXPECT_EQ(data.defaultPDs, std::vector<double>(2, 0.0));
    EXPECT_EQ(data.survivalPDs, std::vector<double>(3, 0.0));
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
    RegressionData data({0, 0, 0, 1, 1, 1}, factors);
    RegressionResult result;
    try {
        estimate(data, result);
        FAIL() << "no exception";
    } catch (const KorvanthException& error) {
        const std::string text = error.getMessage();
        EXPECT_TRUE(text == "Newton solver of the logistic regression did not converge" ||
                    text == "Singular matrix in a Gauss elimination")
            << text;
    }
    EXPECT_EQ(data.factors, factors);
}

// The Hessian of thousands of factors would take gigabytes; more than 1000 are refused at once.
TEST(Estimate, RefusesMoreThanAThousandFactors) {
    for (std::size_t k : {1001u, 5000u}) {
        Matrix factors(2, k);
        RegressionData data({0, 1}, factors);
        RegressionResult result;
        try {
            estimate(data, result);
            ADD_FAILURE() << "no exception for " << k;
        } catch (const KorvanthException& error) {
            EXPECT_EQ(error.getMessage(), "The number of factors exceeds the limit of 1000");
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
