// The example programs (C++, C and Python): each plays a looping track, cross-fades to another,
// pauses and resumes, into a WAV file; what was heard has the fade-in, the silence of the pause
// and sound again after it, and the positions printed stand still while paused. The README
// shows the programs' code as it stands. A C program that ends with its player open ends
// cleanly, its WAV file complete. The adaptive music examples (C++ and Python) print beats
// that follow the tempo, heard where they say, with the switch and the stinger on bar lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "tests/support/ExampleSet.h"
#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr int64_t kFramesPerSecond = 44100;

// The samples of a 16-bit stereo WAV file, interleaved.
std::vector<int16_t> ReadWavSamples(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t chunkBytes = 0;
        std::memcpy(&chunkBytes, &bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            const size_t end = std::min(bytes.size(), at + 8 + chunkBytes);
            std::vector<int16_t> samples((end - at - 8) / 2);
            std::memcpy(samples.data(), &bytes[at + 8], samples.size() * 2);
            return samples;
        }
        at += 8 + chunkBytes;
    }
    return {};
}

int32_t Peak(const std::vector<int16_t>& samples, int64_t firstFrame, int64_t frames) {
    int32_t peak = 0;
    const auto last =
        std::min<int64_t>(static_cast<int64_t>(samples.size()) / 2, firstFrame + frames);
    for (int64_t f = firstFrame; f < last; ++f)
        for (int c = 0; c < 2; ++c)
            peak = std::max(peak, std::abs(int32_t{samples[static_cast<size_t>(2 * f + c)]}));
    return peak;
}

// The amplitude of the tone of freqHz in the left channel over frames from firstFrame
// (Goertzel), as a fraction of full scale.
double ToneLevel(const std::vector<int16_t>& samples, int64_t firstFrame, int64_t frames,
                 double freqHz) {
    const double w = 2.0 * 3.14159265358979323846 * freqHz / kFramesPerSecond;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0;
    double s2 = 0.0;
    for (int64_t f = firstFrame; f < firstFrame + frames; ++f) {
        const double s0 = samples[static_cast<size_t>(2 * f)] / 32768.0 + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(frames);
}

// The longest run of silent frames after firstFrame: {start, length}.
std::pair<int64_t, int64_t> LongestSilence(const std::vector<int16_t>& samples,
                                           int64_t firstFrame) {
    std::pair<int64_t, int64_t> best{0, 0};
    int64_t runStart = -1;
    const auto frames = static_cast<int64_t>(samples.size()) / 2;
    for (int64_t f = firstFrame; f <= frames; ++f) {
        const bool silent = f < frames && samples[static_cast<size_t>(2 * f)] == 0 &&
                            samples[static_cast<size_t>(2 * f + 1)] == 0;
        if (silent && runStart < 0) runStart = f;
        if (!silent && runStart >= 0) {
            if (f - runStart > best.second) best = {runStart, f - runStart};
            runStart = -1;
        }
    }
    return best;
}

// Runs an example with args: a built program, or a Python one from examples/ on the built
// library and the module in python/.
ProgramResult RunExample(const std::string& name, std::vector<std::string> args) {
    if (!name.ends_with(".py")) return RunProgram(ExecutableDir() + "/" + name, args);
    setenv("OGGMIX_LIBRARY", OGGMIX_C_LIBRARY, 1);
    setenv("PYTHONPATH", OGGMIX_SOURCE_DIR "/python", 1);
    args.insert(args.begin(), OGGMIX_SOURCE_DIR "/examples/" + name);
    ProgramResult run = RunProgram(OGGMIX_PYTHON3, args);
    unsetenv("PYTHONPATH");
    unsetenv("OGGMIX_LIBRARY");
    return run;
}

// A plain Python cannot load a library built with sanitizers: their run time must come first.
bool PythonCannotRunIt(const std::string& name) {
#ifdef OGGMIX_SANITIZED
    return name.ends_with(".py");
#else
    return name.empty();
#endif
}

class ExampleProgram : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleProgram, PlaysFadesPausesAndResumesAsItSays) {
    if (PythonCannotRunIt(GetParam())) GTEST_SKIP() << "a sanitizer build";
    TempDir dir;
    const std::string first = dir.Write("first.ogg", EncodeOgg(Sine(44100, 2, 3.0, 440.0)));
    const std::string second = dir.Write("second.ogg", EncodeOgg(Sine(44100, 2, 3.0, 660.0)));
    const std::string heardPath = dir.Path() + "/heard.wav";
    setenv("OGGMIX_AUDIO", ("wav:" + heardPath).c_str(), 1);
    const ProgramResult run = RunExample(GetParam(), {first, second});
    setenv("OGGMIX_AUDIO", "manual", 1);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;

