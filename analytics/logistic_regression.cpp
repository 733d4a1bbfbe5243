// Maximum-likelihood fit of the logistic model and the likelihood-ratio tests of its coefficients.
//
// Nearly all the time goes into the sums of the log-likelihood, its gradient and its Hessian
// over all observations, once per Newton step. They are summed in a fixed order (rows in order
// within fixed chunks, chunks in order) and every term is formed the same way in every fit,
// whatever the blocking of the loops or the number of threads, so each digit of the result is
// fixed by the data alone.
#include "analytics/logistic_regression.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <thread>
#include <utility>

#include <boost/make_shared.hpp>

#include "analytics/distributions.hpp"
#include "analytics/error.hpp"
#include "analytics/parallel.hpp"

namespace Korvanth::LogisticRegression {

namespace {

constexpr double fitTolerance = 1e-8;
constexpr const char* notConvergedText = "Newton solver of the logistic regression did not converge";

// Observations per chunk of the sums. Fixed, so that the order of additions, and with it every
// digit of the result, does not depend on how many threads share the chunks.
constexpr std::size_t chunkRows = 4096;
// Doubles the chunks' partial sums may take together; with many coefficients the chunks grow instead.
constexpr std::size_t partialBudget = std::size_t{1} << 22;
// Regressors of the rows one block of a chunk holds at most, so that the block stays in the
// first-level cache while it is walked once per strip of the Hessian.
constexpr std::size_t blockDoubles = 4096;

// Offset of row a of the packed upper triangle of an n x n symmetric matrix.
inline std::size_t triangleRow(std::size_t a, std::size_t n) { return a * n - a * (a - 1) / 2; }
inline std::size_t triangleSize(std::size_t n) { return n * (n + 1) / 2; }

// Two or four doubles in one register; each lane is computed exactly as the scalar would be,
// with the same rounding (no fused multiply-add), so the width does not show in the result.
// Read and written where doubles are, which need not be aligned for the vector: through memcpy,
// which the compiler turns into one unaligned load or store (a lowered alignment on the type does
// not survive a template argument).
using Pair = double __attribute__((vector_size(16)));
using Quad = double __attribute__((vector_size(32)));

template <class V>
[[gnu::always_inline]] inline void load(V& to, const double* from) {
    std::memcpy(&to, from, sizeof to);
}
template <class V>
[[gnu::always_inline]] inline void store(double* to, const V& v) {
    std::memcpy(to, &v, sizeof v);
}

// sum[q] += f * (the q-th vector from `from`), for the Count vectors of one row.
template <class V, std::size_t Count>
[[gnu::always_inline]] inline void addScaled(V* sum, double f, const double* from) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(double);
    for (std::size_t q = 0; q < Count; ++q) {
        V x;
        load(x, from + q * lanes);
        sum[q] += f * x;
    }
}

// Adds (weight_i z_ia) z_ic over the rows i of a block, in row order, to the entries (a, c),
// c = first .. first + Count vectors - 1, of triangle row `out` (indexed by c). The sums stay in
// registers across the rows.
template <class V, std::size_t Count>
[[gnu::always_inline]] inline void addStrip(const double* z, std::size_t rows, std::size_t width, const double* weight,
                                            std::size_t a, std::size_t first, double* out) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(double);
    V sum[Count];
    for (std::size_t q = 0; q < Count; ++q) load(sum[q], out + first + q * lanes);
    for (std::size_t i = 0; i < rows; ++i, z += width) {
        const double f = weight[i] * z[a];
        addScaled<V, Count>(sum, f, z + first);
    }
    for (std::size_t q = 0; q < Count; ++q) store(out + first + q * lanes, sum[q]);
}

// A short row of the triangle, a .. a + Count vectors + Singles - 1, in one walk over the rows, so
// that its sums are added side by side rather than one walk after another.
template <class V, std::size_t Count, std::size_t Singles>
[[gnu::always_inline]] inline void addShortRow(const double* z, std::size_t rows, std::size_t width,
                                               const double* weight, std::size_t a, double* out) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(double);
    V sum[Count > 0 ? Count : 1];
    double single[Singles > 0 ? Singles : 1];
    const std::size_t rest = a + Count * lanes;
    for (std::size_t q = 0; q < Count; ++q) load(sum[q], out + a + q * lanes);
    for (std::size_t t = 0; t < Singles; ++t) single[t] = out[rest + t];
    for (std::size_t i = 0; i < rows; ++i, z += width) {
        const double f = weight[i] * z[a];
        addScaled<V, Count>(sum, f, z + a);
        for (std::size_t t = 0; t < Singles; ++t) single[t] += f * z[rest + t];
    }
    for (std::size_t q = 0; q < Count; ++q) store(out + a + q * lanes, sum[q]);
    for (std::size_t t = 0; t < Singles; ++t) out[rest + t] = single[t];
}

