// Gauss-Jordan elimination on matrices with known inverses, permutations, singular and tied
// cases and random systems checked by their residual; the range reader of dense matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
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

Matrix identity(std::size_t n) {
    Matrix m(n, n);
    for (std::size_t i = 0; i < n; ++i) m(i, i) = 1.0;
    return m;
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
        const Matrix original = matrix(c.a), rhs = b;
        gaussJordan(a, b);
        EXPECT_LE(largestDifference(a, matrix(c.inverse)), c.tolerance) << "line " << c.line;
        EXPECT_LE(largestDifference(b, product(matrix(c.inverse), rhs)), 100 * c.tolerance + 1e-15)
            << "line " << c.line;
    }
}

TEST(GaussJordan, OneByOne) {
    Matrix a = matrix({{4.0}}), b = matrix({{2.0}});
    gaussJordan(a, b);
    EXPECT_EQ(a(0, 0), 0.25);
    EXPECT_EQ(b(0, 0), 0.5);
}

TEST(GaussJordan, EmptySystemChangesNothing) {
    Matrix a, b;
    EXPECT_EQ(thrownBy([&] { gaussJordan(a, b); }).code, -1);
    EXPECT_EQ(a.rows(), 0u);
    EXPECT_EQ(b.rows(), 0u);
}

TEST(GaussJordan, WithoutRightHandSideStillInverts) {
    Matrix a = matrix({{4, 7}, {2, 6}}), b(2, 0);
    gaussJordan(a, b);
    EXPECT_LE(largestDifference(a, matrix({{0.6, -0.7}, {-0.2, 0.4}})), 1e-15);
    EXPECT_EQ(b.columns(), 0u);
}

// The inverse of a permutation matrix is its transpose, and solving only reorders b; both exactly.
TEST(GaussJordan, PermutationMatrices) {
    std::mt19937 gen(11);
    for (std::size_t n : {2u, 3u, 4u, 7u, 12u}) {
        std::vector<std::size_t> order(n);
        std::iota(order.begin(), order.end(), 0);
        for (int trial = 0; trial < 20; ++trial) {
            std::shuffle(order.begin(), order.end(), gen);
            Matrix p(n, n), b(n, 2);
            for (std::size_t i = 0; i < n; ++i) {
                p(i, order[i]) = 1.0;  // row i of p x picks x[order[i]]
                b(i, 0) = static_cast<double>(i) + 0.5;
                b(i, 1) = -static_cast<double>(i * i);
            }
            Matrix a = p, x = b;
            gaussJordan(a, x);
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t j = 0; j < n; ++j) ASSERT_EQ(a(i, j), p(j, i)) << n << ": " << i << ", " << j;
                ASSERT_EQ(x(order[i], 0), b(i, 0)) << n << ": " << i;
                ASSERT_EQ(x(order[i], 1), b(i, 1)) << n << ": " << i;
            }
        }
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

TEST(GaussJordan, NearlySingularGivesLargeValuesWithoutFailing) {
    Matrix a = matrix({{1, 1}, {1, 1 + 1e-12}}), b = matrix({{1}, {1}});
    EXPECT_EQ(thrownBy([&] { gaussJordan(a, b); }).code, -1);
    EXPECT_GT(std::fabs(a(0, 0)), 1e11);
}

