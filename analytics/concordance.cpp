// Concordance terms by a sweep over rating-1 groups with a Fenwick tree over rating-2 ranks.
#include "analytics/concordance.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "analytics/matrix.hpp"

namespace Korvanth {

namespace {

// The set bits of a word, inline: without an instruction set that has a count of bits, the
// compiler calls a library function for std::popcount, once per debtor here.
inline unsigned bitCount(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555;
    x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0f;
    return static_cast<unsigned>((x * 0x0101010101010101) >> 56);
}

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

// The same weights kept as sums per block of 64 positions and within each block: a query reads
// two numbers instead of walking the tree, an insertion adds along its block and to every later
// block's sum. For many queries against few insertions, as with few defaults among many survivals.
class BlockedWeights {
public:
    static constexpr std::size_t width = 64;
    explicit BlockedWeights(std::size_t n) : within_((n / width + 1) * width, 0), before_(n / width + 1, 0) {}
    void add(std::size_t position, std::uint32_t weight) {
        const std::size_t block = position / width;
        for (std::size_t i = position + 1; i < (block + 1) * width; ++i) within_[i] += weight;
        for (std::size_t b = block + 1; b < before_.size(); ++b) before_[b] += weight;
    }
    std::int64_t below(std::size_t end) const { return std::int64_t{before_[end / width]} + within_[end]; }

private:
    std::vector<std::uint32_t> within_;  // weight in the block before each position
    std::vector<std::uint32_t> before_;  // weight in the blocks before each block
};

// A survival's weights: those below its place, and those below the next place where its rating-2
// rank holds defaults, else those below its place again.
template <class Weights>
std::int64_t weightsAround(const Weights& weights, std::size_t place, bool holds) {
    const std::int64_t lower = weights.below(place);
    return lower + (holds ? weights.below(place + 1) : lower);
}

// With the lower groups' defaults weighing 2 and group r's 1, a survival's correction is
// (weight below b) - (weight above b): twice the weight below b plus the weight at b, the
// weights' sum below b's place plus that below the next place, less the total.
template <class Weights, class Starts>
std::int64_t sweepCount(Weights weights, std::size_t places, std::size_t depth, const RankedRating& one,
                        const Starts& dStart, const Starts& sStart, const Ranks& dPlace, const Ranks& sPlace) {
    const std::size_t u1 = one.ranks.distinct.size();
    Counts weight(places, 0), prefix;
    std::int64_t total = 0, count = 0;
    auto insertGroup = [&](std::size_t r) {
        for (std::size_t k = dStart[r]; k < dStart[r + 1]; ++k) {
            ++weight[dPlace[k]];
            weights.add(dPlace[k], 1);
        }
        total += one.defaultsAt(r);
    };
    for (std::size_t r = 0; r < u1; ++r) {
        insertGroup(r);
        const std::size_t first = sStart[r], end = sStart[r + 1];
        std::int64_t sum = 0;
        if ((end - first) * depth > places) {
            // A long run of tied survivals reads a prefix table instead of querying the weights.
            prefix.resize(places + 1);
            prefix[0] = 0;
            for (std::size_t c = 0; c < places; ++c) prefix[c + 1] = prefix[c] + weight[c];
            for (std::size_t k = first; k < end; ++k) sum += prefix[sPlace[k] / 2] + prefix[sPlace[k] / 2 + sPlace[k] % 2];
        } else {
            for (std::size_t k = first; k < end; ++k) sum += weightsAround(weights, sPlace[k] / 2, sPlace[k] % 2 != 0);
        }
        count += sum - static_cast<std::int64_t>(end - first) * total;
        insertGroup(r);
    }
    return count;
}

}  // namespace

// The pairs and triples terms from both ratings' ranks. The debtors are grouped by their rating-1
// rank with a counting sort; a sweep over the groups keeps the defaults of lower groups in a
// Fenwick tree over the rating-2 ranks that hold defaults (their places), so that the tree stays
// as small as the defaults are few or tied. A rank's place comes from a bitmap of those ranks
// with a count per word, and what lies below a place from a table per place: all of it stays in
// the cache, where a table per rank of a full column's distinct scores would not. The triples are
// added in the order of a sweep over the survivals by descending rating 1 (and over the defaults
// by ascending rating 1), later positions first among equals (earlier first), so that their
// rounding is always the same.
PairsTermsSteps::PairsTermsSteps(const RankedRating& one, const RankedRating& two, const Flags& defaulted)
    : one_(one), two_(two), defaulted_(defaulted), nd_(one.totalDefaults), ns_(one.totalSurvivals) {
    // Rating 2's rank of each debtor, made from its order where ranking left them out.
    if (two.ranks.rank.size() != defaulted.size()) {
        made_.resize(defaulted.size());
        for (std::size_t k = 0; k < two.ranks.order.size(); ++k) made_[two.ranks.order[k]] = static_cast<std::uint32_t>(k);
    }
    if (one.ranks.order.size() == defaulted.size() && one.ranks.distinct.size() == defaulted.size() &&
        one.defaultedAt.size() == defaulted.size())
        walked_.resize(defaulted.size());
}

void PairsTermsSteps::placeRanks() {
    const std::size_t u2 = two_.ranks.distinct.size();
    const std::int64_t nd = nd_;
    const std::size_t words = u2 / 64 + 1;
    held_.assign(words, 0);
    heldBefore_.assign(words, 0);
    // Reserved: grown entry by entry over a full column, it took three times the loop that fills it.
    placed_.reserve(static_cast<std::size_t>(std::min<std::int64_t>(nd, static_cast<std::int64_t>(u2))) + 1);
    // For a survival of rank b the sum over the defaults of sign(rating 1) * sign(rating 2) is
    // first (defaults above b - below b); the sweep corrects it for rating 1.
    auto place = [&](auto countsAt) {
        std::int64_t defaults = 0, survivals = 0, count = 0;
        for (std::size_t b = 0; b < u2; ++b) {
            const auto [db, sb] = countsAt(b);
            count += sb * (nd - defaults - (defaults + db));
            if (db != 0) {
                held_[b / 64] |= std::uint64_t{1} << (b % 64);
                placed_.push_back({defaults, survivals, survivals + sb});
            }
            defaults += db;
            survivals += sb;
        }
        placed_.push_back({defaults, survivals, survivals});
        count_ = count;
    };
    two_.withCountsAt(place);
    for (std::size_t w = 1; w < words; ++w) heldBefore_[w] = heldBefore_[w - 1] + bitCount(held_[w - 1]);
}

// Each debtor's rank under rating 2 in rating-1 order: a loop that only reads at random keeps many
// reads in flight.
void PairsTermsSteps::gather() {
    const Ranks& ranks2 = ranks2ByDebtor();
    for (std::size_t k = 0; k < walked_.size(); ++k) walked_[k] = ranks2[one_.ranks.order[k]];
}

PairsTerms pairsTerms(const RankedRating& one, const RankedRating& two, const Flags& defaulted) {
    PairsTermsSteps steps(one, two, defaulted);
    steps.placeRanks();
    steps.gather();
    return steps.sum();
}

PairsTerms PairsTermsSteps::sum() const {
    const RankedRating& one = one_;
    const Flags& defaulted = defaulted_;
    const Ranks& ranks2 = ranks2ByDebtor();
    const std::size_t u1 = one.ranks.distinct.size();
    const std::int64_t nd = nd_, ns = ns_;
    const auto& placed = placed_;
    const auto& held = held_;
    const auto& heldBefore = heldBefore_;
    std::int64_t count = count_;
    PairsTerms t;
    auto placeOf = [&](std::uint32_t b) -> std::size_t {
        const std::uint64_t below = (std::uint64_t{1} << (b % 64)) - 1;
        return heldBefore[b / 64] + std::size_t{bitCount(held[b / 64] & below)};
    };
    auto holds = [&](std::uint32_t b) -> std::size_t { return (held[b / 64] >> (b % 64)) & 1; };
    const std::size_t places = placed.size() - 1;
    // Under rating 2, the defaults above a survival less those below it (`above` is the next place
    // where its rank holds defaults, else its own), and the survivals above a default less those below.
    auto defaultsSigned2 = [&](std::size_t place, std::size_t above) {
        return nd - placed[place].defaultsBelow - placed[above].defaultsBelow;
    };
    auto survivalsSigned2 = [&](std::size_t place) {
        return ns - placed[place].survivalsBelow - placed[place].survivalsUpTo;
    };
    // The survivals' corrections for rating 1 from the tree, or from the blocks where an
    // insertion's adds cost no more than a few queries' steps; both hold the same integers.
    const std::size_t depth = static_cast<std::size_t>(std::bit_width(places));
    const bool blocked = 2 * static_cast<std::size_t>(nd) * (places / BlockedWeights::width + BlockedWeights::width) <=
                         4 * depth * static_cast<std::size_t>(ns);

    if (!walked_.empty()) {
        // Every rank of rating 1 holds one debtor, a default or a survival: one walk in rating-1
        // order makes the sweep and both triples, in the same order, with no groups laid out. A
        // default goes in at once with both its weights, since no survival shares its group.
        const auto& walked = walked_;
        const auto& defaultedAt = one.defaultedAt;  // rating 1's flags, in the same order
        auto walk = [&](auto weights) {
            std::vector<double, UnsetAllocator<double>> survivalTerms(static_cast<std::size_t>(ns));
            std::int64_t defaultsBelow = 0, total = 0;
            std::size_t survivalsBelow = 0;
            for (std::size_t k = 0; k < walked.size(); ++k) {
                const std::uint32_t b = walked[k];
                const std::size_t place = placeOf(b);
                if (defaultedAt[k] != 0) {
                    weights.add(place, 2);
                    total += 2;
                    ++defaultsBelow;
                    const std::int64_t sSigned1 = ns - 2 * static_cast<std::int64_t>(survivalsBelow);
                    t.defaultTriple += static_cast<double>(sSigned1 * survivalsSigned2(place));
                } else {
                    const std::size_t above = place + holds(b);
                    count += weightsAround(weights, place, above != place) - total;
                    const std::int64_t dSigned1 = nd - 2 * defaultsBelow;
                    survivalTerms[survivalsBelow++] = static_cast<double>(dSigned1 * defaultsSigned2(place, above));
                }
            }
            // The survivals' triples by descending rating 1, as the groups' sweep adds them.
            for (std::size_t k = survivalTerms.size(); k-- > 0;) t.survivalTriple += survivalTerms[k];
        };
        if (blocked)
            walk(BlockedWeights(places));
        else
            walk(WeightTree(places, 2 * static_cast<std::uint64_t>(nd)));  // each default weighs 2
        t.count = count;
        return t;
    }

    // Each group's start, in the counting sort shifted by one: after it, start[r] is group r's.
    using Starts = std::vector<std::uint32_t, UnsetAllocator<std::uint32_t>>;
    Starts dStart, sStart;
    dStart.reserve(u1 + 1);
    sStart.reserve(u1 + 1);
    for (std::size_t r = 0; r <= u1; ++r) {
        dStart.push_back(r < 2 ? 0 : dStart.back() + static_cast<std::uint32_t>(one.defaultsAt(r - 2)));
        sStart.push_back(r < 2 ? 0 : sStart.back() + static_cast<std::uint32_t>(one.survivalsAt(r - 2)));
    }
    // Each group's rating-2 ranks, in input order. Sorting's order of rating 1 lists the debtors
    // so already, and is read in turn rather than written through at random. The ranks are then
    // made places once: a default's place, a survival's doubled with the lowest bit set where its
    // rank holds defaults.
    Ranks dPlace(static_cast<std::size_t>(nd)), sPlace(static_cast<std::size_t>(ns));
    {
        const std::uint32_t* rank1 = one.ranks.rank.data();
        const std::uint32_t* rank2 = ranks2.data();
        if (one.ranks.order.size() == defaulted.size()) {
            std::size_t d = 0, s = 0;
            for (const std::uint32_t i : one.ranks.order) {
                if (defaulted[i] != 0)
                    dPlace[d++] = rank2[i];
                else
                    sPlace[s++] = rank2[i];
            }
            for (std::size_t r = 0; r < u1; ++r) {
                dStart[r + 1] += static_cast<std::uint32_t>(one.defaultsAt(r));
                sStart[r + 1] += static_cast<std::uint32_t>(one.survivalsAt(r));
            }
        } else {
            for (std::size_t i = 0; i < defaulted.size(); ++i) {
                if (defaulted[i] != 0)
                    dPlace[dStart[rank1[i] + 1]++] = rank2[i];
                else
                    sPlace[sStart[rank1[i] + 1]++] = rank2[i];
            }
        }
        for (std::uint32_t& b : dPlace) b = static_cast<std::uint32_t>(placeOf(b));
        for (std::uint32_t& b : sPlace) b = static_cast<std::uint32_t>(2 * placeOf(b) + holds(b));
    }

    if (blocked)
        count += sweepCount(BlockedWeights(places), places, depth, one, dStart, sStart, dPlace, sPlace);
    else
        count += sweepCount(WeightTree(places, 2 * static_cast<std::uint64_t>(nd)), places, depth, one, dStart, sStart,
                            dPlace, sPlace);  // each default goes in twice
    t.count = count;

    // The signed counts per rank: those above it minus those below it.
    for (std::size_t r = u1; r-- > 0;) {
        const std::int64_t dSigned1 = nd - std::int64_t{dStart[r]} - std::int64_t{dStart[r + 1]};
        for (std::size_t k = sStart[r + 1]; k-- > sStart[r];) {
            const std::int64_t dSigned2 = defaultsSigned2(sPlace[k] / 2, sPlace[k] / 2 + sPlace[k] % 2);
            t.survivalTriple += static_cast<double>(dSigned1 * dSigned2);
        }
    }
    for (std::size_t r = 0; r < u1; ++r) {
        const std::int64_t sSigned1 = ns - std::int64_t{sStart[r]} - std::int64_t{sStart[r + 1]};
        for (std::size_t k = dStart[r]; k < dStart[r + 1]; ++k) {
            t.defaultTriple += static_cast<double>(sSigned1 * survivalsSigned2(dPlace[k]));
        }
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
