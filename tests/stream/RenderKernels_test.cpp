// RenderKernels_test.cpp: every instruction-set level gives exactly the scalar reference's
// bits: the transform at every size, the filter's frame, the tone filter through whole
// transitions, the gain control, the volume stage with its ramps, and the mixer's sum, peak,
// scaling and clip; on long random and musical input, with clipping and extremes.
#include "stream/RenderKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "stream/FFTLib.h"
#include "stream/FilterPresets.h"
#include "stream/OggDataLib.h"
#include "stream/uAGC.h"
#include "tests/support/EveryLevel.h"
#include "tests/support/ScalarReference.h"
#include "tests/support/Signals.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kSeed = 20240611;

std::mt19937& Random() {
    static std::mt19937 random = [] {
        std::printf("random seed %u\n", kSeed);
        return std::mt19937(kSeed);
    }();
    return random;
}

int32_t UniformInt(int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(Random());
}

// Mostly 16-bit-range values, with exact integers, zeros of both signs, tiny (subnormal)
// and huge values mixed in: every kind of float the butterflies can meet short of NaN.
float AnyFloat() {
    switch (UniformInt(0, 9)) {
        case 0: return static_cast<float>(UniformInt(-32768, 32767));
        case 1: return UniformInt(0, 1) == 0 ? 0.0f : -0.0f;
        case 2: return std::uniform_real_distribution<float>(-1e-40f, 1e-40f)(Random());
        case 3: return std::uniform_real_distribution<float>(-1e30f, 1e30f)(Random());
        default: return std::uniform_real_distribution<float>(-40000.0f, 40000.0f)(Random());
    }
}

// Samples of every kind: music, noise, full scale of both signs, silence.
std::vector<int16_t> MixedSamples(int32_t frames) {
    const Pcm music = Music(44100, 2, frames / 44100.0 + 0.01);
    std::vector<int16_t> samples(static_cast<size_t>(2 * frames));
    for (int32_t i = 0; i < 2 * frames; ++i) {
        const int32_t region = (i / 8192) % 5;
        int16_t v = music.Samples[static_cast<size_t>(i)];
        if (region == 1) v = static_cast<int16_t>(UniformInt(-32768, 32767));
        if (region == 2) v = (i / 64) % 2 == 0 ? int16_t{32767} : int16_t{-32768};
        if (region == 3) v = static_cast<int16_t>(v / 64);
        samples[static_cast<size_t>(i)] = v;
    }
    return samples;
}

void ExpectSameFloats(const std::vector<float>& actual, const std::vector<float>& expected,
                      const char* what) {
    for (size_t i = 0; i < expected.size(); ++i) {
        if (!SameFloat(actual[i], expected[i])) {
            ADD_FAILURE() << what << "[" << i << "]: " << actual[i] << " instead of "
                          << expected[i];
            return;
        }
    }
}

// ---- Transform ----

using TransformLevels = EveryLevel;

// The transform as defined, in double precision: Sign +1 and Scaled for Forward, Sign -1
// unscaled for Backward.
void DftInDouble(const std::vector<float>& re, const std::vector<float>& im, int sign, bool scaled,
                 std::vector<double>& outRe, std::vector<double>& outIm) {
    const size_t n = re.size();
    outRe.assign(n, 0.0);
    outIm.assign(n, 0.0);
    for (size_t k = 0; k < n; ++k) {
        for (size_t j = 0; j < n; ++j) {
            const double angle = sign * 2.0 * std::numbers::pi * static_cast<double>(k * j % n) /
                                 static_cast<double>(n);
            outRe[k] += re[j] * std::cos(angle) - im[j] * std::sin(angle);
            outIm[k] += re[j] * std::sin(angle) + im[j] * std::cos(angle);
        }
        if (scaled) {
            outRe[k] /= static_cast<double>(n);
            outIm[k] /= static_cast<double>(n);
        }
    }
}

