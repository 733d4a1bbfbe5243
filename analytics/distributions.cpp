// Normal and gamma distribution functions. The coefficients, thresholds, iteration limits and
// tolerances are part of the results: the worksheet p-values depend on them digit for digit.
#include "analytics/distributions.hpp"

#include <array>
#include <cmath>

#include <boost/make_shared.hpp>

#include "analytics/error.hpp"

namespace Korvanth::Distributions {

namespace {

// 1 / sqrt(2 pi), computed once at load.
const double densityFactor = 1.0 / std::sqrt(2.0 * std::acos(-1.0));

// Chebyshev coefficients of the inverse-normal tail; the first is used halved.
constexpr std::array<double, 9> tailCoefficients = {
    7.7108870705487895, 2.7772013533685169, 0.3614964129261002, 0.0373418233434554, 0.0028297143036967,
    0.0001625716917922, 0.000008017330474,  0.0000003840919865, 0.000000012970717,
};

}  // namespace

double cumulativeNormal(double x) {
    // Without this a NaN would fall through every range test and come out as 1.
    if (std::isnan(x)) return x;
    if (x < 0.0) return 1.0 - cumulativeNormal(-x);
    if (x <= 1.87) {
        const double s = x * x;
        return 0.5 + x * (0.398942270991 + s * (0.020133760596 + s * 0.002946756074)) /
                         (1.0 + s * (0.217134277847 + s * (0.018576112465 + s * 0.000643163695)));
    }
    if (x < 6.0) {
        double r = (1.398247031184 + x * (-0.360040248231 + x * 0.022719786588)) /
                   (1.460954518699 + x * (-0.305459640162 + x * (0.038611796258 - x * 0.003787400686)));
        r *= r;
        r *= r;
        r *= r;
        r *= r;
        return 1.0 - r;
    }
    return 1.0;
}

double inverseCumulativeNormal(double p) {
    if (p < 1e-10) return -7.0;
    if (p > 0.9999999999) return 7.0;
    const double q = p - 0.5;
    if (std::fabs(q) <= 0.42) {
        const double r = q * q;
        return q * (2.50662823884 + r * (-18.61500062529 + r * (41.39119773534 - r * 25.44106049637))) /
               (1.0 + r * (-8.4735109309 + r * (23.08336743743 + r * (-21.06224101826 + r * 3.13082909833))));
    }
    const double m = 0.5 - std::fabs(q);
    const double t = 0.4179886424926431 * (2.0 * std::log(-std::log(m)) - 4.245468688137657);
    const double z = chebyshevTailSeries(t);
    return q > 0.0 ? z : -z;
}

double chebyshevTailSeries(double t) {
    if ((t - 1.0) * (t + 1.0) > 0.0) throw KorvanthException(81);
    double d = 0.0;
    double e = 0.0;
    for (std::size_t k = tailCoefficients.size() - 1; k >= 1; --k) {
        const double previous = d;
        d = 2.0 * t * d - e + tailCoefficients[k];
        e = previous;
    }
    return t * d - e + tailCoefficients[0] / 2.0;
}

double normalDensity(double x) { return std::exp(-x * x / 2.0) * densityFactor; }

double cumulativeNormalApprox(double x) {
    const double ax = std::fabs(x);
    const double t = 1.0 / (1.0 + 0.2316419 * ax);
    const double v =
        1.0 - normalDensity(ax) * t *
                  (0.31938153 + t * (-0.356563782 + t * (1.781477937 + t * (-1.821255978 + t * 1.330274429))));
    return x >= 0.0 ? v : 1.0 - v;
}

double logGamma(double x) {
    if (x <= 0.0) throw KorvanthException(82);
    const double ser = 1.000000000190015 + 76.18009172947146 / (x + 1.0) - 86.50532032941678 / (x + 2.0) +
                       24.01409824083091 / (x + 3.0) - 1.231739572450155 / (x + 4.0) +
                       0.001208650973866179 / (x + 5.0) - 0.000005395239384953 / (x + 6.0);
    const double t = x + 5.5;
    return std::log(2.5066282746310007 * ser / x) - (t - (x + 0.5) * std::log(t));
}

double cumulativeGamma(double x, double a) {
    if (x <= 0.0) return 0.0;
    if (a <= 0.0) throw KorvanthException(77);
    const double g = logGamma(a);
    const double f = std::exp(a * std::log(x) - x - g);

    if (x < a + 1.0) {
        double ap = a;
        double term = 1.0 / a;
        double sum = 1.0 / a;
        for (int n = 1; n <= 100; ++n) {
            ap += 1.0;
            term *= x / ap;
            sum += term;
            if (std::fabs(term) < std::fabs(sum) * 3e-7) return sum * f;
        }
        throw KorvanthException(78);
    }

    // Modified Lentz evaluation of the continued fraction of the upper function.
    constexpr double tiny = 1e-10;
    double b = x + 1.0 - a;
    double c = 1e30;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i <= 100; ++i) {
        const double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        if (std::fabs(d) < tiny) d = tiny;
        c = b + an / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < 1e-10) return 1.0 - f * h;
    }
    throw KorvanthException(78);
}

double GammaCalculator::operator()(double x) const { return cumulativeGamma(x, a_); }

double inverseCumulativeGamma(double p, double a) {
    // Written so that a NaN is rejected as well.
    if (!(p > 0.0 && p < 1.0)) throw KorvanthException(79);
    double hi = 1.0;
    while (cumulativeGamma(hi, a) <= p) hi *= 2.0;
    double root = 0.0;
    if (findRoot(boost::make_shared<GammaCalculator>(a), p, root, 1e-10, hi, 1e-10) != 0) {
        throw KorvanthException(80);
    }
    return root;
}

}  // namespace Korvanth::Distributions
