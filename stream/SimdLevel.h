#pragma once
// SimdLevel.h: which instruction set the render path's vector kernels use. The level is
// picked once from the processor: AVX2 where it has it (and the system saves its registers),
// else SSE2, which every x86-64 processor has. Every level gives exactly the same samples as
// the scalar path; they differ only in speed. There is no AVX-512 level: on these machines it
// speeds up the transform but not a render, and on some processors it lowers the clock.
// Threads: any; the level is a relaxed atomic, read once per kernel call.
// Memory: no alloc.

#include <cstdint>

namespace oggmix {

enum class SimdLevel : int32_t { Scalar = 0, Sse2 = 1, Avx2 = 2 };

// The widest level this processor runs.
[[nodiscard]] SimdLevel SupportedSimdLevel() noexcept;
// The level the kernels use now.
[[nodiscard]] SimdLevel ActiveSimdLevel() noexcept;
// Test and benchmark seam: from now on every thread uses Level, or the supported level if
// Level is wider. Returns the level in force afterwards.
SimdLevel SetSimdLevel(SimdLevel Level) noexcept;
// "scalar", "sse2", "avx2".
[[nodiscard]] const char* SimdLevelName(SimdLevel Level) noexcept;

}  // namespace oggmix
