// The normal and gamma distribution functions against Boost.Math and the standard library,
// and their stated behaviour at the range boundaries, clamps and branch switches.
#include <gtest/gtest.h>

#include <boost/math/distributions/normal.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"

namespace Korvanth::Distributions {
namespace {

const boost::math::normal_distribution<double> standardNormal;

// The catalogue code thrown by `call`, or -1 when nothing is thrown.
std::int32_t codeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const KorvanthException& error) {
        return error.getCode();
    }
    return -1;
}

// The largest measured errors, shown once in the test output and in the XML report.
void report(const std::string& name, double value, const std::string& where) {
    std::ostringstream text;
    text.precision(3);
    text << value << " at " << where;
    ::testing::Test::RecordProperty(name, text.str());
    std::cout << "[ measured ] " << name << " = " << text.str() << '\n';
}

std::string at(double x) {
    std::ostringstream text;
    text.precision(17);
    text << x;
    return text.str();
}

std::string at(double x, double a) { return "x " + at(x) + ", a " + at(a); }

// ---- Normal distribution ---------------------------------------------------------------

TEST(CumulativeNormal, AgreesWithBoostOverADenseGrid) {
    double worst = 0, worstAt = 0;
    for (int i = -90000; i <= 90000; ++i) {
        const double x = i * 1e-4;
        const double error = std::fabs(cumulativeNormal(x) - boost::math::cdf(standardNormal, x));
        if (error > worst) worst = error, worstAt = x;
    }
    report("cumulativeNormalMaxAbsError", worst, at(worstAt));
    EXPECT_LT(worst, 5e-9);
}

