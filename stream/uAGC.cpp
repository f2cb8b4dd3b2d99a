// uAGC.cpp: the gain control's per-sample loop.
#include "stream/uAGC.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/Saturate.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

constexpr int32_t kDefaultRiseInterval = 12288;  // samples, about 0.139 s of stereo
constexpr int32_t kLimitMagnitude = 32760;
constexpr float kQuietPullFactor = 10.0f;  // times AdjustRate: the step back towards 1.0

// in x gain, truncated toward zero. The gain is not bounded above, so the product is kept in
// 64 bits and saturated there instead of overflowing the conversion.
int64_t Scale(int32_t in, float gain) {
    const double product = static_cast<double>(in) * static_cast<double>(gain);
    constexpr double kLimit = 4.0e18;
    if (!(product < kLimit)) return product > 0.0 ? static_cast<int64_t>(kLimit) : 0;
    if (!(product > -kLimit)) return -static_cast<int64_t>(kLimit);
    return static_cast<int64_t>(product);
}

void CountUp(int32_t& counter) {
    if (counter < std::numeric_limits<int32_t>::max()) ++counter;
}

}  // namespace

TAGC::TAGC() { Reset(); }

TAGC::~TAGC() { Reset(); }

void TAGC::Reset() noexcept {
    ResetGain();
    RiseCount = 0;
    RisePeak = 0;
    QuietRun = 0;
}

void TAGC::ResetGain() noexcept {
    Gain = InitialGain;
    RiseInterval = kDefaultRiseInterval;
}

void TAGC::Process(int16_t* Samples, int32_t ByteCount) noexcept {
    Process(std::span<int16_t>(Samples, static_cast<size_t>(std::max(ByteCount / 2, 0))));
}

void TAGC::Process(std::span<int16_t> Samples) noexcept {
    if (Target <= QuietLevel) return;
    const RenderKernels& kernels = Kernels();
    const auto count = static_cast<int32_t>(Samples.size());
    int32_t i = 0;
    while (i < count) {
        // Below-target samples that cannot complete the rise interval change nothing but the
        // counters and the peak: a kernel levels a stretch of them at the present gain.
        const int64_t room = int64_t{RiseInterval} - RiseCount;
        if (room > 0) {
            const auto want = static_cast<int32_t>(std::min<int64_t>(room, count - i));
            const AgcRun run =
                kernels.AgcSteadyRun(Samples.data() + i, want, Gain, Target, QuietLevel);
            if (run.PeakMagnitude > RisePeak) RisePeak = run.PeakMagnitude;
            RiseCount += run.Samples;
            if (run.QuietTail == run.Samples) {
                QuietRun = static_cast<int32_t>(std::min<int64_t>(
                    int64_t{QuietRun} + run.Samples, std::numeric_limits<int32_t>::max()));
            } else {
                QuietRun = run.QuietTail;
            }
            i += run.Samples;
            if (i == count) break;
        }
        LevelSample(Samples[i]);
        ++i;
    }
}

void TAGC::LevelSample(int16_t& Sample) noexcept {
    const int32_t in = Sample;
    // The sample is scaled with the gain in force before this sample's adjustment.
    int64_t out = Scale(in, Gain);
    const int64_t mag = std::llabs(out);

    if (std::abs(in) < QuietLevel) {
        CountUp(QuietRun);
    } else {
        QuietRun = 0;
    }

    if (mag < Target) {
        if (mag > RisePeak) RisePeak = static_cast<int32_t>(mag);
        CountUp(RiseCount);
        if (RiseCount > RiseInterval) {
            if (QuietRun > RiseInterval) {
                // A long quiet passage: step back towards 1.0 on every further sample.
                Gain = (kQuietPullFactor * AdjustRate) * (1.0f - Gain) + Gain;
            } else if (RisePeak > 0) {
                const float ratio = static_cast<float>(Target) / static_cast<float>(RisePeak);
                Gain = ratio * AdjustRate + Gain;
                RisePeak = 0;
                RiseCount = 0;
            } else {
                // Every output since the last change was 0 although the input was not quiet:
                // the gain is all but zero. There is no peak to aim from, so step back
                // towards 1.0 once per interval instead of dividing by zero.
                Gain = (kQuietPullFactor * AdjustRate) * (1.0f - Gain) + Gain;
                RiseCount = 0;
            }
        }
        // Only a target above full scale lets a below-target sample leave 16 bits; it is
        // saturated rather than wrapped.
        Sample = SaturateToInt16(out);
    } else {
        if (out > kLimitMagnitude) out = kLimitMagnitude;
        if (out < -kLimitMagnitude) out = -kLimitMagnitude;
        Gain = Gain - (static_cast<float>(mag) / static_cast<float>(Target)) * AdjustRate;
        // With a small target one loud sample could drive the gain through zero and invert
        // the signal; a gain of 0 is as low as it goes.
        if (!(Gain >= 0.0f)) Gain = 0.0f;
        RisePeak = 0;
        RiseCount = 0;
        Sample = static_cast<int16_t>(out);
    }
}

}  // namespace oggmix
