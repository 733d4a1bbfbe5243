// Calibration statistics of default probabilities against observed defaults: the sums of
// Spiegelhalter's test on the mean squared error (per debtor or per grade) with the Hosmer-Lemeshow
// sum (per grade), and the sums of Redelmeier's test of two ratings' difference. Plain numbers in;
// the worksheet functions check them first (PDs in [0, 1], indicators 0 or 1, counts not negative).
#pragma once

#include <cstdint>
#include <span>

namespace Korvanth {

class Matrix;

namespace Calibration {

// Sums weighted by the number of debtors behind each term.
struct Spiegelhalter {
    double squaredErrors = 0;  // sum of (y - p)^2
    double expected = 0;       // sum of p (1 - p)
    double variance = 0;       // sum of (1 - 2p)^2 p (1 - p)
};
// One debtor's terms, added debtor by debtor in row order.
inline void addDebtor(Spiegelhalter& sums, double pd, int indicator) {
    const double error = indicator - pd;
    const double pq = pd * (1.0 - pd);
    const double skew = 1.0 - 2.0 * pd;
    sums.squaredErrors += error * error;
    sums.expected += pq;
    sums.variance += skew * skew * pq;
}

// Per grade: PD, defaults and survivals. A grade without debtors, or whose PD of 0 or 1 came true
// for every debtor, carries no random term and stays out of the Hosmer-Lemeshow sum and its
// degrees of freedom; a PD of 0 or 1 that did not come true contradicts the data.
struct Grades {
    Spiegelhalter sums;
    std::int64_t debtors = 0;  // 64 bits: the grades' counts may add up beyond 32 bits
    double hosmerLemeshow = 0;
    std::int64_t freeGrades = 0;
    bool contradicted = false;
};
Grades grades(std::span<const double> pd, std::span<const int> defaults, std::span<const int> survivals);

// Redelmeier's sums for PDs p (rating 1) and q (rating 2) of the same debtors.
struct Redelmeier {
    double squaredErrors1 = 0, squaredErrors2 = 0;
    double expected1 = 0, expected2 = 0;
    double difference = 0;  // A: n times (MSE1 - MSE2)
    double variance = 0;    // B
};
Redelmeier redelmeier(std::span<const double> p, std::span<const double> q, std::span<const int> indicators);

// The aggregate form: grades' PDs, and the k x k defaults and survivals with rows the grades under
// rating 2 and columns under rating 1, counted as their integer parts (finite, not negative).
Redelmeier redelmeier(std::span<const double> pd, const Matrix& defaults, const Matrix& survivals,
                      std::int64_t& debtors);

}  // namespace Calibration
}  // namespace Korvanth
