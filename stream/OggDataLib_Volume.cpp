// OggDataLib_Volume.cpp: fade, pan and the two volumes, and the output stage that applies
// them frame by frame in fixed point.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "base/Saturate.h"
#include "stream/OggDataLib.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

constexpr double kQ40One = 1099511627776.0;  // 2^40
constexpr int64_t kQ40ToQ8 = int64_t{1} << 32;
constexpr float kMaxFadeVolume = 64.0f;
constexpr float kMaxRampVolume = 2.0f;

// A ramp's step per frame for Seconds of audio at 44100 frames per second, or 0 for an
// immediate change. Compared in double so that 0.01f, which lies just below 0.01, counts as
// immediate; a NaN time is immediate too rather than a NaN step.
bool IsImmediate(float Seconds) { return !(static_cast<double>(Seconds) >= 0.01); }

int64_t RampStep(int64_t fromQ40, int64_t toQ40, float Seconds) {
    const double frames = static_cast<double>(Seconds) * kFramesPerSecond;
    const double step = static_cast<double>(toQ40 - fromQ40) / frames;
    return static_cast<int64_t>(step);  // |step| <= |to - from|, always in range
}

struct StageGains {
    int32_t left;   // Q8
    int32_t right;  // Q8
};

StageGains Gains(int64_t fadeQ40, int64_t panQ40, int32_t volQ8) {
    const int64_t fadeQ8 = fadeQ40 / kQ40ToQ8;
    const int64_t panQ8 = panQ40 / kQ40ToQ8;
    const int64_t left = std::min<int64_t>(256 - panQ8, 256);
    const int64_t right = std::min<int64_t>(256 + panQ8, 256);
    // In 64 bits, so that settings far outside the usual range cannot overflow.
    return {SaturateToInt32(fadeQ8 * volQ8 * left / 65536),
            SaturateToInt32(fadeQ8 * volQ8 * right / 65536)};
}

bool FitsKernel(const StageGains& gains) {
    constexpr int32_t kMin = std::numeric_limits<int16_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int16_t>::max();
    return gains.left >= kMin && gains.left <= kMax && gains.right >= kMin && gains.right <= kMax;
}

// How many frames from now, at most limit, a ramp moves by whole steps without landing on its
// target and keeps the value in 1/256 that its first step gives (a ramp at rest: limit).
// 0 when the first frame lands it, or when it runs away from its target, which no setter
// makes; either is left to StepRamp.
int32_t SteadyRampFrames(int64_t valueQ40, int64_t targetQ40, int64_t stepQ40, int32_t limit) {
    if (stepQ40 == 0) return limit;
    const int64_t distance = targetQ40 - valueQ40;
    if (distance != 0 && (distance > 0) != (stepQ40 > 0)) return 0;
    // A frame moves by a whole step while the step is no larger than what is left.
    int64_t frames = std::llabs(distance) / std::llabs(stepQ40);
    // The value in 1/256 truncates toward zero, so its bucket around zero is twice as wide.
    const int64_t q = (valueQ40 + stepQ40) / kQ40ToQ8;
    if (stepQ40 > 0) {
        const int64_t last = q >= 0 ? (q + 1) * kQ40ToQ8 - 1 : q * kQ40ToQ8;
        frames = std::min(frames, (last - valueQ40) / stepQ40);
    } else {
        const int64_t last = q > 0 ? q * kQ40ToQ8 : (q - 1) * kQ40ToQ8 + 1;
        frames = std::min(frames, (valueQ40 - last) / -stepQ40);
    }
    return static_cast<int32_t>(std::min<int64_t>(frames, limit));
}

// Advances a ramp by one frame; true when the value changed.
bool StepRamp(int64_t& valueQ40, int64_t targetQ40, int64_t& stepQ40) {
    if (stepQ40 == 0) return false;
    if (std::llabs(stepQ40) > std::llabs(targetQ40 - valueQ40)) {
        valueQ40 = targetQ40;
        stepQ40 = 0;
    }
    valueQ40 += stepQ40;
    return true;
}

}  // namespace

