// oggmix-cli render with the tone-filter presets (--eq) and the gain control (--agc), run as a
// user runs it: what each does to the rendered sound, and the usage errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

constexpr size_t kWavHeaderBytes = 44;

double Rms(const std::vector<int16_t>& samples, double fromSec, double toSec) {
    const auto from = static_cast<size_t>(fromSec * 44100.0) * 2;
    const auto to = std::min(samples.size(), static_cast<size_t>(toSec * 44100.0) * 2);
    double sum = 0.0;
    for (size_t i = from; i < to; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

int Peak(const std::vector<int16_t>& samples, double fromSec) {
    int peak = 0;
    for (size_t i = static_cast<size_t>(fromSec * 44100.0) * 2; i < samples.size(); ++i)
        peak = std::max(peak, std::abs(int{samples[i]}));
    return peak;
}

class RenderEqAgc : public ::testing::Test {
protected:
    ProgramResult Render(std::vector<std::string> args) {
        std::vector<std::string> all{"render", "-o", outPath};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(ExecutableDir() + "/oggmix-cli", all);
    }

    // The samples of the WAV written (the render tests check its header).
    std::vector<int16_t> RenderSamples(const std::vector<std::string>& args) {
        const ProgramResult result = Render(args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        const std::vector<uint8_t> bytes = ReadFileBytes(outPath);
        std::vector<int16_t> samples((bytes.size() - std::min(bytes.size(), kWavHeaderBytes)) / 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            const size_t at = kWavHeaderBytes + 2 * i;
            samples[i] = static_cast<int16_t>(bytes[at] | bytes[at + 1] << 8);
        }
        return samples;
    }

    TempDir dir;
    const std::string outPath = dir.Path() + "/out.wav";
    // Above 7.35 kHz, where "LowPass" reaches 0.
    const std::string high = dir.Write("high.ogg", EncodeOgg(Sine(44100, 2, 4.0, 12000.0, 0.4)));
    // Transform bin 18: "Wave" cuts it to about half; its first four values alone would not.
    const std::string mid =
        dir.Write("mid.ogg", EncodeOgg(Sine(44100, 2, 1.0, 18 * 44100.0 / 256, 0.4)));
    const std::string loud = dir.Write("loud.ogg", EncodeOgg(Sine(44100, 2, 2.0, 440.0, 0.9)));
};

TEST_F(RenderEqAgc, EqOffAndAgcOffLeaveTheRenderBitForBit) {
    const std::vector<int16_t> plain = RenderSamples({high});
    EXPECT_EQ(RenderSamples({"--eq", "0:OFF", high}), plain);
    EXPECT_EQ(RenderSamples({"--eq=0:off:0", high}), plain) << "captions in any case";
    EXPECT_EQ(RenderSamples({"--agc", "0:0", high}), plain);
}

TEST_F(RenderEqAgc, LowPassAtOnceRemovesAHighToneOnBothPaths) {
    for (const bool streamOnly : {false, true}) {
        std::vector<std::string> args{"--eq", "0:LowPass:0", high};
        if (streamOnly) args.push_back("--stream");
        const std::vector<int16_t> plain = RenderSamples({high});
        const std::vector<int16_t> out = RenderSamples(args);
        ASSERT_EQ(out.size(), plain.size());
        EXPECT_LT(Rms(out, 0.05, 4.0), 0.1 * Rms(plain, 0.05, 4.0)) << streamOnly;
    }
}

TEST_F(RenderEqAgc, APresetTakesFiveSecondsByDefaultWhichTheFilterCompletesIn3Point6) {
    const std::vector<int16_t> plain = RenderSamples({high});
    const std::vector<int16_t> out = RenderSamples({"--eq", "0:LowPass", high});
    const double full = Rms(plain, 0.0, 4.0);
    EXPECT_GT(Rms(out, 0.0, 0.1), 0.9 * full) << "the curve has barely moved";
    const double early = Rms(out, 1.0, 1.2);
    const double late = Rms(out, 2.5, 2.7);
    EXPECT_LT(early, 0.9 * full);
    EXPECT_LT(late, early);
    EXPECT_GT(late, 0.1 * full);
    EXPECT_LT(Rms(out, 3.7, 4.0), 0.1 * full) << "done by 3.7 s";
}

TEST_F(RenderEqAgc, WaveSetsTheEightValueCurve) {
    const double plain = Rms(RenderSamples({mid}), 0.05, 1.0);
    const double wave = Rms(RenderSamples({"--eq", "0:Wave:0", mid}), 0.05, 1.0);
    EXPECT_NEAR(wave / plain, 0.5, 0.1);
}

TEST_F(RenderEqAgc, EachOptionActsOnItsOwnSlot) {
    // Slot 0 panned left, slot 1 right: the left channel is slot 0 alone.
    const std::vector<std::string> panned{"--pan", "0:-1", "--pan", "1:1", high, high};
    const std::vector<int16_t> plain = RenderSamples(panned);
    std::vector<std::string> args = panned;
    args.insert(args.end(), {"--eq", "1:LowPass:0", "--agc", "1:0.2"});
    const std::vector<int16_t> out = RenderSamples(args);
    ASSERT_EQ(out.size(), plain.size());
    for (size_t i = 0; i < out.size(); i += 2)
        ASSERT_EQ(out[i], plain[i]) << "left, frame " << i / 2;
    std::vector<int16_t> rightOut;
    std::vector<int16_t> rightPlain;
    for (size_t i = 1; i < out.size(); i += 2) {
        rightOut.push_back(out[i]);
        rightPlain.push_back(plain[i]);
    }
    EXPECT_LT(Rms(rightOut, 0.05, 2.0), 0.1 * Rms(rightPlain, 0.05, 2.0));
}

TEST_F(RenderEqAgc, GainControlBringsALoudFileDownTowardsItsTarget) {
    const std::vector<int16_t> plain = RenderSamples({loud});
    EXPECT_GT(Peak(plain, 0.0), 29000);
    const std::vector<int16_t> levelled = RenderSamples({"--agc", "0:0.5", loud});
    const int peak = Peak(levelled, 1.0);
    EXPECT_LT(peak, 17000) << "target 15000";
    EXPECT_GT(peak, 12000);
    EXPECT_LE(Peak(RenderSamples({"--agc", "0:1", loud}), 0.0), 32760)
        << "a sample reaching the target is limited to 32760";
}

TEST_F(RenderEqAgc, WrongValuesExitWith2AndSayWhy) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases{
        {{"--eq", "0:Loud", high},
         "LowPass HighPass LowReso HighReso OFF LoHiPass MiddleReso Wave"},
        {{"--eq", "8:LowPass", high}, "--eq"},
        {{"--eq", "0:LowPass:-1", high}, "--eq"},
        {{"--eq", "0:LowPass:1:2", high}, "--eq"},
        {{"--eq", "0", high}, "--eq"},
        {{"--eq", "1:LowPass", high}, "slot 1"},
        {{"--agc", "0:-0.5", high}, "--agc"},
        {{"--agc", "0:loud", high}, "--agc"},
        {{"--agc", "1:0.5", high}, "slot 1"},
        {{high, "--agc"}, "--agc needs a value"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = Render(c.args);
        EXPECT_EQ(result.ExitCode, 2) << c.says;
        EXPECT_THAT(result.Err, HasSubstr(c.says));
    }
}

}  // namespace
}  // namespace oggmix::test
