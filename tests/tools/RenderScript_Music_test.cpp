// oggmix-cli render --script, what it renders: scheduled transitions land on the frame their grid
// gives (bar lines at random moments, an hour into a track, a loop end), layers stay together
// through thousands of volume changes, beat events name the frames of the beats heard, and an
// equal-power cross-fade keeps the level. Every output is checked against plain decodes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/LongOgg.h"
#include "tests/support/OggFixture.h"
#include "tests/tools/PlaySupport.h"
#include "tests/tools/ScriptSupport.h"

namespace oggmix::test {
namespace {

constexpr int64_t kBpm = 137;
constexpr int64_t kBeatsPerBar = 4;
constexpr uint32_t kSeed = 20240611;

class RenderScriptMusic : public ScriptTest {
protected:
    static void SetUpTestSuite() { std::printf("seed %u\n", kSeed); }
};

// 1000 bar-quantised cuts, each asked for at a random moment after the one before: from a track
// an hour in, then back and forth between a click track and noise (whose first beat is late).
TEST_F(RenderScriptMusic, BarTransitionsAtRandomMomentsCutExactlyOnTheBarLine) {
    constexpr int64_t kHourFrame = 3600 * kRateHz;
    constexpr int64_t kTrackFrames = 3 * kRateHz;
    const int64_t barFrames = BeatFrame(kBeatsPerBar, kBpm, 0);
    const LongOgg hour =
        MakeLongOgg(44100, 2, {kHourFrame + kRateHz, kHourFrame + 3 * kRateHz}, {});
    dir.Write("hour.ogg", hour.Ogg);
    ReferenceReader hourReader(hour.Ogg);
    hourReader.SeekFrame(kHourFrame);
    const std::vector<int16_t> hourRef = Heard(hourReader.Read(2 * barFrames));
    const std::vector<int16_t> click = Track("click.ogg", ClickTrack(kTrackFrames, kBpm, 0));
    const std::vector<int16_t> noise = Track("noise.ogg", Noise(44100, 2, 3.0, kSeed, 0.3));

    struct Playing {
        std::string Name;
        const std::vector<int16_t>* Reference;
        int64_t FirstBeat;
    };
    const Playing hourTrack{"hour", &hourRef, 777}, clickTrack{"click", &click, 0},
        noiseTrack{"noise", &noise, 6000};
    std::string plan =
        "0 load hour hour.ogg\n0 load click click.ogg\n0 load noise noise.ogg\n"
        "0 tempo hour 137 4 777\n0 tempo click 137 4 0\n0 tempo noise 137 4 6000\n"
        "0 play hour\n0 seek hour 3600\n";
    // The hour track's reference starts at the hour: its grid is shifted to match.
    std::vector<Segment> segments = {{&hourRef, 0, 0}};
    Playing from = hourTrack;
    int64_t fromSource = kHourFrame, fromOutput = 0;  // from's frame fromSource heard there
    std::mt19937 random(kSeed);
    for (int request = 0; request < 1000; ++request) {
        const Playing& to = from.Name == "noise" ? clickTrack : noiseTrack;
        const int64_t asked =
            fromOutput + std::uniform_int_distribution<int64_t>(1, barFrames - 1)(random);
        const int64_t source = fromSource + (asked - fromOutput);
        const int64_t landing =
            fromOutput + BarAtOrAfter(source, kBpm, kBeatsPerBar, from.FirstBeat) - fromSource;
        ASSERT_EQ(std::llround(std::strtod(PlanTime(asked).c_str(), nullptr) * kRateHz), asked);
        plan +=
            PlanTime(asked) + " transition " + from.Name + " " + to.Name + " when=bar to=start\n";
        segments.push_back({to.Reference, 0, landing});
        from = to;
        fromSource = 0;
        fromOutput = landing;
    }
    plan += PlanTime(fromOutput + barFrames / 2) + " end\n";
    ExpectSegments(Render(plan), segments);
}

// A loop end a pass after the request: the loop is played once more, then the cut.
TEST_F(RenderScriptMusic, LoopEndTransitionCutsWhereTheLoopWouldJumpBack) {
    constexpr int64_t kStart = 22050, kEnd = 66150;
    const std::vector<int16_t> looped =
        Track("looped.ogg", Music(44100, 2, 2.0), {"COMMENT=*loopsample,0,22050,66150,-1"});
    const std::vector<int16_t> next = Track("next.ogg", Noise(44100, 2, 1.0, kSeed, 0.3));
    const int64_t asked = kEnd + 10000;  // in the second pass of the loop
    const int64_t landing = kEnd + (kEnd - kStart);
    const std::vector<int16_t> out =
        Render("0 load looped looped.ogg\n0 load next next.ogg\n0 play looped\n" + PlanTime(asked) +
               " transition looped next when=loopend\n" + PlanTime(landing + 20000) + " end\n");
    ExpectSegments(out, {{&looped, 0, 0}, {&looped, kStart, kEnd}, {&next, 0, landing}});
}

// Two layers of one piece at half volume each; one of them changed 10000 times over 100 loops.
TEST_F(RenderScriptMusic, LayersBackAtHalfVolumeSumToThePieceWithoutDrift) {
    constexpr int64_t kLoopFrames = 22050, kLoops = 100, kRestore = kLoops * kLoopFrames;
    const std::vector<int16_t> piece = Track("piece.ogg", Noise(44100, 2, 0.5, kSeed, 0.25));
    ASSERT_EQ(piece.size(), 2u * kLoopFrames);
    std::string plan =
        "0 load a piece.ogg\n0 load b piece.ogg\n0 layer g a b\n0 volume a 0.5\n0 volume b 0.5\n"
        "0 play g\n";
    std::mt19937 random(kSeed);
    std::vector<int64_t> moments(10000);
    for (int64_t& moment : moments)
        moment = std::uniform_int_distribution<int64_t>(1, kRestore - 1)(random);
    std::sort(moments.begin(), moments.end());
    for (const int64_t moment : moments) {
        const int choice = std::uniform_int_distribution<int>(0, 3)(random);
        const double volume =
            choice == 0 ? 0.0 : std::uniform_real_distribution<double>(0.0, 1.5)(random);
        plan += PlanTime(moment) + " volume b " + std::to_string(volume);
        if (choice == 1) plan += " fade=0.01";
        plan += '\n';
    }
    plan += PlanTime(kRestore) + " volume a 0.5\n" + PlanTime(kRestore) + " volume b 0.5\n" +
            PlanTime(kRestore + 2 * kLoopFrames) + " end\n";
    const std::vector<int16_t> out = Render(plan);
    ASSERT_EQ(out.size(), 2u * (kRestore + 2 * kLoopFrames));
    for (size_t i = 2 * kRestore; i < out.size(); ++i) {
        ASSERT_NEAR(out[i], piece[i % piece.size()], 1) << "output frame " << i / 2;
    }
}

// Beats (and bars on the downbeats) through the loop of a track a fraction of a bar long.
TEST_F(RenderScriptMusic, BeatEventsAreOnTheFramesOfTheClicksHeard) {
    constexpr int64_t kTrackFrames = 101111, kFrames = 8 * kRateHz;
    Track("click.ogg", ClickTrack(kTrackFrames, kBpm, 0));
    Render("0 load click click.ogg\n0 tempo click 137 4 0\n0 play click\n8 end\n", true);
    std::vector<int64_t> beats, bars;
    for (int64_t pass = 0; pass * kTrackFrames < kFrames; ++pass) {
        for (int64_t k = 0; BeatFrame(k, kBpm, 0) < kTrackFrames; ++k) {
            const int64_t frame = pass * kTrackFrames + BeatFrame(k, kBpm, 0);
            if (frame >= kFrames) break;
            beats.push_back(frame);
            if (k % kBeatsPerBar == 0) bars.push_back(frame);
        }
    }
    const std::vector<uint8_t> text = ReadFileBytes(dir.Path() + "/events.txt");
    std::istringstream events(std::string(text.begin(), text.end()));
    std::vector<int64_t> beatEvents, barEvents;
    int64_t frame = 0;
    std::string kind, name, detail;
    while (events >> frame >> kind >> name >> detail) {
        if (kind == "beat") beatEvents.push_back(frame);
        if (kind == "bar") barEvents.push_back(frame);
        if (kind == "beat" || kind == "bar") {
            EXPECT_EQ(name, "click");
        }
    }
    EXPECT_EQ(beatEvents, beats);
    EXPECT_EQ(barEvents, bars);
}

double Power(const std::vector<int16_t>& samples, int64_t frame, int64_t frames) {
    double sum = 0.0;
    for (int64_t i = 2 * frame; i < 2 * (frame + frames); ++i) {
        const auto sample = static_cast<double>(samples[i]);
        sum += sample * sample;
    }
    return sum / static_cast<double>(2 * frames);
}

// Uncorrelated noise in and out: the sum of an equal-power fade holds the tracks' own level.
TEST_F(RenderScriptMusic, EqualPowerCrossFadeKeepsTheLevelWithinAFifthOfADecibel) {
    constexpr int64_t kAt = kRateHz, kFadeFrames = 2 * kRateHz, kWindow = 8192;
    const std::vector<int16_t> first = Track("first.ogg", Noise(44100, 2, 4.0, kSeed, 0.3));
    const std::vector<int16_t> second = Track("second.ogg", Noise(44100, 2, 4.0, kSeed + 1, 0.3));
    const std::vector<int16_t> out = Render(
        "0 load first first.ogg\n0 load second second.ogg\n0 play first\n1 transition first "
        "second when=now fade=2 shape=power\n4 end\n");
    ASSERT_EQ(out.size(), 2u * 4 * kRateHz);
    for (int64_t w = kAt; w + kWindow <= kAt + kFadeFrames; w += kWindow) {
        const double own = (Power(first, w, kWindow) + Power(second, w - kAt, kWindow)) / 2.0;
        const double db = 10.0 * std::log10(Power(out, w, kWindow) / own);
        EXPECT_NEAR(db, 0.0, 0.2) << "window at output frame " << w;
    }
}

}  // namespace
}  // namespace oggmix::test
