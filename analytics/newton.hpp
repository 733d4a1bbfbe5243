// Real functions of several variables with gradient and Hessian, and Newton's iteration for a
// stationary point of one (the maximum of a concave log-likelihood).
//
//   auto f = boost::make_shared<MyFunction>(...);
//   std::vector<double> x;
//   double value;
//   if (Korvanth::newtonSolve(f, x, value, std::vector<double>(n, 0.0), 1e-8) != 0) { /* not converged */ }
#pragma once

#include <vector>

#include <boost/shared_ptr.hpp>

#include "analytics/matrix.hpp"

namespace Korvanth {

class FunctionND_Der {
public:
    virtual ~FunctionND_Der() = default;
    // `gradient` (n entries) and `hessian` (n x n) are sized by the caller, n being x.size().
    virtual void evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                          Matrix& hessian) = 0;
};

// Newton steps x -= H^-1 g from `start` until the step is shorter than `tolerance` (or the
// gradient vanishes). Returns 0 with `solution` and `value` set, or 1 after 20 iterations
// without convergence, leaving both untouched. A singular Hessian raises code 89.
int newtonSolve(boost::shared_ptr<FunctionND_Der> f, std::vector<double>& solution, double& value,
                const std::vector<double>& start, double tolerance);

}  // namespace Korvanth
