// The pairs term of the AUROC difference test, exposed so that tests can hold it against a
// count over every pair.
#pragma once

#include <cstdint>
#include <vector>

namespace Korvanth {

// Keys are scores mapped to an order-preserving integer; d* are the defaults' keys under
// rating 1 and 2, s* the survivals'.
std::int64_t concordanceCount(const std::vector<std::uint64_t>& d1, const std::vector<std::uint64_t>& d2,
                              const std::vector<std::uint64_t>& s1, const std::vector<std::uint64_t>& s2);

}  // namespace Korvanth
