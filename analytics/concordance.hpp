// The pairs and triples terms of the AUROC difference test of two ratings of the same debtors:
// sums over (default, survival) pairs and triples of the signs of their score differences.
#pragma once

#include <cstdint>
#include <vector>

#include "analytics/ranking.hpp"

namespace Korvanth {

class Matrix;

struct PairsTerms {
    std::int64_t count = 0;     // sum over (default, survival) of sign(rating 1) * sign(rating 2)
    double survivalTriple = 0;  // sum over survivals of (defaults above - below), rating 1 times rating 2
    double defaultTriple = 0;   // sum over defaults of (survivals above - below), rating 1 times rating 2
};

// Both ratings ranked over the same debtors, `defaulted` as given to rankRating.
PairsTerms pairsTerms(const RankedRating& one, const RankedRating& two, const Flags& defaulted);

// The pairs count from keys (orderKeys of scores): d* are the defaults' keys under rating 1 and
// 2, s* the survivals'.
std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2);

// The aggregate form: the survivals' weights S[u][v] times the defaults concordant with cell
// (u, v) minus those discordant, from 2-D prefix sums of the n x n defaults D. u is the grade
// under rating 2, v under rating 1.
double aggregatePairsTerm(const Matrix& defaults, const Matrix& survivals);

}  // namespace Korvanth
