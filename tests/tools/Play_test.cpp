// oggmix-cli play, run as a user runs it: what the wav back end and SDL's disk driver write
// is what render writes for the same file, after the ring's start-up delay and with nothing
// dropped or repeated; the end by time, by the end of the music and by signal; no device;
// usage errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {
namespace {

using ::testing::HasSubstr;

constexpr int32_t kRate = 44100;

class PlayCommand : public ::testing::Test {
protected:
    static const std::vector<uint8_t>& MusicOgg() {
        static const std::vector<uint8_t> ogg = EncodeOgg(Music(kRate, 2, 1.2, 3));
        return ogg;
    }
    ProgramResult Cli(const std::vector<std::string>& args) {
        return RunProgram(ExecutableDir() + "/oggmix-cli", args);
    }
    // What render writes for the music over seconds.
    std::vector<int16_t> Rendered(const std::vector<std::string>& options) {
        std::vector<std::string> args{"render"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {musicPath, "-o", dir.Path() + "/rendered.wav"});
        const ProgramResult result = Cli(args);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        return ReadPcm(dir.Path() + "/rendered.wav", 44);
    }
    // Heard = silence, then the rendered sound from its start for at least minFrames, then
    // silence: nothing dropped, repeated or out of order.
    static void ExpectRenderedSound(const std::vector<int16_t>& heard,
                                    const std::vector<int16_t>& rendered, int64_t minFrames) {
        const Alignment at = Align(heard, rendered);
        ASSERT_TRUE(at.Found) << "the rendered sound was not heard";
        EXPECT_TRUE(AllZero(heard.begin(), heard.begin() + static_cast<long>(at.Offset)));
        EXPECT_LE(at.Offset, 2u * kRate) << "start-up delay over a second";
        EXPECT_GE(static_cast<int64_t>(at.Match), 2 * minFrames)
            << "heard diverges from the rendered sound after " << at.Match / 2 << " frames";
        EXPECT_TRUE(AllZero(heard.begin() + static_cast<long>(at.Offset + at.Match), heard.end()))
            << "something else was heard after " << at.Match / 2 << " frames";
    }

