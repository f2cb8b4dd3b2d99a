// RenderKernels.cpp: the scalar table, one value at a time in the order the algorithms give,
// and the choice of table by level.
#include "stream/RenderKernels.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "base/PcmFormat.h"
#include "base/Saturate.h"
#include "stream/RenderKernels_Internal.h"

namespace oggmix {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

void Transform(const TransformPlan& plan, float* re, float* im, bool scaled) noexcept {
    const int32_t n = plan.Points;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = plan.BitRev[i];
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    const int32_t quarter = n / 4;
    for (int32_t k = 1; k < n; k *= 2) {
        const int32_t k2 = 2 * k;
        const int32_t d = n / k2;
        int32_t h = 0;
        for (int32_t j = 0; j < k; ++j) {
            const float c = plan.SinTable[h + quarter];
            const float s = scaled ? -plan.SinTable[h] : plan.SinTable[h];
            for (int32_t i = j; i < n; i += k2) {
                const int32_t ik = i + k;
                const float dx = s * im[ik] + c * re[ik];
                const float dy = c * im[ik] - s * re[ik];
                re[ik] = re[i] - dx;
                re[i] = re[i] + dx;
                im[ik] = im[i] - dy;
                im[i] = im[i] + dy;
            }
            h += d;
        }
    }
    if (scaled) {
        const float scale = 1.0f / static_cast<float>(n);
        for (int32_t i = 0; i < n; ++i) {
            re[i] = re[i] * scale;
            im[i] = im[i] * scale;
        }
    }
}

void FilterTransform(const TransformPlan& plan, float* re, float* im,
                     const float* binGain) noexcept {
    for (int32_t i = 0; i < plan.Points; ++i) {
        re[i] = re[i] * plan.Window[i];
        im[i] = im[i] * plan.Window[i];
    }
    Transform(plan, re, im, true);
    for (int32_t i = 0; i < plan.Points; ++i) {
        re[i] = re[i] * binGain[i];
        im[i] = im[i] * binGain[i];
    }
    Transform(plan, re, im, false);
}

bool MoveCurve(float* gain, const float* target, float* step, int32_t count,
               float frames) noexcept {
    bool moving = false;
    for (int32_t i = 0; i < count; ++i) {
        moving = moving || step[i] != 0.0f;
        const float move = frames * step[i];
        if (std::fabs(gain[i] - target[i]) >= std::fabs(move)) {
            gain[i] = gain[i] + move;
        } else {
            gain[i] = target[i];
            step[i] = 0.0f;
        }
    }
    return moving;
}

bool CurveActive(const float* gain, const float* target, int32_t count) noexcept {
    constexpr double kTolerance = 0.01;
    for (int32_t i = 0; i < count; ++i) {
        const float distance = std::fabs(gain[i] - 1.0f) + std::fabs(target[i] - 1.0f);
        if (static_cast<double>(distance) > kTolerance) return true;
    }
    return false;
}

void LoadFrames(const int16_t* frames, int32_t count, float* re, float* im) noexcept {
    for (int32_t j = 0; j < count; ++j) {
        re[j] = frames[2 * j];
        im[j] = frames[2 * j + 1];
    }
}

int16_t EmitSample(float value, float invWindow) noexcept {
    float v = value * invWindow;
    if (v > 32767.0f) v = 32767.0f;
    if (!(v >= -32767.0f)) v = -32767.0f;
    return static_cast<int16_t>(RoundHalfAway(v));
}

void EmitFrames(const float* re, const float* im, const float* invWindow, int32_t count,
                int16_t* frames) noexcept {
    for (int32_t j = 0; j < count; ++j) {
        frames[2 * j] = EmitSample(re[j], invWindow[j]);
        frames[2 * j + 1] = EmitSample(im[j], invWindow[j]);
    }
}

AgcRun AgcSteadyRun(int16_t* samples, int32_t count, float gain, int32_t target,
                    int32_t quietLevel) noexcept {
    AgcRun run;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t in = samples[i];
        // Exact: a 16-bit sample times a float needs at most 40 bits of mantissa.
        const double product = static_cast<double>(in) * static_cast<double>(gain);
        if (!(std::fabs(product) < static_cast<double>(target))) break;
        const auto out = static_cast<int64_t>(product);  // |out| < target <= 2^31 - 1
        const auto magnitude = static_cast<int32_t>(std::llabs(out));
        if (magnitude > run.PeakMagnitude) run.PeakMagnitude = magnitude;
        run.QuietTail = std::abs(in) < quietLevel ? run.QuietTail + 1 : 0;
        samples[i] = SaturateToInt16(out);
        ++run.Samples;
    }
    return run;
}

