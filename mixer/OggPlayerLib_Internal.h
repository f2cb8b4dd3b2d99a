#pragma once
// OggPlayerLib_Internal.h: arithmetic shared by the mixer's facet files; nothing outside the
// mixer includes it. Threads: any. Memory: no alloc.

#include <cstdint>
#include <limits>

namespace oggmix {

// The mix accumulator holds 32-bit values; sums and gains beyond that saturate instead of
// wrapping round to the other sign.
[[nodiscard]] constexpr int32_t SaturateToInt32(int64_t value) noexcept {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value > kMax ? kMax : value < kMin ? kMin : value);
}

}  // namespace oggmix
