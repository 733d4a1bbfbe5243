// Ranking of scores: an order-preserving integer key per score, each key's rank among the
// distinct keys (a hash table when ties are many, a radix sort otherwise), and the defaults and
// survivals per rank that the ROC and concordance statistics walk.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "xlframe/platform.hpp"
#include "xlframe/scratch_blocks.hpp"

namespace Korvanth {

// Storage that a vector leaves unset on resizing: the ranks of a full column are written once.
// A large block is one of the scratch blocks kept from call to call, and mapped at once, in large
// pages where the system has them, when it is new, rather than fault by fault.
template <class T>
struct UnsetAllocator : std::allocator<T> {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
    static_assert(alignof(T) <= alignof(std::max_align_t));
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        if (n * sizeof(T) < xlframe::ScratchBlocks::kLeast) return std::allocator<T>::allocate(n);
        // A large block is kept from call to call, and mapped at once when new.
        T* p = static_cast<T*>(xlframe::ScratchBlocks::take(n * sizeof(T)));
        xlframe::platform::adviseLargeAllocation(p, n * sizeof(T));
        return p;
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) < xlframe::ScratchBlocks::kLeast)
            std::allocator<T>::deallocate(p, n);
        else
            xlframe::ScratchBlocks::give(p);
    }
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using Ranks = std::vector<std::uint32_t, UnsetAllocator<std::uint32_t>>;

// A total order on doubles that agrees with < on numbers: -0 equals +0 and every NaN sorts
// last, so that sorting never meets an inconsistent comparison.
inline std::uint64_t orderKey(double x) {
    if (std::isnan(x)) return ~std::uint64_t{0};
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x + 0.0);
    return (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
}


// The score orderKey was made from (NaN for every NaN, +0 for -0).
inline double scoreOfKey(std::uint64_t key) {
    if (key == ~std::uint64_t{0}) return std::nan("");
    const std::uint64_t bits = (key >> 63) ? key & ~(std::uint64_t{1} << 63) : ~key;
    return std::bit_cast<double>(bits);
}

// Sorts items stably by the bits of their member `key` from bit `low` up, with a
// least-significant-digit radix sort: one pass per 10 bits, the top pass taking what is left (up
// to 19 bits), none where every key has the same digit there, all counts from one read. A pass
// costs about as many distinct digits as it writes to at once: a thousand fit the first-level
// cache, two thousand do not, and the top bits of scores (sign and exponent) take few values.
// The last pass hands each item to place(k, item), k its place in the order, instead of writing
// it back: a caller that keeps the items' parts in arrays of their own is spared a copy of them.
// `spare` holds the items between passes.
template <class T, class Place>
void radixSortByKey(std::vector<T, UnsetAllocator<T>>& items, int low, Place place,
                    std::vector<T, UnsetAllocator<T>>& spare) {
    constexpr int bits = 10;
    const int passes = std::max(1, (64 - low) / bits);
    const int topBits = 64 - low - (passes - 1) * bits;
    const std::size_t n = items.size();
    auto width = [&](int p) { return std::size_t{1} << (p == passes - 1 ? topBits : bits); };
    auto digit = [&](std::uint64_t key, int p) {
        return static_cast<std::size_t>((key >> (low + p * bits)) & (width(p) - 1));
    };
    // Pass p's counts start at first[p].
    std::size_t first[8] = {};
    for (int p = 1; p <= passes; ++p) first[p] = first[p - 1] + width(p - 1);
    std::vector<std::uint32_t> counts(first[passes], 0);  // positions are 32 bits too
    for (const T& item : items)
        for (int p = 0; p < passes; ++p) ++counts[first[p] + digit(item.key, p)];
    // A pass where every key has the same digit moves nothing.
    int last = -1;
    for (int p = 0; p < passes && n > 0; ++p)
        if (counts[first[p] + digit(items[0].key, p)] != n) last = p;
    if (last > 0) spare.resize(n);
    for (int p = 0; p <= last; ++p) {
        std::uint32_t* next = counts.data() + first[p];
        if (next[digit(items[0].key, p)] == n) continue;
        for (std::uint32_t d = 0, start = 0; d < width(p); ++d) start += std::exchange(next[d], start);
        if (p == last) {
            for (const T& item : items) place(next[digit(item.key, p)]++, item);
            return;
        }
        for (const T& item : items) spare[next[digit(item.key, p)]++] = item;
        items.swap(spare);
    }
    for (std::size_t k = 0; k < n; ++k) place(k, items[k]);
}

