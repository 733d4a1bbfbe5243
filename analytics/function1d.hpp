// Real functions of one variable, with the bracketing root finder and Gauss-Legendre integration.
//
//   auto f = boost::make_shared<MyFunction>(...);
//   double root;
//   if (Korvanth::findRoot(f, 0.5, root, 0.0, 1.0, 1e-10) != 0) { /* no bracket or no convergence */ }
#pragma once

#include <boost/shared_ptr.hpp>

namespace Korvanth {

class Function1D {
public:
    virtual ~Function1D() = default;
    virtual double operator()(double x) const = 0;
};

// Brent's method for f(x) = target in [x1, x2]. Returns 0 with `root` written, or 1 (no bracket,
// or 100 iterations without convergence) leaving `root` untouched. Never throws on its own.
int findRoot(boost::shared_ptr<Function1D> f, double target, double& root, double x1, double x2, double tolerance);

// Composite six-point Gauss-Legendre rule over [a, b] with steps of about h (codes 83, 84).
double integrateGauss(boost::shared_ptr<Function1D> f, double a, double b, double h);

}  // namespace Korvanth
