// OggDataLib_Filter.cpp: the tone filter: a 256-point gain curve that ramps towards its
// targets, set from 4 or 8 control values with a cubic Hermite curve, applied in the frequency
// domain to each chunk in steps of at most 192 fresh frames.
#include <algorithm>
#include <cmath>

#include "stream/OggDataLib.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

constexpr int kTransformPoints = 256;
constexpr int kGuardFrames = 64;                         // history and look-ahead
constexpr int kFreshFramesPerStep = 3 * kGuardFrames;    // 192
constexpr int kEmittedFramesPerStep = 2 * kGuardFrames;  // 128
constexpr auto kFilterFramesPerSecond = static_cast<float>(kFramesPerSecond);
constexpr double kJumpBelowSec = 0.001;
static_assert(kGuardFrames + kFreshFramesPerStep == kTransformPoints);

// Bin k takes point 2k (k < 128); bin 255 - k takes point 2k + 1: even points run up the
// positive frequencies, odd points down the negative ones.
constexpr int BinOfPoint(int point) {
    return point % 2 == 0 ? point / 2 : kTransformPoints - 1 - point / 2;
}

}  // namespace

void TOggData::SetFilterPoint(int32_t Index, float Value, float Time) {
    ScopedLock guard(FLock);
    SetFilterPointLocked(Index, Value, Time);
}

void TOggData::SetFilterPointNow(int32_t Index, float Value) { SetFilterPoint(Index, Value, 0.0f); }

void TOggData::SetFilterPointLocked(int32_t Index, float Value, float Time) noexcept {
    if (Index < 0 || Index >= kFilterPointCount) return;
    // A gain that is not a number would turn every sample of the band into noise; such a point
    // is silent instead.
    if (!std::isfinite(Value)) Value = 0.0f;
    const int bin = BinOfPoint(Index);
    FFilterTarget[bin] = Value;
    if (!(static_cast<double>(Time) >= kJumpBelowSec)) {
        FFilterGain[bin] = Value;
        FFilterStep[bin] = 0.0f;
    } else {
        FFilterStep[bin] = (Value - FFilterGain[bin]) / (Time * kFilterFramesPerSecond);
    }
    FFilterGainShown[bin].store(FFilterGain[bin], std::memory_order_relaxed);
    FFilterStillPasses = 0;
    FFilterActiveKnown = false;
}

void TOggData::SetFilterCurve4(float V0, float V1, float V2, float V3, float Time) {
    const float values[4] = {V0, V1, V2, V3};
    SetFilterCurve(values, 4, Time);
}

void TOggData::SetFilterCurve8(float V0, float V1, float V2, float V3, float V4, float V5, float V6,
                               float V7, float Time) {
    const float values[8] = {V0, V1, V2, V3, V4, V5, V6, V7};
    SetFilterCurve(values, 8, Time);
}

void TOggData::SetFilterCurve(const float* Values, int32_t Count, float Time) {
    // One lock for the whole curve: the refill thread sees either the old curve or the new one.
    ScopedLock guard(FLock);
    for (int32_t i = 0; i < kFilterPointCount; ++i) {
        const auto x = static_cast<float>(static_cast<double>(i) * (Count - 1) / 255.0);
        float v = CurveValue(Values, x, Count);
        if (!(v > 0.0f)) v = 0.0f;
        SetFilterPointLocked(i, v, Time);
    }
}

float TOggData::GetFilterGain(int32_t Index) const noexcept {
    if (Index < 0 || Index >= kFilterPointCount) return 1.0f;
    return FFilterGainShown[BinOfPoint(Index)].load(std::memory_order_relaxed);
}

float TOggData::GetFilterTarget(int32_t Index) const noexcept {
    if (Index < 0 || Index >= kFilterPointCount) return 1.0f;
    return FFilterTarget[BinOfPoint(Index)];
}

bool TOggData::FilterActive() const noexcept {
    return Kernels().CurveActive(FFilterGain.data(), FFilterTarget.data(), kFilterPointCount);
}

bool TOggData::FilterActiveNow() noexcept {
    if (!FFilterActiveKnown) {
        FFilterActive = FilterActive();
        FFilterActiveKnown = true;
    }
    return FFilterActive;
}

void TOggData::ShowFilterGains() noexcept {
    FFilterGainsUnshown = false;
    for (int bin = 0; bin < kFilterPointCount; ++bin)
        FFilterGainShown[bin].store(FFilterGain[bin], std::memory_order_relaxed);
}