    double paused = -1.0;
    double still = -1.0;
    double playing = -1.0;
    ASSERT_EQ(std::sscanf(run.Out.c_str(), "paused at %lf s\nstill at %lf s\nplaying at %lf s",
                          &paused, &still, &playing),
              3)
        << run.Out;
    EXPECT_EQ(paused, still);
    EXPECT_GT(paused, 0.0);
    EXPECT_GT(playing, paused);

    const std::vector<int16_t> heard = ReadWavSamples(heardPath);
    const auto sounding = std::find_if(heard.begin(), heard.end(), [](int16_t s) { return s; });
    ASSERT_NE(sounding, heard.end());
    const int64_t onset = (sounding - heard.begin()) / 2;
    // The fade-in: quiet at first, full (the tones peak near 16384) once it is over.
    EXPECT_LT(Peak(heard, onset, 2205), 4000);
    EXPECT_GT(Peak(heard, onset + kFramesPerSecond, 2205), 14000);
    // The cross-fade from the 440 Hz track to the 660 Hz one, over a second from 1.5 s.
    const auto level = [&](double atSec, double freqHz) {
        return ToneLevel(heard, onset + static_cast<int64_t>(atSec * kFramesPerSecond), 4410,
                         freqHz);
    };
    EXPECT_GT(level(1.0, 440.0), 0.4);
    EXPECT_LT(level(1.0, 660.0), 0.02);
    EXPECT_GT(level(2.0, 440.0), 0.1);
    EXPECT_GT(level(2.0, 660.0), 0.1);
    EXPECT_LT(level(2.8, 440.0), 0.02);
    EXPECT_GT(level(2.8, 660.0), 0.4);
    // The pause: half a second of silence (less the fade and up to two blocks), then sound.
    const auto [silenceStart, silenceFrames] = LongestSilence(heard, onset);
    EXPECT_GT(silenceFrames, kFramesPerSecond / 4);
    EXPECT_GT(silenceStart, onset + 2 * kFramesPerSecond);
    EXPECT_GT(Peak(heard, silenceStart + silenceFrames, kFramesPerSecond / 2), 14000);
}

INSTANTIATE_TEST_SUITE_P(CppCAndPython, ExampleProgram,
                         ::testing::Values("play_music", "play_music_c", "play_music.py"));

constexpr int64_t kBeatFrames = 22050;  // 120 beats per minute
constexpr int64_t kBarFrames = 4 * kBeatFrames;

// A 20 ms click of freqHz on every beat, with the tags that give the file its tempo.
std::vector<uint8_t> ClickTrack(double seconds, double freqHz) {
    constexpr int64_t kClickFrames = 882;
    Pcm pcm = Silence(44100, 2, seconds);
    for (int64_t beat = 0; beat < pcm.Frames(); beat += kBeatFrames)
        for (int64_t f = 0; f < kClickFrames && beat + f < pcm.Frames(); ++f) {
            const double decay = 1.0 - static_cast<double>(f) / kClickFrames;
            const auto sample = static_cast<int16_t>(
                26000.0 * decay * std::sin(2.0 * 3.14159265358979323846 * freqHz * f / 44100));
            pcm.Samples[static_cast<size_t>(2 * (beat + f))] = sample;
            pcm.Samples[static_cast<size_t>(2 * (beat + f) + 1)] = sample;
        }
    return EncodeOgg(pcm, {.Comments = {"BPM=120", "BEATSPERBAR=4", "FIRSTBEAT=0"}});
}

struct PrintedBeat {
    int64_t Frame = 0;
    int32_t BeatInBar = 0;  // from 0
};