// The scalar level against the definition: what the vector levels copy bit for bit is itself
// right. Errors come from the sine table (within 2e-7 of the sine) and float rounding, a few
// parts in a million of the largest output per stage; a wrong twiddle or order is far off.
TEST(TransformScalar, ForwardAndBackwardAreTheDiscreteTransformWithinRounding) {
    SetSimdLevel(SimdLevel::Scalar);
    for (int32_t size = 4; size <= 1024; size *= 2) {
        TFFT fft(size);
        for (int32_t i = 0; i < size; ++i) {
            fft.Re[i] = static_cast<float>(UniformInt(-32768, 32767));
            fft.Im[i] = static_cast<float>(UniformInt(-32768, 32767));
        }
        for (const bool forward : {true, false}) {
            std::vector<double> re;
            std::vector<double> im;
            DftInDouble(fft.Re, fft.Im, forward ? 1 : -1, forward, re, im);
            forward ? fft.Forward() : fft.Backward();
            double largest = 0.0;
            for (int32_t k = 0; k < size; ++k)
                largest = std::max({largest, std::abs(re[k]), std::abs(im[k])});
            const double tolerance = 4e-6 * std::log2(size) * largest;
            for (int32_t k = 0; k < size; ++k) {
                ASSERT_NEAR(fft.Re[k], re[k], tolerance) << size << " points, bin " << k;
                ASSERT_NEAR(fft.Im[k], im[k], tolerance) << size << " points, bin " << k;
            }
        }
    }
    SetSimdLevel(SupportedSimdLevel());
}

// The vector levels against the scalar arithmetic, bit for bit.
TEST_P(TransformLevels, ForwardAndBackwardGiveTheReferenceBitsAtEverySize) {
    if (GetParam() == SimdLevel::Scalar) GTEST_SKIP() << "the scalar level is the reference";
    for (int32_t size = 4; size <= 1024; size *= 2) {
        TFFT fft(size);
        const int trials = size <= 256 ? 40 : 10;
        for (int trial = 0; trial < trials; ++trial) {
            for (int32_t i = 0; i < size; ++i) {
                fft.Re[i] = AnyFloat();
                fft.Im[i] = AnyFloat();
            }
            std::vector<float> re = fft.Re;
            std::vector<float> im = fft.Im;
            fft.Forward();
            ReferenceTransform(fft, re.data(), im.data(), true);
            ExpectSameFloats(fft.Re, re, "forward Re");
            ExpectSameFloats(fft.Im, im, "forward Im");
            fft.Backward();
            ReferenceTransform(fft, re.data(), im.data(), false);
            ExpectSameFloats(fft.Re, re, "backward Re");
            ExpectSameFloats(fft.Im, im, "backward Im");
        }
    }
}

TEST_P(TransformLevels, FilterFrameIsWindowTransformGainsAndTransformBack) {
    TFFT fft(256);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<float> gains(256);
        for (float& g : gains)
            g = trial % 4 == 0 ? 1.0f : std::uniform_real_distribution<float>(0.0f, 4.0f)(Random());
        for (int32_t i = 0; i < 256; ++i) {
            fft.Re[i] = static_cast<float>(UniformInt(-32768, 32767));
            fft.Im[i] = trial % 3 == 0 ? AnyFloat() : static_cast<float>(UniformInt(-32768, 32767));
        }
        std::vector<float> re = fft.Re;
        std::vector<float> im = fft.Im;
        fft.FilterTransform(fft.Re.data(), fft.Im.data(), gains.data());
        for (int32_t i = 0; i < 256; ++i) {
            re[i] = re[i] * fft.Window()[i];
            im[i] = im[i] * fft.Window()[i];
        }
        ReferenceTransform(fft, re.data(), im.data(), true);
        for (int32_t i = 0; i < 256; ++i) {
            re[i] = re[i] * gains[i];
            im[i] = im[i] * gains[i];
        }
        ReferenceTransform(fft, re.data(), im.data(), false);
        ExpectSameFloats(fft.Re, re, "Re");
        ExpectSameFloats(fft.Im, im, "Im");
    }
}

OGGMIX_INSTANTIATE_EVERY_LEVEL(TransformLevels);

// ---- Tone filter ----

using FilterLevels = EveryLevel;

void SetPreset(TOggData& stream, ReferenceFilter& reference, const char* caption, float seconds) {
    const FilterPreset& preset = *FindFilterPreset(caption);
    reference.SetCurve(preset.Values.data(), preset.ValueCount, seconds);
    const auto& v = preset.Values;
    if (preset.ValueCount == 4)
        stream.SetFilterCurve4(v[0], v[1], v[2], v[3], seconds);
    else
        stream.SetFilterCurve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], seconds);
}

