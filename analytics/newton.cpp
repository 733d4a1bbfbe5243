// Newton's iteration over a function with analytic derivatives.
#include "analytics/newton.hpp"

#include <cmath>

namespace Korvanth {

namespace {

constexpr int maximumIterations = 20;
constexpr double vanishingGradient = 1e-15;

double euclideanNorm(const double* v, std::size_t n) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) sum += v[i] * v[i];
    return std::sqrt(sum);
}

}  // namespace

int newtonSolve(boost::shared_ptr<FunctionND_Der> f, std::vector<double>& solution, double& value,
                const std::vector<double>& start, double tolerance) {
    const std::size_t n = start.size();
    std::vector<double> x = start;
    std::vector<double> gradient(n);
    Matrix hessian(n, n);
    // The elimination works in place, so it gets copies; the step lands in `step`. Both are reused.
    Matrix a;
    Matrix step(n, 1);
    for (int iteration = 0; iteration < maximumIterations; ++iteration) {
        double v = 0.0;
        f->evaluate(x, v, gradient, hessian);
        if (euclideanNorm(gradient.data(), n) < vanishingGradient) {
            solution = x;
            value = v;
            return 0;
        }
        a = hessian;
        for (std::size_t i = 0; i < n; ++i) step(i, 0) = gradient[i];
        if (!solveGaussJordan(a, step)) {
            a = hessian;
            for (std::size_t i = 0; i < n; ++i) step(i, 0) = gradient[i];
            gaussJordan(a, step);
        }
        for (std::size_t i = 0; i < n; ++i) x[i] -= step(i, 0);
        if (euclideanNorm(step.data(), n) < tolerance) {
            // The value belongs to the point before the last step; the step was below tolerance.
            solution = x;
            value = v;
            return 0;
        }
    }
    return 1;
}

}  // namespace Korvanth