// Rows of the triangle shorter than four vectors, by their length.
template <class V>
[[gnu::always_inline]] inline void addShortRow(const double* z, std::size_t rows, std::size_t width,
                                               const double* weight, std::size_t a, double* out) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(double);
    const std::size_t length = width - a;
    switch (length / lanes * 4 + length % lanes) {
#define TAVIRUNE_SHORT_ROW(count, singles)                                               \
    case (count) * 4 + (singles):                                                        \
        if constexpr ((singles) < lanes) addShortRow<V, count, singles>(z, rows, width, weight, a, out); \
        break;
        TAVIRUNE_SHORT_ROW(0, 1) TAVIRUNE_SHORT_ROW(0, 2) TAVIRUNE_SHORT_ROW(0, 3)
        TAVIRUNE_SHORT_ROW(1, 0) TAVIRUNE_SHORT_ROW(1, 1) TAVIRUNE_SHORT_ROW(1, 2) TAVIRUNE_SHORT_ROW(1, 3)
        TAVIRUNE_SHORT_ROW(2, 0) TAVIRUNE_SHORT_ROW(2, 1) TAVIRUNE_SHORT_ROW(2, 2) TAVIRUNE_SHORT_ROW(2, 3)
        TAVIRUNE_SHORT_ROW(3, 0) TAVIRUNE_SHORT_ROW(3, 1) TAVIRUNE_SHORT_ROW(3, 2) TAVIRUNE_SHORT_ROW(3, 3)
#undef TAVIRUNE_SHORT_ROW
        default:
            break;
    }
}

// The upper triangle of sum_i weight_i z_i z_i' over the rows of a block, added to `triangle`.
template <class V>
[[gnu::always_inline]] inline void addProductsWith(const double* z, std::size_t rows, std::size_t width,
                                                   const double* weight, double* triangle) {
    constexpr std::size_t lanes = sizeof(V) / sizeof(double);
    for (std::size_t a = 0; a < width; ++a) {
        double* out = triangle + triangleRow(a, width) - a;
        if (width - a < 4 * lanes) {
            addShortRow<V>(z, rows, width, weight, a, out);
            continue;
        }
        std::size_t c = a;
        for (; c + 4 * lanes <= width; c += 4 * lanes) addStrip<V, 4>(z, rows, width, weight, a, c, out);
        if (c + 2 * lanes <= width) {
            addStrip<V, 2>(z, rows, width, weight, a, c, out);
            c += 2 * lanes;
        }
        if (c + lanes <= width) {
            addStrip<V, 1>(z, rows, width, weight, a, c, out);
            c += lanes;
        }
        for (; c < width; ++c) {
            double sum = out[c];
            const double* row = z;
            for (std::size_t i = 0; i < rows; ++i, row += width) sum += weight[i] * row[a] * row[c];
            out[c] = sum;
        }
    }
}

using AddProducts = void (*)(const double*, std::size_t, std::size_t, const double*, double*);

void addProductsSse2(const double* z, std::size_t rows, std::size_t width, const double* weight, double* triangle) {
    addProductsWith<Pair>(z, rows, width, weight, triangle);
}

#if defined(__x86_64__) && !defined(_WIN32)
// AVX2 doubles the lanes. Not on Windows, where GCC cannot align the stack for spilled 32-byte registers.
__attribute__((target("avx2"))) void addProductsAvx2(const double* z, std::size_t rows, std::size_t width,
                                                     const double* weight, double* triangle) {
    addProductsWith<Quad>(z, rows, width, weight, triangle);
}
#endif

const AddProducts addProducts = [] {
#if defined(__x86_64__) && !defined(_WIN32)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return &addProductsAvx2;
#endif
    return &addProductsSse2;
}();

std::size_t blockRows(std::size_t width) { return std::max<std::size_t>(8, blockDoubles / std::max<std::size_t>(width, 1)); }

// Adds the log-likelihood of rows begin .. end - 1, from their PDs, to `value` row by row.
double addLogLikelihood(double value, const RegressionData& data, const double* pds, std::size_t begin,
                        std::size_t end) {
    const std::size_t survivalEnd = std::clamp(data.survivals, begin, end);
    for (std::size_t i = begin; i < survivalEnd; ++i) value += std::log(1.0 - pds[i]);
    for (std::size_t i = survivalEnd; i < end; ++i) value += std::log(pds[i]);
    return value;
}

