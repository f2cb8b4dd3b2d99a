// OggDataLib_AGC.cpp: the stream's gain-control settings.
#include <mutex>

#include "stream/OggDataLib.h"

namespace oggmix {
namespace {

constexpr float kFullTargetMagnitude = 30000.0f;
constexpr int32_t kDefaultQuietLevel = 800;
constexpr float kDefaultAdjustRate = 0.05f;

}  // namespace

void TOggData::SetAGCParams(int32_t Target, int32_t QuietLevel, float InitialGain,
                            float AdjustRate) {
    // Under the lock, so that the refill thread never sees half a change.
    std::lock_guard guard(FLock);
    FAGC->Target = Target;
    FAGC->QuietLevel = QuietLevel;
    FAGC->InitialGain = InitialGain;
    FAGC->AdjustRate = AdjustRate;
    FAGC->ResetGain();
}

void TOggData::SetAGC(float Level) {
    SetAGCParams(
        RoundHalfAway(static_cast<float>(static_cast<double>(Level) * kFullTargetMagnitude)),
        kDefaultQuietLevel, 1.0f, kDefaultAdjustRate);
}

}  // namespace oggmix
