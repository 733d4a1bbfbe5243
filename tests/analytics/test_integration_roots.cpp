// Brent's root finder and the six-point Gauss-Legendre rule on functions with known roots and
// integrals, with the number of evaluations each spends.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "analytics/error.hpp"
#include "analytics/function1d.hpp"

namespace Korvanth {
namespace {

// A function that counts its evaluations and remembers where it was evaluated.
class Counted : public Function1D {
public:
    explicit Counted(std::function<double(double)> f) : f_(std::move(f)) {}
    double operator()(double x) const override {
        points.push_back(x);
        return f_(x);
    }
    std::size_t evaluations() const { return points.size(); }
    mutable std::vector<double> points;

private:
    std::function<double(double)> f_;
};

boost::shared_ptr<Counted> counted(std::function<double(double)> f) { return boost::make_shared<Counted>(std::move(f)); }

struct Thrown {
    std::int32_t code = -1;
    std::string message;
};

Thrown thrownBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const KorvanthException& error) {
        return {error.getCode(), error.getMessage()};
    }
    return {};
}

// ---- findRoot --------------------------------------------------------------------------

struct RootCase {
    int line;
    std::function<double(double)> f;
    double target, x1, x2, root;
};

const double dottie = 0.739085133215160641655312087673873404;  // cos x = x

const RootCase rootCases[] = {
    {__LINE__, [](double x) { return x * x; }, 2.0, 0.0, 2.0, std::numbers::sqrt2},
    {__LINE__, [](double x) { return x * x; }, 2.0, 2.0, 0.0, std::numbers::sqrt2},  // reversed interval
    {__LINE__, [](double x) { return std::cos(x) - x; }, 0.0, 0.0, 1.0, dottie},
    {__LINE__, [](double x) { return std::exp(x); }, 2.0, 0.0, 1.0, std::numbers::ln2},
    {__LINE__, [](double x) { return std::tanh(x - 0.3); }, 0.0, -5.0, 5.0, 0.3},
    {__LINE__, [](double x) { return std::log(x); }, 1.0, 0.5, 100.0, std::numbers::e},
    {__LINE__, [](double x) { return 1.0 / (1.0 + std::exp(-x)); }, 0.9, -50.0, 50.0, std::log(9.0)},
    // Discontinuous: only bisection gets there.
    {__LINE__, [](double x) { return x < 0.25 ? -1.0 : 1.0; }, 0.0, 0.0, 1.0, 0.25},
    // A flat stretch around the root: (x - 1)^5.
    {__LINE__, [](double x) { return std::pow(x - 1.0, 5); }, 0.0, 0.0, 3.0, 1.0},
};

TEST(FindRoot, KnownRoots) {
    for (const double tolerance : {1e-6, 1e-10, 1e-12}) {
        for (const RootCase& c : rootCases) {
            const auto f = counted(c.f);
            double root = std::numeric_limits<double>::quiet_NaN();
            ASSERT_EQ(findRoot(f, c.target, root, c.x1, c.x2, tolerance), 0) << "line " << c.line;
            // The bracket shrinks to tol1 = 2e-10 |b| + tolerance / 2 on either side.
            EXPECT_NEAR(root, c.root, 2 * (2e-10 * std::fabs(c.root) + tolerance)) << "line " << c.line;
            // Two evaluations at the ends, then one per iteration, at most 100 of them.
            EXPECT_LE(f->evaluations(), 102u) << "line " << c.line;
        }
    }
}

// A triple root at 0, where the relative part of the tolerance vanishes: 100 iterations are too few
// for a tight absolute one.
TEST(FindRoot, GivesUpAfterOneHundredIterations) {
    const auto f = counted([](double x) { return x * x * x; });
    double root = 42.0;
    EXPECT_EQ(findRoot(f, 0.0, root, -1.0, 2.0, 1e-12), 1);
    EXPECT_EQ(root, 42.0);
    EXPECT_EQ(f->evaluations(), 102u);
}

// ---- integrateGauss --------------------------------------------------------------------

// The rule's weights add up to 0.999999999999998, so exact rules are exact up to that.
constexpr double weightSum = 0.999999999999998;

struct IntegralCase {
    int line;
    std::function<double(double)> f;
    double a, b, h, integral;
    std::size_t evaluations;
    double tolerance;
};

const boost::math::normal_distribution<double> standardNormal;

const IntegralCase integralCases[] = {
    {__LINE__, [](double x) { return std::exp(x); }, 0.0, 1.0, 0.1, std::numbers::e - 1, 6 * 11, 1e-14},
    {__LINE__, [](double x) { return std::sin(x); }, 0.0, std::numbers::pi, 0.5, 2.0, 6 * 7, 1e-14},
    {__LINE__, [](double x) { return 1.0 / x; }, 1.0, 10.0, 0.25, std::log(10.0), 6 * 37, 1e-12},
    {__LINE__, [](double x) { return boost::math::pdf(standardNormal, x); }, -6.0, 6.0, 0.1,
     1.0 - 2.0 * boost::math::cdf(standardNormal, -6.0), 726, 1e-14},
    {__LINE__, [](double x) { return std::sqrt(x); }, 0.0, 4.0, 0.01, 16.0 / 3, 6 * 401, 1e-6},
    {__LINE__, [](double x) { return x * x; }, -3.0, 5.0, 10.0, (125.0 + 27.0) / 3, 6, 1e-13},  // h > b - a
};

TEST(IntegrateGauss, KnownIntegrals) {
    for (const IntegralCase& c : integralCases) {
        const auto f = counted(c.f);
        EXPECT_NEAR(integrateGauss(f, c.a, c.b, c.h), c.integral * weightSum, c.tolerance) << "line " << c.line;
        EXPECT_EQ(f->evaluations(), c.evaluations) << "line " << c.line;
    }
}

TEST(IntegrateGauss, Rejections) {
    const auto f = counted([](double x) { return x; });
    const Thrown reversed = thrownBy([&] { integrateGauss(f, 1.0, 0.0, 0.1); });
    EXPECT_EQ(reversed.code, 83);
    EXPECT_EQ(reversed.message,
              "The lower integration limit is above the upper integration limit in a Gauss integration");
    // The limits are checked before the step.
    EXPECT_EQ(thrownBy([&] { integrateGauss(f, 1.0, 0.0, -1.0); }).code, 83);
    for (double h : {0.0, -0.0, -0.1}) {
        const Thrown step = thrownBy([&] { integrateGauss(f, 0.0, 1.0, h); });
        EXPECT_EQ(step.code, 84) << h;
        EXPECT_EQ(step.message, "The step size in a Gauss integration is not positive");
    }
    EXPECT_EQ(f->evaluations(), 0u);
}

}  // namespace
}  // namespace Korvanth
