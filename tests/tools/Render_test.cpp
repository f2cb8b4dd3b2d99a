// oggmix-cli render, run as a user runs it: the WAV it writes against libvorbisfile's own
// decode, through the stream alone and through the mixer; lengths, looping, the mix options,
// usage errors and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

constexpr uint32_t kNoiseSeed = 9001;

uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t{bytes[at + 3]} << 24;
}

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool TagAt(const std::vector<uint8_t>& bytes, size_t at, const char* tag) {
    return std::memcmp(bytes.data() + at, tag, 4) == 0;
}

// The samples of a canonical 16-bit stereo 44100 Hz WAV file; fails the test when the header
// is anything else.
std::vector<int16_t> ReadCanonicalWav(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44) return {};
    const uint32_t dataBytes = static_cast<uint32_t>(bytes.size() - 44);
    EXPECT_TRUE(TagAt(bytes, 0, "RIFF"));
    EXPECT_EQ(U32At(bytes, 4), 36 + dataBytes);
    EXPECT_TRUE(TagAt(bytes, 8, "WAVE"));
    EXPECT_TRUE(TagAt(bytes, 12, "fmt "));
    EXPECT_EQ(U32At(bytes, 16), 16u);
    EXPECT_EQ(U16At(bytes, 20), 1);  // PCM
    EXPECT_EQ(U16At(bytes, 22), 2);  // channels
    EXPECT_EQ(U32At(bytes, 24), 44100u);
    EXPECT_EQ(U32At(bytes, 28), 176400u);
    EXPECT_EQ(U16At(bytes, 32), 4);
    EXPECT_EQ(U16At(bytes, 34), 16);
    EXPECT_TRUE(TagAt(bytes, 36, "data"));
    EXPECT_EQ(U32At(bytes, 40), dataBytes);
    std::vector<int16_t> samples(dataBytes / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(U16At(bytes, 44 + 2 * i));
    return samples;
}

int16_t Clip(int32_t value) { return static_cast<int16_t>(std::clamp(value, -32767, 32767)); }

class RenderCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite() { std::printf("noise seed %u\n", kNoiseSeed); }

    // 1.5 s of noise and 0.6 s of a tone, quiet enough that they sum within full scale
    // (noise decodes with peaks well above its amplitude).
    static const Decoded& Long() {
        static const Decoded decoded = DecodeReference(LongOgg());
        return decoded;
    }
    static const std::vector<uint8_t>& LongOgg() {
        static const std::vector<uint8_t> ogg = EncodeOgg(Noise(44100, 2, 1.5, kNoiseSeed, 0.2));
        return ogg;
    }
    static const Decoded& Short() {
        static const Decoded decoded = DecodeReference(ShortOgg());
        return decoded;
    }
    static const std::vector<uint8_t>& ShortOgg() {
        static const std::vector<uint8_t> ogg = EncodeOgg(Sine(44100, 2, 0.6, 330.0, 0.3));
        return ogg;
    }

    ProgramResult Render(std::vector<std::string> args) {
        args.push_back("-o");
        args.push_back(outPath);
        return RunProgram(ExecutableDir() + "/oggmix-cli", [&] {
            std::vector<std::string> all{"render"};
            all.insert(all.end(), args.begin(), args.end());
            return all;
        }());
    }

    // Renders and returns the samples, failing the test when the program failed.
    std::vector<int16_t> RenderSamples(const std::vector<std::string>& args) {
        const ProgramResult result = Render(args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(result.Err, "");  // quiet when stderr is not a terminal
        return ReadCanonicalWav(outPath);
    }

    TempDir dir;
    const std::string longPath = dir.Write("long.ogg", LongOgg());
    const std::string shortPath = dir.Write("short.ogg", ShortOgg());
    const std::string outPath = dir.Path() + "/out.wav";
};

// The reference samples as 16-bit output: -32768 cannot be written.
std::vector<int16_t> Narrowed(const std::vector<int16_t>& samples) {
    std::vector<int16_t> narrowed(samples);
    std::replace(narrowed.begin(), narrowed.end(), int16_t{-32768}, int16_t{-32767});
    return narrowed;
}

TEST_F(RenderCommand, StreamPathEqualsTheDecoderOutput) {
    EXPECT_EQ(RenderSamples({"--stream", longPath}), Narrowed(Long().Samples));
}

TEST_F(RenderCommand, MixerPathEqualsTheDecoderOutputForAFileWithinFullScale) {
    EXPECT_EQ(RenderSamples({longPath}), Narrowed(Long().Samples));
}

