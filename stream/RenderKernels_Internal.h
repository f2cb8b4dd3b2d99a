#pragma once
// RenderKernels_Internal.h: the tables of each level, for RenderKernels.cpp only. The vector
// tables live in files compiled for their instruction sets; each may be called only when the
// processor runs that set (KernelsFor sees to it).

#include "stream/RenderKernels.h"

namespace oggmix {

[[nodiscard]] const RenderKernels& ScalarKernels() noexcept;
[[nodiscard]] const RenderKernels& Sse2Kernels() noexcept;
[[nodiscard]] const RenderKernels& Avx2Kernels() noexcept;

// Rounds a clipped sample (|v| <= 32767) half away from zero in one float addition and a
// truncation: v + copysign(kJustBelowHalf, v), truncated. Adding 0.5 itself would carry
// 0.49999997f up to 1; the float just below it cannot carry any v whose fraction is below
// one half, while a half still rounds the sum up to the next integer (checked for every float
// of the range).
inline constexpr float kJustBelowHalf = 0x1.fffffep-2f;

}  // namespace oggmix
