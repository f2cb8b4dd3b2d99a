// HeardDelay.cpp: packing a delay and its time into one word, and the delay left now.
#include "sound/platform/HeardDelay.h"

#include <algorithm>

#include "sound/platform/AudioBackend.h"

namespace oggmix {

uint64_t HeardDelay::TicksNow() const noexcept {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - FEpoch).count();
    return static_cast<uint64_t>(std::max<int64_t>(us, 0) / kTickUs);
}

void HeardDelay::Record(int32_t delayFrames) noexcept {
    const uint64_t delay =
        static_cast<uint64_t>(std::clamp<int32_t>(delayFrames, 0, (1 << kDelayBits) - 1));
    FPacked.store(TicksNow() << kDelayBits | delay, std::memory_order_relaxed);
}

int32_t HeardDelay::Now() const noexcept {
    const uint64_t packed = FPacked.load(std::memory_order_relaxed);
    const int64_t delay = static_cast<int64_t>(packed & ((uint64_t{1} << kDelayBits) - 1));
    if (delay == 0) return 0;
    const int64_t elapsedTicks = static_cast<int64_t>(TicksNow() - (packed >> kDelayBits));
    const int64_t playedFrames = elapsedTicks * kTickUs * kDeviceFramesPerSecond / 1'000'000;
    return static_cast<int32_t>(std::max<int64_t>(delay - playedFrames, 0));
}

}  // namespace oggmix
