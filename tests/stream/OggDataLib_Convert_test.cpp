// OggDataLib_Convert_test.cpp: streams of other rates and channel counts with the conversion
// on: tone quality through the resampler, downmix levels, loops, seeks, the end of the music,
// the formats that pass as before, and a render path that allocates nothing.
#include <malloc.h>
#include <soxr.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "tests/stream/StreamTestSupport.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/ConvertedReference.h"

namespace oggmix::test {
namespace {

constexpr int32_t kFftPoints = 16384;
constexpr int32_t kToneHalfWidthBins = 24;  // the Kaiser window's main lobe and then some

std::string Tag(const char* line) { return std::string("COMMENT=") + line; }

std::vector<int16_t> RenderAll(TOggData& data, int64_t frames) {
    data.Play(false, true);
    return RenderNarrow(data, frames, {4096 * 3 + 4});
}

// Power per bin (0 .. N/2) of one channel of interleaved frames from firstFrame on, through a
// Kaiser window (beta 20) whose side lobes lie far below anything measured here.
std::vector<double> PowerSpectrum(const std::vector<int16_t>& samples, int32_t channels,
                                  int32_t channel, int64_t firstFrame) {
    constexpr double kBeta = 20.0;
    std::vector<std::complex<double>> x(kFftPoints);
    for (int32_t n = 0; n < kFftPoints; ++n) {
        const double r = 2.0 * n / (kFftPoints - 1) - 1.0;
        const double w =
            std::cyl_bessel_i(0.0, kBeta * std::sqrt(1.0 - r * r)) / std::cyl_bessel_i(0.0, kBeta);
        x[n] = w * samples.at(static_cast<size_t>((firstFrame + n) * channels + channel));
    }
    for (int32_t i = 1, j = 0; i < kFftPoints; ++i) {
        int32_t bit = kFftPoints >> 1;
        for (; (j & bit) != 0; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (int32_t len = 2; len <= kFftPoints; len <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi / len);
        for (int32_t i = 0; i < kFftPoints; i += len) {
            std::complex<double> w = 1.0;
            for (int32_t k = 0; k < len / 2; ++k, w *= step) {
                const std::complex<double> a = x[i + k];
                const std::complex<double> b = x[i + k + len / 2] * w;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
            }
        }
    }
    std::vector<double> power(kFftPoints / 2 + 1);
    for (size_t k = 0; k < power.size(); ++k) power[k] = std::norm(x[k]);
    return power;
}

int32_t BinOf(double freqHz, int32_t rateHz) {
    return static_cast<int32_t>(std::lround(freqHz * kFftPoints / rateHz));
}

// The power of a tone: the sum over its main lobe, in dB.
double ToneDb(const std::vector<double>& power, double freqHz, int32_t rateHz) {
    const int32_t centre = BinOf(freqHz, rateHz);
    double sum = 0.0;
    for (int32_t k = std::max(0, centre - kToneHalfWidthBins);
         k <=
         std::min<int32_t>(static_cast<int32_t>(power.size()) - 1, centre + kToneHalfWidthBins);
         ++k)
        sum += power[static_cast<size_t>(k)];
    return 10.0 * std::log10(sum + 1e-300);
}

struct Spur {
    double Db = -400.0;
    double FreqHz = 0.0;
};

// The strongest bin outside the main lobes of the given tones.
Spur StrongestOther(const std::vector<double>& power, std::vector<double> tonesHz, int32_t rateHz) {
    Spur spur;
    for (size_t k = 0; k < power.size(); ++k) {
        bool inTone = false;
        for (double tone : tonesHz)
            inTone |= std::abs(static_cast<int32_t>(k) - BinOf(tone, rateHz)) <= kToneHalfWidthBins;
        const double db = 10.0 * std::log10(power[k] + 1e-300);
        if (!inTone && db > spur.Db) spur = {db, static_cast<double>(k) * rateHz / kFftPoints};
    }
    return spur;
}

// The samples converted to 44100 Hz with libsoxr's finest setting, in double precision.
std::vector<double> FineConversion(const std::vector<int16_t>& samples, int32_t rateHz,
                                   int32_t channels) {
    std::vector<double> in(samples.begin(), samples.end());
    const size_t frames = in.size() / static_cast<size_t>(channels);
    std::vector<double> out((frames * 44100 / static_cast<size_t>(rateHz) + 1) *
                            static_cast<size_t>(channels));
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_32_BITQ, 0);
    size_t done = 0;
    soxr_oneshot(rateHz, 44100, static_cast<unsigned>(channels), in.data(), frames, nullptr,
                 out.data(), out.size() / static_cast<size_t>(channels), &done, &io, &quality,
                 nullptr);
    out.resize(done * static_cast<size_t>(channels));
    return out;
}

// Frames [from, to) of the reference decode.
std::vector<int16_t> ReferenceFrames(const TestStream& s, int64_t from, int64_t to) {
    const auto& samples = s.Reference.Samples;
    return {samples.begin() + from * 2, samples.begin() + to * 2};
}

class ConvertedTone : public ::testing::TestWithParam<double> {};

TEST_P(ConvertedTone, KeepsItsLevelAndAddsNothingAboveMinus90Db) {
    const double freqHz = GetParam();
    TestStream s = MakeConvertedStream(Sine(48000, 2, 1.0, freqHz));
    const std::vector<int16_t> out = RenderAll(*s.Data, 44100);
    const std::vector<double> ideal = FineConversion(s.Reference.Samples, 48000, 2);
    ASSERT_GE(ideal.size(), out.size());
    for (int32_t channel = 0; channel < 2; ++channel) {
        const std::vector<double> source =
            PowerSpectrum(s.Reference.Samples, 2, channel, 48000 / 4);
        const std::vector<double> converted = PowerSpectrum(out, 2, channel, 44100 / 4);
        const double sourceDb = ToneDb(source, freqHz, 48000);
        const double toneDb = ToneDb(converted, freqHz, 44100);
        EXPECT_NEAR(toneDb, sourceDb, 0.1) << freqHz << " Hz, channel " << channel;
        // What the conversion adds at other frequencies: the output less a far finer
        // conversion of the same decoded music (the codec's own artefacts lie in both; the
        // level at the tone's own frequency is checked above).
        std::vector<int16_t> error(out.size());
        for (size_t i = 0; i < out.size(); ++i)
            error[i] = static_cast<int16_t>(std::lround(out[i] - ideal[i]));
        const Spur spur =
            StrongestOther(PowerSpectrum(error, 2, channel, 44100 / 4), {freqHz}, 44100);
        EXPECT_LT(spur.Db - toneDb, -90.0) << freqHz << " Hz: " << spur.FreqHz << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(At48000Hz, ConvertedTone,
                         ::testing::Values(100.0, 1000.0, 10000.0, 18000.0));

TEST(OggDataConvert, ToneAbove22050HzOf96000HzFileIsRemoved) {
    TestStream s = MakeConvertedStream(Sine(96000, 1, 1.0, 30000.0));
    const std::vector<int16_t> out = RenderAll(*s.Data, 44100);
    const double sourceDb =
        ToneDb(PowerSpectrum(s.Reference.Samples, 1, 0, 96000 / 4), 30000.0, 96000);
    const Spur spur = StrongestOther(PowerSpectrum(out, 2, 0, 44100 / 4), {}, 44100);
    EXPECT_LT(spur.Db - sourceDb, -90.0) << spur.FreqHz << " Hz";
}

TEST(OggDataConvert, SixChannelsMixDownWithCentreAndSurroundsAt3DbAndTheLfeDropped) {
    // Vorbis order: front left, centre, front right, rear left, rear right, LFE; one tone each
    // on the left side, the centre and the LFE.
    constexpr std::array<double, 6> kToneHz{1000.0, 2000.0, 0.0, 3000.0, 0.0, 100.0};
    Pcm pcm{48000, 6, {}};
    for (int32_t c = 0; c < 6; ++c) {
        const Pcm tone =
            kToneHz[c] > 0.0 ? Sine(48000, 1, 1.0, kToneHz[c], 0.3) : Silence(48000, 1, 1.0);
        pcm.Samples.resize(tone.Samples.size() * 6);
        for (size_t f = 0; f < tone.Samples.size(); ++f) pcm.Samples[f * 6 + c] = tone.Samples[f];
    }
    TestStream s = MakeConvertedStream(pcm);
    const std::vector<int16_t> out = RenderAll(*s.Data, 44100);

    const double sum = 1.0 + 2.0 * std::sqrt(0.5);  // no sum of full-scale inputs clips
    const auto leftDb = [&](int32_t channel, double freqHz) {
        return ToneDb(PowerSpectrum(s.Reference.Samples, 6, channel, 12000), freqHz, 48000);
    };
    const std::vector<double> left = PowerSpectrum(out, 2, 0, 11025);
    const std::vector<double> right = PowerSpectrum(out, 2, 1, 11025);
    const double gainDb = -20.0 * std::log10(sum);
    const double minus3Db = 20.0 * std::log10(std::sqrt(0.5));
    EXPECT_NEAR(ToneDb(left, 1000.0, 44100), leftDb(0, 1000.0) + gainDb, 0.1);
    EXPECT_NEAR(ToneDb(left, 2000.0, 44100), leftDb(1, 2000.0) + gainDb + minus3Db, 0.1);
    EXPECT_NEAR(ToneDb(right, 2000.0, 44100), leftDb(1, 2000.0) + gainDb + minus3Db, 0.1);
    EXPECT_NEAR(ToneDb(left, 3000.0, 44100), leftDb(3, 3000.0) + gainDb + minus3Db, 0.1);
    // What is left at the LFE's and the other side's frequencies is the codec's own noise.
    const double lfeDb = leftDb(5, 100.0);
    EXPECT_LT(ToneDb(left, 100.0, 44100) - lfeDb, -60.0);
    EXPECT_LT(ToneDb(right, 100.0, 44100) - lfeDb, -60.0);
    EXPECT_LT(ToneDb(right, 1000.0, 44100) - leftDb(0, 1000.0), -60.0);
}

TEST(OggDataConvert, LoopJumpAndEndFeedTheConverterAsOneRunOfTheSplicedMusic) {
    TestStream s =
        MakeConvertedStream(Noise(48000, 2, 1.5, kNoiseSeed), {Tag("*loopsample,0,24000,60000,1")});
    const int64_t total = s.Reference.PcmTotal;
    std::vector<int16_t> spliced = ReferenceFrames(s, 0, 60000);
    const std::vector<int16_t> tail = ReferenceFrames(s, 24000, total);
    spliced.insert(spliced.end(), tail.begin(), tail.end());
    const std::vector<int16_t> expected = ConvertedAlone(spliced, 48000);

    const std::vector<int16_t> out = RenderAll(*s.Data, 10 * 44100);
    EXPECT_TRUE(SameFrames(out, Clipped(expected)));
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->GetTime(true), 0.0f);
}

TEST(OggDataConvert, TimeIsThatOfTheOutputRightAfterALoopJumpAndTheWrap) {
    // 3 s, looping once from 2 s back to 1 s, then wrapping to the start.
    TestStream s =
        MakeConvertedStream(Noise(48000, 2, 3.0, kNoiseSeed), {Tag("*loopsample,0,48000,96000,1")});
    const double totalSec = static_cast<double>(s.Reference.PcmTotal) / 48000;
    // Output frame k is the music fed k / 44100 s after the start: the splice of 0..2 s,
    // 1 s..the end, and 0 s on.
    const auto musicSecAt = [&](int64_t outFrame) {
        const double fedSec = static_cast<double>(outFrame) / 44100;
        if (fedSec < 2.0) return fedSec;
        if (fedSec < 1.0 + totalSec) return fedSec - 1.0;
        return fedSec - 1.0 - totalSec;
    };
    s.Data->Play(true, true);
    constexpr int32_t kRequestFrames = 441;  // 10 ms: less than the converter's lag
    std::vector<int16_t> buffer(2 * kRequestFrames);
    for (int64_t outFrame = 0; outFrame < 5 * 44100; outFrame += kRequestFrames) {
        EXPECT_NEAR(s.Data->GetTime(true), musicSecAt(outFrame), 1.0 / 44100)
            << "output frame " << outFrame;
        ASSERT_EQ(s.Data->Render(buffer.data(), 4 * kRequestFrames, 0, false, true),
                  4 * kRequestFrames);
    }
}

TEST(OggDataConvert, TimeStaysInALoopShorterThanTheConvertersDelay) {
    // A 1 ms loop at 0.5 s: some twenty of its jumps are inside the converter at once.
    TestStream s = MakeConvertedStream(Noise(48000, 2, 1.0, kNoiseSeed),
                                       {Tag("*loopsample,0,24000,24048,-1")});
    s.Data->Play(false, true);
    constexpr int32_t kRequestFrames = 441;
    std::vector<int16_t> buffer(2 * kRequestFrames);
    for (int64_t outFrame = 0; outFrame < 44100; outFrame += kRequestFrames) {
        const float sec = s.Data->GetTime(true);
        if (outFrame < 22050) {
            EXPECT_NEAR(sec, static_cast<double>(outFrame) / 44100, 1.0 / 44100);
        } else {
            EXPECT_GE(sec, 0.5f) << "output frame " << outFrame;
            EXPECT_LE(sec, 0.501f) << "output frame " << outFrame;
        }
        ASSERT_EQ(s.Data->Render(buffer.data(), 4 * kRequestFrames, 0, false, true),
                  4 * kRequestFrames);
    }
}

TEST(OggDataConvert, SeekStartsWithTheMusicBeforeTheTargetAlreadyInTheFilter) {
    TestStream whole = MakeConvertedStream(Noise(48000, 2, 2.0, kNoiseSeed));
    const std::vector<int16_t> continuous = RenderAll(*whole.Data, 2 * 44100);
    TestStream s = MakeConvertedStream(Noise(48000, 2, 2.0, kNoiseSeed));
    s.Data->Seek(1.0f, true);
    EXPECT_EQ(s.Data->GetTime(true), 1.0f);
    const std::vector<int16_t> out = RenderAll(*s.Data, 4410);
    ASSERT_EQ(out.size(), 2u * 4410);
    int32_t worst = 0;
    for (size_t i = 0; i < out.size(); ++i)
        worst = std::max(worst, std::abs(out[i] - continuous[2 * 44100 + i]));
    EXPECT_LE(worst, 1);
}

class PassingFormat : public ::testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(PassingFormat, RendersBitForBitAsWithTheConversionOff) {
    const auto [rateHz, channels] = GetParam();
    TestStream s = MakeNoiseStream(rateHz, channels, 1.0);
    s.Data->SetConversion(true);
    s.Data->Play(false, true);
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 16);
    ASSERT_GE(out.size(), s.Frames.size());
    EXPECT_TRUE(
        SameFrames({out.begin(), out.begin() + static_cast<ptrdiff_t>(s.Frames.size())}, s.Frames));
}

INSTANTIATE_TEST_SUITE_P(WithoutResampler, PassingFormat,
                         ::testing::Values(std::pair{44100, 1}, std::pair{44100, 2},
                                           std::pair{22050, 1}, std::pair{22050, 2}));

TEST(OggDataConvert, RenderingThroughTheConverterAllocatesNothing) {
    TestStream s =
        MakeConvertedStream(Noise(32000, 1, 0.5, kNoiseSeed), {Tag("*loopsample,0,3200,12800,-1")});
    s.Data->Play(true, true);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    const AllocationScope scope;
    const size_t heapBytes = mallinfo2().uordblks;  // libsoxr allocates with malloc
    for (int block = 0; block < 12; ++block) ASSERT_GT(s.Data->RenderNext(0), 0);
    EXPECT_EQ(scope.Count(), 0);
    EXPECT_EQ(mallinfo2().uordblks, heapBytes);
}

}  // namespace
}  // namespace oggmix::test