class AdaptiveExample : public ::testing::TestWithParam<const char*> {};

TEST_P(AdaptiveExample, BeatsFollowTheTempoAndTheChangesLandOnBarLines) {
    if (PythonCannotRunIt(GetParam())) GTEST_SKIP() << "a sanitizer build";
    TempDir dir;
    const std::string explore = dir.Write("explore.ogg", ClickTrack(8.0, 1000.0));
    const std::string combat = dir.Write("combat.ogg", ClickTrack(8.0, 1500.0));
    const std::string drums = dir.Write("drums.ogg", ClickTrack(8.0, 2000.0));
    const std::string stinger = dir.Write("stinger.ogg", EncodeOgg(Sine(44100, 2, 1.5, 660.0)));
    const std::string heardPath = dir.Path() + "/heard.wav";
    setenv("OGGMIX_AUDIO", ("wav:" + heardPath).c_str(), 1);
    const ProgramResult run = RunExample(GetParam(), {explore, combat, drums, stinger});
    setenv("OGGMIX_AUDIO", "manual", 1);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;

    std::vector<PrintedBeat> beats;
    int64_t combatFrame = -1;
    int64_t stingerFrame = -1;
    std::istringstream lines(run.Out);
    for (std::string line; std::getline(lines, line);) {
        int64_t frame = 0;
        int64_t bar = 0;
        int32_t beat = 0;
        double untilSec = 0.0;
        if (std::sscanf(line.c_str(),
                        "beat at frame %" SCNd64 ", %" SCNd64 ".%" SCNd32 ", heard in %lf s",
                        &frame, &bar, &beat, &untilSec) == 4)
            beats.push_back({frame, beat - 1});
        std::sscanf(line.c_str(), "combat from frame %" SCNd64, &combatFrame);
        std::sscanf(line.c_str(), "stinger at frame %" SCNd64, &stingerFrame);
    }
    // A beat both tracks tell on the switch's frame counts once.
    std::sort(beats.begin(), beats.end(), [](auto a, auto b) { return a.Frame < b.Frame; });
    beats.erase(
        std::unique(beats.begin(), beats.end(), [](auto a, auto b) { return a.Frame == b.Frame; }),
        beats.end());
    ASSERT_GE(beats.size(), 8u) << run.Out;
    EXPECT_EQ(beats.front().BeatInBar, 0) << run.Out;
    for (size_t i = 1; i < beats.size(); ++i) {
        EXPECT_EQ(beats[i].Frame - beats[i - 1].Frame, kBeatFrames) << run.Out;
        EXPECT_EQ(beats[i].BeatInBar, (beats[i - 1].BeatInBar + 1) % 4) << run.Out;
    }
    // Asked for a second in, the switch lands on explore's second bar line; the stinger on a
    // later bar line of the combat music.
    EXPECT_EQ(combatFrame, beats.front().Frame + kBarFrames) << run.Out;
    EXPECT_GT(stingerFrame, combatFrame) << run.Out;
    EXPECT_EQ((stingerFrame - combatFrame) % kBarFrames, 0) << run.Out;

    // Output frames count what was heard from the start: the clicks are where the beats said,
    // with silence between them until the stinger's tone comes in on its frame.
    const std::vector<int16_t> heard = ReadWavSamples(heardPath);
    for (const PrintedBeat& beat : beats) {
        EXPECT_GT(Peak(heard, beat.Frame, 441), 8000) << "beat at " << beat.Frame;
        if (beat.Frame + kBeatFrames <= stingerFrame) {
            EXPECT_LT(Peak(heard, beat.Frame + kBeatFrames / 2, 441), 2000)
                << "after the beat at " << beat.Frame;
        }
    }
    EXPECT_LT(ToneLevel(heard, stingerFrame - 6615, 4410, 660.0), 0.02);
    EXPECT_GT(ToneLevel(heard, stingerFrame + 2205, 4410, 660.0), 0.1);
}

INSTANTIATE_TEST_SUITE_P(CppAndPython, AdaptiveExample,
                         ::testing::Values("adaptive_music", "adaptive_music.py"));