void TOggData::Fade(float Volume, float Seconds) {
    ScopedLock guard(FLock);
    if (!(Volume >= 0.0f)) Volume = 0.0f;
    if (Volume > kMaxFadeVolume) Volume = kMaxFadeVolume;
    FFadeTarget = static_cast<int64_t>(static_cast<double>(Volume) * kQ40One);
    if (IsImmediate(Seconds)) {
        FFadeVolume = FFadeTarget;
        FFadeStep = 0;
    } else {
        // The ramp starts from the present volume, so a new fade takes over a running one.
        FFadeStep = RampStep(FFadeVolume, FFadeTarget, Seconds);
    }
}

float TOggData::GetFadeVolume(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    return static_cast<float>(static_cast<double>(FFadeVolume) / kQ40One);
}

float TOggData::GetFadeTarget(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    return static_cast<float>(static_cast<double>(FFadeTarget) / kQ40One);
}

void TOggData::SetPan(float Pan, float Seconds) {
    ScopedLock guard(FLock);
    if (!(Pan >= -1.0f)) Pan = -1.0f;
    if (Pan > 1.0f) Pan = 1.0f;
    FPanTarget = static_cast<int64_t>(static_cast<double>(Pan) * kQ40One);
    if (IsImmediate(Seconds)) {
        FPan = FPanTarget;
        FPanStep = 0;
    } else {
        FPanStep = RampStep(FPan, FPanTarget, Seconds);
    }
}

void TOggData::SetMasterVolume(float Volume) {
    ScopedLock guard(FLock);
    FMasterVolume = RoundHalfAway(Volume * 256.0f);
}

void TOggData::SetVolume(float Volume) {
    ScopedLock guard(FLock);
    FVolume = RoundHalfAway(Volume * 256.0f);
    FVolumeRampQ40 = int64_t{FVolume} * kQ40ToQ8;
    FVolumeTargetQ40 = FVolumeRampQ40;
    FVolumeStepQ40 = 0;
}

void TOggData::SetVolume(float Volume, float Seconds) {
    if (IsImmediate(Seconds)) {
        SetVolume(Volume);
        return;
    }
    ScopedLock guard(FLock);
    if (!(Volume >= 0.0f)) Volume = 0.0f;
    if (Volume > kMaxRampVolume) Volume = kMaxRampVolume;
    // The ramp runs in Q40 and lands on the Q8 volume that SetVolume(Volume) would set; it
    // starts from the volume applied now, so a new ramp takes over a running one.
    FVolumeRampQ40 = int64_t{FVolume} * kQ40ToQ8;
    FVolumeTargetQ40 = int64_t{RoundHalfAway(Volume * 256.0f)} * kQ40ToQ8;
    FVolumeStepQ40 = RampStep(FVolumeRampQ40, FVolumeTargetQ40, Seconds);
}

int32_t TOggData::ApplyVolume(void* Dest, const int16_t* Source, int32_t Count,
                              bool Wide) noexcept {
    const ConstStereoFrames16 source(Source, BytesToFrames(Count));
    if (Wide)
        ApplyVolume(WideFrames32(static_cast<int32_t*>(Dest), source.Frames()), source);
    else
        ApplyVolume(StereoFrames16(static_cast<int16_t*>(Dest), source.Frames()), source);
    return Wide ? Count * 2 : Count;
}

void TOggData::ApplyVolume(WideFrames32 Dest, ConstStereoFrames16 Source) noexcept {
    ScaleFrames(Dest, Source);
}

void TOggData::ApplyVolume(StereoFrames16 Dest, ConstStereoFrames16 Source) noexcept {
    ScaleFrames(Dest, Source);
}

