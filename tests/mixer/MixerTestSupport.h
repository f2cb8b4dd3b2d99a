#pragma once
// MixerTestSupport.h: helpers of the mixer tests: a pinned clock for the length of a test,
// the test application's mixer size, and a mix written straight into the accumulator through
// OnMix, so that mixing, limiting and clipping can be driven without a stream.

#include <cstdint>
#include <vector>

#include "base/Clock.h"
#include "mixer/OggPlayerLib.h"

namespace oggmix::test {

inline constexpr int32_t kMixerBufferBytes = 65536;
inline constexpr int32_t kMixerSlots = 8;
inline constexpr int32_t kBlockFrames = kMixerBufferBytes / 8;  // 8192
inline constexpr int32_t kBlockSamples = 2 * kBlockFrames;

// Pins the millisecond clock at startMs; unpins on destruction.
class PinnedClock {
public:
    explicit PinnedClock(int64_t startMs) { test_clock::Pin(startMs); }
    ~PinnedClock() { test_clock::Unpin(); }
    PinnedClock(const PinnedClock&) = delete;
    PinnedClock& operator=(const PinnedClock&) = delete;
    void Set(int64_t nowMs) { test_clock::Pin(nowMs); }
    void Advance(int64_t deltaMs) { test_clock::Advance(deltaMs); }
};

// Runs one Fill of mix.size() / 2 frames whose accumulator, before the limiter, holds `mix`
// (interleaved left, right); returns the 16-bit output.
inline std::vector<int16_t> FillWithMix(TOggPlayer& player, const std::vector<int32_t>& mix) {
    player.OnMix = [&mix](int32_t* samples, int32_t frameCount) {
        for (int32_t i = 0; i < 2 * frameCount; ++i) samples[i] = mix[static_cast<size_t>(i)];
    };
    std::vector<int16_t> out(mix.size(), int16_t{0x5555});
    player.Fill(out.data(), static_cast<int32_t>(mix.size()) * 2, true);
    player.OnMix = nullptr;
    return out;
}

// One group (32 frames) whose every value is `value`.
inline std::vector<int32_t> ConstantGroup(int32_t value) {
    return std::vector<int32_t>(2 * kLimiterGroupFrames, value);
}

}  // namespace oggmix::test
