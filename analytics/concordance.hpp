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

// pairsTerms in steps, for a caller that spreads them over threads: placeRanks and gather write
// apart and may run side by side; sum runs after both, and gives pairsTerms' terms to the last
// bit. The ratings and flags must outlive the steps.
class PairsTermsSteps {
public:
    PairsTermsSteps(const RankedRating& one, const RankedRating& two, const Flags& defaulted);
    // Rating 2's ranks that hold defaults, and the pairs' first sums from its counts.
    void placeRanks();
    // Each debtor's rating-2 rank in rating-1 order, where rating 1 holds one debtor per rank.
    void gather();
    PairsTerms sum() const;

private:
    // A rating-2 rank that holds defaults: the defaults below it, the survivals below it and up to it.
    struct Place {
        std::int64_t defaultsBelow, survivalsBelow, survivalsUpTo;
    };
    const RankedRating& one_;
    const RankedRating& two_;
    const Flags& defaulted_;
    Ranks made_;  // rating 2's ranks, where ranking left them out
    const Ranks& ranks2ByDebtor() const { return made_.empty() ? two_.ranks.rank : made_; }
    std::int64_t nd_, ns_;
    std::vector<std::uint64_t> held_;  // a bit per rating-2 rank that holds defaults
    std::vector<std::uint32_t> heldBefore_;  // such ranks before each word of bits
    std::vector<Place> placed_;  // per such rank, and a last entry holding every default
    std::int64_t count_ = 0;
    Ranks walked_;  // rating-2 ranks in rating-1 order, where rating 1 is one debtor per rank
};

// The pairs count from keys (orderKeys of scores): d* are the defaults' keys under rating 1 and
// 2, s* the survivals'.
std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2);

// The aggregate form: the survivals' weights S[u][v] times the defaults concordant with cell
// (u, v) minus those discordant, from 2-D prefix sums of the n x n defaults D. u is the grade
// under rating 2, v under rating 1.
double aggregatePairsTerm(const Matrix& defaults, const Matrix& survivals);

}  // namespace Korvanth