void ExpandFrames(int16_t* dest, const int16_t* source, int32_t sourceFrames, int32_t channels,
                  int32_t repeat) noexcept {
    for (int32_t f = 0; f < sourceFrames; ++f) {
        const int16_t l = source[f * channels];
        const int16_t r = source[f * channels + channels - 1];
        for (int32_t k = 0; k < repeat; ++k) {
            *dest++ = l;
            *dest++ = r;
        }
    }
}

void VolumeWide(int32_t* dest, const int16_t* source, int32_t frames, int32_t gainL,
                int32_t gainR) noexcept {
    for (int32_t f = 0; f < frames; ++f) {
        dest[2 * f] = source[2 * f] * gainL / 256;
        dest[2 * f + 1] = source[2 * f + 1] * gainR / 256;
    }
}

void VolumeNarrow(int16_t* dest, const int16_t* source, int32_t frames, int32_t gainL,
                  int32_t gainR) noexcept {
    for (int32_t f = 0; f < frames; ++f) {
        dest[2 * f] = static_cast<int16_t>(ClipToSample(source[2 * f] * gainL / 256));
        dest[2 * f + 1] = static_cast<int16_t>(ClipToSample(source[2 * f + 1] * gainR / 256));
    }
}

bool MixAdd(int32_t* sum, const int32_t* source, int32_t count) noexcept {
    bool wrapped = false;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t exact = int64_t{sum[i]} + source[i];
        wrapped = wrapped || exact != static_cast<int32_t>(exact);
        sum[i] = static_cast<int32_t>(static_cast<uint32_t>(exact));
    }
    return wrapped;
}

int32_t PeakMagnitude(const int32_t* values, int32_t count) noexcept {
    int64_t peak = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t magnitude = std::llabs(int64_t{values[i]});
        if (magnitude > peak) peak = magnitude;
    }
    return static_cast<int32_t>(peak > kInt32Max ? kInt32Max : peak);
}

void ScaleQ8(int32_t* values, int32_t count, int32_t gainQ8) noexcept {
    for (int32_t i = 0; i < count; ++i)
        values[i] = SaturateToInt32(int64_t{values[i]} * gainQ8 / 256);
}

void ClipToNarrow(void* dest, const int32_t* values, int32_t count) noexcept {
    auto* out = static_cast<std::byte*>(dest);
    for (int32_t i = 0; i < count; ++i) {
        const auto sample = static_cast<int16_t>(ClipToSample(values[i]));
        std::memcpy(out + i * sizeof sample, &sample, sizeof sample);
    }
}

}  // namespace

const RenderKernels& ScalarKernels() noexcept {
    static constexpr RenderKernels kTable{
        Transform,  FilterTransform, MoveCurve,    CurveActive,  LoadFrames,
        EmitFrames, AgcSteadyRun,    ExpandFrames, VolumeWide,   VolumeNarrow,
        MixAdd,     PeakMagnitude,   ScaleQ8,      ClipToNarrow,
    };
    return kTable;
}

const RenderKernels& KernelsFor(SimdLevel Level) noexcept {
    const SimdLevel supported = SupportedSimdLevel();
    const SimdLevel level =
        static_cast<int32_t>(Level) > static_cast<int32_t>(supported) ? supported : Level;
    switch (level) {
        case SimdLevel::Avx2: return Avx2Kernels();
        case SimdLevel::Sse2: return Sse2Kernels();
        case SimdLevel::Scalar: break;
    }
    return ScalarKernels();
}

const RenderKernels& Kernels() noexcept { return KernelsFor(ActiveSimdLevel()); }

}  // namespace oggmix