template <class T>
void radixSortByKey(std::vector<T, UnsetAllocator<T>>& items, int low = 0) {
    std::vector<T, UnsetAllocator<T>> spare(items.size());
    // The last pass writes into the buffer it does not read, which then holds the order.
    radixSortByKey(items, low, [&](std::size_t k, const T& item) { spare[k] = item; }, spare);
    items.swap(spare);
}

// Each key's rank among the distinct keys (0 for the least) and the distinct keys ascending:
// one pass through a hash table when ties are many, a sort of every key otherwise.
struct KeyRanks {
    // Empty where sorting found every key distinct and no ranks were asked for: then the rank of
    // order[k] is k.
    Ranks rank;
    std::vector<std::uint64_t, UnsetAllocator<std::uint64_t>> distinct;
    // From sorting: the positions by ascending key, equal keys by position (empty from the table).
    Ranks order = {};
};
KeyRanks rankKeys(const std::vector<std::uint64_t>& keys, bool withRanks = true);
// The table's hash of a key (its top bits pick the slot), so that tests can make keys collide.
inline std::uint64_t mixKey(std::uint64_t x) {
    x ^= x >> 31;
    x *= 0x7fb5d329728ea185;
    x ^= x >> 27;
    x *= 0x81dadef4bc2dd44d;
    return x ^ (x >> 33);
}

// Ranks by sorting (key, position) pairs: for many distinct keys, where a table would not fit in
// the cache. The sort looks at the keys' top 33 bits only, three passes instead of six, and its
// last pass writes the keys and positions straight into the distinct keys and the order; pairs
// alike in those bits are then put in order by the whole key, in runs that are rarely longer than
// one. Each rank is written at its debtor's place, at random, only when asked for or when keys tie.
template <class KeyAt>
KeyRanks rankBySorting(std::size_t n, KeyAt keyAt, bool withRanks) {
    constexpr int ignored = 31;
    struct Keyed {
        std::uint64_t key;
        std::uint32_t position;
    };
    KeyRanks r{{}, {}, Ranks(n)};
    r.distinct.resize(n);
    auto& keys = r.distinct;  // every key, in order, until ties are merged
    {
        std::vector<Keyed, UnsetAllocator<Keyed>> keyed(n), spare;
        for (std::size_t i = 0; i < n; ++i) keyed[i] = {keyAt(i), static_cast<std::uint32_t>(i)};
        radixSortByKey(
            keyed, ignored,
            [&](std::size_t k, const Keyed& item) {
                keys[k] = item.key;
                r.order[k] = item.position;
            },
            spare);
    }
    bool ties = false;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> run;
    for (std::size_t first = 0; first < n;) {
        std::size_t end = first + 1;
        while (end < n && (keys[end] >> ignored) == (keys[first] >> ignored)) ++end;
        if (end - first > 1) {
            run.clear();
            for (std::size_t k = first; k < end; ++k) run.emplace_back(keys[k], r.order[k]);
            std::sort(run.begin(), run.end());
            for (std::size_t k = first; k < end; ++k) {
                std::tie(keys[k], r.order[k]) = run[k - first];
                ties = ties || (k > first && keys[k] == keys[k - 1]);
            }
        }
        first = end;
    }
    if (!withRanks && !ties) return r;  // the rank of order[k] is k
    r.rank.resize(n);
    std::size_t rank = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0 && keys[k] != keys[rank]) keys[++rank] = keys[k];
        r.rank[r.order[k]] = static_cast<std::uint32_t>(rank);
    }
    keys.resize(n > 0 ? rank + 1 : 0);
    return r;
}