TEST_P(FilterLevels, WholeTransitionsGiveTheReferenceSamplesAndGains) {
    TOggData stream(65536);
    ReferenceFilter reference;
    const std::vector<int16_t> input = MixedSamples(44100 * 8);
    // Every preset in turn, ramping and jumping, with a flat stretch in between; chunks of
    // every size from one frame to a narrow render's 1024.
    const char* const presets[] = {"LowReso", "HighPass", "OFF",      "Wave",
                                   "LowPass", "HighReso", "LoHiPass", "MiddleReso"};
    size_t offset = 0;
    int chunk = 0;
    while (offset + 2048 <= input.size()) {
        if (chunk % 40 == 0) {
            const char* preset = presets[(chunk / 40) % 8];
            SetPreset(stream, reference, preset, chunk % 80 == 0 ? 0.05f : 0.0f);
        }
        if (chunk % 97 == 50) {
            stream.SetFilterPoint(chunk % 256, 8.0f, 0.01f);  // loud enough to clip
            reference.SetPoint(chunk % 256, 8.0f, 0.01f);
        }
        if (chunk % 89 == 30) {
            // A negative zero target: the sign of a resting gain must come out the same too.
            stream.SetFilterPoint(chunk % 256, -0.0f, 0.002f);
            reference.SetPoint(chunk % 256, -0.0f, 0.002f);
        }
        const int32_t frames = chunk % 7 == 0 ? UniformInt(1, 200) : UniformInt(1, 1024);
        std::vector<int16_t> actual(
            input.begin() + static_cast<std::ptrdiff_t>(offset),
            input.begin() + static_cast<std::ptrdiff_t>(offset) + 2 * frames);
        std::vector<int16_t> expected = actual;
        stream.ApplyFilter(actual.data(), frames * 4);
        reference.Apply(expected.data(), frames * 4);
        ASSERT_EQ(actual, expected) << "chunk " << chunk << " of " << frames << " frames";
        for (int32_t point = 0; point < 256; ++point)
            ASSERT_TRUE(SameFloat(stream.GetFilterGain(point), reference.Gain(point)))
                << "point " << point;
        EXPECT_EQ(stream.FilterActive(), reference.Active());
        offset += static_cast<size_t>(2 * frames);
        ++chunk;
    }
}

TEST_P(FilterLevels, CurveMovesLikeTheScalarCurveWithExtremeSteps) {
    const RenderKernels& scalar = KernelsFor(SimdLevel::Scalar);
    for (int trial = 0; trial < 500; ++trial) {
        std::vector<float> gain(256), target(256), step(256);
        for (int i = 0; i < 256; ++i) {
            gain[i] = UniformInt(0, 5) == 0 ? -0.0f : AnyFloat();
            target[i] = UniformInt(0, 3) == 0 ? gain[i] : AnyFloat();
            step[i] =
                UniformInt(0, 2) == 0 ? (UniformInt(0, 1) ? 0.0f : -0.0f) : AnyFloat() * 1e-3f;
        }
        std::vector<float> expectedGain = gain, expectedStep = step;
        const float frames = static_cast<float>(UniformInt(1, 192));
        const bool moving =
            Kernels().MoveCurve(gain.data(), target.data(), step.data(), 256, frames);
        EXPECT_EQ(moving, scalar.MoveCurve(expectedGain.data(), target.data(), expectedStep.data(),
                                           256, frames));
        ExpectSameFloats(gain, expectedGain, "gain");
        ExpectSameFloats(step, expectedStep, "step");
        // Close to the activity tolerance from both sides.
        for (int i = 0; i < 256; ++i) {
            gain[i] = 1.0f + static_cast<float>(UniformInt(-2, 2)) * 0.0025f;
            target[i] = 1.0f + static_cast<float>(UniformInt(-2, 2)) * 0.0025f;
        }
        EXPECT_EQ(Kernels().CurveActive(gain.data(), target.data(), 256),
                  scalar.CurveActive(gain.data(), target.data(), 256));
    }
}

