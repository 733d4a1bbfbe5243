// ROC statistics of a rating: debtors in buckets of tied scores, riskiest first, the AUROC with
// its variance and confidence interval, and the ROC curve's points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "analytics/ranking.hpp"
#include "analytics/supervisory_statistics.hpp"

namespace Korvanth {

// Shares of defaults and survivals per bucket, riskiest bucket first.
struct Buckets {
    std::vector<double, UnsetAllocator<double>> p, q, hitRate, falseAlarmRate;
    std::int64_t defaults = 0;   // N_D, 64 bits so that large counts cannot overflow
    std::int64_t survivals = 0;  // N_S
    void add(double d, double s) {
        const double pk = d / static_cast<double>(defaults);
        const double qk = s / static_cast<double>(survivals);
        p.push_back(pk);
        q.push_back(qk);
        hitRate.push_back(hitRate.empty() ? pk : hitRate.back() + pk);
        falseAlarmRate.push_back(falseAlarmRate.empty() ? qk : falseAlarmRate.back() + qk);
    }
};

struct RocStatistics {
    double auroc = 0, lower = 0, upper = 0;
    std::vector<std::pair<double, double>> curve;
};

// The AUROC and its variance summed bucket by bucket, riskiest first, in the order
// computeRocStatistics sums them: for callers that need no curve and so no table of buckets.
class RocSums {
public:
    // A bucket's shares and the cumulated shares up to it.
    void add(double p, double q, double hitRate, double falseAlarmRate);
    // A bucket of d defaults and s survivals, its shares and cumulated shares made as Buckets::add
    // makes them, of `defaults` and `survivals` in all.
    void add(double d, double s, std::int64_t defaults, std::int64_t survivals) {
        const double pk = d / static_cast<double>(defaults);
        const double qk = s / static_cast<double>(survivals);
        add(pk, qk, buckets_ == 0 ? pk : pending_.hitRate + pk, buckets_ == 0 ? qk : pending_.falseAlarmRate + qk);
    }
    // A bucket of one debtor, as add(d, s, defaults, survivals) adds it, given 1 / defaults and
    // 1 / survivals: a share of 1 is that division, and a share of 0 adds nothing to the sums it
    // multiplies.
    void addOne(bool defaulted, double defaultShare, double survivalShare) {
        const double pk = defaulted ? defaultShare : 0.0;
        const double qk = defaulted ? 0.0 : survivalShare;
        add(pk, qk, buckets_ == 0 ? pk : pending_.hitRate + pk, buckets_ == 0 ? qk : pending_.falseAlarmRate + qk);
    }
    // Buckets of one debtor each, as addOne adds them one by one, with the sums held in registers
    // rather than in the object: `defaulted` holds 1 for a default, else 0.
    void addSingles(std::span<const std::uint8_t> defaulted, double defaultShare, double survivalShare);
    // The AUROC and its interval (no curve) after at least one bucket.
    RocStatistics finish(std::int64_t defaults, std::int64_t survivals);

private:
    struct Bucket {
        double p = 0, q = 0, hitRate = 0, falseAlarmRate = 0;
    };
    void settle(bool last);  // the variance terms of the pending bucket
    Bucket pending_, before_;  // the latest bucket and the one before it
    std::size_t buckets_ = 0;
    double auroc_ = 0, a_ = 0, b_ = 0, c_ = 1;
};

// Inline: the sums run once per bucket, up to a million times a call.
inline void RocSums::add(double p, double q, double hitRate, double falseAlarmRate) {
    if (buckets_ == 0) {
        auroc_ = 0.5 * falseAlarmRate * hitRate;
    } else {
        auroc_ += 0.5 * (falseAlarmRate - pending_.falseAlarmRate) * (pending_.hitRate + hitRate);
        settle(false);
        before_ = pending_;
    }
    pending_ = {p, q, hitRate, falseAlarmRate};
    ++buckets_;
}

// A bucket without survivals (q = 0) adds exact zeros to a_, one without defaults to b_ and both
// to c_: those terms are left out, which gives the same sums, and a bucket of one debtor then
// costs one chain of additions instead of two.
inline void RocSums::settle(bool last) {
    const std::size_t k = buckets_ - 1;
    const Bucket& now = pending_;
    if (now.q != 0) {
        if (k >= 1) a_ += now.q * before_.hitRate * before_.hitRate;
        if (!last) a_ += now.q * (1 - now.hitRate) * (1 - now.hitRate);
        if (k >= 1 && !last) a_ -= 2 * now.q * before_.hitRate * (1 - now.hitRate);
    }
    if (now.p != 0) {
        if (k >= 1) b_ += now.p * before_.falseAlarmRate * before_.falseAlarmRate;
        if (!last) b_ += now.p * (1 - now.falseAlarmRate) * (1 - now.falseAlarmRate);
        if (k >= 1 && !last) b_ -= 2 * now.p * before_.falseAlarmRate * (1 - now.falseAlarmRate);
        if (now.q != 0) c_ -= now.p * now.q;
    }
}

// The AUROC with its 95% interval from the variance of the buckets b (at least one default and
// one survival); m curve points: 0 none, the number of buckets every bucket's corner (when at most
// maxPoints - 1), otherwise a grid of min(m, maxPoints) false alarm rates from 0.
RocStatistics computeRocStatistics(const Buckets& b, long long m, std::size_t maxPoints);

// Hit rate at false alarm rate x, read off the piecewise linear curve.
double hitRateAt(const Buckets& b, double x);

struct Grade {
    double score;
    double survivals;
    double defaults;
};

// Aggregate data: one bucket per grade, stable order by input position among equal scores;
// nd and ns are the totals (both positive).
Buckets aggregateBuckets(std::vector<Grade> grades, std::int64_t nd, std::int64_t ns, int scoreIndex);

// Individual data in rank space: buckets of scores closer than 1e-10 to the bucket's first score,
// riskiest first (ascending scores for scoreIndex 0). Equal scores always share a bucket, so
// walking the distinct scores decides as walking every debtor does. Needs a default and a survival.
Buckets rankedBuckets(const RankedRating& r, int scoreIndex);

// The statistics of computeRocStatistics(rankedBuckets(r, scoreIndex), 0, 0), without the table.
RocStatistics rankedRocStatistics(const RankedRating& r, int scoreIndex);

// Debtors grouped as rankedBuckets groups them, for the statistics that walk score thresholds.
// `defaulted` holds 0 or 1 per debtor; `groupScores` receives each group's first score.
Supervisory::ScoreGroups riskGroups(const std::vector<double>& scores, const std::vector<std::uint8_t>& defaulted,
                                    int scoreIndex, std::vector<double>& groupScores);

}  // namespace Korvanth
