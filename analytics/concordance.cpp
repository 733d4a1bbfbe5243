// Concordance terms by a sweep over rating-1 groups with a Fenwick tree over rating-2 ranks.
#include "analytics/concordance.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "analytics/matrix.hpp"

namespace Korvanth {

namespace {

// Fenwick tree of weights over positions 0..n-1.
// Its sums are 32 bits, half the cache a full column's tree would take otherwise: the total
// weight it may ever hold is given and must stay below 2^32.
class WeightTree {
public:
    WeightTree(std::size_t n, std::uint64_t total) : tree_(n + 1, 0) {
        if (total > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("too many weights");
    }
    void add(std::size_t position, std::uint32_t weight) {
        for (std::size_t i = position + 1; i < tree_.size(); i += i & (~i + 1)) tree_[i] += weight;
    }
    // Total weight at positions below `end`.
    std::int64_t below(std::size_t end) const {
        std::uint32_t sum = 0;
        for (std::size_t i = end; i > 0; i -= i & (~i + 1)) sum += tree_[i];
        return sum;
    }

private:
    std::vector<std::uint32_t, UnsetAllocator<std::uint32_t>> tree_;
};

}  // namespace

// The pairs and triples terms from both ratings' ranks. The debtors are grouped by their rating-1
// rank with a counting sort; a sweep over the groups keeps the defaults of lower groups in a
// Fenwick tree over the rating-2 ranks that hold defaults, so that the tree stays as small as the
// defaults are few or tied. A debtor of rating-2 rank b is placed by what lies below b and below
// b + 1. The triples are added in the order of a sweep over the survivals by
// descending rating 1 (and over the defaults by ascending rating 1), later positions first among
// equals (earlier first), so that their rounding is always the same.
PairsTerms pairsTerms(const RankedRating& one, const RankedRating& two, const Flags& defaulted) {
    const std::size_t u1 = one.ranks.distinct.size(), u2 = two.ranks.distinct.size();
    const std::int64_t nd = std::accumulate(one.defaults.begin(), one.defaults.end(), std::int64_t{0});
    const std::int64_t ns = std::accumulate(one.survivals.begin(), one.survivals.end(), std::int64_t{0});
    // Defaults, survivals and ranks holding defaults of rating-2 rank below b, for b = 0 .. u2.
    struct Below {
        std::uint32_t defaults, survivals, places;
    };
    std::vector<Below, UnsetAllocator<Below>> below2(u2 + 1, Below{0, 0, 0});
    for (std::size_t b = 0; b < u2; ++b)
        below2[b + 1] = {below2[b].defaults + static_cast<std::uint32_t>(two.defaults[b]),
                         below2[b].survivals + static_cast<std::uint32_t>(two.survivals[b]),
                         below2[b].places + (two.defaults[b] != 0 ? 1u : 0u)};
    // Each group's start, in the counting sort shifted by one: after it, start[r] is group r's.
    using Starts = std::vector<std::uint32_t, UnsetAllocator<std::uint32_t>>;
    Starts dStart(u1 + 1, 0), sStart(u1 + 1, 0);
    for (std::size_t r = 1; r < u1; ++r) {
        dStart[r + 1] = dStart[r] + static_cast<std::uint32_t>(one.defaults[r - 1]);
        sStart[r + 1] = sStart[r] + static_cast<std::uint32_t>(one.survivals[r - 1]);
    }
    // Per default its place among the rating-2 ranks holding defaults and the survivals below
    // its rank and below the next; per survival the places and the defaults below its rank and
    // below the next. In input order per group.
    struct DefaultPlace {
        std::uint32_t place, survivalsBelow, survivalsUpTo;
    };
    struct SurvivalPlace {
        std::uint32_t placesBelow, placesUpTo, defaultsBelow, defaultsUpTo;
    };
    std::vector<DefaultPlace, UnsetAllocator<DefaultPlace>> dPlace(static_cast<std::size_t>(nd));
    std::vector<SurvivalPlace, UnsetAllocator<SurvivalPlace>> sPlace(static_cast<std::size_t>(ns));
    {
        const std::uint32_t* rank1 = one.ranks.rank.data();
        const std::uint32_t* rank2 = two.ranks.rank.data();
        for (std::size_t i = 0; i < defaulted.size(); ++i) {
            const Below low = below2[rank2[i]], high = below2[rank2[i] + 1];
            if (defaulted[i] != 0)
                dPlace[dStart[rank1[i] + 1]++] = {low.places, low.survivals, high.survivals};
            else
                sPlace[sStart[rank1[i] + 1]++] = {low.places, high.places, low.defaults, high.defaults};
        }
    }
    PairsTerms t;

    // For a survival of group r with rating-2 rank b, the sum over the defaults of
    // sign(rating 1) * sign(rating 2) is (defaults above b - below b) - 2 L - E, where L and E
    // are (defaults above b - defaults below b) among the lower groups and among group r. With
    // the lower groups' defaults weighing 2 and group r's 1, -2 L - E is (weight below b) -
    // (weight above b), and twice the weight below b plus the weight at b is the tree's weight
    // below b plus that below b + 1.
    std::int64_t count = 0;
    for (std::size_t b = 0; b < u2; ++b)
        count += two.survivals[b] * (nd - std::int64_t{below2[b].defaults} - std::int64_t{below2[b + 1].defaults});
    const std::size_t places = below2[u2].places;
    Counts weight(places, 0), prefix;
    WeightTree tree(places, 2 * static_cast<std::uint64_t>(nd));  // each default goes in twice
    std::int64_t total = 0;
    const std::size_t depth = static_cast<std::size_t>(std::bit_width(places));
    auto insertGroup = [&](std::size_t r) {
        for (std::size_t k = dStart[r]; k < dStart[r + 1]; ++k) {
            ++weight[dPlace[k].place];
            tree.add(dPlace[k].place, 1);
        }
        total += one.defaults[r];
    };
    for (std::size_t r = 0; r < u1; ++r) {
        insertGroup(r);
        const std::size_t first = sStart[r], end = sStart[r + 1];
        std::int64_t sum = 0;
        if ((end - first) * depth > places) {
            // A long run of tied survivals reads a prefix table instead of querying the tree.
            prefix.resize(places + 1);
            prefix[0] = 0;
            for (std::size_t c = 0; c < places; ++c) prefix[c + 1] = prefix[c] + weight[c];
            for (std::size_t k = first; k < end; ++k) sum += prefix[sPlace[k].placesBelow] + prefix[sPlace[k].placesUpTo];
        } else {
            for (std::size_t k = first; k < end; ++k) {
                const SurvivalPlace& place = sPlace[k];
                const std::int64_t lower = tree.below(place.placesBelow);
                sum += lower + (place.placesUpTo == place.placesBelow ? lower : tree.below(place.placesUpTo));
            }
        }
        count += sum - static_cast<std::int64_t>(end - first) * total;
        insertGroup(r);
    }
    t.count = count;

    // The signed counts per rank: those above it minus those below it.
    for (std::size_t r = u1; r-- > 0;) {
        const std::int64_t dSigned1 = nd - std::int64_t{dStart[r]} - std::int64_t{dStart[r + 1]};
        for (std::size_t k = sStart[r + 1]; k-- > sStart[r];)
            t.survivalTriple += static_cast<double>(
                dSigned1 * (nd - std::int64_t{sPlace[k].defaultsBelow} - std::int64_t{sPlace[k].defaultsUpTo}));
    }
    for (std::size_t r = 0; r < u1; ++r) {
        const std::int64_t sSigned1 = ns - std::int64_t{sStart[r]} - std::int64_t{sStart[r + 1]};
        for (std::size_t k = dStart[r]; k < dStart[r + 1]; ++k)
            t.defaultTriple += static_cast<double>(
                sSigned1 * (ns - std::int64_t{dPlace[k].survivalsBelow} - std::int64_t{dPlace[k].survivalsUpTo}));
    }
    return t;
}
std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2) {
    std::vector<std::uint64_t> keys1(d1), keys2(d2);
    keys1.insert(keys1.end(), s1.begin(), s1.end());
    keys2.insert(keys2.end(), s2.begin(), s2.end());
    Flags defaulted(keys1.size(), 0);
    std::fill(defaulted.begin(), defaulted.begin() + static_cast<std::ptrdiff_t>(d1.size()), 1);
    return pairsTerms(rankRating(rankKeys(keys1), defaulted), rankRating(rankKeys(keys2), defaulted), defaulted).count;
}

double aggregatePairsTerm(const Matrix& dm, const Matrix& sm) {
    const std::size_t n = dm.rows();
    // prefix(i, j): defaults in grades u < i (rating 2) and v < j (rating 1).
    std::vector<double> prefix((n + 1) * (n + 1), 0.0);
    auto at = [&](std::size_t i, std::size_t j) -> double& { return prefix[i * (n + 1) + j]; };
    for (std::size_t u = 0; u < n; ++u)
        for (std::size_t v = 0; v < n; ++v) at(u + 1, v + 1) = dm(u, v) + at(u, v + 1) + at(u + 1, v) - at(u, v);
    const double total = at(n, n);
    double pairs = 0;
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = 0; v < n; ++v) {
            const double bothBelow = at(u, v);
            const double bothAbove = total - at(u + 1, n) - at(n, v + 1) + at(u + 1, v + 1);
            const double aboveBelow = at(n, v) - at(u + 1, v);  // u' > u, v' < v
            const double belowAbove = at(u, n) - at(u, v + 1);  // u' < u, v' > v
            pairs += sm(u, v) * (bothAbove + bothBelow - aboveBelow - belowAbove);
        }
    }
    return pairs;
}

}  // namespace Korvanth
