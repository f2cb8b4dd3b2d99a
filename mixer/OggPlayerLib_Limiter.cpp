// OggPlayerLib_Limiter.cpp: the mix limiter: its settings, and the envelope that levels the
// 32-bit mix group by group so that the envelope maps to full scale.
#include <algorithm>
#include <limits>

#include "base/PcmFormat.h"
#include "base/Saturate.h"
#include "mixer/OggPlayerLib.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

constexpr int32_t kEnvelopeScale = 256;  // the envelope is sample magnitude x 256
// The envelope at which the gain is exactly 1: full scale.
constexpr int32_t kUnityEnvelope = kMaxSampleMagnitude * kEnvelopeScale;  // 8388352
// The smallest envelope used for scaling; it keeps the gain at most 32767 / 256 x.
constexpr int32_t kMinScalingEnvelope = 256 * kEnvelopeScale;
// Bounds beyond this would not fit the envelope in 32 bits; they are held at it.
constexpr int32_t kMaxBound = std::numeric_limits<int32_t>::max() / kEnvelopeScale;  // 8388607
constexpr int32_t kUnsetLevel = -1;

}  // namespace

void TOggPlayer::SetLimiter(int32_t Min, int32_t Max, int32_t Down, int32_t Delay, int32_t Level) {
    ScopedLock guard(FLock);
    Min = std::clamp(Min, -kMaxBound, kMaxBound);
    Max = std::clamp(Max, -kMaxBound, kMaxBound);
    if (Min > Max) Max = Min;
    Down = std::max(Down, 1);
    Delay = std::max(Delay, 1);
    FMaxLevel.store(Max, std::memory_order_relaxed);
    FMinLevel.store(Min, std::memory_order_relaxed);
    FDown.store(Down, std::memory_order_relaxed);
    FDelay.store(Delay, std::memory_order_relaxed);
    FPeak.store(0, std::memory_order_relaxed);
    if (Level != kUnsetLevel) {
        const int64_t level =
            std::max(int64_t{Level} * kEnvelopeScale, int64_t{Min} * kEnvelopeScale);
        FLevel.store(SaturateToInt32(level), std::memory_order_relaxed);
        FHoldCount = 0;
    }
}

void TOggPlayer::ResetLimiter() {
    SetLimiter(TLimiterDefaults::Min, TLimiterDefaults::Max, TLimiterDefaults::Down,
               TLimiterDefaults::Delay, kUnsetLevel);
}

int32_t TOggPlayer::GetLimiterLevel() const noexcept {
    return FLevel.load(std::memory_order_relaxed) / kEnvelopeScale;
}

void TOggPlayer::LimitGroup(int32_t First, int32_t Count) noexcept {
    int32_t* const values = FMix.data() + 2 * First;
    const int32_t valueCount = 2 * Count;
    const int32_t minLevel = FMinLevel.load(std::memory_order_relaxed);
    const int32_t maxLevel = FMaxLevel.load(std::memory_order_relaxed);
    const int32_t holdGroups = FDelay.load(std::memory_order_relaxed) / kLimiterGroupFrames;

    // 64-bit throughout: a mix far beyond full scale, a large fall or a huge starting level
    // must not overflow before the clamp brings the envelope back between the bounds.
    int64_t level = FLevel.load(std::memory_order_relaxed);
    if (minLevel == maxLevel) {
        level = int64_t{minLevel} * kEnvelopeScale;  // a fixed gain: no envelope, no peak meter
    } else {
        // |INT32_MIN| does not fit in 32 bits; the peak saturates like the mix.
        const int64_t peak = Kernels().PeakMagnitude(values, valueCount);
        if (peak > FPeak.load(std::memory_order_relaxed))
            FPeak.store(static_cast<int32_t>(peak), std::memory_order_relaxed);

        const int64_t current = level / kEnvelopeScale;
        if (current < peak) {
            level = (level + peak * 768) / 4;  // three quarters of the way up to the peak
            FHoldCount = 0;
        }
        if (current > peak) {
            if (FHoldCount > holdGroups)
                level -= FDown.load(std::memory_order_relaxed);
            else
                ++FHoldCount;
        }
        level = std::min(level, int64_t{maxLevel} * kEnvelopeScale);
        level = std::max(level, int64_t{minLevel} * kEnvelopeScale);
    }

    if (level == kUnityEnvelope) {
        FLevel.store(kUnityEnvelope, std::memory_order_relaxed);
        return;
    }
    level = std::max<int64_t>(level, kMinScalingEnvelope);
    FLevel.store(static_cast<int32_t>(level), std::memory_order_relaxed);
    // In 1/256: at most 32767 / 256 x (an envelope of 256), so value x gain needs 64 bits
    // once the bounds go below 256; the result saturates and Fill then clips it.
    const auto gain = static_cast<int32_t>(kUnityEnvelope / (level / kEnvelopeScale));
    Kernels().ScaleQ8(values, valueCount, gain);
}

}  // namespace oggmix