TEST(CumulativeNormal, ExactValues) {
    EXPECT_EQ(cumulativeNormal(0.0), 0.5);
    EXPECT_EQ(cumulativeNormal(-0.0), 0.5);
    for (double x : {6.0, 6.000000001, 7.0, 40.0, 1e300, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(cumulativeNormal(x), 1.0) << x;
        EXPECT_EQ(cumulativeNormal(-x), 0.0) << x;
    }
    // Just below 6 the tail formula still runs and gives something short of 1.
    EXPECT_LT(cumulativeNormal(std::nextafter(6.0, 0.0)), 1.0);
    EXPECT_TRUE(std::isnan(cumulativeNormal(std::numeric_limits<double>::quiet_NaN())));
}

TEST(CumulativeNormal, ReflectionIsExact) {
    for (int i = 1; i <= 70000; ++i) {
        const double x = i * 1e-4 + 1e-9 * (i % 7);
        ASSERT_EQ(cumulativeNormal(-x), 1.0 - cumulativeNormal(x)) << x;
    }
}

// The two rational forms meet at 1.87; the first covers 1.87 itself, the second what lies above.
double centreForm(double x) {
    const double s = x * x;
    return 0.5 + x * (0.398942270991 + s * (0.020133760596 + s * 0.002946756074)) /
                     (1.0 + s * (0.217134277847 + s * (0.018576112465 + s * 0.000643163695)));
}

double tailForm(double x) {
    const double r = (1.398247031184 + x * (-0.360040248231 + x * 0.022719786588)) /
                     (1.460954518699 + x * (-0.305459640162 + x * (0.038611796258 - x * 0.003787400686)));
    return 1.0 - std::pow(r, 16);
}

TEST(CumulativeNormal, SwitchesFormAbove187) {
    const double above = std::nextafter(1.87, 2.0);
    // The two forms differ there by more than rounding, so the branch is visible.
    ASSERT_GT(std::fabs(centreForm(1.87) - tailForm(1.87)), 1e-12);
    EXPECT_EQ(cumulativeNormal(1.87), centreForm(1.87));
    EXPECT_NEAR(cumulativeNormal(above), tailForm(above), 1e-15);
    EXPECT_GT(std::fabs(cumulativeNormal(above) - centreForm(above)), 1e-12);
}

TEST(InverseCumulativeNormal, AgreesWithBoostOverADenseGrid) {
    double worst = 0, worstAt = 0;
    auto check = [&](double p) {
        const double error = std::fabs(inverseCumulativeNormal(p) - boost::math::quantile(standardNormal, p));
        if (error > worst) worst = error, worstAt = p;
    };
    for (int i = 1; i < 200000; ++i) check(i * 5e-6);
    // Both tails down to the clamp, on a logarithmic grid.
    for (double e = -10.0; e <= -5.3; e += 1e-4) {
        check(std::pow(10.0, e));
        check(1.0 - std::pow(10.0, e));
    }
    report("inverseCumulativeNormalMaxAbsError", worst, "p " + at(worstAt));
    EXPECT_LT(worst, 1e-7);
    double centre = 0;
    for (int i = 1; i < 200000; ++i) {
        const double p = i * 5e-6;
        if (std::fabs(p - 0.5) <= 0.42)
            centre = std::fmax(centre, std::fabs(inverseCumulativeNormal(p) - boost::math::quantile(standardNormal, p)));
    }
    report("inverseCumulativeNormalCentreMaxAbsError", centre, "|p - 0.5| <= 0.42");
    EXPECT_LT(centre, 1e-8);
}

TEST(InverseCumulativeNormal, ClampsAndCentre) {
    struct Case {
        double p, expected;
    };
    const Case cases[] = {
        {0.0, -7.0},
        {-0.5, -7.0},
        {-std::numeric_limits<double>::infinity(), -7.0},
        {std::nextafter(1e-10, 0.0), -7.0},
        {1.0, 7.0},
        {2.0, 7.0},
        {std::numeric_limits<double>::infinity(), 7.0},
        {std::nextafter(0.9999999999, 1.0), 7.0},
        {0.5, 0.0},
    };
    for (const Case& c : cases) EXPECT_EQ(inverseCumulativeNormal(c.p), c.expected) << c.p;
    // The bounds themselves are not clamped: they go on to the tail series.
    EXPECT_NEAR(inverseCumulativeNormal(1e-10), boost::math::quantile(standardNormal, 1e-10), 1e-6);
    EXPECT_NEAR(inverseCumulativeNormal(0.9999999999), boost::math::quantile(standardNormal, 0.9999999999), 1e-6);
    EXPECT_GT(inverseCumulativeNormal(1e-10), -7.0);
    EXPECT_LT(inverseCumulativeNormal(0.9999999999), 7.0);
}

double beasleySpringer(double p) {
    const double q = p - 0.5, r = q * q;
    return q * (2.50662823884 + r * (-18.61500062529 + r * (41.39119773534 - r * 25.44106049637))) /
           (1.0 + r * (-8.4735109309 + r * (23.08336743743 + r * (-21.06224101826 + r * 3.13082909833))));
}

double tailArgument(double p) {
    const double m = std::fmin(p, 1.0 - p);
    return 0.4179886424926431 * (2.0 * std::log(-std::log(m)) - 4.245468688137657);
}

// In doubles 0.08 - 0.5 is exactly -0.42 but 0.92 - 0.5 lies just above 0.42.
TEST(InverseCumulativeNormal, CentreAndTailAtTheSwitch) {
    ASSERT_EQ(std::fabs(0.08 - 0.5), 0.42);
    ASSERT_GT(0.92 - 0.5, 0.42);
    EXPECT_EQ(inverseCumulativeNormal(0.08), beasleySpringer(0.08));
    // The tail argument at 0.92 is -1 up to rounding and is accepted.
    const double t = tailArgument(0.92);
    EXPECT_NEAR(t, -1.0, 1e-12);
    EXPECT_GE(t, -1.0);
    EXPECT_EQ(inverseCumulativeNormal(0.92), chebyshevTailSeries(t));
    EXPECT_NE(inverseCumulativeNormal(0.92), beasleySpringer(0.92));
    EXPECT_NEAR(inverseCumulativeNormal(0.92), boost::math::quantile(standardNormal, 0.92), 1e-7);
    EXPECT_NEAR(inverseCumulativeNormal(0.08), boost::math::quantile(standardNormal, 0.08), 1e-7);
}

TEST(ChebyshevTailSeries, AcceptsTheClosedIntervalOnly) {
    EXPECT_EQ(codeOf([] { chebyshevTailSeries(-1.0); }), -1);
    EXPECT_EQ(codeOf([] { chebyshevTailSeries(1.0); }), -1);
    EXPECT_EQ(codeOf([] { chebyshevTailSeries(0.0); }), -1);
    EXPECT_EQ(codeOf([] { chebyshevTailSeries(std::nextafter(1.0, 2.0)); }), 81);
    EXPECT_EQ(codeOf([] { chebyshevTailSeries(std::nextafter(-1.0, -2.0)); }), 81);
    EXPECT_EQ(codeOf([] { chebyshevTailSeries(5.0); }), 81);
    // At t = 0 only the halved first coefficient and the even terms remain: T2(0) = -1, T4(0) = 1, ...
    EXPECT_NEAR(chebyshevTailSeries(0.0),
                7.7108870705487895 / 2 - 0.3614964129261002 + 0.0028297143036967 - 0.000008017330474 +
                    0.000000012970717,
                1e-15);
}

TEST(NormalDensity, AgreesWithBoost) {
    for (double x : {-8.0, -3.0, -1.0, 0.0, 0.5, 2.0, 5.0}) {
        EXPECT_NEAR(normalDensity(x), boost::math::pdf(standardNormal, x), 1e-16) << x;
        // Abramowitz-Stegun 26.2.17 is accurate to 7.5e-8.
        EXPECT_NEAR(cumulativeNormalApprox(x), boost::math::cdf(standardNormal, x), 7.5e-8) << x;
    }
}

// ---- Gamma distribution ----------------------------------------------------------------

TEST(LogGamma, AgreesWithTheStandardLibrary) {
    double worst = 0, worstAt = 0;
    for (double x = 1e-3; x < 1e4; x *= 1.001) {
        const double reference = std::lgamma(x);
        // Relative to the size of the value, since far out the value itself is large.
        const double error = std::fabs(logGamma(x) - reference) / std::fmax(1.0, std::fabs(reference));
        if (error > worst) worst = error, worstAt = x;
    }
    report("logGammaMaxError", worst, "x " + at(worstAt));
    EXPECT_LT(worst, 1e-11);
    EXPECT_NEAR(logGamma(1.0), 0.0, 1e-10);
    EXPECT_NEAR(logGamma(2.0), 0.0, 1e-10);
    EXPECT_NEAR(logGamma(0.5), 0.5 * std::log(std::acos(-1.0)), 1e-10);
}

TEST(LogGamma, RejectsArgumentsThatAreNotPositive) {
    for (double x : {0.0, -0.0, -1.0, -2.5, -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(codeOf([x] { logGamma(x); }), 82) << x;
}

// Shapes and points covering both branches; the series runs for x < a + 1.
const double shapes[] = {0.05, 0.1, 0.5, 1.0, 1.5, 2.0, 3.5, 5.0, 10.0, 25.0, 50.0, 100.0};

TEST(CumulativeGamma, AgreesWithBoostInBothBranches) {
    double worstSeries = 0, worstFraction = 0;
    std::string seriesAt, fractionAt;
    for (double a : shapes) {
        for (double x = 1e-4; x < 4.0 * a + 40.0; x *= 1.01) {
            const double error = std::fabs(cumulativeGamma(x, a) - boost::math::gamma_p(a, x));
            if (x < a + 1.0) {
                if (error > worstSeries) worstSeries = error, seriesAt = at(x, a);
            } else if (error > worstFraction) {
                worstFraction = error, fractionAt = at(x, a);
            }
        }
    }
    report("cumulativeGammaSeriesMaxAbsError", worstSeries, seriesAt);
    report("cumulativeGammaContinuedFractionMaxAbsError", worstFraction, fractionAt);
    // The series stops on a relative term of 3e-7; the continued fraction on a change of 1e-10.
    EXPECT_LT(worstSeries, 1e-6);
    EXPECT_LT(worstFraction, 5e-10);
}

TEST(CumulativeGamma, EdgeCases) {
    for (double a : {-1.0, 0.0, 0.5, 3.0}) {
        EXPECT_EQ(cumulativeGamma(0.0, a), 0.0) << a;
        EXPECT_EQ(cumulativeGamma(-1.0, a), 0.0) << a;
    }
    EXPECT_EQ(codeOf([] { cumulativeGamma(1.0, 0.0); }), 77);
    EXPECT_EQ(codeOf([] { cumulativeGamma(1.0, -2.0); }), 77);
    // A huge shape near its mean needs far more than 100 series terms.
    EXPECT_EQ(codeOf([] { cumulativeGamma(1e4, 1e4); }), 78);
    // The chi-square p-value of a zero statistic.
    for (double k : {1.0, 2.0, 7.0}) EXPECT_EQ(1.0 - cumulativeGamma(0.0 / 2, k / 2), 1.0);
}

// At x = a + 1 the continued fraction runs, and so the tight tolerance holds there.
TEST(CumulativeGamma, ContinuedFractionFromAPlusOne) {
    for (double a : shapes) {
        EXPECT_NEAR(cumulativeGamma(a + 1.0, a), boost::math::gamma_p(a, a + 1.0), 1e-9) << a;
    }
    // Chi-square with one and two degrees of freedom in closed form: erf(sqrt(s/2)) and 1 - exp(-s/2).
    for (double s : {0.5, 1.0, 3.84, 6.63, 20.0}) {
        EXPECT_NEAR(cumulativeGamma(s / 2, 0.5), std::erf(std::sqrt(s / 2)), 3e-6) << s;
        EXPECT_NEAR(cumulativeGamma(s / 2, 1.0), 1.0 - std::exp(-s / 2), 3e-6) << s;
    }
}

TEST(InverseCumulativeGamma, RoundTrips) {
    double worstP = 0, worstX = 0;
    std::string pAt, xAt;
    for (double a : {0.5, 1.0, 2.0, 5.0, 10.0, 50.0}) {
        for (double p : {1e-4, 1e-3, 0.01, 0.05, 0.1, 0.25, 0.5, 0.75, 0.9, 0.95, 0.99, 0.999, 0.999999}) {
            const double x = inverseCumulativeGamma(p, a);
            const double backError = std::fabs(cumulativeGamma(x, a) - p);
            if (backError > worstP) worstP = backError, pAt = "p " + at(p) + ", a " + at(a);
            // Against Boost's inverse, relative to x since the roots span many magnitudes.
            const double reference = boost::math::gamma_p_inv(a, p);
            const double xError = std::fabs(x - reference) / reference;
            if (xError > worstX) worstX = xError, xAt = "p " + at(p) + ", a " + at(a);
        }
    }
    report("inverseCumulativeGammaRoundTripMaxAbsError", worstP, pAt);
    report("inverseCumulativeGammaMaxRelativeErrorVsBoost", worstX, xAt);
    EXPECT_LT(worstP, 1e-9);
    EXPECT_LT(worstX, 1e-5);
}

TEST(InverseCumulativeGamma, Rejections) {
    for (double p : {0.0, 1.0, -0.1, 1.5, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(codeOf([p] { inverseCumulativeGamma(p, 2.0); }), 79) << p;
    EXPECT_EQ(codeOf([] { inverseCumulativeGamma(0.5, 0.0); }), 77);
    EXPECT_EQ(codeOf([] { inverseCumulativeGamma(0.5, -1.0); }), 77);
    // The search starts at 1e-10: a root below it (about 7.9e-13 here) is not bracketed.
    EXPECT_EQ(codeOf([] { inverseCumulativeGamma(1e-6, 0.5); }), 80);
}

// Close to 1 the bracket doubles far beyond 1 before the root search starts.
TEST(InverseCumulativeGamma, BracketGrowsForProbabilitiesNearOne) {
    const double x = inverseCumulativeGamma(0.9999, 30.0);
    EXPECT_GT(x, 32.0);
    EXPECT_NEAR(cumulativeGamma(x, 30.0), 0.9999, 1e-9);
    EXPECT_NEAR(x, boost::math::gamma_p_inv(30.0, 0.9999), 1e-6 * x);
}

TEST(GammaCalculator, EvaluatesTheDistributionFunctionAtItsShape) {
    const GammaCalculator f(2.5);
    for (double x : {0.0, 0.3, 3.5, 9.0}) EXPECT_EQ(f(x), cumulativeGamma(x, 2.5)) << x;
}

}  // namespace
}  // namespace Korvanth::Distributions
