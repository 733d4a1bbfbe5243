// Brent's bracketing root finder and the composite six-point Gauss-Legendre rule.
#include "analytics/function1d.hpp"

#include <array>
#include <cmath>
#include <cstdint>

#include "analytics/error.hpp"

namespace Korvanth {

namespace {

constexpr double relativePrecision = 1e-10;
constexpr int maximumIterations = 100;

// The six-point Gauss-Legendre rule moved to [0, 1]; the weights sum to 0.999999999999998.
constexpr std::array<double, 6> gaussNodes = {0.033765242898424, 0.169395306766867, 0.380690406958402,
                                              0.619309593041598, 0.830604693233133, 0.966234757101576};
constexpr std::array<double, 6> gaussWeights = {0.085662246189585, 0.180380786524069, 0.233956967286345,
                                                0.233956967286345, 0.180380786524069, 0.085662246189585};

}  // namespace

int findRoot(boost::shared_ptr<Function1D> f, double target, double& root, double x1, double x2, double tolerance) {
    const Function1D& g = *f;
    double a = x1;
    double b = x2;
    double fa = g(a) - target;
    double fb = g(b) - target;
    if ((fa > 0.0 && fb > 0.0) || (fa < 0.0 && fb < 0.0)) return 1;

    double c = b;
    double fc = fb;
    double d = 0.0;
    double e = 0.0;
    for (int iteration = 0; iteration < maximumIterations; ++iteration) {
        if ((fb > 0.0 && fc > 0.0) || (fb < 0.0 && fc < 0.0)) {
            c = a;
            fc = fa;
            d = b - a;
            e = d;
        }
        if (std::fabs(fc) < std::fabs(fb)) {
            a = b;
            b = c;
            c = a;
            fa = fb;
            fb = fc;
            fc = fa;
        }
        const double tol1 = 2.0 * relativePrecision * std::fabs(b) + 0.5 * tolerance;
        const double m = 0.5 * (c - b);
        if (std::fabs(m) <= tol1 || fb == 0.0) {
            root = b;
            return 0;
        }
        if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
            const double s = fb / fa;
            double p;
            double q;
            if (a == c) {
                p = 2.0 * m * s;
                q = 1.0 - s;
            } else {
                q = fa / fc;
                const double r = fb / fc;
                p = s * (2.0 * m * q * (q - r) - (b - a) * (r - 1.0));
                q = (q - 1.0) * (r - 1.0) * (s - 1.0);
            }
            if (p > 0.0) q = -q;
            p = std::fabs(p);
            const double bound1 = 3.0 * m * q - std::fabs(tol1 * q);
            const double bound2 = std::fabs(e * q);
            if (2.0 * p < (bound1 < bound2 ? bound1 : bound2)) {
                e = d;
                d = p / q;
            } else {
                d = m;
                e = d;
            }
        } else {
            d = m;
            e = d;
        }
        a = b;
        fa = fb;
        if (std::fabs(d) > tol1) {
            b += d;
        } else {
            b += m >= 0.0 ? std::fabs(tol1) : -std::fabs(tol1);
        }
        fb = g(b) - target;
    }
    return 1;
}

double integrateGauss(boost::shared_ptr<Function1D> f, double a, double b, double h) {
    if (a > b) throw KorvanthException(83);
    if (h <= 0.0) throw KorvanthException(84);
    // The count of subintervals must fit a 32-bit integer; NaN limits or step land here too.
    const double steps = (b - a) / h;
    if (!(steps < 2147483646.0)) {
        throw KorvanthTextException("The step size in a Gauss integration is too small for the integration interval");
    }
    const auto n = static_cast<std::int32_t>(steps) + 1;
    const double width = (b - a) / n;

    const Function1D& g = *f;
    double sum = 0.0;
    double x = a;
    double next = a + width;
    for (std::int32_t i = 0; i < n; ++i) {
        double inner = 0.0;
        for (std::size_t k = 0; k < gaussNodes.size(); ++k) inner += gaussWeights[k] * g(x + width * gaussNodes[k]);
        sum += (next - x) * inner;
        x = next;
        next += width;
    }
    return sum;
}

}  // namespace Korvanth
