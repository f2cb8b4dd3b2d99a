#pragma once
// DemoSong.h: the demo piece that ships beside the executables: a 4-second intro, an 8-second
// loop (C, G, A minor, F at 120 beats per minute) and a 2-second ending, synthesised from
// pads, bass, bells and hi-hats. Notes that ring past the loop's end are also folded back onto
// its start, so a jump from the loop's end to its start is seamless.
// Threads: any. Memory: allocates.

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/Pcm.h"

namespace oggmix::demo {

inline constexpr int32_t kRateHz = 44100;
inline constexpr float kLoopStartSec = 4.0f;
inline constexpr float kLoopEndSec = 12.0f;
inline constexpr double kLengthSec = 14.0;

// The whole piece, 16-bit stereo at kRateHz; the same samples on every run.
[[nodiscard]] Pcm SynthesiseDemo();

// The comments written into demo.ogg, the loop cue among them.
[[nodiscard]] std::vector<std::string> DemoComments();

}  // namespace oggmix::demo
