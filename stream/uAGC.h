#pragma once
// uAGC.h: automatic gain control. Levels 16-bit samples in place towards a target peak:
// a sample that reaches the target lowers the gain at once (and is limited to +-32760); a
// stretch of RiseInterval samples below the target raises it; a long quiet passage pulls it
// back towards 1.0. Left and right samples share one gain and one set of counters.
// Counts are in samples (not frames). The control is off while Target <= QuietLevel.
// Stretches in which no sample reaches the target or completes a rise interval change only
// the counters; they are levelled a vector at a time (RenderKernels.h), with the same result.
// Threads: the owning stream calls everything with its lock held.
// Memory:  no alloc.

#include <cstdint>
#include <span>

namespace oggmix {

// The settings a new control starts with; a stream's SetAGC keeps the quiet level and rate.
inline constexpr int32_t kAGCDefaultTarget = 30000;    // sample magnitude
inline constexpr int32_t kAGCDefaultQuietLevel = 800;  // sample magnitude
inline constexpr float kAGCDefaultAdjustRate = 0.05f;

class TAGC {
public:
    TAGC();  // the default settings, InitialGain 1.0, then Reset
    virtual ~TAGC();

    void Reset() noexcept;      // ResetGain, then the counters and RisePeak to 0
    void ResetGain() noexcept;  // Gain := InitialGain; RiseInterval := 12288; counters stay

    // Levels ByteCount / 2 samples in place. Does nothing while the control is off.
    void Process(int16_t* Samples, int32_t ByteCount) noexcept;
    void Process(std::span<int16_t> Samples) noexcept;  // the same, every sample of Samples

    float Gain = 1.0f;             // factor applied to each sample now
    int32_t RiseInterval = 12288;  // below-target samples after which the gain rises
    int32_t RiseCount = 0;         // below-target samples since the last gain change
    int32_t RisePeak = 0;          // largest output magnitude since the last gain change
    int32_t QuietRun = 0;          // consecutive input samples below QuietLevel
    // Written by the owning stream's settings.
    float InitialGain = 1.0f;
    int32_t Target = kAGCDefaultTarget;          // sample magnitude
    int32_t QuietLevel = kAGCDefaultQuietLevel;  // sample magnitude
    float AdjustRate = kAGCDefaultAdjustRate;

private:
    void LevelSample(int16_t& Sample) noexcept;  // one sample, with every decision
};

}  // namespace oggmix