// keyAt(i) gives the i-th of n keys; it is called once per key, or twice when sorting takes over.
// Without `withRanks` the ranks may be left out, where sorting finds every key distinct.
template <class KeyAt>
KeyRanks rankKeysBy(std::size_t n, KeyAt keyAt, bool withRanks) {
    // Ids in order of first appearance from an open-addressing table, then the distinct keys
    // sorted; too many distinct keys, or a long probe, and sorting every key is cheaper.
    const std::size_t limit = std::max<std::size_t>(n / 8, 1024);
    constexpr std::uint32_t vacant = ~std::uint32_t{0};
    struct Slot {
        std::uint64_t key;
        std::uint32_t id;
    };
    int bits = 8;
    std::vector<Slot> table(std::size_t{1} << bits, Slot{0, vacant});
    std::vector<std::uint64_t> seen;
    KeyRanks r{Ranks(n), {}};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = keyAt(i);
        const std::size_t mask = table.size() - 1;
        std::size_t h = static_cast<std::size_t>(mixKey(key) >> (64 - bits));
        for (int probes = 0; table[h].id != vacant && table[h].key != key; h = (h + 1) & mask)
            if (++probes > 64) return rankBySorting(n, keyAt, withRanks);
        if (table[h].id == vacant) {
            // Mostly new keys after the first few thousand: they will not be few.
            if (seen.size() == limit || (i >= 4096 && 2 * seen.size() > i)) return rankBySorting(n, keyAt, withRanks);
            table[h] = {key, static_cast<std::uint32_t>(seen.size())};
            seen.push_back(key);
            r.rank[i] = table[h].id;
            if (2 * seen.size() > table.size()) {
                ++bits;
                table.assign(std::size_t{1} << bits, Slot{0, vacant});
                const std::size_t wider = table.size() - 1;
                for (std::size_t id = 0; id < seen.size(); ++id) {
                    std::size_t g = static_cast<std::size_t>(mixKey(seen[id]) >> (64 - bits));
                    while (table[g].id != vacant) g = (g + 1) & wider;
                    table[g] = {seen[id], static_cast<std::uint32_t>(id)};
                }
            }
        } else {
            r.rank[i] = table[h].id;
        }
    }
    std::vector<std::uint32_t> byKey(seen.size());
    std::iota(byKey.begin(), byKey.end(), std::uint32_t{0});
    std::sort(byKey.begin(), byKey.end(), [&](std::uint32_t x, std::uint32_t y) { return seen[x] < seen[y]; });
    std::vector<std::uint32_t> rankOf(seen.size());
    r.distinct.resize(seen.size());
    for (std::size_t k = 0; k < byKey.size(); ++k) {
        rankOf[byKey[k]] = static_cast<std::uint32_t>(k);
        r.distinct[k] = seen[byKey[k]];
    }
    for (std::uint32_t& x : r.rank) x = rankOf[x];
    return r;
}

// Ranks of the scores' orderKeys.
KeyRanks rankScores(std::span<const double> scores, bool withRanks = true);

using Flags = std::vector<std::uint8_t, UnsetAllocator<std::uint8_t>>;

// Counts per rank.
using Counts = std::vector<std::int64_t, UnsetAllocator<std::int64_t>>;

// One rating of individual data in rank space: the debtors' ranks, the distinct keys, and the
// defaults and survivals per rank.
struct RankedRating {
    KeyRanks ranks;
    // The counts per rank; empty where every rank holds one debtor (`singles`).
    Counts defaults, survivals;
    // Where every rank holds one debtor: 1 where it defaulted, else 0. A byte per rank instead of
    // two counts of eight bytes, since the walks over a full column of ranks are bound by memory.
    Flags defaultedAt;
    std::int64_t totalDefaults = 0, totalSurvivals = 0;  // their sums, read from the flags once

    bool singles() const { return !defaultedAt.empty(); }
    std::int64_t defaultsAt(std::size_t rank) const { return singles() ? defaultedAt[rank] : defaults[rank]; }
    std::int64_t survivalsAt(std::size_t rank) const { return singles() ? 1 - defaultedAt[rank] : survivals[rank]; }
    // Calls use(countsAt), countsAt(rank) giving the rank's (defaults, survivals) read straight from
    // the flags or from the counts: for loops over every rank, which a test per rank would slow.
    template <class Use>
    void withCountsAt(Use use) const {
        if (singles()) {
            use([this](std::size_t rank) {
                const std::int64_t d = defaultedAt[rank];
                return std::pair{d, 1 - d};
            });
        } else {
            use([this](std::size_t rank) { return std::pair{defaults[rank], survivals[rank]}; });
        }
    }
};

// `defaulted` holds 0 or 1 per debtor, in the order of the ranks.
RankedRating rankRating(KeyRanks ranks, const Flags& defaulted);

}  // namespace Korvanth
