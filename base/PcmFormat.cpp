// PcmFormat.cpp: the two rounding rules, exact for every float and safe beyond 32 bits.
#include "base/PcmFormat.h"

#include <cmath>
#include <limits>

namespace oggmix {
namespace {

int32_t Saturate(double rounded) noexcept {
    if (std::isnan(rounded)) return 0;
    if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

}  // namespace

int32_t RoundHalfAway(float x) noexcept {
    // In double, x ± 0.5 is exact for every float below 2^52, so a value just under a half
    // (0.49999997f) cannot be carried over it as float addition would.
    const double d = x;
    return Saturate(d >= 0.0 ? std::floor(d + 0.5) : std::ceil(d - 0.5));
}

int32_t RoundHalfEven(double x) noexcept {
    // nearbyint follows the current rounding mode, which is to-nearest-even unless someone
    // changed it; do it by hand so nothing outside can change the result.
    const double lower = std::floor(x);
    const double diff = x - lower;
    double rounded = lower;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0.0)) rounded = lower + 1.0;
    return Saturate(rounded);
}

}  // namespace oggmix
