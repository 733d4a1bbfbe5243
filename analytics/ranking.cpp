// Ranking by an open-addressing table of the distinct keys, or by sorting every key.
#include "analytics/ranking.hpp"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace Korvanth {

KeyRanks rankKeys(const std::vector<std::uint64_t>& keys, bool withRanks) {
    return rankKeysBy(keys.size(), [&](std::size_t i) { return keys[i]; }, withRanks);
}

KeyRanks rankScores(std::span<const double> scores, bool withRanks) {
    return rankKeysBy(scores.size(), [&](std::size_t i) { return orderKey(scores[i]); }, withRanks);
}

RankedRating rankRating(KeyRanks ranks, const Flags& defaulted) {
    RankedRating r{std::move(ranks), {}, {}, {}};
    for (const std::uint8_t flag : defaulted) r.totalDefaults += flag != 0 ? 1 : 0;
    r.totalSurvivals = static_cast<std::int64_t>(defaulted.size()) - r.totalDefaults;
    if (r.ranks.distinct.size() == defaulted.size() && r.ranks.order.size() == defaulted.size()) {
        // Every score distinct: each rank holds one debtor, whose flag is written in rank order.
        r.defaultedAt.resize(defaulted.size());
        for (std::size_t k = 0; k < defaulted.size(); ++k) r.defaultedAt[k] = defaulted[r.ranks.order[k]] != 0 ? 1 : 0;
        return r;
    }
    r.defaults.assign(r.ranks.distinct.size(), 0);
    r.survivals.assign(r.ranks.distinct.size(), 0);
    for (std::size_t i = 0; i < defaulted.size(); ++i) ++(defaulted[i] != 0 ? r.defaults : r.survivals)[r.ranks.rank[i]];
    return r;
}

}  // namespace Korvanth
