// Maximum-likelihood fit of the logistic model and the likelihood-ratio tests of its coefficients.
#include "analytics/logistic_regression.hpp"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <system_error>
#include <thread>
#include <utility>

#include <boost/make_shared.hpp>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"

namespace Korvanth::LogisticRegression {

namespace {

constexpr double fitTolerance = 1e-8;
constexpr const char* notConvergedText = "Newton solver of the logistic regression did not converge";

// Observations per chunk of the sums. Fixed, so that the order of additions, and with it every
// digit of the result, does not depend on how many threads share the chunks.
constexpr std::size_t chunkRows = 4096;
// Doubles the chunks' partial sums may take together; with many coefficients the chunks grow instead.
constexpr std::size_t partialBudget = std::size_t{1} << 22;

// Offset of row a of the packed upper triangle of an n x n symmetric matrix.
inline std::size_t triangleRow(std::size_t a, std::size_t n) { return a * n - a * (a - 1) / 2; }
inline std::size_t triangleSize(std::size_t n) { return n * (n + 1) / 2; }

// Adds residual * z to the gradient and weight * z z' to the upper triangle, row by row. The
// sums never overlap the regressors, which lets the compiler vectorise the rows.
void accumulate(const double* __restrict__ z, std::size_t n, double residual, double weight,
                double* __restrict__ gradient, double* __restrict__ triangle) {
    for (std::size_t a = 0; a < n; ++a) gradient[a] += residual * z[a];
    // One triangle only; it is mirrored once at the end.
    for (std::size_t a = 0; a < n; ++a) {
        const double wa = weight * z[a];
        double* __restrict__ out = triangle - a;
        for (std::size_t c = a; c < n; ++c) out[c] += wa * z[c];
        triangle += n - a;
    }
}

class Evaluation {
public:
    Evaluation(RegressionData& data, const std::vector<double>& b, bool withConstant)
        : data_(data),
          b_(b.data()),
          n_(b.size()),
          offset_(withConstant ? 1 : 0),
          survivals_(data.survivalRows.size()),
          total_(data.survivalRows.size() + data.defaultRows.size()),
          partialSize_(1 + n_ + triangleSize(n_)) {
        const std::size_t maxChunks = std::max<std::size_t>(1, partialBudget / partialSize_);
        const std::size_t chunks = (total_ + chunkRows - 1) / chunkRows;
        rowsPerChunk_ = chunks <= maxChunks ? chunkRows : (total_ + maxChunks - 1) / maxChunks;
        chunks_ = std::max<std::size_t>(1, (total_ + rowsPerChunk_ - 1) / rowsPerChunk_);
        partials_.assign(chunks_ * partialSize_, 0.0);
    }

    std::size_t chunks() const { return chunks_; }
    std::size_t coefficients() const { return n_; }

    // Survival rows come first in the order of the sums, then default rows. The chunk's
    // partial sums are the value, the gradient and the upper triangle of minus the Hessian.
    // `z` is scratch space of n doubles for the regressors of one row.
    void computeChunk(std::size_t chunk, std::vector<double>& z) {
        double* sums = partials_.data() + chunk * partialSize_;
        double& value = sums[0];
        double* gradient = sums + 1;
        double* triangle = gradient + n_;
        if (offset_ == 1 && n_ > 0) z[0] = 1.0;
        const std::size_t used = n_ - offset_;
        const std::size_t n = n_;
        const std::size_t end = std::min(total_, (chunk + 1) * rowsPerChunk_);
        for (std::size_t position = chunk * rowsPerChunk_; position < end; ++position) {
            const bool isDefault = position >= survivals_;
            const std::size_t listIndex = isDefault ? position - survivals_ : position;
            const auto row = static_cast<std::size_t>(isDefault ? data_.defaultRows[listIndex]
                                                                : data_.survivalRows[listIndex]);
            const double* x = data_.factors.row(row);
            double score = offset_ == 1 ? b_[0] : 0.0;
            for (std::size_t j = 0; j < used; ++j) score += b_[j + offset_] * x[j];
            const double p = 1.0 / (std::exp(-score) + 1.0);
            if (isDefault) {
                data_.defaultPDs[listIndex] = p;
                value += std::log(p);
            } else {
                data_.survivalPDs[listIndex] = p;
                value += std::log(1.0 - p);
            }
            const double residual = isDefault ? 1.0 - p : -p;
            const double weight = p * (1.0 - p);
            std::copy(x, x + used, z.begin() + static_cast<std::ptrdiff_t>(offset_));
            accumulate(z.data(), n, residual, weight, gradient, triangle);
        }
    }

