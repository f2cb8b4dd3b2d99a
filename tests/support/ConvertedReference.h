#pragma once
// ConvertedReference.h: what a stream with the conversion on must output for music that
// reaches its converter in one run: the frames through a RateConverter of their own, fed
// from the first frame and finished. For tests that check converted output to the sample.
// Threads: any. Memory: allocates.

#include <cstdint>
#include <vector>

namespace oggmix::test {

// Interleaved 16-bit stereo at rateHz in, interleaved 44100 Hz stereo out.
[[nodiscard]] std::vector<int16_t> ConvertedAlone(const std::vector<int16_t>& stereo,
                                                  int32_t rateHz);

}  // namespace oggmix::test