TEST_P(FilterLevels, EmittedFramesAreClippedAndRoundedHalfAwayLikeTheReference) {
    // Halves and near-halves of both signs, the clip edges, infinities and NaN.
    const float special[] = {0.5f,
                             -0.5f,
                             1.5f,
                             -1.5f,
                             2.5f,
                             -2.5f,
                             0.49999997f,
                             -0.49999997f,
                             32766.5f,
                             -32766.5f,
                             32767.5f,
                             -32767.5f,
                             32768.0f,
                             -32768.0f,
                             1e30f,
                             -1e30f,
                             -0.0f,
                             0.0f,
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN(),
                             12345.5f,
                             -12345.5f};
    constexpr int32_t kCount = 203;
    std::vector<float> re(kCount), im(kCount), invWindow(kCount);
    for (int trial = 0; trial < 50; ++trial) {
        for (int32_t j = 0; j < kCount; ++j) {
            re[j] = UniformInt(0, 2) == 0 ? special[UniformInt(0, 22)] : AnyFloat();
            im[j] = UniformInt(0, 2) == 0 ? special[UniformInt(0, 22)] : AnyFloat();
            invWindow[j] = UniformInt(0, 1) == 0
                               ? 1.0f
                               : std::uniform_real_distribution<float>(1.0f, 2.0f)(Random());
        }
        const int32_t count = UniformInt(1, kCount);
        std::vector<int16_t> actual(2 * kCount, 0x5A5A);
        std::vector<int16_t> expected = actual;
        Kernels().EmitFrames(re.data(), im.data(), invWindow.data(), count, actual.data());
        for (int32_t j = 0; j < count; ++j) {
            for (int part = 0; part < 2; ++part) {
                float v = (part == 0 ? re[j] : im[j]) * invWindow[j];
                if (v > 32767.0f) v = 32767.0f;
                if (!(v >= -32767.0f)) v = -32767.0f;
                expected[2 * j + part] = static_cast<int16_t>(RoundHalfAway(v));
            }
        }
        ASSERT_EQ(actual, expected);

        std::vector<int16_t> frames(2 * kCount);
        for (int16_t& f : frames) f = static_cast<int16_t>(UniformInt(-32768, 32767));
        std::vector<float> loadedRe(kCount, -1.0f), loadedIm(kCount, -1.0f);
        Kernels().LoadFrames(frames.data(), count, loadedRe.data(), loadedIm.data());
        for (int32_t j = 0; j < count; ++j) {
            ASSERT_EQ(loadedRe[j], static_cast<float>(frames[2 * j]));
            ASSERT_EQ(loadedIm[j], static_cast<float>(frames[2 * j + 1]));
        }
        EXPECT_EQ(loadedRe[count < kCount ? count : 0], count < kCount ? -1.0f : loadedRe[0]);
    }
}

TEST_P(FilterLevels, EveryHalfAndItsNeighboursRoundLikeTheReference) {
    // Rounding is decided right at the halves: each k + 0.5 of the range, each integer, and
    // the three floats on either side of both, of both signs, at a window of 1.
    std::vector<float> values;
    for (int32_t k = 0; k <= 32767; ++k) {
        for (const float centre : {static_cast<float>(k), static_cast<float>(k) + 0.5f}) {
            float below = centre;
            float above = centre;
            values.push_back(centre);
            for (int step = 0; step < 3; ++step) {
                below = std::nextafter(below, -1.0f);
                above = std::nextafter(above, 40000.0f);
                values.push_back(below);
                values.push_back(above);
            }
        }
    }
    const auto count = static_cast<int32_t>(values.size());
    std::vector<float> negated(values.size());
    std::transform(values.begin(), values.end(), negated.begin(), [](float v) { return -v; });
    const std::vector<float> invWindow(values.size(), 1.0f);
    std::vector<int16_t> actual(2 * values.size());
    Kernels().EmitFrames(values.data(), negated.data(), invWindow.data(), count, actual.data());
    for (int32_t j = 0; j < count; ++j) {
        for (int part = 0; part < 2; ++part) {
            float v = part == 0 ? values[j] : negated[j];
            if (v > 32767.0f) v = 32767.0f;
            if (!(v >= -32767.0f)) v = -32767.0f;
            ASSERT_EQ(actual[2 * j + part], static_cast<int16_t>(RoundHalfAway(v)))
                << (part == 0 ? values[j] : negated[j]);
        }
    }
}

