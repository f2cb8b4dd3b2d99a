// DeviceClock.cpp: the sequence lock, and moving a record on with the clock.
#include "sound/platform/DeviceClock.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "sound/platform/AudioBackend.h"

namespace oggmix {

int64_t DeviceClock::NowNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void DeviceClock::Reset() noexcept { Store({}); }

void DeviceClock::Record(int64_t pulledFrames, int64_t unheardFrames, int64_t nowNs) noexcept {
    // Only a writer changes the fields, so it may read them without the sequence check.
    const Snapshot previous{FHeardFrames.load(std::memory_order_relaxed),
                            FPulledFrames.load(std::memory_order_relaxed),
                            FStampNs.load(std::memory_order_relaxed)};
    const int64_t heard =
        std::max(std::clamp<int64_t>(pulledFrames - unheardFrames, 0, pulledFrames),
                 std::min(Extrapolate(previous, nowNs), pulledFrames));
    Store({heard, pulledFrames, nowNs});
}

void DeviceClock::RunFree() noexcept {
    const int64_t nowNs = NowNs();
    const Snapshot previous{FHeardFrames.load(std::memory_order_relaxed),
                            FPulledFrames.load(std::memory_order_relaxed),
                            FStampNs.load(std::memory_order_relaxed)};
    Store({Extrapolate(previous, nowNs), std::numeric_limits<int64_t>::max(), nowNs});
}

// Without fences (ThreadSanitizer does not model them): the fields are stored with release
// and loaded with acquire, so a reader that sees any field of a record being written also
// sees the odd sequence number stored before it, and tries again.
void DeviceClock::Store(const Snapshot& at) noexcept {
    const uint32_t sequence = FSequence.load(std::memory_order_relaxed);
    FSequence.store(sequence + 1, std::memory_order_relaxed);
    FHeardFrames.store(at.HeardFrames, std::memory_order_release);
    FPulledFrames.store(at.PulledFrames, std::memory_order_release);
    FStampNs.store(at.StampNs, std::memory_order_release);
    FSequence.store(sequence + 2, std::memory_order_release);
}

DeviceClock::Snapshot DeviceClock::Read() const noexcept {
    for (;;) {
        const uint32_t before = FSequence.load(std::memory_order_acquire);
        if (before % 2 != 0) continue;
        const Snapshot at{FHeardFrames.load(std::memory_order_acquire),
                          FPulledFrames.load(std::memory_order_acquire),
                          FStampNs.load(std::memory_order_acquire)};
        if (FSequence.load(std::memory_order_relaxed) == before) return at;
    }
}

int64_t DeviceClock::Extrapolate(const Snapshot& at, int64_t nowNs) noexcept {
    const int64_t elapsedNs = std::max<int64_t>(nowNs - at.StampNs, 0);
    // Whole seconds first, so that hours of elapsed time do not overflow the product.
    const int64_t playedFrames = elapsedNs / 1'000'000'000 * kDeviceFramesPerSecond +
                                 elapsedNs % 1'000'000'000 * kDeviceFramesPerSecond / 1'000'000'000;
    return std::min(at.HeardFrames + playedFrames, at.PulledFrames);
}

int64_t DeviceClock::HeardFrames(int64_t nowNs) const noexcept {
    return Extrapolate(Read(), nowNs);
}

}  // namespace oggmix
