#pragma once
// Signals.h: synthesised PCM for fixtures: tones, silence, seeded noise, ramps, and joins.
// Samples are interleaved signed 16-bit; amplitudes are fractions of full scale (32767).
// Threads: any. Memory: allocates.

#include <cstdint>

#include "encoder/Pcm.h"

namespace oggmix::test {

using oggmix::Pcm;

// A sine of freqHz; the right channel (if any) has the same tone a quarter period later.
[[nodiscard]] Pcm Sine(int32_t rateHz, int32_t channels, double seconds, double freqHz,
                       double amplitude = 0.5);
[[nodiscard]] Pcm Silence(int32_t rateHz, int32_t channels, double seconds);
// Uniform white noise from a fixed generator: the same seed gives the same samples.
[[nodiscard]] Pcm Noise(int32_t rateHz, int32_t channels, double seconds, uint32_t seed,
                        double amplitude = 0.5);
// A sawtooth from -amplitude to +amplitude once per period.
[[nodiscard]] Pcm Ramp(int32_t rateHz, int32_t channels, double seconds, double periodSec,
                       double amplitude = 0.5);
// Music-like material: chords, plucked notes, noise bursts and a sweep, for listening,
// demos and benchmarks.
[[nodiscard]] Pcm Music(int32_t rateHz, int32_t channels, double seconds, uint32_t seed = 1);
// a followed by b (same rate and channel count).
[[nodiscard]] Pcm Concat(const Pcm& a, const Pcm& b);

}  // namespace oggmix::test