TEST_F(RenderCommand, SecondsGivesExactlyThatManyFramesLoopingFromTheStart) {
    const std::vector<int16_t> reference = Narrowed(Short().Samples);
    for (const bool streamOnly : {true, false}) {
        std::vector<std::string> args = {"--seconds", "1.70001", shortPath};
        if (streamOnly) args.insert(args.begin(), "--stream");
        const std::vector<int16_t> out = RenderSamples(args);
        ASSERT_EQ(out.size(), 2u * 74970) << streamOnly;  // round(1.70001 x 44100)
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], reference[i % reference.size()]) << streamOnly << " sample " << i;
    }
}

TEST_F(RenderCommand, NoLoopWithSecondsPadsWithSilence) {
    const std::vector<int16_t> reference = Narrowed(Short().Samples);
    const std::vector<int16_t> out = RenderSamples({"--no-loop", "--seconds", "1", shortPath});
    ASSERT_EQ(out.size(), 2u * 44100);
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(reference.size()), out.end(),
                            [](int16_t s) { return s == 0; }));
}

TEST_F(RenderCommand, NoLoopMixesEveryFileAndStopsAtTheEndOfTheLongest) {
    const std::vector<int16_t>& a = Long().Samples;
    const std::vector<int16_t>& b = Short().Samples;
    const std::vector<int16_t> out = RenderSamples({"--no-loop", shortPath, longPath});
    ASSERT_EQ(out.size(), a.size());
    for (size_t i = 0; i < out.size(); ++i) {
        const int32_t sum = a[i] + (i < b.size() ? b[i] : 0);
        ASSERT_LE(std::abs(sum), 32767) << "the fixtures must sum within full scale";
        ASSERT_EQ(out[i], sum) << "sample " << i;
    }
}

TEST_F(RenderCommand, DefaultLengthIsTheLongestFileWhenLooping) {
    const std::vector<int16_t> out = RenderSamples({shortPath, longPath});
    EXPECT_EQ(out.size(), Long().Samples.size());
}

// ---- The mix options, each against the decode ----

struct OptionCase {
    const char* Name;
    std::vector<std::string> Args;  // before the file
    std::function<int16_t(const std::vector<int16_t>& reference, size_t i)> Expected;
};

class RenderOption : public RenderCommand, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(RenderOption, ChangesTheOutputAsTheStreamOperationDoes) {
    const OptionCase& c = GetParam();
    std::vector<std::string> args = c.Args;
    args.push_back(longPath);
    args.insert(args.end(), {"--seconds", "1"});
    const std::vector<int16_t> out = RenderSamples(args);
    ASSERT_EQ(out.size(), 2u * 44100);
    const std::vector<int16_t>& reference = Long().Samples;
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], c.Expected(reference, i)) << c.Name << " sample " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Options, RenderOption,
    ::testing::Values(
        OptionCase{"volume",
                   {"--volume", "0:0.5"},
                   [](const auto& r, size_t i) { return Clip(r[i] * 128 / 256); }},
        OptionCase{"streamVolume",
                   {"--stream", "--volume=0:0.5"},
                   [](const auto& r, size_t i) { return Clip(r[i] * 128 / 256); }},
        OptionCase{"master",
                   {"--master", "0.25"},
                   [](const auto& r, size_t i) { return Clip(r[i] * 64 / 256); }},
        OptionCase{"volumeAndMaster",
                   {"--master", "0.5", "--volume", "0:0.5"},
                   [](const auto& r, size_t i) { return Clip(r[i] * 64 / 256); }},
        OptionCase{"panRight",
                   {"--pan", "0:1"},
                   [](const auto& r, size_t i) { return i % 2 == 0 ? int16_t{0} : Clip(r[i]); }},
        OptionCase{"seek",
                   {"--seek", "0:1.0"},
                   [](const auto& r, size_t i) { return Clip(r[(88200 + i) % r.size()]); }},
        OptionCase{"streamSeek",
                   {"--stream", "--seek", "0:1.0"},
                   [](const auto& r, size_t i) { return Clip(r[(88200 + i) % r.size()]); }},
        OptionCase{"fixedGain",
                   {"--limiter", "16384,16384,1,1"},
                   [](const auto& r, size_t i) { return Clip(r[i] * 511 / 256); }},
        OptionCase{"fadeOut", {"--fade", "0:0:0"}, [](const auto&, size_t) { return int16_t{0}; }}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return info.param.Name; });

