#pragma once
// Downmix.h: 3 to 8 channels in Vorbis channel order mixed down to stereo. Centre and
// surrounds join at -3 dB, the rear centre at -3 dB on both sides, the LFE is dropped; the
// coefficients are scaled so that the sum of full-scale inputs stays within full scale, so a
// downmix never clips and never saturates.
// Threads: any. Memory: no alloc. Errors: none.

#include <array>
#include <cstdint>

namespace oggmix {

struct DownmixGains {
    std::array<float, 8> Left{};  // per source channel
    std::array<float, 8> Right{};
};

// The gains for 3..8 channels; for any other count, all zero.
[[nodiscard]] DownmixGains DownmixGainsFor(int32_t channels) noexcept;

// Mixes frames of `channels` interleaved samples (3..8) down to interleaved stereo. Dest may
// be Source itself: each stereo frame is written after its source frame has been read.
void DownmixToStereo(int16_t* Dest, const int16_t* Source, int32_t frames,
                     int32_t channels) noexcept;

}  // namespace oggmix