OGGMIX_INSTANTIATE_EVERY_LEVEL(FilterLevels);

// ---- Source formats ----

using ExpandLevels = EveryLevel;

TEST_P(ExpandLevels, SourceFramesBecomeStereoFramesRepeatedAsAsked) {
    for (const int32_t channels : {1, 2}) {
        for (const int32_t repeat : {1, 2}) {
            const int32_t frames = UniformInt(0, 300);
            std::vector<int16_t> source(static_cast<size_t>(frames * channels));
            for (int16_t& s : source) s = static_cast<int16_t>(UniformInt(-32768, 32767));
            std::vector<int16_t> dest(static_cast<size_t>(2 * frames * repeat + 2), 0x5A5A);
            Kernels().ExpandFrames(dest.data(), source.data(), frames, channels, repeat);
            for (int32_t f = 0; f < frames; ++f) {
                for (int32_t k = 0; k < repeat; ++k) {
                    const size_t at = static_cast<size_t>(2 * (f * repeat + k));
                    ASSERT_EQ(dest[at], source[static_cast<size_t>(f * channels)]);
                    ASSERT_EQ(dest[at + 1],
                              source[static_cast<size_t>(f * channels + channels - 1)]);
                }
            }
            EXPECT_EQ(dest[dest.size() - 2], 0x5A5A) << "nothing written past the frames";
        }
    }
}

OGGMIX_INSTANTIATE_EVERY_LEVEL(ExpandLevels);

// ---- Gain control ----

struct AgcSetting {
    int32_t Target;
    int32_t QuietLevel;
    float AdjustRate;
    int32_t RiseInterval;
};

void ExpectSameState(const TAGC& actual, const TAGC& expected, int chunk) {
    EXPECT_TRUE(SameFloat(actual.Gain, expected.Gain))
        << "chunk " << chunk << ": gain " << actual.Gain << " instead of " << expected.Gain;
    EXPECT_EQ(actual.RiseCount, expected.RiseCount) << "chunk " << chunk;
    EXPECT_EQ(actual.RisePeak, expected.RisePeak) << "chunk " << chunk;
    EXPECT_EQ(actual.QuietRun, expected.QuietRun) << "chunk " << chunk;
}

using AgcLevels = EveryLevel;

TEST_P(AgcLevels, LevelsLikeTheReferenceAtEveryTargetAndRate) {
    // The test application's targets, a target above full scale (outputs saturate), a small
    // one that can drive the gain to zero, a fast rate, rise intervals short and odd, and a
    // target no float holds exactly, reached through gains in the thousands.
    const AgcSetting settings[] = {{30000, 800, 0.05f, 12288},   {3000, 800, 0.05f, 12288},
                                   {40000, 800, 0.05f, 12288},   {900, 800, 0.05f, 12288},
                                   {12000, 100, 0.5f, 12288},    {20000, 800, 0.05f, 7},
                                   {25000, 30000, 0.05f, 12288}, {16777219, 800, 3.0f, 12288}};
    std::vector<int16_t> input = MixedSamples(44100 * 4);
    // A long silence, so that the quiet pull runs.
    std::fill(input.begin() + 40000, input.begin() + 80000, int16_t{0});
    for (const AgcSetting& setting : settings) {
        TAGC actual;
        TAGC expected;
        for (TAGC* agc : {&actual, &expected}) {
            agc->Target = setting.Target;
            agc->QuietLevel = setting.QuietLevel;
            agc->AdjustRate = setting.AdjustRate;
            agc->ResetGain();
            agc->RiseInterval = setting.RiseInterval;
        }
        size_t offset = 0;
        for (int chunk = 0; offset < input.size(); ++chunk) {
            const auto samples =
                std::min<size_t>(input.size() - offset, static_cast<size_t>(UniformInt(1, 2048)));
            std::vector<int16_t> a(input.begin() + static_cast<std::ptrdiff_t>(offset),
                                   input.begin() + static_cast<std::ptrdiff_t>(offset + samples));
            std::vector<int16_t> e = a;
            actual.Process(a.data(), static_cast<int32_t>(2 * samples));
            ReferenceAgcProcess(expected, e.data(), static_cast<int32_t>(2 * samples));
            ASSERT_EQ(a, e) << "target " << setting.Target << ", chunk " << chunk;
            ExpectSameState(actual, expected, chunk);
            if (HasFailure()) return;
            offset += samples;
        }
    }
}

