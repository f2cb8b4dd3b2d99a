#pragma once
// Clock.h: the millisecond clock that time stamps play positions, levels and spectra.
// Monotonic (steady clock) by default; tests pin it to a value they set, so that every
// position computed from it can be checked exactly.
// Threads: any; the clock is lock-free. Memory: no alloc.

#include <cstdint>

namespace oggmix {

// Milliseconds of the monotonic clock, or the pinned value while a test holds one.
[[nodiscard]] int64_t timeGetTime() noexcept;

// Test seam. Pinning replaces the steady clock for every thread until Unpin.
namespace test_clock {
void Pin(int64_t nowMs) noexcept;
void Advance(int64_t deltaMs) noexcept;  // pins first (at the steady time) if not pinned
void Unpin() noexcept;
}  // namespace test_clock

}  // namespace oggmix