TEST_F(RenderCommand, LoopTagsLoopTheFileBetweenItsLoopStartAndLoopLength) {
    EncodeOptions options;
    options.Comments = {"LOOPSTART=11025", "LOOPLENGTH=22050"};
    const std::vector<uint8_t> ogg = EncodeOgg(Noise(44100, 2, 1.5, kNoiseSeed, 0.2), options);
    const std::vector<int16_t> reference = Narrowed(DecodeReference(ogg).Samples);
    const std::string path = dir.Write("tags.ogg", ogg);
    const std::vector<int16_t> out = RenderSamples({"--loop-tags", "--seconds", "1", path});
    std::vector<int16_t> expected(reference.begin(), reference.begin() + 2 * 33075);
    while (expected.size() < out.size())
        expected.insert(expected.end(), reference.begin() + 2 * 11025,
                        reference.begin() + 2 * 33075);
    expected.resize(out.size());
    EXPECT_EQ(out, expected);
}

// ---- Usage errors and failures ----

TEST_F(RenderCommand, WrongUsageExitsWithStatusTwoAndTheUsage) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--volume", "0", longPath},
        {"--volume", "8:1", longPath},
        {"--volume", "0:loud", longPath},
        {"--volume", "1:0.5", longPath},  // slot 1 holds no file
        {"--fade", "0:1", longPath},
        {"--limiter", "1,2,3", longPath},
        {"--seconds", "-1", longPath},
        {"--seconds", "nan", longPath},
        {"--seconds", "1e12", longPath},
        {"--seconds", "1e300", longPath},
        {"--stream", longPath, shortPath},
        {"--stream", "--limiter", "1,2,3,4", longPath},
        {"--bogus", longPath},
        {longPath, "--seek"},
        {longPath, longPath, longPath, longPath, longPath, longPath, longPath, longPath, longPath},
    };
    for (const std::vector<std::string>& args : wrong) {
        const ProgramResult result = Render(args);
        EXPECT_EQ(result.ExitCode, 2) << testing::PrintToString(args);
        EXPECT_THAT(result.Err, HasSubstr("oggmix-cli render")) << testing::PrintToString(args);
    }
    const ProgramResult noOutput =
        RunProgram(ExecutableDir() + "/oggmix-cli", {"render", longPath});
    EXPECT_EQ(noOutput.ExitCode, 2);
}

TEST_F(RenderCommand, MissingFileFailsWithItsNameAndWritesNothing) {
    const std::string missing = dir.Path() + "/missing.ogg";
    const ProgramResult result = Render({longPath, missing});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_THAT(result.Err, HasSubstr("oggmix-cli: " + missing + ": no such file"));
    EXPECT_FALSE(std::filesystem::exists(outPath));
}

TEST_F(RenderCommand, FileThatIsNotOggVorbisFailsWithTheLoadMessage) {
    const std::string text = dir.Write("text.ogg", std::vector<uint8_t>(200, 'x'));
    const ProgramResult result = Render({text});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_THAT(result.Err, HasSubstr("oggmix-cli: " + text + ": ファイルの読み込みに失敗"));
}

TEST_F(RenderCommand, FileOfAnotherRateIsRefusedWithoutResampleAndConvertedWithIt) {
    const std::vector<uint8_t> ogg = EncodeOgg(Sine(48000, 2, 0.5, 440.0, 0.3));
    const std::string path = dir.Write("48k.ogg", ogg);
    for (const bool stream : {false, true}) {
        SCOPED_TRACE(stream ? "--stream" : "mixer");
        std::vector<std::string> args{path};
        if (stream) args.push_back("--stream");
        const ProgramResult refused = Render(args);
        EXPECT_EQ(refused.ExitCode, 1);
        EXPECT_EQ(refused.Err, "oggmix-cli: " + path +
                                   ": would play silence: 48000 Hz; --resample converts it\n");
        EXPECT_FALSE(std::filesystem::exists(outPath));

        args.push_back("--resample");
        const std::vector<int16_t> samples = RenderSamples(args);
        const int64_t frames = (DecodeReference(ogg).PcmTotal * 44100 + 47999) / 48000;
        EXPECT_EQ(static_cast<int64_t>(samples.size()), 2 * frames);
        double sumSquares = 0.0;
        for (const int16_t s : samples) sumSquares += static_cast<double>(s) * s;
        // The tone's level: 0.3 of full scale, as an RMS.
        EXPECT_NEAR(std::sqrt(sumSquares / samples.size()), 0.3 * 32767 / std::sqrt(2.0), 200.0);
        std::filesystem::remove(outPath);
    }
}

TEST_F(RenderCommand, OutputThatCannotBeCreatedFails) {
    const ProgramResult result =
        RunProgram(ExecutableDir() + "/oggmix-cli",
                   {"render", longPath, "-o", dir.Path() + "/no/such/folder/out.wav"});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_THAT(result.Err, HasSubstr("out.wav"));
}

}  // namespace
}  // namespace oggmix::test
