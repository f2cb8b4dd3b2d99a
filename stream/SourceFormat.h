#pragma once
// SourceFormat.h: which Ogg Vorbis formats a stream renders as they are, and which only with
// the conversion switched on (TOggData::SetConversion). Anything else renders silence.
// Threads: any. Memory: no alloc, except FormatProblem.

#include <cstdint>
#include <string>

#include "base/PcmFormat.h"

namespace oggmix {

inline constexpr int32_t kMinConvertedRateHz = 8000;
inline constexpr int32_t kMaxConvertedRateHz = 192000;
inline constexpr int32_t kMaxConvertedChannels = 8;

// 44100 Hz passes as it is; 22050 Hz doubles every frame exactly.
[[nodiscard]] constexpr bool RateWithoutResampler(int32_t rateHz) noexcept {
    return rateHz == kFramesPerSecond || rateHz == kFramesPerSecond / 2;
}

[[nodiscard]] constexpr bool PlaysAsIs(int32_t rateHz, int32_t channels) noexcept {
    return RateWithoutResampler(rateHz) && channels >= 1 && channels <= 2;
}

[[nodiscard]] constexpr bool PlaysConverted(int32_t rateHz, int32_t channels) noexcept {
    return rateHz >= kMinConvertedRateHz && rateHz <= kMaxConvertedRateHz && channels >= 1 &&
           channels <= kMaxConvertedChannels;
}

// What keeps a format from playing as it is, for messages: "48000 Hz", "6 channels" or both
// ("48000 Hz, 6 channels"); empty when it plays as it is. Allocates.
[[nodiscard]] std::string FormatProblem(int32_t rateHz, int32_t channels);

}  // namespace oggmix
