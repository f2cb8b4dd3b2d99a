#pragma once
// RenderKernels.h: the inner loops of the render path, one table of them per instruction-set
// level (SimdLevel.h): the transform, the tone filter's frame, the ramp of its curve, the
// gain control's steady stretches, the volume stage at a steady gain, and the mixer's sum,
// limiter and clip. Every level gives bit for bit what the scalar table gives: the same
// single-precision operations on the same values, only several at a time (the vector
// transform also keeps its stages out of place, which moves values, never changes them).
// Threads: any; a kernel touches only what it is handed. Memory: no alloc. Errors: none.

#include <cstdint>

#include "stream/SimdLevel.h"

namespace oggmix {

// What a kernel needs of a TFFT: its size, its tables and its working arrays. The arrays
// belong to the TFFT and live as long as it does.
struct TransformPlan {
    int32_t Points = 0;               // N, a power of two
    int32_t Stages = 0;               // log2(N)
    const float* SinTable = nullptr;  // 3N/4 entries
    const int32_t* BitRev = nullptr;  // N entries
    const float* Window = nullptr;    // N entries
    // Per stage s (pairs k = 2^s apart, m = N / 2^(s+1) of them per twiddle), N/2 twiddles in
    // the order the butterflies write their results: entry e is the twiddle of j = e / m.
    const float* StageCos = nullptr;         // Stages x N/2
    const float* StageSinForward = nullptr;  // sine, negated as Forward uses it
    const float* StageSinBackward = nullptr;
    // Three pairs of working arrays (real parts, then imaginary parts, N values each), 6N
    // values in all, aligned to 64 bytes.
    float* Scratch = nullptr;
};

// A stretch of samples that the gain control levels at one gain, without any decision.
struct AgcRun {
    int32_t Samples = 0;        // levelled, from the first on
    int32_t PeakMagnitude = 0;  // the largest output magnitude among them
    int32_t QuietTail = 0;      // how many of them, at the end, were quiet (all: Samples)
};

struct RenderKernels {
    // Forward (Scaled: x 1/N, positive exponent) or Backward transform of Re and Im, in place.
    void (*Transform)(const TransformPlan& Plan, float* Re, float* Im, bool Scaled) noexcept;
    // The tone filter's frame: Re, Im x Window; Forward; Re, Im x BinGain; Backward. In place.
    void (*FilterTransform)(const TransformPlan& Plan, float* Re, float* Im,
                            const float* BinGain) noexcept;
    // Moves Count points of a curve (Count a multiple of 16) by Frames frames' worth of their
    // steps: a point whose distance to its target is at least the move moves, any other lands
    // on its target and stops. True when any step was nonzero on entry.
    bool (*MoveCurve)(float* Gain, const float* Target, float* Step, int32_t Count,
                      float Frames) noexcept;
    // True when any of Count points (a multiple of 16) has |Gain - 1| + |Target - 1| > 0.01.
    bool (*CurveActive)(const float* Gain, const float* Target, int32_t Count) noexcept;
    // Count frames of 16-bit stereo into Re (left) and Im (right) as floats.
    void (*LoadFrames)(const int16_t* Frames, int32_t Count, float* Re, float* Im) noexcept;
    // Frame j := Re[j], Im[j] times InvWindow[j], clipped to -32767..32767 (a NaN to -32767)
    // and rounded half away from zero, for j < Count.
    void (*EmitFrames)(const float* Re, const float* Im, const float* InvWindow, int32_t Count,
                       int16_t* Frames) noexcept;
    // Levels samples in place at Gain (out := in x Gain truncated, saturated to 16 bits) from
    // the first on, while the output magnitude stays below Target, at most Count of them.
    // Quiet: input magnitude below QuietLevel. A vector level may stop early, at a whole
    // vector; the caller levels what is left one sample at a time.
    AgcRun (*AgcSteadyRun)(int16_t* Samples, int32_t Count, float Gain, int32_t Target,
                           int32_t QuietLevel) noexcept;
    // SourceFrames frames of Channels (1 or 2) 16-bit samples, each written Repeat (1 or 2)
    // times as a stereo frame (a mono sample on both sides): Dest takes SourceFrames x Repeat
    // frames.
    void (*ExpandFrames)(int16_t* Dest, const int16_t* Source, int32_t SourceFrames,
                         int32_t Channels, int32_t Repeat) noexcept;
    // Frames of 16-bit stereo times GainL, GainR (-32768..32767, 256 = 1.0), truncated:
    // as 32-bit values (wide) or clipped to -32767..32767 (narrow).
    void (*VolumeWide)(int32_t* Dest, const int16_t* Source, int32_t Frames, int32_t GainL,
                       int32_t GainR) noexcept;
    void (*VolumeNarrow)(int16_t* Dest, const int16_t* Source, int32_t Frames, int32_t GainL,
                         int32_t GainR) noexcept;
    // Sum[i] += Source[i] for Count values, wrapping at 32 bits. True when any addition
    // wrapped (the sums are then not the exact ones).
    bool (*MixAdd)(int32_t* Sum, const int32_t* Source, int32_t Count) noexcept;
    // The largest magnitude among Count values; -2^31 counts as 2^31 - 1.
    int32_t (*PeakMagnitude)(const int32_t* Values, int32_t Count) noexcept;
    // Values[i] := Values[i] x GainQ8 / 256, truncated and saturated to 32 bits.
    void (*ScaleQ8)(int32_t* Values, int32_t Count, int32_t GainQ8) noexcept;
    // Count values clipped to -32767..32767 and written as 16-bit samples at Dest (any
    // alignment).
    void (*ClipToNarrow)(void* Dest, const int32_t* Values, int32_t Count) noexcept;
};

// The table of the active level.
[[nodiscard]] const RenderKernels& Kernels() noexcept;
// The table of Level (at most the supported level; wider requests get the supported one).
[[nodiscard]] const RenderKernels& KernelsFor(SimdLevel Level) noexcept;

}  // namespace oggmix