// The partial sums of one chunk: the value, the gradient and the upper triangle of minus the
// Hessian, over all regressors (the dropped one's entries are summed and then left unused).
// The PDs of the rows land in `pds`; the value is summed only `withValue`. `scratch` holds
// 3 * blockRows(width) doubles.
void computeChunk(const RegressionData& data, const double* b, std::size_t dropped, std::size_t begin, std::size_t end,
                  bool withValue, double* sums, double* pds, double* scratch) {
    const std::size_t width = data.width;
    const std::size_t block = blockRows(width);
    double* residual = scratch;
    double* weight = scratch + block;
    double* score = scratch + 2 * block;
    double& value = sums[0];
    double* gradient = sums + 1;
    double* triangle = gradient + width;
    std::fill(sums, sums + 1 + width + triangleSize(width), 0.0);
    const double start = dropped == 0 ? 0.0 : b[0];
    for (std::size_t first = begin; first < end; first += block) {
        const std::size_t rows = std::min(block, end - first);
        const double* z = data.regressors.data() + first * width;
        // The score of each row: the constant, then the factors in column order.
        for (std::size_t i = 0; i < rows; ++i) {
            const double* row = z + i * width;
            double s = start;
            for (std::size_t j = 1; j < width; ++j)
                if (j != dropped) s += b[j] * row[j];
            score[i] = s;
        }
        for (std::size_t i = 0; i < rows; ++i) {
            const double p = 1.0 / (std::exp(-score[i]) + 1.0);
            pds[first + i] = p;
            residual[i] = first + i >= data.survivals ? 1.0 - p : -p;
            weight[i] = p * (1.0 - p);
        }
        if (withValue) value = addLogLikelihood(value, data, pds, first, first + rows);
        for (std::size_t i = 0; i < rows; ++i) {
            const double* row = z + i * width;
            const double r = residual[i];
            for (std::size_t a = 0; a < width; ++a) gradient[a] += r * row[a];
        }
        addProducts(z, rows, width, weight, triangle);
    }
}

std::vector<double> zeros(std::size_t n) { return std::vector<double>(n, 0.0); }

// The solver keeps the value of its last evaluation, so only that one needs the logarithms.
double fit(const boost::shared_ptr<LogLikelihood>& f, std::size_t coefficients, std::vector<double>* solution) {
    std::vector<double> x;
    double value = 0.0;
    f->deferValue = true;
    if (newtonSolve(f, x, value, zeros(coefficients), fitTolerance) != 0) throw KorvanthTextException(notConvergedText);
    if (solution != nullptr) *solution = std::move(x);
    return f->valueOfLastEvaluation();
}

double pValue(double statistic) {
    if (statistic > 100.0) return 0.0;
    if (statistic > 1e-10) return 1.0 - Distributions::cumulativeGamma(statistic * 0.5, 0.5);
    return 1.0;
}

}  // namespace

RegressionData::RegressionData(const std::vector<int>& indicators, const Matrix& factors)
    : observations(indicators.size()), width(factors.columns() + 1) {
    if (indicators.size() != factors.rows())
        throw KorvanthTextException("The number of indicators and the number of observations of the factors differ");
    for (int indicator : indicators) {
        if (indicator == 0) {
            ++survivals;
        } else if (indicator != 1) {
            throw KorvanthTextException("At least one indicator value is not equal to 0 or 1");
        }
    }
    // Appended row by row, survivals first: no pass of zeros over memory that is written anyway.
    regressors.reserve(observations * width);
    for (int group : {0, 1}) {
        for (std::size_t i = 0; i < observations; ++i) {
            if (indicators[i] != group) continue;
            regressors.push_back(1.0);
            regressors.insert(regressors.end(), factors.row(i), factors.row(i) + factors.columns());
        }
    }
}

LogLikelihood::LogLikelihood(const RegressionData& data, std::size_t dropped, unsigned threads)
    : data_(data),
      dropped_(dropped < data.width ? dropped : keepAll),
      threads_(threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency())),
      coefficients_(dropped < data.width ? data.width - 1 : data.width) {
    // The chunks follow from the coefficients of this fit alone, as they always have.
    const std::size_t partialSize = 1 + coefficients_ + triangleSize(coefficients_);
    const std::size_t total = data.observations;
    const std::size_t maxChunks = std::max<std::size_t>(1, partialBudget / partialSize);
    const std::size_t chunks = (total + chunkRows - 1) / chunkRows;
    rowsPerChunk_ = chunks <= maxChunks ? chunkRows : (total + maxChunks - 1) / maxChunks;
    chunks_ = std::max<std::size_t>(1, (total + rowsPerChunk_ - 1) / rowsPerChunk_);
    threads_ = static_cast<unsigned>(std::min<std::size_t>(threads_, chunks_));

    const std::size_t sumsSize = 1 + data.width + triangleSize(data.width);
    coefficientsByRegressor_.assign(data.width, 0.0);
    total_.assign(sumsSize, 0.0);
    partials_.assign(threads_ > 1 ? chunks_ * sumsSize : sumsSize, 0.0);
    scratch_.assign(threads_, std::vector<double>(3 * blockRows(data.width)));
    pds_.assign(data.observations, 0.0);
}