// The header's sizes are those of the file (it was finished, not cut off), and the half second
// played is in it.
void ExpectFinishedWavWithMusic(const std::string& heardPath) {
    const std::vector<uint8_t> bytes = ReadFileBytes(heardPath);
    const std::string_view data = "data";
    const auto dataChunk = std::search(bytes.begin(), bytes.end(), data.begin(), data.end());
    ASSERT_LE(dataChunk + 8, bytes.end());
    uint32_t riffBytes = 0;
    uint32_t dataBytes = 0;
    std::memcpy(&riffBytes, &bytes[4], 4);
    std::memcpy(&dataBytes, &*(dataChunk + 4), 4);
    EXPECT_EQ(riffBytes + 8, bytes.size());
    EXPECT_EQ(dataChunk + 8 + dataBytes, bytes.end());
    const std::vector<int16_t> heard = ReadWavSamples(heardPath);
    // The sine peaks near 16384.
    EXPECT_GT(static_cast<int64_t>(heard.size()) / 2, kFramesPerSecond / 4);
    EXPECT_GT(Peak(heard, 0, static_cast<int64_t>(heard.size()) / 2), 14000);
}

TEST(ExitWithPlayerOpen, ThePlayerIsClosedAtExitWithItsWavFileComplete) {
    TempDir dir;
    const std::string music = dir.Write("music.ogg", EncodeOgg(Sine(44100, 2, 3.0, 440.0)));
    const std::string heardPath = dir.Path() + "/heard.wav";
    const ProgramResult run =
        RunProgram(ExecutableDir() + "/exit_with_player_open", {"wav:" + heardPath, music});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "left open\n");
    ExpectFinishedWavWithMusic(heardPath);
}

TEST(ExitWithPlayerOpen, AGlobalPlayerEndsCleanlyWhenTheProgramCallsExit) {
    TempDir dir;
    const std::string music = dir.Write("music.ogg", EncodeOgg(Sine(44100, 2, 3.0, 440.0)));
    const std::string heardPath = dir.Path() + "/heard.wav";
    setenv("OGGMIX_AUDIO", ("wav:" + heardPath).c_str(), 1);
    const ProgramResult run = RunProgram(ExecutableDir() + "/global_player", {music});
    setenv("OGGMIX_AUDIO", "manual", 1);
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "left open\n");
    ExpectFinishedWavWithMusic(heardPath);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The body of the first ```language block after heading in text.
std::string CodeBlock(const std::string& text, const std::string& heading,
                      const std::string& language) {
    const size_t section = text.find("\n" + heading + "\n");
    if (section == std::string::npos) return "(no section " + heading + ")";
    const std::string fence = "\n```" + language + "\n";
    const size_t start = text.find(fence, section);
    if (start == std::string::npos) return "(no " + language + " block)";
    const size_t end = text.find("\n```\n", start + fence.size());
    return text.substr(start + fence.size(), end - start - fence.size() + 1);
}

TEST(ReadmeExamples, TheReadmeShowsTheProgramsAndTheConsumerAsTheyAre) {
    const std::string source = OGGMIX_SOURCE_DIR;
    const std::string readme = ReadText(source + "/README.md");
    const std::string heading = "## Play music in your game";
    EXPECT_EQ(readme.find("\n## "), readme.find("\n" + heading + "\n"))
        << "the README opens with " << heading;
    EXPECT_EQ(CodeBlock(readme, heading, "cpp"), ReadText(source + "/examples/play_music.cpp"));
    EXPECT_EQ(CodeBlock(readme, heading, "c"), ReadText(source + "/examples/play_music.c"));
    EXPECT_EQ(CodeBlock(readme, heading, "python"), ReadText(source + "/examples/play_music.py"));
    EXPECT_EQ(CodeBlock(readme, heading, "cmake"),
              ReadText(source + "/tests/install/consumer/CMakeLists.txt"));
    EXPECT_EQ(CodeBlock(readme, "## Interactive music", "cpp"),
              ReadText(source + "/examples/adaptive_music.cpp"));
    // The tests load this set: the README shows one that loads.
    EXPECT_EQ(CodeBlock(readme, "## Music sets", "json"), ExampleSetJson());
}

}  // namespace
}  // namespace oggmix::test