OGGMIX_INSTANTIATE_EVERY_LEVEL(AgcLevels);

// ---- Volume, fades and pan ----

using VolumeLevels = EveryLevel;

TEST_P(VolumeLevels, ScalesLikeTheReferenceThroughRampsAndExtremeVolumes) {
    const std::vector<int16_t> input = MixedSamples(44100 * 3);
    for (const bool wide : {true, false}) {
        TOggData stream(65536);
        ReferenceVolume reference;
        size_t offset = 0;
        for (int chunk = 0; offset + 4096 <= input.size(); ++chunk) {
            switch (chunk % 12) {
                case 0:  // a fade over a little more than a chunk, then at rest
                    stream.Fade(0.25f, 0.02f);
                    reference.Fade(0.25f, 0.02f);
                    break;
                case 2:
                    stream.SetPan(-0.7f, 0.015f);
                    reference.SetPan(-0.7f, 0.015f);
                    stream.Fade(3.0f, 0.0f);
                    reference.Fade(3.0f, 0.0f);
                    break;
                case 4:  // gains beyond 16 bits, and negative ones
                    stream.SetVolume(150.0f);
                    reference.SetVolume(150.0f);
                    break;
                case 6:
                    stream.SetVolume(-2.0f);
                    reference.SetVolume(-2.0f);
                    stream.SetMasterVolume(0.5f);
                    reference.SetMasterVolume(0.5f);
                    break;
                case 8:
                    stream.SetPan(1.0f, 0.0f);
                    reference.SetPan(1.0f, 0.0f);
                    stream.SetVolume(1.0f);
                    reference.SetVolume(1.0f);
                    stream.Fade(64.0f, 0.03f);
                    reference.Fade(64.0f, 0.03f);
                    break;
                case 10:
                    stream.Fade(1.0f, 0.0f);
                    reference.Fade(1.0f, 0.0f);
                    stream.SetPan(0.0f, 0.0f);
                    reference.SetPan(0.0f, 0.0f);
                    stream.SetMasterVolume(1.0f);
                    reference.SetMasterVolume(1.0f);
                    break;
                default: break;
            }
            const int32_t frames = UniformInt(1, 1024);
            const int16_t* source = input.data() + offset;
            std::vector<int32_t> actual(static_cast<size_t>(2 * frames), 0x5A5A5A5A);
            std::vector<int32_t> expected = actual;
            // The stream's lock is not needed: nothing else touches this object.
            EXPECT_EQ(stream.ApplyVolume(actual.data(), source, frames * 4, wide),
                      reference.Apply(expected.data(), source, frames * 4, wide));
            ASSERT_EQ(actual, expected) << (wide ? "wide" : "narrow") << ", chunk " << chunk;
            EXPECT_EQ(
                stream.GetFadeVolume(true),
                static_cast<float>(static_cast<double>(reference.FadeVolume) / 1099511627776.0));
            offset += static_cast<size_t>(2 * frames);
        }
    }
}

