// OggDataLib_AGC.cpp: the stream's gain-control settings.
#include "stream/OggDataLib.h"

namespace oggmix {
namespace {

// Level 1.0 aims at the control's default target.
constexpr auto kFullTargetMagnitude = static_cast<float>(kAGCDefaultTarget);

}  // namespace

void TOggData::SetAGCParams(int32_t Target, int32_t QuietLevel, float InitialGain,
                            float AdjustRate) {
    // Under the lock, so that the refill thread never sees half a change.
    ScopedLock guard(FLock);
    FAGC->Target = Target;
    FAGC->QuietLevel = QuietLevel;
    FAGC->InitialGain = InitialGain;
    FAGC->AdjustRate = AdjustRate;
    FAGC->ResetGain();
}

void TOggData::SetAGC(float Level) {
    SetAGCParams(
        RoundHalfAway(static_cast<float>(static_cast<double>(Level) * kFullTargetMagnitude)),
        kAGCDefaultQuietLevel, 1.0f, kAGCDefaultAdjustRate);
}

}  // namespace oggmix
