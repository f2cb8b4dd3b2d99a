#pragma once
// RenderKernels_Internal.h: the tables of each level, for RenderKernels.cpp only. The vector
// tables live in files compiled for their instruction sets; each may be called only when the
// processor runs that set (KernelsFor sees to it).

#include "stream/RenderKernels.h"

namespace oggmix {

[[nodiscard]] const RenderKernels& ScalarKernels() noexcept;
[[nodiscard]] const RenderKernels& Sse2Kernels() noexcept;
[[nodiscard]] const RenderKernels& Avx2Kernels() noexcept;

}  // namespace oggmix
