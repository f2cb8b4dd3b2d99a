#pragma once
// Pcm.h: a piece of sound in memory, as the encoder takes it: interleaved signed 16-bit
// samples at any rate and channel count.
// Threads: any. Memory: the samples are the object's own.

#include <cstdint>
#include <vector>

namespace oggmix {

struct Pcm {
    int32_t RateHz = 44100;
    int32_t Channels = 2;
    std::vector<int16_t> Samples;  // interleaved
    [[nodiscard]] int64_t Frames() const noexcept {
        return static_cast<int64_t>(Samples.size()) / Channels;
    }
};

}  // namespace oggmix
