// Gauss-Jordan elimination on matrices with known inverses, permutations, singular and tied
// cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analytics/error.hpp"
#include "analytics/matrix.hpp"

namespace Korvanth {
namespace {

using Rows = std::vector<std::vector<double>>;

Matrix matrix(const Rows& rows) {
    Matrix m(rows.size(), rows.empty() ? 0 : rows[0].size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = 0; j < rows[i].size(); ++j) m(i, j) = rows[i][j];
    return m;
}

// The message of the library error thrown by `call`, with its code; code -1 when nothing is thrown.
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

double largestDifference(const Matrix& a, const Matrix& b) {
    double worst = 0;
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t j = 0; j < a.columns(); ++j) worst = std::max(worst, std::fabs(a(i, j) - b(i, j)));
    return worst;
}

Matrix product(const Matrix& a, const Matrix& b) {
    Matrix c(a.rows(), b.columns());
    for (std::size_t i = 0; i < a.rows(); ++i)
        for (std::size_t k = 0; k < a.columns(); ++k)
            for (std::size_t j = 0; j < b.columns(); ++j) c(i, j) += a(i, k) * b(k, j);
    return c;
}

struct KnownInverse {
    int line;
    Rows a, inverse;
    double tolerance;
};

// Inverses worked out by hand (adjugate over determinant).
const KnownInverse knownInverses[] = {
    {__LINE__, {{4.0}}, {{0.25}}, 0.0},
    {__LINE__, {{2, 1}, {1, 1}}, {{1, -1}, {-1, 2}}, 1e-15},
    {__LINE__, {{4, 7}, {2, 6}}, {{0.6, -0.7}, {-0.2, 0.4}}, 1e-15},
    {__LINE__, {{0, 1}, {1, 0}}, {{0, 1}, {1, 0}}, 0.0},
    {__LINE__, {{1, 2, 3}, {0, 1, 4}, {5, 6, 0}}, {{-24, 18, 5}, {20, -15, -4}, {-5, 4, 1}}, 1e-13},
    {__LINE__, {{2, 0, 0}, {0, -4, 0}, {0, 0, 0.5}}, {{0.5, 0, 0}, {0, -0.25, 0}, {0, 0, 2}}, 0.0},
    {__LINE__, {{1, 1, 1}, {0, 1, 1}, {0, 0, 1}}, {{1, -1, 0}, {0, 1, -1}, {0, 0, 1}}, 1e-15},
    // The 3 x 3 Hilbert matrix, with its integer inverse.
    {__LINE__,
     {{1, 1.0 / 2, 1.0 / 3}, {1.0 / 2, 1.0 / 3, 1.0 / 4}, {1.0 / 3, 1.0 / 4, 1.0 / 5}},
     {{9, -36, 30}, {-36, 192, -180}, {30, -180, 180}},
     1e-11},
    // Needs a row swap in the first pass: the largest element sits off the diagonal.
    {__LINE__, {{0, 0, 2}, {0, 3, 0}, {1, 0, 0}}, {{0, 0, 1}, {0, 1.0 / 3, 0}, {0.5, 0, 0}}, 0.0},
};

TEST(GaussJordan, KnownInverses) {
    for (const KnownInverse& c : knownInverses) {
        Matrix a = matrix(c.a), b(c.a.size(), 2);
        for (std::size_t i = 0; i < b.rows(); ++i) b(i, 0) = 1.0, b(i, 1) = static_cast<double>(i);
        const Matrix rhs = b;
        gaussJordan(a, b);
        EXPECT_LE(largestDifference(a, matrix(c.inverse)), c.tolerance) << "line " << c.line;
        EXPECT_LE(largestDifference(b, product(matrix(c.inverse), rhs)), 100 * c.tolerance + 1e-15)
            << "line " << c.line;
    }
}

TEST(GaussJordan, SingularMatrices) {
    const Rows singular[] = {
        {{0.0}},
        {{0, 0}, {0, 0}},
        {{1, 2}, {1, 2}},                    // two equal rows
        {{1, 2, 3}, {4, 5, 6}, {1, 2, 3}},   // two equal rows, apart
        {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},   // dependent rows, exactly so in doubles
        {{1, 0, 0}, {0, 0, 0}, {0, 0, 1}},   // a zero row
        {{2, 0, 4}, {1, 0, 3}, {5, 0, 1}},   // a zero column
    };
    for (const Rows& rows : singular) {
        Matrix a = matrix(rows), b(rows.size(), 1, 1.0);
        const Thrown t = thrownBy([&] { gaussJordan(a, b); });
        EXPECT_EQ(t.code, 89) << rows.size() << " x " << rows.size() << ", first " << rows[0][0];
        EXPECT_EQ(t.message, "Singular matrix in a Gauss elimination");
    }
}

// Among equal magnitudes the last one scanned becomes the pivot. For ((1, 1), (1, 1)) that is the
// element at (1, 1), which leaves row 0 as (0, -1) with b = 1 - 2 before the second pass fails;
// the first element as pivot would have left ((1, 1), (0, -1)) instead.
TEST(GaussJordan, TieGoesToTheLastElementScanned) {
    Matrix a = matrix({{1, 1}, {1, 1}}), b = matrix({{1}, {2}});
    EXPECT_EQ(thrownBy([&] { gaussJordan(a, b); }).code, 89);
    EXPECT_EQ(a, matrix({{0, -1}, {1, 1}}));
    EXPECT_EQ(b, matrix({{-1}, {2}}));
}

TEST(GaussJordan, NotANumberNeverReadsOutside) {
    for (std::size_t n = 1; n <= 5; ++n) {
        Matrix a(n, n, std::numeric_limits<double>::quiet_NaN()), b(n, 1, 1.0);
        const Thrown t = thrownBy([&] { gaussJordan(a, b); });
        if (t.code == -1) {
            for (std::size_t i = 0; i < n; ++i) EXPECT_FALSE(std::isfinite(b(i, 0))) << n;
        } else {
            EXPECT_EQ(t.code, 89) << n;
        }
    }
}

// The solver without the inverse: the same digits as gaussJordan, or false where it hands over.
TEST(SolveGaussJordan, SameDigitsAsGaussJordan) {
    std::mt19937 gen(7);
    std::normal_distribution<double> normal;
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t n = 1 + static_cast<std::size_t>(trial % 12);
        Matrix a(n, n), b(n, 2);
        for (std::size_t i = 0; i < n * n; ++i)
            a(i / n, i % n) = trial % 3 == 0 ? std::round(2 * normal(gen)) : normal(gen);
        for (std::size_t i = 0; i < n * 2; ++i) b(i / 2, i % 2) = i % 2 == 0 ? normal(gen) : std::round(normal(gen));
        if (trial % 7 == 0) a(n - 1, 0) = std::numeric_limits<double>::quiet_NaN();
        Matrix inverse = a, expected = b, scratch = a, x = b;
        const Thrown reference = thrownBy([&] { gaussJordan(inverse, expected); });
        const Thrown t = thrownBy([&] {
            if (!solveGaussJordan(scratch, x)) scratch = a, x = b, gaussJordan(scratch, x);
        });
        ASSERT_EQ(t.code, reference.code) << trial;
        for (std::size_t i = 0; t.code == -1 && i < n * 2; ++i) {
            const double want = expected(i / 2, i % 2), got = x(i / 2, i % 2);
            if (!std::isnan(want) || !std::isnan(got)) {
                ASSERT_EQ(got, want) << trial;
            }
        }
    }
}

}  // namespace
}  // namespace Korvanth
