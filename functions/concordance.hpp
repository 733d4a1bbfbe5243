// The pairs terms of the AUROC difference tests, exposed so that tests can hold them against
// the sums over every pair.
#pragma once

#include <cstdint>
#include <vector>

namespace Korvanth {

class Matrix;

// Keys are scores mapped to an order-preserving integer; d* are the defaults' keys under
// rating 1 and 2, s* the survivals'.
std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2);

// The aggregate form: the survivals' weights S[u][v] times the defaults concordant with cell
// (u, v) minus those discordant, from 2-D prefix sums of the n x n defaults D. u is the grade
// under rating 2, v under rating 1.
double aggregatePairsTerm(const Matrix& defaults, const Matrix& survivals);

}  // namespace Korvanth
