#pragma once
// FFTLib.h: the in-place radix-2 complex transform with its precomputed tables, and the
// element-wise steps its users need around it (analysis window and its reciprocal, display
// weighting, clip to the 16-bit range). Stereo goes in as one complex signal: left samples in
// Re, right samples in Im.
// Forward computes X[k] = (1/N) sum x[n] e^(+2 pi i kn/N);
// Backward computes x[n] = sum X[k] e^(-2 pi i kn/N).
// Every step is single precision: each stored value is a float. The transforms run on the
// vector kernels of the active level (RenderKernels.h), which give exactly these values.
// Threads: one at a time per instance; no lock.
// Memory:  the constructor and SetSize allocate; everything else does not.

#include <cstdint>
#include <vector>

#include "stream/RenderKernels.h"

namespace oggmix {

class TFFT {
public:
    // Size: a power of two, at least 4 (the system uses 256).
    explicit TFFT(int32_t Size);
    virtual ~TFFT() = default;
    TFFT(const TFFT&) = delete;  // the plan points into this object's own tables
    TFFT& operator=(const TFFT&) = delete;

    // Resizes Re and Im to Size zeros and rebuilds every table.
    void SetSize(int32_t Size);
    [[nodiscard]] int32_t Size() const noexcept { return FSize; }

    void Forward() noexcept;       // scaled by 1/N, positive exponent
    void Backward() noexcept;      // unscaled, negative exponent
    void ApplyWindow() noexcept;   // Re[i], Im[i] *= FWindow[i]
    void RemoveWindow() noexcept;  // Re[i], Im[i] *= FInvWindow[i]
    void ApplyWeight() noexcept;   // Re[i], Im[i] *= FWeight[i]
    // Above 32767 becomes 32767; then anything not at least -32767 (NaN too) becomes -32767.
    void ClipSamples() noexcept;
    // The display spectrum of what Re and Im hold: ApplyWindow, Forward, ApplyWeight, then
    // Values[2j] := (|Re[j]| + |Im[j]|) / 2 and Values[2j + 1] := the same for bin N - 1 - j,
    // for j < N / 2. Values holds N entries.
    void AnalyseSpectrum(float* Values) noexcept;
    // The tone filter's frame: ApplyWindow, Forward, Re[k] and Im[k] times BinGain[k],
    // Backward; exactly those steps, done together, on FrameRe and FrameIm (N values each, in
    // place; fastest when aligned to 64 bytes) rather than on Re and Im.
    void FilterTransform(float* FrameRe, float* FrameIm, const float* BinGain) noexcept;
    // The tables and scratch arrays as the kernels take them; valid while this object lives.
    [[nodiscard]] const TransformPlan& Plan() const noexcept { return FPlan; }

    // The tables, read-only.
    [[nodiscard]] const std::vector<float>& SinTable() const noexcept { return FSinTable; }
    [[nodiscard]] const std::vector<int32_t>& BitRev() const noexcept { return FBitRev; }
    [[nodiscard]] const std::vector<float>& Window() const noexcept { return FWindow; }
    [[nodiscard]] const std::vector<float>& InvWindow() const noexcept { return FInvWindow; }
    [[nodiscard]] const std::vector<float>& Weight() const noexcept { return FWeight; }

    // Working arrays: users fill all N entries of both before Forward and read results here.
    std::vector<float> Re;
    std::vector<float> Im;

private:
    void MakeSinTable();
    void MakeBitReverse();
    void MakeWindow();
    void MakeWeight();
    void MakePlan();

    std::vector<float> FSinTable;  // sin(2 pi i / N), i = 0 .. 3N/4 - 1
    std::vector<int32_t> FBitRev;
    std::vector<float> FWindow;  // 0.5 .. 1.0 .. 0.5
    std::vector<float> FInvWindow;
    std::vector<float> FWeight;  // display weighting, mirrored
    int32_t FSize = 0;           // points
    // The sine table again, per butterfly stage in the order the vector kernels read it
    // (cosines, forward sines, backward sines), the window again, then the plan's working
    // arrays; the plan points into it from its first 64-byte boundary on.
    std::vector<float> FKernelData;
    TransformPlan FPlan;
};

}  // namespace oggmix