double LogLikelihood::valueOfLastEvaluation() const {
    // The same additions as evaluate makes: row by row within each chunk, chunks in order.
    double value = 0.0;
    for (std::size_t c = 0; c < chunks_; ++c) {
        const std::size_t begin = c * rowsPerChunk_;
        value += addLogLikelihood(0.0, data_, pds_.data(), begin, std::min(data_.observations, begin + rowsPerChunk_));
    }
    return value;
}

void LogLikelihood::evaluate(const std::vector<double>& x, double& value, std::vector<double>& gradient,
                             Matrix& hessian) {
    if (x.size() != coefficients_)
        throw KorvanthTextException("The number of coefficients does not fit the number of factors");
    const std::size_t width = data_.width;
    const std::size_t n = coefficients_;
    // Regressor of coefficient a.
    auto regressor = [&](std::size_t a) { return a < dropped_ ? a : a + 1; };
    for (std::size_t a = 0; a < n; ++a) coefficientsByRegressor_[regressor(a)] = x[a];

    const std::size_t sumsSize = total_.size();
    const double* b = coefficientsByRegressor_.data();
    auto chunk = [&](std::size_t c, double* sums, double* scratch) {
        const std::size_t begin = c * rowsPerChunk_;
        computeChunk(data_, b, dropped_, begin, std::min(data_.observations, begin + rowsPerChunk_), !deferValue,
                     sums, pds_.data(), scratch);
    };
    std::fill(total_.begin(), total_.end(), 0.0);
    auto addToTotal = [&](const double* sums) {
        for (std::size_t i = 0; i < sumsSize; ++i) total_[i] += sums[i];
    };
    if (threads_ <= 1) {
        for (std::size_t c = 0; c < chunks_; ++c) {
            chunk(c, partials_.data(), scratch_[0].data());
            addToTotal(partials_.data());
        }
    } else {
        // Every chunk keeps its own sums, which are added in chunk order below.
        std::atomic<std::size_t> next{0};
        auto work = [&](std::size_t worker) {
            for (std::size_t c = next.fetch_add(1); c < chunks_; c = next.fetch_add(1))
                chunk(c, partials_.data() + c * sumsSize, scratch_[worker].data());
        };
        {
            std::vector<std::jthread> helpers;
            try {
                helpers.reserve(threads_ - 1);
                for (std::size_t i = 1; i < threads_; ++i) helpers.emplace_back(work, i);
            } catch (const std::exception&) {
                // Fewer helpers only means less parallelism.
            }
            work(0);
        }
        for (std::size_t c = 0; c < chunks_; ++c) addToTotal(partials_.data() + c * sumsSize);
    }

    value = deferValue ? std::numeric_limits<double>::quiet_NaN() : total_[0];
    if (gradient.size() != n) gradient.assign(n, 0.0);
    if (hessian.rows() != n || hessian.columns() != n) hessian = Matrix(n, n);
    const double* triangle = total_.data() + 1 + width;
    for (std::size_t a = 0; a < n; ++a) {
        const std::size_t ra = regressor(a);
        gradient[a] = total_[1 + ra];
        const double* row = triangle + triangleRow(ra, width) - ra;
        for (std::size_t c = a; c < n; ++c) {
            const double h = -row[regressor(c)];
            hessian(a, c) = h;
            hessian(c, a) = h;
        }
    }
}

void estimate(const RegressionData& data, RegressionResult& result, unsigned threads) {
    const std::size_t k = data.width - 1;
    if (k > maximumFactors) throw KorvanthTextException(tooManyFactorsText);
    const std::size_t n = k + 1;

    // Fit 0 is the full model, fit 1 + a the one without coefficient a. Each fit runs on one
    // thread; the fits share the threads.
    std::vector<double> values(n + 1, 0.0);
    std::vector<double> coefficients;
    runInParallel(n + 1, threads, [&](std::size_t f) {
        auto likelihood = boost::make_shared<LogLikelihood>(data, f == 0 ? LogLikelihood::keepAll : f - 1, 1);
        values[f] = fit(likelihood, f == 0 ? n : k, f == 0 ? &coefficients : nullptr);
    });

    result.logLikelihood = values[0];
    result.coefficients = std::move(coefficients);
    result.likelihoodRatios.assign(n, 0.0);
    result.pValues.resize(n);
    for (std::size_t a = 0; a < n; ++a) {
        result.likelihoodRatios[a] = (values[a + 1] - result.logLikelihood) * (-2.0);
        result.pValues[a] = pValue(result.likelihoodRatios[a]);
    }
}

}  // namespace Korvanth::LogisticRegression
