// The normal and gamma distribution functions against Boost.Math and the standard library, and
// their stated behaviour at the range boundaries, clamps and branch switches.
#include <gtest/gtest.h>

#include <boost/math/distributions/normal.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"

namespace Korvanth::Distributions {
namespace {

const boost::math::normal_distribution<double> standardNormal;
const double inf = std::numeric_limits<double>::infinity();

// The catalogue code thrown by `call`, or -1 when nothing is thrown.
std::int32_t codeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const KorvanthException& error) {
        return error.getCode();
    }
    return -1;
}

// The largest |f(x) - reference(x)| over the points, and where.
template <class Points, class F, class R>
void expectClose(const Points& points, F f, R reference, double tolerance) {
    double worst = 0, worstAt = 0;
    for (double x : points)
        if (const double e = std::fabs(f(x) - reference(x)); e > worst) worst = e, worstAt = x;
    EXPECT_LT(worst, tolerance) << "at " << worstAt;
}

std::vector<double> grid(double from, double to, double step) {
    std::vector<double> x;
    for (int i = 0; from + i * step <= to; ++i) x.push_back(from + i * step);
    return x;
}

TEST(CumulativeNormal, AgreesWithBoostAndSwitchesFormAbove187) {
    expectClose(grid(-9, 9, 1e-4), cumulativeNormal, [](double x) { return boost::math::cdf(standardNormal, x); },
                5e-9);
    // The centre's rational form covers 1.87 itself, the tail's what lies above.
    const double s = 1.87 * 1.87;
    EXPECT_EQ(cumulativeNormal(1.87), 0.5 + 1.87 * (0.398942270991 + s * (0.020133760596 + s * 0.002946756074)) /
                                                (1.0 + s * (0.217134277847 + s * (0.018576112465 + s * 0.000643163695))));
    const double x = std::nextafter(1.87, 2.0);
    const double r = (1.398247031184 + x * (-0.360040248231 + x * 0.022719786588)) /
                     (1.460954518699 + x * (-0.305459640162 + x * (0.038611796258 - x * 0.003787400686)));
    EXPECT_NEAR(cumulativeNormal(x), 1.0 - std::pow(r, 16), 1e-15);
    for (double y : {-8.0, -1.0, 0.0, 0.5, 5.0}) {
        EXPECT_NEAR(normalDensity(y), boost::math::pdf(standardNormal, y), 1e-16) << y;
        EXPECT_NEAR(cumulativeNormalApprox(y), boost::math::cdf(standardNormal, y), 7.5e-8) << y;  // A&S 26.2.17
    }
}

TEST(InverseCumulativeNormal, AgreesWithBoostAndClamps) {
    auto reference = [](double p) { return boost::math::quantile(standardNormal, p); };
    expectClose(grid(0.08, 0.92, 5e-6), inverseCumulativeNormal, reference, 1e-8);
    std::vector<double> tails;
    for (double e = -10.0; e <= -5.3; e += 1e-4) tails.insert(tails.end(), {std::pow(10.0, e), 1 - std::pow(10.0, e)});
    expectClose(tails, inverseCumulativeNormal, reference, 1e-7);
    expectClose(grid(5e-6, 1 - 5e-6, 5e-6), inverseCumulativeNormal, reference, 1e-7);
    // Outside [1e-10, 1 - 1e-10] clamped to -7 and 7; the bounds themselves go on to the tail series.
    for (double p : {0.0, -0.5, -inf, std::nextafter(1e-10, 0.0)}) EXPECT_EQ(inverseCumulativeNormal(p), -7.0) << p;
    for (double p : {1.0, 2.0, inf, std::nextafter(0.9999999999, 1.0)}) EXPECT_EQ(inverseCumulativeNormal(p), 7.0) << p;
    EXPECT_EQ(inverseCumulativeNormal(0.5), 0.0);
    EXPECT_NEAR(inverseCumulativeNormal(1e-10), reference(1e-10), 1e-6);
    EXPECT_NEAR(inverseCumulativeNormal(0.9999999999), reference(0.9999999999), 1e-6);
}

TEST(CumulativeGamma, AgreesWithBoostInBothBranches) {
    // The series runs for x < a + 1 and stops on a relative term of 3e-7; the continued fraction
    // on a change of 1e-10.
    for (double a : {0.05, 0.1, 0.5, 1.0, 1.5, 2.0, 3.5, 5.0, 10.0, 25.0, 50.0, 100.0}) {
        for (double x = 1e-4; x < 4.0 * a + 40.0; x *= 1.01)
            ASSERT_NEAR(cumulativeGamma(x, a), boost::math::gamma_p(a, x), x < a + 1.0 ? 1e-6 : 5e-10) << x << " " << a;
    }
    for (double a : {-1.0, 0.0, 0.5, 3.0}) {
        EXPECT_EQ(cumulativeGamma(0.0, a), 0.0) << a;
        EXPECT_EQ(cumulativeGamma(-1.0, a), 0.0) << a;
    }
    EXPECT_EQ(codeOf([] { cumulativeGamma(1.0, 0.0); }), 77);
    EXPECT_EQ(codeOf([] { cumulativeGamma(1.0, -2.0); }), 77);
    // A huge shape near its mean needs far more than 100 series terms.
    EXPECT_EQ(codeOf([] { cumulativeGamma(1e4, 1e4); }), 78);
}

TEST(InverseCumulativeGamma, AgreesWithBoostAndRejects) {
    for (double a : {0.5, 1.0, 2.0, 5.0, 10.0, 50.0}) {
        for (double p : {1e-4, 1e-3, 0.01, 0.05, 0.1, 0.25, 0.5, 0.75, 0.9, 0.95, 0.99, 0.999, 0.999999}) {
            const double x = inverseCumulativeGamma(p, a), reference = boost::math::gamma_p_inv(a, p);
            EXPECT_NEAR(cumulativeGamma(x, a), p, 1e-9) << p << " " << a;
            EXPECT_NEAR(x, reference, 1e-5 * reference) << p << " " << a;
        }
    }
    for (double p : {0.0, 1.0, -0.1, 1.5, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(codeOf([p] { inverseCumulativeGamma(p, 2.0); }), 79) << p;
    EXPECT_EQ(codeOf([] { inverseCumulativeGamma(0.5, 0.0); }), 77);
    // The search starts at 1e-10: a root below it (about 7.9e-13 here) is not bracketed.
    EXPECT_EQ(codeOf([] { inverseCumulativeGamma(1e-6, 0.5); }), 80);
}

}  // namespace
}  // namespace Korvanth::Distributions
