// SimdLevel.cpp: the processor's widest level and the level in force.
#include "stream/SimdLevel.h"

#include <atomic>

namespace oggmix {
namespace {

SimdLevel Detect() noexcept {
    // The compiler's checks include the operating system's support for the wide registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    return SimdLevel::Sse2;
}

// Relaxed: the level is a choice between equivalent paths; any thread may see a change late.
std::atomic<SimdLevel>& Active() noexcept {
    static std::atomic<SimdLevel> level{SupportedSimdLevel()};
    return level;
}

}  // namespace

SimdLevel SupportedSimdLevel() noexcept {
    static const SimdLevel supported = Detect();
    return supported;
}

SimdLevel ActiveSimdLevel() noexcept { return Active().load(std::memory_order_relaxed); }

SimdLevel SetSimdLevel(SimdLevel Level) noexcept {
    const SimdLevel supported = SupportedSimdLevel();
    const SimdLevel level =
        static_cast<int32_t>(Level) > static_cast<int32_t>(supported) ? supported : Level;
    Active().store(level, std::memory_order_relaxed);
    return level;
}

const char* SimdLevelName(SimdLevel Level) noexcept {
    switch (Level) {
        case SimdLevel::Scalar: return "scalar";
        case SimdLevel::Sse2: return "sse2";
        case SimdLevel::Avx2: return "avx2";
    }
    return "unknown";
}

}  // namespace oggmix