    void collect(double& value, std::vector<double>& gradient, Matrix& hessian) const {
        std::vector<double> total(partialSize_, 0.0);
        for (std::size_t chunk = 0; chunk < chunks_; ++chunk) {
            const double* sums = partials_.data() + chunk * partialSize_;
            for (std::size_t i = 0; i < partialSize_; ++i) total[i] += sums[i];
        }
        value = total[0];
        for (std::size_t a = 0; a < n_; ++a) gradient[a] = total[1 + a];
        const double* triangle = total.data() + 1 + n_;
        for (std::size_t a = 0; a < n_; ++a) {
            for (std::size_t c = a; c < n_; ++c) {
                const double h = -triangle[triangleRow(a, n_) + c - a];
                hessian(a, c) = h;
                hessian(c, a) = h;
            }
        }
    }

private:
    RegressionData& data_;
    const double* b_;
    std::size_t n_;
    std::size_t offset_;
    std::size_t survivals_;
    std::size_t total_;
    std::size_t partialSize_;
    std::size_t rowsPerChunk_ = chunkRows;
    std::size_t chunks_ = 1;
    std::vector<double> partials_;
};

// The caller takes chunks too; if no helper thread can be started it simply does them all.
void computeChunks(Evaluation& evaluation, unsigned threads) {
    const std::size_t chunks = evaluation.chunks();
    std::size_t workers = threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min(workers, chunks);
    // Scratch space is allocated here, so that nothing inside a helper thread can throw.
    std::vector<std::vector<double>> scratch(workers, std::vector<double>(evaluation.coefficients()));
    if (workers <= 1) {
        for (std::size_t chunk = 0; chunk < chunks; ++chunk) evaluation.computeChunk(chunk, scratch[0]);
        return;
    }
    std::atomic<std::size_t> next{0};
    auto work = [&](std::size_t worker) {
        for (std::size_t chunk = next.fetch_add(1); chunk < chunks; chunk = next.fetch_add(1))
            evaluation.computeChunk(chunk, scratch[worker]);
    };
    std::vector<std::jthread> helpers;
    helpers.reserve(workers - 1);
    try {
        for (std::size_t i = 1; i < workers; ++i) helpers.emplace_back(work, i);
    } catch (const std::system_error&) {
        // Fewer helpers only means less parallelism.
    }
    work(0);
}

std::vector<double> zeros(std::size_t n) { return std::vector<double>(n, 0.0); }

double fit(const boost::shared_ptr<LogLikelihood>& f, std::size_t coefficients, std::vector<double>* solution) {
    std::vector<double> x;
    double value = 0.0;
    if (newtonSolve(f, x, value, zeros(coefficients), fitTolerance) != 0) throw KorvanthTextException(notConvergedText);
    if (solution != nullptr) *solution = std::move(x);
    return value;
}

Matrix withoutColumn(const Matrix& factors, std::size_t dropped) {
    Matrix result(factors.rows(), factors.columns() - 1);
    for (std::size_t i = 0; i < factors.rows(); ++i) {
        const double* from = factors.row(i);
        double* to = result.row(i);
        std::copy(from, from + dropped, to);
        std::copy(from + dropped + 1, from + factors.columns(), to + dropped);
    }
    return result;
}

double pValue(double statistic) {
    if (statistic > 100.0) return 0.0;
    if (statistic > 1e-10) return 1.0 - Distributions::cumulativeGamma(statistic * 0.5, 0.5);
    return 1.0;
}

}  // namespace

RegressionData::RegressionData(std::vector<int> indicatorValues, Matrix factorValues)
    : indicators(std::move(indicatorValues)), factors(std::move(factorValues)) {
    if (indicators.size() != factors.rows())
        throw KorvanthTextException("The number of indicators and the number of observations of the factors differ");
    if (indicators.size() > static_cast<std::size_t>(INT_MAX))
        throw KorvanthTextException("There are too many observations for a logistic regression");
    for (std::size_t i = 0; i < indicators.size(); ++i) {
        if (indicators[i] == 1) {
            defaultRows.push_back(static_cast<int>(i));
        } else if (indicators[i] == 0) {
            survivalRows.push_back(static_cast<int>(i));
        } else {
            throw KorvanthTextException("At least one indicator value is not equal to 0 or 1");
        }
    }
    defaultPDs.assign(defaultRows.size(), 0.0);
    survivalPDs.assign(survivalRows.size(), 0.0);
}

void LogLikelihood::evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                             Matrix& hessian) {
    const std::size_t offset = withConstant ? 1 : 0;
    // More coefficients than factor columns would read beyond each row.
    if (x.size() < offset || x.size() - offset > data_->factors.columns())
        throw KorvanthTextException("The number of coefficients does not fit the number of factors");
    Evaluation evaluation(*data_, x, withConstant);
    computeChunks(evaluation, threads_);
    evaluation.collect(value, gradient, hessian);
}

void estimate(RegressionData& data, RegressionResult& result, unsigned threads) {
    const std::size_t k = data.factors.columns();
    if (k > maximumFactors) throw KorvanthTextException(tooManyFactorsText);
    const std::size_t n = k + 1;
    auto likelihood = boost::make_shared<LogLikelihood>(&data, threads);

    result.logLikelihood = fit(likelihood, n, &result.coefficients);

    // The restricted fits change the data set; whatever happens, it gets its own matrix back.
    struct Restore {
        RegressionData& data;
        LogLikelihood& likelihood;
        Matrix kept;
        ~Restore() {
            data.factors = std::move(kept);
            likelihood.withConstant = true;
        }
    } restore{data, *likelihood, data.factors};

    result.likelihoodRatios.assign(n, 0.0);
    for (std::size_t a = 0; a < n; ++a) {
        double restricted = 0.0;
        if (a == 0) {
            likelihood->withConstant = false;
            restricted = fit(likelihood, k, nullptr);
            likelihood->withConstant = true;
        } else if (k == 1) {
            restricted = fit(likelihood, 1, nullptr);
        } else {
            data.factors = withoutColumn(restore.kept, a - 1);
            restricted = fit(likelihood, k, nullptr);
        }
        result.likelihoodRatios[a] = (restricted - result.logLikelihood) * (-2.0);
    }

    result.pValues.resize(n);
    for (std::size_t a = 0; a < n; ++a) result.pValues[a] = pValue(result.likelihoodRatios[a]);
}

}  // namespace Korvanth::LogisticRegression
