// Truncation of host numbers to integers without undefined behaviour on huge or non-finite values.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace xlframe {

// Truncates toward zero and saturates at the limits of T; NaN becomes 0.
template <class T>
constexpr T truncateSaturated(double value) noexcept {
    if (std::isnan(value)) return T(0);
    constexpr double lo = static_cast<double>(std::numeric_limits<T>::min());
    // max() of 32 and 64 bits is not a double; the first double at or above it is 2^bits.
    constexpr double hiExclusive = static_cast<double>(std::numeric_limits<T>::max()) + 1.0;
    if (value <= lo) return std::numeric_limits<T>::min();
    if (value >= hiExclusive) return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

inline std::int32_t truncateToInt32(double value) noexcept { return truncateSaturated<std::int32_t>(value); }

}  // namespace xlframe
