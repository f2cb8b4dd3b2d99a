// OggDataLib_Convert_test.cpp: streams of other rates and channel counts with the conversion
// on: tone quality through the resampler, downmix levels, loops, seeks, the end of the music,
// the formats that pass as before, and a render path that allocates nothing.
#include <malloc.h>
#include <soxr.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "stream/RateConverter.h"
#include "tests/stream/StreamTestSupport.h"
#include "tests/support/AllocationCounter.h"

namespace oggmix::test {
namespace {

constexpr int32_t kFftPoints = 16384;
constexpr int32_t kToneHalfWidthBins = 24;  // the Kaiser window's main lobe and then some

std::string Tag(const char* line) { return std::string("COMMENT=") + line; }

// Loads pcm into a stream whose conversion is switched on before the load.
TestStream MakeConverted(const Pcm& pcm, std::vector<std::string> comments = {}) {
    BindDecoder();
    EncodeOptions options;
    options.Quality = 1.0f;  // the codec's own noise well below what is measured
    options.Comments = std::move(comments);
    std::vector<uint8_t> ogg = EncodeOgg(pcm, options);
    TestStream stream;
    stream.Reference = DecodeReference(ogg);
    stream.Data = std::make_unique<TOggData>(kTestBufferBytes);
    stream.Data->SetConversion(true);
    if (!stream.Data->LoadFromStream(std::make_unique<MemoryStream>(std::move(ogg))))
        throw std::runtime_error("the test stream did not load");
    return stream;
}

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
        const double w = std::cyl_bessel_i(0.0, kBeta * std::sqrt(1.0 - r * r)) /
                         std::cyl_bessel_i(0.0, kBeta);
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
         k <= std::min<int32_t>(static_cast<int32_t>(power.size()) - 1,
                                centre + kToneHalfWidthBins);
         ++k)
        sum += power[static_cast<size_t>(k)];
    return 10.0 * std::log10(sum + 1e-300);
}

struct Spur {
    double Db = -400.0;
    double FreqHz = 0.0;
};

// The strongest bin outside the main lobes of the given tones.
Spur StrongestOther(const std::vector<double>& power, std::vector<double> tonesHz,
                    int32_t rateHz) {
    Spur spur;
    for (size_t k = 0; k < power.size(); ++k) {
        bool inTone = false;
        for (double tone : tonesHz)
            inTone |= std::abs(static_cast<int32_t>(k) - BinOf(tone, rateHz)) <=
                      kToneHalfWidthBins;
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

class ConvertedTone : public ::testing::TestWithParam<double> {};

TEST_P(ConvertedTone, KeepsItsLevelAndAddsNothingAboveMinus90Db) {
    const double freqHz = GetParam();
    TestStream s = MakeConverted(Sine(48000, 2, 1.0, freqHz));
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
        const Spur spur = StrongestOther(PowerSpectrum(error, 2, channel, 44100 / 4), {freqHz}, 44100);
        EXPECT_LT(spur.Db - toneDb, -90.0) << freqHz << " Hz: " << spur.FreqHz << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(At48000Hz, ConvertedTone, ::testing::Values(100.0, 1000.0, 10000.0,
                                                                     18000.0));

TEST(OggDataConvert, ToneAbove22050HzOf96000HzFileIsRemoved) {
    TestStream s = MakeConverted(Sine(96000, 1, 1.0, 30000.0));
    const std::vector<int16_t> out = RenderAll(*s.Data, 44100);
    const double sourceDb = ToneDb(PowerSpectrum(s.Reference.Samples, 1, 0, 96000 / 4), 30000.0,
                                   96000);
    const Spur spur = StrongestOther(PowerSpectrum(out, 2, 0, 44100 / 4), {}, 44100);
    EXPECT_LT(spur.Db - sourceDb, -90.0) << spur.FreqHz << " Hz";
}

}  // namespace
}  // namespace oggmix::test
