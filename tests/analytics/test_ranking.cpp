// Ranking and the concordance terms against sorting and the sums over every pair and triple.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "analytics/concordance.hpp"
#include "analytics/matrix.hpp"
#include "analytics/ranking.hpp"
#include "xlframe/scratch_blocks.hpp"

namespace Korvanth {
namespace {

int sign(std::uint64_t a, std::uint64_t b) { return (a > b) - (a < b); }

void expectSortedRanks(const std::vector<std::uint64_t>& keys, const KeyRanks& r) {
    std::vector<std::uint64_t> distinct = keys;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    ASSERT_EQ(std::vector<std::uint64_t>(r.distinct.begin(), r.distinct.end()), distinct);
    // Ranks left out only where every key is distinct: then order[k] has rank k.
    Ranks rank = r.rank;
    if (rank.empty() && !keys.empty()) {
        ASSERT_EQ(distinct.size(), keys.size());
        ASSERT_EQ(r.order.size(), keys.size());
        rank.resize(keys.size());
        for (std::size_t k = 0; k < keys.size(); ++k) rank[r.order[k]] = static_cast<std::uint32_t>(k);
    }
    ASSERT_EQ(rank.size(), keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        ASSERT_EQ(rank[i], static_cast<std::uint32_t>(std::lower_bound(distinct.begin(), distinct.end(), keys[i]) -
                                                      distinct.begin()))
            << i;
    // The order, where sorting gives one: ascending keys, equal keys by position.
    for (std::size_t k = 1; k < r.order.size(); ++k)
        ASSERT_TRUE(keys[r.order[k - 1]] < keys[r.order[k]] ||
                    (keys[r.order[k - 1]] == keys[r.order[k]] && r.order[k - 1] < r.order[k]))
            << k;
}

// Few and many distinct keys, keys at the ends of the range, a table grown often, and keys whose
// hashes share their top bits, so that a probe runs long.
TEST(Ranking, KeyRanksEqualTheSortedDistinctKeys) {
    std::mt19937_64 gen(17);
    const std::uint64_t top = std::uint64_t{1} << 63;
    const std::vector<std::uint64_t> edges = {0, 1, ~std::uint64_t{0}, top, top - 1};
    std::vector<std::uint64_t> colliding;
    for (std::uint64_t k = 0; colliding.size() < 100; ++k)
        if (mixKey(k) >> 52 == 0) colliding.push_back(k);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = trial % 50 == 0 ? 20000 + gen() % 20000 : gen() % 3000;
        const std::uint64_t range = std::uint64_t{1} << (gen() % 40);
        std::vector<std::uint64_t> keys(n);
        for (auto& k : keys) {
            k = gen() % 7 == 0 ? edges[gen() % edges.size()] : gen() % range;
            if (trial % 3 == 0) k <<= 24;  // keys that differ only in their high bits
            if (trial % 5 == 1) k = colliding[gen() % colliding.size()];
        }
        SCOPED_TRACE(trial);
        expectSortedRanks(keys, rankKeys(keys));
        expectSortedRanks(keys, rankKeys(keys, false));
    }
    EXPECT_TRUE(rankKeys({}).distinct.empty());
}

// The radix sort against a stable sort, from every lowest bit it may start at: its passes of 10
// bits and the wider top pass cover exactly the bits from there up.
TEST(Ranking, RadixSortIsTheStableSortOfTheBitsFromLowUp) {
    struct Item {
        std::uint64_t key;
        std::uint32_t position;
    };
    std::mt19937_64 gen(3);
    for (const int low : {0, 1, 9, 10, 31, 44, 54, 55, 63}) {
        std::vector<Item, UnsetAllocator<Item>> items(5000);
        for (std::uint32_t i = 0; i < items.size(); ++i) {
            // Wide keys, and keys alike in the top bits and in the low bits, so that ties decide too.
            const std::uint64_t key = gen() % 3 == 0 ? gen() : (gen() % 8) << 61 | (gen() % 4);
            items[i] = {key, i};
        }
        std::vector<Item> expected(items.begin(), items.end());
        std::stable_sort(expected.begin(), expected.end(),
                         [&](const Item& a, const Item& b) { return (a.key >> low) < (b.key >> low); });
        radixSortByKey(items, low);
        for (std::size_t k = 0; k < items.size(); ++k) ASSERT_EQ(items[k].position, expected[k].position) << low << " " << k;
    }
}

// The table reads each key once; a long probe, or too many distinct keys, hand every key over to
// sorting, which reads them again.
TEST(Ranking, LongProbesAndManyDistinctKeysFallBackToSorting) {
    std::vector<std::uint64_t> colliding;
    for (std::uint64_t k = 0; colliding.size() < 80; ++k)
        if (mixKey(k) >> 52 == 0) colliding.push_back(k);
    std::vector<std::uint64_t> few(5000), distinct(5000), collide(5000);
    for (std::size_t i = 0; i < 5000; ++i) {
        few[i] = (i * 7919) % 50;
        distinct[i] = i * 2654435761u;
        collide[i] = colliding[i % colliding.size()];
    }
    const struct {
        const std::vector<std::uint64_t>& keys;
        bool sorted;
    } cases[] = {{few, false}, {distinct, true}, {collide, true}};
    for (const auto& c : cases) {
        std::size_t reads = 0;
        const KeyRanks r = rankKeysBy(
            c.keys.size(),
            [&](std::size_t i) {
                ++reads;
                return c.keys[i];
            },
            true);
        EXPECT_EQ(reads > c.keys.size(), c.sorted);
        EXPECT_EQ(r.rank.size(), c.keys.size());  // asked for
        expectSortedRanks(c.keys, r);
        // Without ranks asked for, sorting writes them only for the tied keys.
        const KeyRanks without = rankKeys(c.keys, false);
        EXPECT_EQ(without.rank.empty(), c.sorted && without.distinct.size() == c.keys.size());
        expectSortedRanks(c.keys, without);
    }
}

// Sorting a column's keys takes blocks of a megabyte and more, which are kept for the next call:
// a kept block, dirty from the call before, ranks as a new one does.
TEST(Ranking, SortingInKeptBlocksRanksAsInNewOnes) {
    xlframe::ScratchBlocks::releaseAll();
    std::mt19937_64 gen(5);
    for (int call = 0; call < 3; ++call) {
        std::vector<std::uint64_t> keys(150000);
        for (auto& k : keys) k = gen() >> (call * 20);
        SCOPED_TRACE(call);
        expectSortedRanks(keys, rankKeys(keys));
        EXPECT_GE(xlframe::ScratchBlocks::keptBytes(), 2 * keys.size() * 16);  // both buffers of the sort
    }
    xlframe::ScratchBlocks::releaseAll();
    // A count whose bytes would wrap around is refused, never served small.
    EXPECT_THROW(UnsetAllocator<std::uint64_t>().allocate(std::numeric_limits<std::size_t>::max() / 4),
                 std::bad_array_new_length);
}

// Random ratings with heavy ties, and ones with many defaults or many survivals per score; keys
// whose hashes collide, so that ranking sorts them, tied or all distinct.
TEST(Concordance, PairsAndTriplesEqualTheSumsOverEveryDebtor) {
    std::mt19937 gen(2024);
    std::vector<std::uint64_t> colliding;
    for (std::uint64_t k = 0; colliding.size() < 700; ++k)
        if (mixKey(k) >> 52 == 0) colliding.push_back(k);
    for (int trial = 0; trial < 2000; ++trial) {
        const bool large = trial % 4 == 0, manySurvivals = trial % 4 == 2;
        const std::size_t nd = large ? 300 + gen() % 300 : gen() % 12;
        const std::size_t ns = manySurvivals ? 300 + gen() % 300 : gen() % 12;
        const std::size_t range = large || manySurvivals ? 50 + gen() % 500 : 1 + gen() % 4;
        std::vector<std::uint64_t> d1(nd), d2(nd), s1(ns), s2(ns);
        for (auto* v : {&d1, &d2, &s1, &s2})
            for (auto& x : *v) x = trial % 8 == 4 ? colliding[gen() % range] : gen() % range;
        if (trial % 16 == 12) {
            for (auto [d, s] : {std::pair{&d1, &s1}, std::pair{&d2, &s2}}) {
                std::vector<std::uint64_t> keys(colliding.begin(), colliding.begin() + static_cast<std::ptrdiff_t>(nd + ns));
                std::shuffle(keys.begin(), keys.end(), gen);
                std::copy(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(nd), d->begin());
                std::copy(keys.begin() + static_cast<std::ptrdiff_t>(nd), keys.end(), s->begin());
            }
        }
        std::int64_t pairs = 0;
        double survivalTriple = 0, defaultTriple = 0;
        for (std::size_t a = 0; a < nd; ++a)
            for (std::size_t b = 0; b < ns; ++b) pairs += sign(d1[a], s1[b]) * sign(d2[a], s2[b]);
        for (std::size_t b = 0; b < ns; ++b) {
            std::int64_t one = 0, two = 0;
            for (std::size_t a = 0; a < nd; ++a) one += sign(d1[a], s1[b]), two += sign(d2[a], s2[b]);
            survivalTriple += static_cast<double>(one * two);
        }
        for (std::size_t a = 0; a < nd; ++a) {
            std::int64_t one = 0, two = 0;
            for (std::size_t b = 0; b < ns; ++b) one += sign(s1[b], d1[a]), two += sign(s2[b], d2[a]);
            defaultTriple += static_cast<double>(one * two);
        }
        ASSERT_EQ(concordanceCount(d1, d2, s1, s2), pairs) << trial;
        std::vector<std::uint64_t> k1(d1), k2(d2);
        k1.insert(k1.end(), s1.begin(), s1.end());
        k2.insert(k2.end(), s2.begin(), s2.end());
        Flags defaulted(nd + ns, 0);
        std::fill(defaulted.begin(), defaulted.begin() + static_cast<std::ptrdiff_t>(nd), 1);
        const PairsTerms t =
            pairsTerms(rankRating(rankKeys(k1, trial % 2 == 0), defaulted),
                       rankRating(rankKeys(k2, trial % 3 == 0), defaulted), defaulted);  // ranks left out or not
        ASSERT_EQ(t.count, pairs) << trial;
        ASSERT_EQ(t.survivalTriple, survivalTriple) << trial;
        ASSERT_EQ(t.defaultTriple, defaultTriple) << trial;
    }
}

// A first rating of distinct scores is swept debtor by debtor rather than group by group; with
// its order of ranks dropped, the same ranks go the groups' way. Both sum the triples in the same
// order, bit for bit even where the sums pass 2^53 and round, as half a million defaults make them.
TEST(Concordance, DistinctFirstRatingsGiveTheGroupsTermsBitForBit) {
    std::mt19937_64 gen(77);
    for (const std::size_t n : {std::size_t{2000}, std::size_t{1} << 20}) {  // past what the table takes
        std::vector<std::uint64_t> k1(n), k2(n);
        Flags defaulted(n);
        for (std::size_t i = 0; i < n; ++i) {
            defaulted[i] = static_cast<std::uint8_t>(gen() % (n > 3000 ? 2 : 7) == 0);
            k1[i] = (gen() >> 2) + (defaulted[i] != 0 ? std::uint64_t{1} << 61 : 0);  // distinct, and telling
            k2[i] = n > 3000 ? gen() % (n / 2) + (defaulted[i] != 0 ? n / 4 : 0) : gen() % 50;  // tied, telling less
        }
        const RankedRating one = rankRating(rankKeys(k1, false), defaulted), two = rankRating(rankKeys(k2), defaulted);
        ASSERT_EQ(one.ranks.distinct.size(), n);
        ASSERT_TRUE(one.ranks.rank.empty());
        RankedRating grouped = one;  // the ranks from the order, and no order
        grouped.ranks.rank.resize(n);
        for (std::size_t k = 0; k < n; ++k) grouped.ranks.rank[one.ranks.order[k]] = static_cast<std::uint32_t>(k);
        grouped.ranks.order.clear();
        const PairsTerms walked = pairsTerms(one, two, defaulted), groups = pairsTerms(grouped, two, defaulted);
        EXPECT_EQ(walked.count, groups.count) << n;
        EXPECT_EQ(walked.survivalTriple, groups.survivalTriple) << n;
        EXPECT_EQ(walked.defaultTriple, groups.defaultTriple) << n;
        if (n > 3000) {
            EXPECT_GT(std::abs(walked.survivalTriple), 0x1p53);
        }
    }
}

// The pairs term of the aggregate form summed block by block, as its definition reads.
double directPairsTerm(const Matrix& d, const Matrix& s) {
    const std::size_t n = d.rows();
    double total = 0;
    for (std::size_t u = 0; u < n; ++u)
        for (std::size_t v = 0; v < n; ++v) {
            double concordant = 0, discordant = 0;
            for (std::size_t u2 = 0; u2 < n; ++u2)
                for (std::size_t v2 = 0; v2 < n; ++v2) {
                    if ((u2 > u && v2 > v) || (u2 < u && v2 < v)) concordant += d(u2, v2);
                    if ((u2 > u && v2 < v) || (u2 < u && v2 > v)) discordant += d(u2, v2);
                }
            total += s(u, v) * (concordant - discordant);
        }
    return total;
}

TEST(Concordance, AggregatePrefixSumsEqualTheDirectBlockSums) {
    // By hand: the survivals at (0, 0) see 3 defaults above under both ratings, those at (0, 1)
    // see 2 defaults above under rating 2 and below under rating 1: 2 * 3 - 5 * 2.
    Matrix d(2, 2), s(2, 2);
    d(0, 0) = 1, d(1, 0) = 2, d(1, 1) = 3, s(0, 0) = 2, s(0, 1) = 5;
    EXPECT_EQ(aggregatePairsTerm(d, s), -4.0);
    EXPECT_EQ(aggregatePairsTerm(Matrix(), Matrix()), 0.0);
    std::mt19937 gen(31);
    for (int trial = 0; trial < 3000; ++trial) {
        const std::size_t n = 1 + gen() % 8;
        const bool whole = trial % 2 == 0;
        Matrix dm(n, n), sm(n, n);
        double survivals = 0, defaults = 0;
        for (Matrix* m : {&dm, &sm})
            for (std::size_t i = 0; i < n * n; ++i)
                if (gen() % 3 != 0)  // many empty cells, as in real migration matrices
                    (*m)(i / n, i % n) = whole ? static_cast<double>(gen() % 1000) : (gen() % 100000) / 7.0;
        for (std::size_t i = 0; i < n * n; ++i) survivals += sm.data()[i], defaults += dm.data()[i];
        // Whole counts are exact; otherwise a rounding allowance relative to the largest sum.
        ASSERT_NEAR(aggregatePairsTerm(dm, sm), directPairsTerm(dm, sm), whole ? 0.0 : 1e-14 * survivals * defaults)
            << trial;
    }
}

}  // namespace
}  // namespace Korvanth
