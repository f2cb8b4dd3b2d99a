#pragma once
// SimdLevel.h: which instruction set the render path's vector kernels use. The level is
// picked once, at the first kernel call: the one the environment variable OGGMIX_SIMD names
// ("scalar", "sse2" or "avx2"), or else the widest the processor runs: AVX2 where it has it
// (and the system saves its registers), else SSE2, which every x86-64 processor has. A level
// that OGGMIX_SIMD names but the processor lacks, or a name that is none of these, is refused
// with a message on standard error, and the widest level is used. Every level gives exactly
// the same samples as the scalar path; they differ only in speed. There is no AVX-512 level:
// on these machines it speeds up the transform but not a render, and on some processors it
// lowers the clock.
// Threads: any; the level is a relaxed atomic, read once per kernel call.
// Memory: no alloc.

#include <cstdint>

namespace oggmix {

enum class SimdLevel : int32_t { Scalar = 0, Sse2 = 1, Avx2 = 2 };

// The widest level this processor runs.
[[nodiscard]] SimdLevel SupportedSimdLevel() noexcept;
// The level the kernels use now.
[[nodiscard]] SimdLevel ActiveSimdLevel() noexcept;

// What OGGMIX_SIMD asks for: Level, the level to use (the widest supported when the variable
// is unset or empty, or its request is refused), and Refusal, why the request cannot be met
// (nullptr when it can). Reads the environment each time; changes nothing.
struct SimdChoice {
    SimdLevel Level;
    const char* Refusal;
};
[[nodiscard]] SimdChoice SimdLevelFromEnvironment() noexcept;
// Test and benchmark seam: from now on every thread uses Level, or the supported level if
// Level is wider. Returns the level in force afterwards.
SimdLevel SetSimdLevel(SimdLevel Level) noexcept;
// "scalar", "sse2", "avx2".
[[nodiscard]] const char* SimdLevelName(SimdLevel Level) noexcept;

}  // namespace oggmix
