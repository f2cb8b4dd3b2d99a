#pragma once
// LongOgg.h: Ogg Vorbis files hours long, made in a moment. A short encode of silence with two
// bursts of noise is taken apart into packets, and a silent packet before each burst is
// repeated until the burst lies where a test needs it: positions far into a file without
// encoding (or holding) hours of audio. What such a file holds is checked against
// ReferenceReader, like every fixture.
// Threads: any. Memory: allocates; a repeated packet of silence is a few bytes.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace oggmix::test {

struct LongOgg {
    std::vector<uint8_t> Ogg;
    std::array<int64_t, 2> BurstFrames{};  // where each burst of noise starts, about
    int64_t BurstFrameCount = 0;           // frames of each burst
};

// Bursts start at most one packet's frames (1024 at 44100 Hz) before the frames asked for,
// which must lie a second and a half second of silence apart at least; a second of silence
// ends the file. Throws std::runtime_error when they do not.
[[nodiscard]] LongOgg MakeLongOgg(int32_t rateHz, int32_t channels,
                                  std::array<int64_t, 2> burstNearFrames,
                                  const std::vector<std::string>& comments);

}  // namespace oggmix::test
