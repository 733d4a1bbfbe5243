// Debtors grouped by score as the ROC functions group them (scores within 1e-10 of a group's
// first score are tied), riskiest group first, for the statistics that walk score thresholds.
#pragma once

#include <cstdint>
#include <vector>

#include "analytics/supervisory_statistics.hpp"

namespace Korvanth {

// `defaulted` holds 0 or 1 per debtor; `groupScores` receives each group's first score.
Supervisory::ScoreGroups riskGroups(const std::vector<double>& scores, const std::vector<std::uint8_t>& defaulted,
                                    int scoreIndex, std::vector<double>& groupScores);

}  // namespace Korvanth
