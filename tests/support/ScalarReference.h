#pragma once
// ScalarReference.h: the render path's arithmetic written the plain way: one value at a
// time, single precision step by step, in the order the algorithms give: the transform, the
// tone filter, the gain control, the volume stage and the mixer's sum, peak, scaling and
// clip. The engine's vector paths must give exactly these bits; tests compare the two on
// long random and musical input, and the benchmarks measure against the transform.
// Threads: any; no shared state. Memory: allocates only in constructors.

#include <array>
#include <cstdint>
#include <span>

#include "stream/FFTLib.h"
#include "stream/uAGC.h"

namespace oggmix::test {

// In-place radix-2 transform of Re and Im (tables.Size() points) with the sine table and the
// bit-reversal permutation of tables. Scaled: Forward (1/N, positive exponent).
void ReferenceTransform(const TFFT& tables, float* Re, float* Im, bool Scaled);

// The tone filter of one stream: its curve in point order, its histories, its transform.
class ReferenceFilter {
public:
    ReferenceFilter();  // every point at 1.0, at rest; histories zero
    void SetPoint(int32_t Index, float Value, float Time);
    // As SetFilterCurve4 / SetFilterCurve8 with Count values.
    void SetCurve(const float* Values, int32_t Count, float Time);
    [[nodiscard]] bool Active() const;
    // Filters ByteCount / 4 frames of 16-bit stereo in place while active.
    void Apply(int16_t* Samples, int32_t ByteCount);
    [[nodiscard]] float Gain(int32_t Index) const {
        return FPoints[static_cast<size_t>(Index)].Gain;
    }

private:
    struct Point {
        float Gain = 1.0f;
        float Target = 1.0f;
        float Step = 0.0f;
    };
    std::array<Point, 256> FPoints{};
    std::array<float, 64> FHistoryL{};
    std::array<float, 64> FHistoryR{};
    TFFT FFft{256};
};

// The gain control's Process, on the public fields of agc.
void ReferenceAgcProcess(TAGC& agc, int16_t* Samples, int32_t ByteCount);

// The volume stage of one stream: fade, pan, volumes, and the frames they scale.
struct ReferenceVolume {
    int64_t FadeVolume = int64_t{1} << 40;  // Q40
    int64_t FadeTarget = int64_t{1} << 40;
    int64_t FadeStep = 0;
    int64_t Pan = 0;
    int64_t PanTarget = 0;
    int64_t PanStep = 0;
    int32_t MasterVolume = 256;  // Q8
    int32_t Volume = 256;

    void Fade(float To, float Seconds);
    void SetPan(float To, float Seconds);
    void SetMasterVolume(float To);
    void SetVolume(float To);
    // Count bytes of 16-bit stereo from Source as wide (32-bit) or narrow (clipped) frames.
    int32_t Apply(void* Dest, const int16_t* Source, int32_t Count, bool Wide);
};

// The mixer's arithmetic: the exact sum of the sources, saturated to 32 bits; the largest
// magnitude of a group (saturated); a group scaled by a Q8 gain; the clip to 16 bits.
void ReferenceMix(std::span<const int32_t* const> Sources, int32_t ValueCount, int32_t* Mix);
[[nodiscard]] int32_t ReferencePeak(const int32_t* Values, int32_t Count);
void ReferenceScaleQ8(int32_t* Values, int32_t Count, int32_t GainQ8);
void ReferenceClip(const int32_t* Values, int32_t Count, int16_t* Out);

}  // namespace oggmix::test