template <class Output>
void TOggData::ScaleFrames(Output Dest, ConstStereoFrames16 Source) noexcept {
    constexpr bool kWide = std::is_same_v<Output, WideFrames32>;
    int32_t volQ8 = SaturateToInt32(int64_t{FMasterVolume} * FVolume / 256);
    StageGains gains = Gains(FFadeVolume, FPan, volQ8);
    const int32_t frames = Source.Frames();
    const RenderKernels& kernels = Kernels();

    // Frames first .. first + count - 1 at one pair of gains. Gains that fit 16 bits keep
    // every product within 32 bits, which the kernels rely on.
    const auto scale = [&](int32_t first, int32_t count, const StageGains& g) {
        const Output out = Dest.From(first);
        const ConstStereoFrames16 in = Source.From(first);
        if (FitsKernel(g)) {
            if constexpr (kWide)
                kernels.VolumeWide(out.data(), in.data(), count, g.left, g.right);
            else
                kernels.VolumeNarrow(out.data(), in.data(), count, g.left, g.right);
            return;
        }
        for (int32_t frame = 0; frame < count; ++frame) {
            const int32_t l = SaturateToInt32(int64_t{in.Left(frame)} * g.left / 256);
            const int32_t r = SaturateToInt32(int64_t{in.Right(frame)} * g.right / 256);
            if constexpr (kWide) {
                out.Left(frame) = l;
                out.Right(frame) = r;
            } else {
                out.Left(frame) = static_cast<int16_t>(ClipToSample(l));
                out.Right(frame) = static_cast<int16_t>(ClipToSample(r));
            }
        }
    };

    // The volume ramp moves the Q8 volume itself; the master volume scales it as ever.
    const auto followVolume = [&](int64_t volumeQ40) OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        FVolume = static_cast<int32_t>(volumeQ40 / kQ40ToQ8);
        volQ8 = SaturateToInt32(int64_t{FMasterVolume} * FVolume / 256);
    };
    // Records where the fade fell silent (and rose again) for the play record.
    const bool recording = FRecorder.On();
    const auto noteFade = [&](int32_t first, int64_t fadeQ40) OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        if (fadeQ40 / kQ40ToQ8 != 0)
            FSilentFrom = -1;
        else if (FSilentFrom < 0)
            FSilentFrom = FRecordFrame + first;
    };

    int32_t frame = 0;
    while (frame < frames) {
        // The gains follow the ramps' values in 1/256 only: while no ramp lands or changes
        // its value in 1/256, every frame gets the gains of the first, and the ramps move on
        // by whole stretches.
        const int32_t steady = std::min(
            {SteadyRampFrames(FFadeVolume, FFadeTarget, FFadeStep, frames - frame),
             SteadyRampFrames(FPan, FPanTarget, FPanStep, frames - frame),
             SteadyRampFrames(FVolumeRampQ40, FVolumeTargetQ40, FVolumeStepQ40, frames - frame)});
        if (steady > 0) {
            if (FVolumeStepQ40 != 0) followVolume(FVolumeRampQ40 + FVolumeStepQ40);
            gains = Gains(FFadeVolume + FFadeStep, FPan + FPanStep, volQ8);
            if (recording) noteFade(frame, FFadeVolume + FFadeStep);
            scale(frame, steady, gains);
            FFadeVolume += FFadeStep * steady;
            FPan += FPanStep * steady;
            FVolumeRampQ40 += FVolumeStepQ40 * steady;
            frame += steady;
            continue;
        }
        // A frame on which a ramp lands, frame by frame.
        const bool fadeMoved = StepRamp(FFadeVolume, FFadeTarget, FFadeStep);
        const bool panMoved = StepRamp(FPan, FPanTarget, FPanStep);
        const bool volumeMoved = StepRamp(FVolumeRampQ40, FVolumeTargetQ40, FVolumeStepQ40);
        if (volumeMoved) followVolume(FVolumeRampQ40);
        if (fadeMoved || panMoved || volumeMoved) gains = Gains(FFadeVolume, FPan, volQ8);
        if (recording) noteFade(frame, FFadeVolume);
        scale(frame, 1, gains);
        ++frame;
    }
}

}  // namespace oggmix