float TOggData::CurveValue(const float* Values, float X, int32_t Count) noexcept {
    const float whole = std::trunc(X);
    const float t = X - whole;
    // Callers keep X within 0 .. Count - 1. A stray X (beyond the ends, or NaN) is kept inside
    // the array here, before the conversion, which would be undefined for a NaN or a huge X.
    const auto last = static_cast<float>(Count - 1);
    const int32_t idx =
        whole >= 0.0f ? (whole <= last ? static_cast<int32_t>(whole) : Count - 1) : 0;
    const float p0 = Values[std::max(idx - 1, 0)];
    const float p1 = Values[idx];
    const float p2 = Values[std::min(idx + 1, Count - 1)];
    const float p3 = Values[std::min(idx + 2, Count - 1)];
    return HermiteValue(p0, p1, p2, p3, t, 1.0f, 1.0f);
}

float TOggData::HermiteValue(float P0, float P1, float P2, float P3, float t, float F1,
                             float F2) noexcept {
    float t1 = (P2 - P0) * F1;
    float t2 = (P3 - P1) * F2;
    if (P1 == P2) {
        // A flat segment gets flatter tangents, so it dips only a little between equal values.
        t1 = t1 * 0.25f;
        t2 = t2 * 0.25f;
    }
    const float tm1 = t - 1.0f;
    const float omt = 1.0f - t;
    // Each term left to right, then the sum left to right, every step a float.
    const float a = P1 * (tm1 * tm1) * (2.0f * t + 1.0f);
    const float b = P2 * (t * t) * (3.0f - 2.0f * t);
    const float c = t1 * t * (omt * omt);
    const float d = t2 * (t * t) * tm1;
    return a + b + c + d;
}

void TOggData::ApplyFilter(int16_t* Samples, int32_t ByteCount, bool ShowLater) noexcept {
    ApplyFilter(StereoFrames16(Samples, BytesToFrames(ByteCount)), ShowLater);
}

void TOggData::ApplyFilter(StereoFrames16 Frames, bool ShowLater) noexcept {
    if (!FilterActiveNow()) return;

    const RenderKernels& kernels = Kernels();
    TFFT& fft = *FFilterFFT;
    float* re = FFilterFrameRe.data();
    float* im = FFilterFrameIm.data();
    const float* invWindow = fft.InvWindow().data();

    StereoFrames16 rest = Frames;
    bool curveMoved = false;
    while (rest.Frames() > 0) {
        const int32_t fresh = std::min(rest.Frames(), kFreshFramesPerStep);
        // The curve moves by the fresh frames loaded, not the frames emitted: a transition
        // ends sooner than its nominal time, and that is part of the response. Once two passes
        // have found every point at rest, a pass changes nothing (the first may still turn a
        // gain of -0 into +0), and it is skipped.
        if (FFilterStillPasses < 2) {
            const bool moving =
                kernels.MoveCurve(FFilterGain.data(), FFilterTarget.data(), FFilterStep.data(),
                                  kFilterPointCount, static_cast<float>(fresh));
            FFilterStillPasses = moving ? 0 : FFilterStillPasses + 1;
            curveMoved = true;
        }

        std::copy(FFilterHistoryL.begin(), FFilterHistoryL.end(), re);
        std::copy(FFilterHistoryR.begin(), FFilterHistoryR.end(), im);
        kernels.LoadFrames(rest.data(), fresh, re + kGuardFrames, im + kGuardFrames);
        // A short last step looks ahead into copies of the chunk's last frame.
        std::fill(re + kGuardFrames + fresh, re + kTransformPoints, re[kGuardFrames + fresh - 1]);
        std::fill(im + kGuardFrames + fresh, im + kTransformPoints, im[kGuardFrames + fresh - 1]);

        const int32_t emitted = fresh < kFreshFramesPerStep ? fresh : kEmittedFramesPerStep;
        // The 64 frames that end with the last frame emitted are the next step's history.
        std::copy_n(re + emitted, kGuardFrames, FFilterHistoryL.begin());
        std::copy_n(im + emitted, kGuardFrames, FFilterHistoryR.begin());

        fft.FilterTransform(re, im, FFilterGain.data());
        // RemoveWindow, ClipSamples and the rounding, for the frames emitted only: the rest of
        // the frame is never read.
        kernels.EmitFrames(re + kGuardFrames, im + kGuardFrames, invWindow + kGuardFrames, emitted,
                           rest.data());
        rest = rest.From(emitted);
    }
    if (curveMoved) {
        FFilterGainsUnshown = true;
        if (!ShowLater) ShowFilterGains();
        FFilterActiveKnown = false;
    }
}

}  // namespace oggmix