// Mismatched shapes would make the elimination read outside the storage; they are refused.
TEST(GaussJordan, MismatchedShapesAreRefused) {
    const std::string text = "The matrices of a Gauss elimination do not have matching dimensions";
    Matrix rectangular(2, 3), b2(2, 1), square(3, 3), b2x1(2, 1);
    EXPECT_EQ(thrownBy([&] { gaussJordan(rectangular, b2); }).message, text);
    EXPECT_EQ(thrownBy([&] { gaussJordan(square, b2x1); }).message, text);
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

// Diagonally dominant random systems: small residual of the solution and of the inverse.
TEST(GaussJordan, RandomWellConditionedSystems) {
    std::mt19937 gen(2026);
    std::uniform_real_distribution<double> entry(-1.0, 1.0);
    for (std::size_t n : {2u, 3u, 5u, 10u, 25u, 60u}) {
        for (int trial = 0; trial < 10; ++trial) {
            Matrix a(n, n), b(n, 3);
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t j = 0; j < n; ++j) a(i, j) = entry(gen);
                a(i, i) += static_cast<double>(n) * (trial % 2 == 0 ? 1.0 : -1.0);
                for (std::size_t j = 0; j < 3; ++j) b(i, j) = 10 * entry(gen);
            }
            Matrix inverse = a, x = b;
            gaussJordan(inverse, x);
            EXPECT_LE(largestDifference(product(a, x), b), 1e-12 * static_cast<double>(n)) << n << ", " << trial;
            EXPECT_LE(largestDifference(product(a, inverse), identity(n)), 1e-13 * static_cast<double>(n))
                << n << ", " << trial;
            EXPECT_LE(largestDifference(product(inverse, b), x), 1e-12 * static_cast<double>(n)) << n << ", " << trial;
        }
    }
}

// The solution alone, every digit as gaussJordan gives it, failures included: dense random
// systems, ties among small integers, and NaNs (where it hands over to gaussJordan).
TEST(SolveGaussJordan, SameDigitsAsGaussJordan) {
    std::mt19937 gen(7);
    std::normal_distribution<double> normal;
    std::uniform_int_distribution<int> small(-2, 2);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t n = 1 + static_cast<std::size_t>(trial % 12);
        Matrix a(n, n), b(n, 2);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < n; ++j) a(i, j) = trial % 3 == 0 ? small(gen) : normal(gen);
            b(i, 0) = normal(gen);
            b(i, 1) = small(gen);
        }
        if (trial % 7 == 0) a(n - 1, 0) = std::numeric_limits<double>::quiet_NaN();
        Matrix inverse = a, expected = b, scratch = a, x = b;
        const Thrown reference = thrownBy([&] { gaussJordan(inverse, expected); });
        const Thrown t = thrownBy([&] {
            if (!solveGaussJordan(scratch, x)) {
                scratch = a;
                x = b;
                gaussJordan(scratch, x);
            }
        });
        ASSERT_EQ(t.code, reference.code) << trial;
        if (t.code != -1) continue;
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t j = 0; j < 2; ++j) {
                if (!std::isnan(expected(i, j)) || !std::isnan(x(i, j))) {
                    ASSERT_EQ(x(i, j), expected(i, j)) << trial;
                }
            }
        }
    }
}

TEST(CellMatrixToDenseMatrix, CopiesTheNumericRows) {
    xlframe::CellMatrix range(3, 2);
    range(0, 0) = 1.0, range(0, 1) = 2.0, range(2, 0) = 3.0, range(2, 1) = -4.5;  // row 1 stays Empty
    const Matrix m = cellMatrixToDenseMatrix(range, "m");
    EXPECT_EQ(m, matrix({{1, 2}, {3, -4.5}}));
}

TEST(CellMatrixToDenseMatrix, MessagesCarryTheName) {
    xlframe::CellMatrix text(1, 2), ragged(2, 2), empty(2, 2);
    text(0, 0) = 1.0, text(0, 1) = "x";
    ragged(0, 0) = 1.0, ragged(0, 1) = 2.0, ragged(1, 0) = 3.0;
    const Thrown t1 = thrownBy([&] { cellMatrixToDenseMatrix(text, "of weights"); });
    const Thrown t2 = thrownBy([&] { cellMatrixToDenseMatrix(ragged, "of weights"); });
    const Thrown t3 = thrownBy([&] { cellMatrixToDenseMatrix(empty, "of weights"); });
    EXPECT_EQ(t1.code, 20010);
    EXPECT_EQ(t1.message, "The matrix of weights contains a non-numerical entry");
    EXPECT_EQ(t2.code, 20011);
    EXPECT_EQ(t2.message, "The matrix of weights is not rectangular (are there irregular empty cells?)");
    EXPECT_EQ(t3.code, 20012);
    EXPECT_EQ(t3.message, "The matrix of weights does not contain numerical entries or is empty");
}

}  // namespace
}  // namespace Korvanth
