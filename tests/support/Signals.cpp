// Signals.cpp: tone, noise, ramp and music synthesis for fixtures.
#include "tests/support/Signals.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace oggmix::test {
namespace {

constexpr double kFullScale = 32767.0;

int16_t ToSample(double value) {
    const double scaled = std::round(std::clamp(value, -1.0, 1.0) * kFullScale);
    return static_cast<int16_t>(scaled);
}

Pcm Blank(int32_t rateHz, int32_t channels, double seconds) {
    if (rateHz <= 0 || channels <= 0 || seconds < 0.0)
        throw std::invalid_argument("signal needs a positive rate and channel count");
    Pcm pcm;
    pcm.RateHz = rateHz;
    pcm.Channels = channels;
    pcm.Samples.assign(static_cast<size_t>(std::llround(seconds * rateHz)) * channels, 0);
    return pcm;
}

// xorshift32: the same sequence on every platform and library.
struct Random {
    uint32_t state;
    explicit Random(uint32_t seed) : state(seed != 0 ? seed : 0x9E3779B9u) {}
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    double Uniform() { return Next() / 4294967296.0 * 2.0 - 1.0; }  // -1 .. 1
};

}  // namespace

Pcm Sine(int32_t rateHz, int32_t channels, double seconds, double freqHz, double amplitude) {
    Pcm pcm = Blank(rateHz, channels, seconds);
    const double step = 2.0 * std::numbers::pi * freqHz / rateHz;
    for (int64_t frame = 0; frame < pcm.Frames(); ++frame) {
        for (int32_t ch = 0; ch < channels; ++ch) {
            const double phase = step * static_cast<double>(frame) - ch * std::numbers::pi / 2.0;
            pcm.Samples[frame * channels + ch] = ToSample(amplitude * std::sin(phase));
        }
    }
    return pcm;
}

Pcm Silence(int32_t rateHz, int32_t channels, double seconds) {
    return Blank(rateHz, channels, seconds);
}

Pcm Noise(int32_t rateHz, int32_t channels, double seconds, uint32_t seed, double amplitude) {
    Pcm pcm = Blank(rateHz, channels, seconds);
    Random random(seed);
    for (int16_t& sample : pcm.Samples) sample = ToSample(amplitude * random.Uniform());
    return pcm;
}

Pcm Ramp(int32_t rateHz, int32_t channels, double seconds, double periodSec, double amplitude) {
    Pcm pcm = Blank(rateHz, channels, seconds);
    const double periodFrames = periodSec * rateHz;
    for (int64_t frame = 0; frame < pcm.Frames(); ++frame) {
        const double phase = std::fmod(static_cast<double>(frame), periodFrames) / periodFrames;
        const int16_t value = ToSample(amplitude * (2.0 * phase - 1.0));
        for (int32_t ch = 0; ch < channels; ++ch) pcm.Samples[frame * channels + ch] = value;
    }
    return pcm;
}

Pcm Music(int32_t rateHz, int32_t channels, double seconds, uint32_t seed) {
    Pcm pcm = Blank(rateHz, channels, seconds);
    const int64_t frames = pcm.Frames();
    std::vector<double> left(static_cast<size_t>(frames), 0.0);
    std::vector<double> right(static_cast<size_t>(frames), 0.0);
    Random random(seed);

    auto addTone = [&](double startSec, double lengthSec, double freqHz, double level,
                       double decayPerSec, double pan) {
        const int64_t first = std::llround(startSec * rateHz);
        const int64_t count = std::llround(lengthSec * rateHz);
        const double step = 2.0 * std::numbers::pi * freqHz / rateHz;
        for (int64_t i = 0; i < count && first + i < frames; ++i) {
            const double t = static_cast<double>(i) / rateHz;
            const double attack = std::min(1.0, t * 200.0);
            const double release = std::min(1.0, static_cast<double>(count - i) / (0.01 * rateHz));
            const double env = attack * release * std::exp(-decayPerSec * t);
            // A little second harmonic makes the tone less bare.
            const double v = level * env * (std::sin(step * i) + 0.3 * std::sin(2.0 * step * i));
            left[first + i] += v * (1.0 - pan);
            right[first + i] += v * (1.0 + pan);
        }
    };

    // Chords: C, G, A minor, F; two seconds each, repeated.
    const double chords[4][3] = {{261.63, 329.63, 392.00},
                                 {196.00, 246.94, 293.66},
                                 {220.00, 261.63, 329.63},
                                 {174.61, 220.00, 261.63}};
    const double pentatonic[5] = {523.25, 587.33, 659.25, 783.99, 880.00};
    for (double bar = 0.0; bar < seconds; bar += 2.0) {
        const auto& chord = chords[static_cast<int>(bar / 2.0) % 4];
        for (double f : chord) addTone(bar, 2.0, f, 0.08, 0.6, 0.0);
        addTone(bar, 2.0, chord[0] / 2.0, 0.12, 0.8, 0.0);  // bass
        // Plucked notes on the eighths.
        for (int n = 0; n < 8; ++n) {
            const double f = pentatonic[random.Next() % 5];
            const double pan = (random.Uniform()) * 0.6;
            addTone(bar + n * 0.25, 0.25, f, 0.10, 9.0, pan);
        }
        // A short noise burst on the off-beats.
        for (int n = 1; n < 8; n += 2) {
            const int64_t first = std::llround((bar + n * 0.25) * rateHz);
            const int64_t count = rateHz / 40;
            for (int64_t i = 0; i < count && first + i < frames; ++i) {
                const double env = 1.0 - static_cast<double>(i) / count;
                left[first + i] += 0.05 * env * random.Uniform();
                right[first + i] += 0.05 * env * random.Uniform();
            }
        }
    }
    // A slow sweep under everything, 100 Hz to 8 kHz over the whole piece.
    double phase = 0.0;
    for (int64_t i = 0; i < frames; ++i) {
        const double f =
            100.0 * std::pow(80.0, static_cast<double>(i) / std::max<int64_t>(frames, 1));
        phase += 2.0 * std::numbers::pi * f / rateHz;
        const double v = 0.03 * std::sin(phase);
        left[i] += v;
        right[i] += v;
    }

    for (int64_t i = 0; i < frames; ++i) {
        if (channels == 1) {
            pcm.Samples[i] = ToSample(0.5 * (left[i] + right[i]));
        } else {
            pcm.Samples[i * channels] = ToSample(left[i]);
            for (int32_t ch = 1; ch < channels; ++ch)
                pcm.Samples[i * channels + ch] = ToSample(right[i]);
        }
    }
    return pcm;
}

Pcm Concat(const Pcm& a, const Pcm& b) {
    if (a.RateHz != b.RateHz || a.Channels != b.Channels)
        throw std::invalid_argument("Concat needs equal rates and channel counts");
    Pcm joined = a;
    joined.Samples.insert(joined.Samples.end(), b.Samples.begin(), b.Samples.end());
    return joined;
}

}  // namespace oggmix::test
