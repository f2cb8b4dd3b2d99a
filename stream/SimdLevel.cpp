// SimdLevel.cpp: the processor's widest level and the level in force.
#include "stream/SimdLevel.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace oggmix {
namespace {

SimdLevel Detect() noexcept {
    // The compiler's checks include the operating system's support for the wide registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    return SimdLevel::Sse2;
}

// The level in force until a test or benchmark sets another; a refusal is said once.
SimdLevel InitialLevel() noexcept {
    const SimdChoice choice = SimdLevelFromEnvironment();
    if (choice.Refusal != nullptr)
        std::fprintf(stderr, "oggmix: %s; using %s\n", choice.Refusal, SimdLevelName(choice.Level));
    return choice.Level;
}

// Relaxed: the level is a choice between equivalent paths; any thread may see a change late.
std::atomic<SimdLevel>& Active() noexcept {
    static std::atomic<SimdLevel> level{InitialLevel()};
    return level;
}

}  // namespace

SimdLevel SupportedSimdLevel() noexcept {
    static const SimdLevel supported = Detect();
    return supported;
}

SimdLevel ActiveSimdLevel() noexcept { return Active().load(std::memory_order_relaxed); }

SimdChoice SimdLevelFromEnvironment() noexcept {
    const SimdLevel supported = SupportedSimdLevel();
    const char* wanted = std::getenv("OGGMIX_SIMD");
    if (wanted == nullptr || *wanted == '\0') return {supported, nullptr};
    for (const SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (std::strcmp(wanted, SimdLevelName(level)) != 0) continue;
        if (static_cast<int32_t>(level) > static_cast<int32_t>(supported)) {
            return {supported, level == SimdLevel::Avx2
                                   ? "OGGMIX_SIMD=avx2 refused: this processor lacks AVX2"
                                   : "OGGMIX_SIMD=sse2 refused: this processor lacks SSE2"};
        }
        return {level, nullptr};
    }
    return {supported, "OGGMIX_SIMD refused: the level is scalar, sse2 or avx2"};
}

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
