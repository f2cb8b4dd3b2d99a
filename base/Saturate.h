#pragma once
// Saturate.h: narrowing of 64-bit integer results that holds at the ends of the target range
// instead of wrapping round to the other sign. Sums, gains and levels are worked out in 64
// bits and narrowed here once, so that in range they are exactly the narrow results.
// Threads: any. Memory: no alloc.

#include <cstdint>
#include <limits>

namespace oggmix {

template <class Narrow>
[[nodiscard]] constexpr Narrow SaturateTo(int64_t value) noexcept {
    constexpr int64_t kMax = std::numeric_limits<Narrow>::max();
    constexpr int64_t kMin = std::numeric_limits<Narrow>::min();
    return static_cast<Narrow>(value > kMax ? kMax : value < kMin ? kMin : value);
}

[[nodiscard]] constexpr int32_t SaturateToInt32(int64_t value) noexcept {
    return SaturateTo<int32_t>(value);
}
[[nodiscard]] constexpr int16_t SaturateToInt16(int64_t value) noexcept {
    return SaturateTo<int16_t>(value);
}

}  // namespace oggmix