    TempDir dir;
    const std::string musicPath = dir.Write("music.ogg", MusicOgg());
    const std::string wavPath = dir.Path() + "/heard.wav";
};

TEST_F(PlayCommand, TheWavBackEndHearsWhatRenderWrites) {
    setenv("OGGMIX_AUDIO", ("wav:" + wavPath).c_str(), 1);
    const ProgramResult result = Cli({"play", "--seconds", "3", musicPath});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_THAT(result.Err, ::testing::Not(HasSubstr("dropped")));
    const std::vector<int16_t> heard = ReadPcm(wavPath, 44);
    EXPECT_GE(heard.size(), 2u * 3 * kRate);
    ExpectRenderedSound(heard, Rendered({"--seconds", "4"}), 2 * kRate);
}

TEST_F(PlayCommand, SdlsDiskDriverWritesWhatRenderWrites) {
    const std::string rawPath = dir.Path() + "/heard.raw";
    setenv("OGGMIX_AUDIO", "sdl", 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", rawPath.c_str(), 1);
    const ProgramResult result = Cli({"play", "--seconds", "3", musicPath});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_THAT(result.Err, ::testing::Not(HasSubstr("dropped")));
    ExpectRenderedSound(ReadPcm(rawPath, 0), Rendered({"--seconds", "4"}), 2 * kRate);
}

TEST_F(PlayCommand, NoLoopPlaysEachFileOnceAndEndsByItself) {
    setenv("OGGMIX_AUDIO", ("wav:" + wavPath).c_str(), 1);
    const ProgramResult result = Cli({"play", "--no-loop", musicPath});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const std::vector<int16_t> heard = ReadPcm(wavPath, 44);
    const std::vector<int16_t> rendered = Rendered({"--no-loop"});
    const int64_t musicFrames = DecodeReference(MusicOgg()).PcmTotal;
    ASSERT_GE(rendered.size(), 2u * static_cast<size_t>(musicFrames));
    const Alignment at = Align(heard, rendered);
    ASSERT_TRUE(at.Found);
    EXPECT_GE(at.Match, 2u * static_cast<size_t>(musicFrames)) << "the end was cut";
    EXPECT_TRUE(AllZero(heard.begin() + static_cast<long>(at.Offset + at.Match), heard.end()));
}

TEST_F(PlayCommand, AFileOfAnotherRateIsRefusedWithoutResampleAndHeardAsRenderedWithIt) {
    setenv("OGGMIX_AUDIO", ("wav:" + wavPath).c_str(), 1);
    const std::vector<uint8_t> ogg = EncodeOgg(Music(48000, 2, 1.2, 3));
    const std::string path = dir.Write("music48k.ogg", ogg);
    const ProgramResult refused = Cli({"play", "--no-loop", path});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_THAT(refused.Err, HasSubstr(path + ": would play silence: 48000 Hz"));

    const ProgramResult result = Cli({"play", "--no-loop", "--resample", path});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    const std::vector<int16_t> heard = ReadPcm(wavPath, 44);
    const ProgramResult render =
        Cli({"render", "--no-loop", "--resample", path, "-o", dir.Path() + "/rendered.wav"});
    ASSERT_EQ(render.ExitCode, 0) << render.Err;
    const std::vector<int16_t> rendered = ReadPcm(dir.Path() + "/rendered.wav", 44);
    const auto musicFrames = static_cast<size_t>(DecodeReference(ogg).PcmTotal * 44100 / 48000);
    const Alignment at = Align(heard, rendered);
    ASSERT_TRUE(at.Found);
    EXPECT_GE(at.Match, 2 * musicFrames) << "the end was cut";
}

TEST_F(PlayCommand, SeveralFilesAreMixedIntoSlotsInOrderWithTheMixOptions) {
    const std::string tonePath = dir.Write("tone.ogg", EncodeOgg(Sine(kRate, 2, 0.7, 440.0, 0.2)));
    setenv("OGGMIX_AUDIO", ("wav:" + wavPath).c_str(), 1);
    const std::vector<std::string> options{"--volume", "1:0.5",     "--pan",
                                           "0:-0.5",   "--seconds", "2"};
    std::vector<std::string> args{"play"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {musicPath, tonePath});
    const ProgramResult result = Cli(args);
    ASSERT_EQ(result.ExitCode, 0) << result.Err;

    std::vector<std::string> renderArgs{"render",
                                        "--volume",
                                        "1:0.5",
                                        "--pan",
                                        "0:-0.5",
                                        "--seconds",
                                        "3",
                                        musicPath,
                                        tonePath,
                                        "-o",
                                        dir.Path() + "/rendered.wav"};
    ASSERT_EQ(Cli(renderArgs).ExitCode, 0);
    ExpectRenderedSound(ReadPcm(wavPath, 44), ReadPcm(dir.Path() + "/rendered.wav", 44), kRate);
}

class PlaySignal : public PlayCommand, public ::testing::WithParamInterface<int> {};

TEST_P(PlaySignal, EndsInOrderWithStatusZero) {
    setenv("OGGMIX_AUDIO", ("wav:" + wavPath).c_str(), 1);
    Child play(ExecutableDir() + "/oggmix-cli", {"play", musicPath});
    // Once sound is being written the handlers are in place.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::error_code error;
    while (std::filesystem::file_size(wavPath, error) < 44 + 4 * 4410 || error) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "play never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(play.Stop(GetParam()), 0);
    // The orderly end closed the WAV file: its header counts every byte written.
    const std::vector<uint8_t> bytes = ReadFileBytes(wavPath);
    ASSERT_GE(bytes.size(), 44u);
    const uint32_t dataBytes =
        bytes[40] | bytes[41] << 8 | bytes[42] << 16 | uint32_t{bytes[43]} << 24;
    EXPECT_EQ(dataBytes, bytes.size() - 44);
}

INSTANTIATE_TEST_SUITE_P(IntAndTerm, PlaySignal, ::testing::Values(SIGINT, SIGTERM));

TEST_F(PlayCommand, WithoutADeviceItSaysSoAndNamesTheAlternatives) {
    setenv("OGGMIX_AUDIO", "sdl", 1);
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    const ProgramResult result = Cli({"play", "--seconds", "1", musicPath});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_THAT(result.Err, HasSubstr("cannot open the sound device"));
    EXPECT_THAT(result.Err, HasSubstr("OGGMIX_AUDIO=null"));
    EXPECT_THAT(result.Err, HasSubstr("OGGMIX_AUDIO=wav:PATH"));
}

TEST_F(PlayCommand, AnUnwritableWavPathIsADeviceThatCannotBeOpened) {
    setenv("OGGMIX_AUDIO", ("wav:" + dir.Path() + "/no/such/folder/x.wav").c_str(), 1);
    const ProgramResult result = Cli({"play", "--seconds", "1", musicPath});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_THAT(result.Err, HasSubstr("cannot open the sound device"));
}

TEST_F(PlayCommand, AMissingFileFailsAfterTheDeviceOpened) {
    setenv("OGGMIX_AUDIO", "null", 1);
    const ProgramResult result = Cli({"play", "--seconds", "1", dir.Path() + "/none.ogg"});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_THAT(result.Err, HasSubstr("none.ogg: no such file"));
}

TEST_F(PlayCommand, RenderOnlyOptionsAndBadArgumentsAreUsageErrors) {
    setenv("OGGMIX_AUDIO", "null", 1);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"play"},
                                                 {"play", "-o", "x.wav", musicPath},
                                                 {"play", "--stream", musicPath},
                                                 {"play", "--volume", "1:0.5", musicPath},
                                                 {"play", "--seconds", "-1", musicPath},
                                                 {"play", "--seconds", "x", musicPath},
                                                 {"play", "--seconds", "1e300", musicPath}}) {
        const ProgramResult result = Cli(args);
        EXPECT_EQ(result.ExitCode, 2) << args.size();
        EXPECT_THAT(result.Err, HasSubstr("oggmix-cli play")) << args.size();
    }
}

TEST_F(PlayCommand, EverySubcommandExplainsItselfAndTheTestDeviceIsRefused) {
    for (const std::string command : {"info", "render", "spectrum", "play"}) {
        const ProgramResult help = Cli({command, "-h"});
        EXPECT_EQ(help.ExitCode, 0) << command;
        EXPECT_THAT(help.Out, HasSubstr("oggmix-cli " + command)) << command;
    }
    EXPECT_THAT(Cli({"play", "--help"}).Out, HasSubstr("loops until Ctrl-C"));
    setenv("OGGMIX_AUDIO", "manual", 1);
    const ProgramResult refused = Cli({"play", "--seconds", "1", musicPath});
    EXPECT_EQ(refused.ExitCode, 2);
    EXPECT_THAT(refused.Err, HasSubstr("OGGMIX_AUDIO=manual is the test device"));
}

}  // namespace
}  // namespace oggmix::test
