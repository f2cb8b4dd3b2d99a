// Downmix.cpp: the downmix coefficients per channel layout, and the mix itself.
#include "stream/Downmix.h"

#include <cmath>
#include <cstddef>

namespace oggmix {
namespace {

constexpr float kMinus3Db = 0.70710678f;

enum class Place { Left, Right, Centre, LeftSurround, RightSurround, RearCentre, Lfe };

// Vorbis channel order for 3 to 8 channels.
constexpr std::array<std::array<Place, 8>, 6> kLayouts{{
    {Place::Left, Place::Centre, Place::Right},
    {Place::Left, Place::Right, Place::LeftSurround, Place::RightSurround},
    {Place::Left, Place::Centre, Place::Right, Place::LeftSurround, Place::RightSurround},
    {Place::Left, Place::Centre, Place::Right, Place::LeftSurround, Place::RightSurround,
     Place::Lfe},
    {Place::Left, Place::Centre, Place::Right, Place::LeftSurround, Place::RightSurround,
     Place::RearCentre, Place::Lfe},
    {Place::Left, Place::Centre, Place::Right, Place::LeftSurround, Place::RightSurround,
     Place::LeftSurround, Place::RightSurround, Place::Lfe},
}};

}  // namespace

DownmixGains DownmixGainsFor(int32_t channels) noexcept {
    DownmixGains gains;
    if (channels < 3 || channels > 8) return gains;
    const auto& layout = kLayouts[static_cast<size_t>(channels - 3)];
    float sumLeft = 0.0f;
    for (int32_t c = 0; c < channels; ++c) {
        float left = 0.0f;
        float right = 0.0f;
        switch (layout[static_cast<size_t>(c)]) {
            case Place::Left: left = 1.0f; break;
            case Place::Right: right = 1.0f; break;
            case Place::LeftSurround: left = kMinus3Db; break;
            case Place::RightSurround: right = kMinus3Db; break;
            case Place::Centre:
            case Place::RearCentre: left = right = kMinus3Db; break;
            case Place::Lfe: break;
        }
        gains.Left[static_cast<size_t>(c)] = left;
        gains.Right[static_cast<size_t>(c)] = right;
        sumLeft += left;
    }
    // Every layout is symmetric, so one sum scales both sides.
    for (int32_t c = 0; c < channels; ++c) {
        gains.Left[static_cast<size_t>(c)] /= sumLeft;
        gains.Right[static_cast<size_t>(c)] /= sumLeft;
    }
    return gains;
}

void DownmixToStereo(int16_t* Dest, const int16_t* Source, int32_t frames,
                     int32_t channels) noexcept {
    const DownmixGains gains = DownmixGainsFor(channels);
    for (int32_t f = 0; f < frames; ++f) {
        const int16_t* in = Source + static_cast<std::ptrdiff_t>(f) * channels;
        float left = 0.0f;
        float right = 0.0f;
        for (int32_t c = 0; c < channels; ++c) {
            left += gains.Left[static_cast<size_t>(c)] * static_cast<float>(in[c]);
            right += gains.Right[static_cast<size_t>(c)] * static_cast<float>(in[c]);
        }
        // The gains sum to one per side, so the rounded values stay within 16 bits.
        Dest[2 * f] = static_cast<int16_t>(std::lround(left));
        Dest[2 * f + 1] = static_cast<int16_t>(std::lround(right));
    }
}

}  // namespace oggmix