TEST_P(VolumeLevels, SlowFadesAndPansGiveTheReferenceFramesAllTheWay) {
    // Seconds-long ramps, as the application's fades are: long stretches at one gain between
    // the frames where a ramp's value in 1/256 changes, through zero and onto the targets.
    const std::vector<int16_t> input = MixedSamples(44100 * 4);
    for (const bool wide : {true, false}) {
        TOggData stream(65536);
        ReferenceVolume reference;
        stream.Fade(0.0f, 1.5f);
        reference.Fade(0.0f, 1.5f);
        stream.SetPan(0.8f, 0.7f);
        reference.SetPan(0.8f, 0.7f);
        size_t offset = 0;
        for (int chunk = 0; offset + 2048 <= input.size(); ++chunk) {
            if (chunk == 60) {
                stream.Fade(2.0f, 1.0f);
                reference.Fade(2.0f, 1.0f);
                stream.SetPan(-1.0f, 1.2f);
                reference.SetPan(-1.0f, 1.2f);
            }
            const int32_t frames = UniformInt(400, 1024);
            const int16_t* source = input.data() + offset;
            std::vector<int32_t> actual(static_cast<size_t>(2 * frames));
            std::vector<int32_t> expected(actual.size());
            (void)stream.ApplyVolume(actual.data(), source, frames * 4, wide);
            (void)reference.Apply(expected.data(), source, frames * 4, wide);
            ASSERT_EQ(actual, expected) << (wide ? "wide" : "narrow") << ", chunk " << chunk;
            offset += static_cast<size_t>(2 * frames);
        }
    }
}

OGGMIX_INSTANTIATE_EVERY_LEVEL(VolumeLevels);

// ---- The mixer's arithmetic ----

int32_t AnyMixValue() {
    switch (UniformInt(0, 7)) {
        case 0: return std::numeric_limits<int32_t>::min();
        case 1: return std::numeric_limits<int32_t>::max();
        case 2:
            return UniformInt(std::numeric_limits<int32_t>::min(),
                              std::numeric_limits<int32_t>::max());
        case 3: return UniformInt(-40000, 40000);
        default: return UniformInt(-100000, 100000);
    }
}

using MixLevels = EveryLevel;

TEST_P(MixLevels, SumsAreExactOrReportedAsWrapped) {
    for (int trial = 0; trial < 300; ++trial) {
        const int32_t count = UniformInt(1, 300);
        const bool extreme = trial % 3 == 0;
        std::vector<int32_t> sum(static_cast<size_t>(count)), source(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            sum[i] = extreme ? AnyMixValue() : UniformInt(-1 << 20, 1 << 20);
            source[i] = extreme ? AnyMixValue() : UniformInt(-1 << 20, 1 << 20);
        }
        std::vector<int32_t> exact(static_cast<size_t>(count));
        const int32_t* sources[] = {sum.data(), source.data()};
        ReferenceMix(sources, count, exact.data());
        bool anyOutOfRange = false;
        for (int32_t i = 0; i < count; ++i)
            anyOutOfRange = anyOutOfRange || int64_t{sum[i]} + source[i] != exact[i];
        const bool wrapped = Kernels().MixAdd(sum.data(), source.data(), count);
        EXPECT_EQ(wrapped, anyOutOfRange);
        if (!wrapped) {
            EXPECT_EQ(sum, exact);
        }
    }
}

TEST_P(MixLevels, PeakScaleAndClipGiveTheReferenceValues) {
    for (int trial = 0; trial < 300; ++trial) {
        const int32_t count = UniformInt(1, 130);
        std::vector<int32_t> values(static_cast<size_t>(count));
        for (int32_t& v : values) v = AnyMixValue();
        EXPECT_EQ(Kernels().PeakMagnitude(values.data(), count),
                  ReferencePeak(values.data(), count));

        const int32_t gain = UniformInt(0, 3) == 0 ? 32767 : UniformInt(1, 32767);
        std::vector<int32_t> scaled = values;
        std::vector<int32_t> expected = values;
        Kernels().ScaleQ8(scaled.data(), count, gain);
        ReferenceScaleQ8(expected.data(), count, gain);
        EXPECT_EQ(scaled, expected) << "gain " << gain;

        // Written one byte off alignment, as a host buffer may be.
        std::vector<uint8_t> bytes(static_cast<size_t>(2 * count + 1));
        Kernels().ClipToNarrow(bytes.data() + 1, values.data(), count);
        std::vector<int16_t> clipped(static_cast<size_t>(count));
        std::memcpy(clipped.data(), bytes.data() + 1, clipped.size() * 2);
        std::vector<int16_t> reference(static_cast<size_t>(count));
        ReferenceClip(values.data(), count, reference.data());
        EXPECT_EQ(clipped, reference);
    }
}

OGGMIX_INSTANTIATE_EVERY_LEVEL(MixLevels);

}  // namespace
}  // namespace oggmix::test
