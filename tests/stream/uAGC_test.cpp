// uAGC_test.cpp: the gain control's fall, rise, quiet pull, limits and settings.
#include "stream/uAGC.h"

#include "stream/OggDataLib.h"
#include "tests/stream/StreamTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace oggmix {
namespace {

constexpr int32_t kInterval = 12288;  // samples

int32_t Bytes(const std::vector<int16_t>& samples) {
    return static_cast<int32_t>(samples.size() * sizeof(int16_t));
}

// Runs `count` copies of `value` through the control in one call and returns the output.
std::vector<int16_t> Feed(TAGC& agc, int16_t value, int32_t count) {
    std::vector<int16_t> samples(static_cast<size_t>(count), value);
    agc.Process(samples.data(), Bytes(samples));
    return samples;
}

int16_t FeedOne(TAGC& agc, int16_t value) { return Feed(agc, value, 1)[0]; }

TEST(AGCOff, TargetNotAboveTheQuietLevelLeavesSamplesAndCountersAlone) {
    for (int32_t target : {0, 800}) {
        TAGC agc;
        agc.Target = target;
        const std::vector<int16_t> in{-32768, 32767, 0, 31000, -5, 12000};
        std::vector<int16_t> out = in;
        agc.Process(out.data(), Bytes(out));
        EXPECT_EQ(out, in) << target;
        EXPECT_EQ(agc.Gain, 1.0f);
        EXPECT_EQ(agc.RiseCount, 0);
        EXPECT_EQ(agc.QuietRun, 0);
        EXPECT_EQ(agc.RisePeak, 0);
    }
}

TEST(AGCFall, ASampleOverTheTargetPassesUnlimitedBelow32760AndLowersTheGain) {
    TAGC agc;  // target 30000, gain 1.0
    EXPECT_EQ(FeedOne(agc, 31000), 31000);
    EXPECT_NEAR(agc.Gain, 1.0 - 0.05 * 31000.0 / 30000.0, 1e-6);
    // The next sample is scaled with the lowered gain, truncated toward zero.
    const float gain = agc.Gain;
    EXPECT_EQ(FeedOne(agc, -10001), static_cast<int16_t>(-10001.0 * gain));
    EXPECT_LT(FeedOne(agc, -10001), -9000);
}

TEST(AGCFall, LoudSamplesAreLimitedTo32760EitherWay) {
    TAGC agc;
    EXPECT_EQ(FeedOne(agc, -32768), -32760);
    TAGC other;
    EXPECT_EQ(FeedOne(other, 32767), 32760);
    EXPECT_NEAR(other.Gain, 1.0 - 0.05 * 32767.0 / 30000.0, 1e-6)
        << "the fall uses the magnitude before the limit";
}

TEST(AGCRise, TheGainRisesOnThe12289thBelowTargetSampleAfterAChange) {
    TAGC agc;
    FeedOne(agc, 31000);  // a change: counters restart
    const float lowered = agc.Gain;
    Feed(agc, 10000, kInterval);
    EXPECT_EQ(agc.Gain, lowered);
    const auto peak = static_cast<int32_t>(10000.0 * lowered);
    EXPECT_EQ(agc.RisePeak, peak);
    FeedOne(agc, 10000);
    EXPECT_NEAR(agc.Gain, lowered + 0.05 * 30000.0 / peak, 1e-6);
    EXPECT_EQ(agc.RiseCount, 0);
    EXPECT_EQ(agc.RisePeak, 0);
}

TEST(AGCRise, TheStepFollowsTheRatioOfTargetToPeak) {
    struct Case {
        int16_t sample;
        double rise;
    };
    for (const Case c : {Case{15000, 0.1}, Case{27000, 0.0556}}) {
        TAGC agc;
        Feed(agc, c.sample, kInterval + 1);
        EXPECT_NEAR(agc.Gain, 1.0 + c.rise, 1e-4) << c.sample;
    }
}

TEST(AGCQuiet, ALongQuietPassageHalvesTheDistanceToOneOnEveryFurtherSample) {
    TAGC agc;
    agc.Gain = 0.5f;
    Feed(agc, 0, kInterval);
    EXPECT_EQ(agc.Gain, 0.5f) << "no step before both counts exceed the interval";
    FeedOne(agc, 0);
    EXPECT_FLOAT_EQ(agc.Gain, 0.75f);
    Feed(agc, 0, 7);
    EXPECT_GT(1.0f - agc.Gain, 0.001f) << "eight steps are not yet enough";
    FeedOne(agc, 0);
    EXPECT_LT(1.0f - agc.Gain, 0.001f) << "nine steps are";
}

TEST(AGCQuiet, TheQuietTestLooksAtTheInputBeforeTheGain) {
    TAGC agc;
    agc.Gain = 0.01f;  // 1000 comes out as 10, yet it is not quiet
    Feed(agc, 1000, kInterval + 1);
    EXPECT_EQ(agc.QuietRun, 0);
    EXPECT_GT(agc.Gain, 0.01f + 1.0f) << "a rise from the peak of 10, not a quiet pull";
}

TEST(AGCState, ResetGainRestoresTheInitialGainAndKeepsTheCounters) {
    TAGC agc;
    Feed(agc, 10000, 100);
    FeedOne(agc, 31000);
    Feed(agc, 10000, 50);
    agc.InitialGain = 0.75f;
    agc.ResetGain();
    EXPECT_EQ(agc.Gain, 0.75f);
    EXPECT_EQ(agc.RiseCount, 50);
    EXPECT_GT(agc.RisePeak, 0);
    agc.Reset();
    EXPECT_EQ(agc.Gain, 0.75f);
    EXPECT_EQ(agc.RiseCount, 0);
    EXPECT_EQ(agc.RisePeak, 0);
    EXPECT_EQ(agc.QuietRun, 0);
}

TEST(AGCState, ChunkBoundariesDoNotChangeTheResult) {
    std::vector<int16_t> signal;
    for (int i = 0; i < 40000; ++i) {
        const int16_t loud = (i / 3000) % 3 == 0 ? 31500 : 9000;
        signal.push_back(static_cast<int16_t>(i % 2 == 0 ? loud : -loud / 2));
    }
    TAGC whole;
    std::vector<int16_t> once = signal;
    whole.Process(once.data(), Bytes(once));

    TAGC pieces;
    std::vector<int16_t> split = signal;
    size_t at = 0;
    for (size_t piece = 1; at < split.size(); piece = piece * 3 % 2047 + 1) {
        const size_t n = std::min(piece, split.size() - at);
        pieces.Process(split.data() + at, static_cast<int32_t>(n * sizeof(int16_t)));
        at += n;
    }
    EXPECT_EQ(split, once);
    EXPECT_EQ(pieces.Gain, whole.Gain);
}

TEST(AGCState, AnOddByteCountLeavesTheHalfSampleAlone) {
    TAGC agc;
    agc.Gain = 0.5f;
    std::vector<int16_t> samples{1000, 1000};
    agc.Process(samples.data(), 3);
    EXPECT_EQ(samples[0], 500);
    EXPECT_EQ(samples[1], 1000);
}

// Cases outside the usual settings: the control must stay sane rather than invert, wrap or
// stall.

TEST(AGCLimits, ASmallTargetCannotDriveTheGainBelowZero) {
    TAGC agc;
    agc.Target = 1000;  // below 0.05 x 32768: one loud sample would overshoot zero
    EXPECT_EQ(FeedOne(agc, 32767), 32760);
    EXPECT_EQ(agc.Gain, 0.0f);
    const std::vector<int16_t> after = Feed(agc, 32767, 10);
    for (int16_t s : after) EXPECT_EQ(s, 0) << "the signal is silenced, never inverted";
}

TEST(AGCLimits, AGainStuckAtZeroComesBackHalfWayOncePerInterval) {
    TAGC agc;
    agc.Gain = 0.0f;
    Feed(agc, 10000, kInterval);
    EXPECT_EQ(agc.Gain, 0.0f);
    FeedOne(agc, 10000);
    EXPECT_FLOAT_EQ(agc.Gain, 0.5f);
    EXPECT_EQ(FeedOne(agc, 10000), 5000);
    Feed(agc, 2000, kInterval - 2);
    EXPECT_FLOAT_EQ(agc.Gain, 0.5f) << "the next rise waits for a whole interval";
}

TEST(AGCLimits, ABelowTargetSampleBeyond16BitsSaturates) {
    TAGC agc;
    agc.Target = 100000;  // above full scale: nothing ever reaches it
    agc.Gain = 2.0f;
    EXPECT_EQ(FeedOne(agc, 30000), 32767);
    EXPECT_EQ(FeedOne(agc, -30000), -32768);
}

TEST(AGCLimits, AnInfiniteOrNaNGainGivesBoundedSamples) {
    TAGC agc;
    agc.Target = 100000;
    agc.Gain = std::numeric_limits<float>::infinity();
    EXPECT_EQ(FeedOne(agc, 3), 32760);
    EXPECT_EQ(FeedOne(agc, -3), -32760);
    agc.Gain = std::numeric_limits<float>::quiet_NaN();
    const int16_t out = FeedOne(agc, 3);
    EXPECT_GE(out, -32768);
    EXPECT_LE(out, 32767);
}

// The stream's settings.

TEST(AGCSettings, ANewStreamHasTheControlOffAtUnityGain) {
    TOggData stream(65536);
    EXPECT_LE(stream.AGC().Target, stream.AGC().QuietLevel);
    EXPECT_EQ(stream.AGC().Gain, 1.0f);
}

TEST(AGCSettings, LevelsMapToTargetsThatSwitchTheControlOnAbove800) {
    struct Case {
        float level;
        int32_t target;
        bool on;
    };
    for (const Case c : {Case{0.0f, 0, false}, Case{0.02f, 600, false}, Case{0.027f, 810, true},
                         Case{0.1f, 3000, true}, Case{1.0f, 30000, true},
                         Case{std::numeric_limits<float>::quiet_NaN(), 0, false}}) {
        TOggData stream(65536);
        stream.SetAGC(c.level);
        EXPECT_EQ(stream.AGC().Target, c.target) << c.level;
        EXPECT_EQ(stream.AGC().Target > stream.AGC().QuietLevel, c.on) << c.level;
        EXPECT_EQ(stream.AGC().QuietLevel, 800);
        EXPECT_EQ(stream.AGC().AdjustRate, 0.05f);
    }
}

TEST(AGCSettings, SetAGCParamsRestartsFromTheInitialGain) {
    TOggData stream(65536);
    stream.SetAGCParams(20000, 100, 0.25f, 0.1f);
    EXPECT_EQ(stream.AGC().Target, 20000);
    EXPECT_EQ(stream.AGC().QuietLevel, 100);
    EXPECT_EQ(stream.AGC().Gain, 0.25f);
    EXPECT_EQ(stream.AGC().AdjustRate, 0.1f);
}

TEST(AGCSettings, CloseSwitchesTheControlOffAndResetsIt) {
    TOggData stream(65536);
    stream.SetAGCParams(20000, 100, 0.25f, 0.1f);
    stream.Close();
    EXPECT_LE(stream.AGC().Target, stream.AGC().QuietLevel);
    EXPECT_EQ(stream.AGC().Gain, 1.0f);
    EXPECT_EQ(stream.AGC().RiseCount, 0);
}

// In the render path: after the filter, before the volume stage.

TEST(AGCRender, SetAGCWhileRunningRestoresUnityGainAndKeepsTheRiseCount) {
    test::TestStream s = test::MakeStream(test::Sine(44100, 2, 1.0, 440.0, 0.3));
    s.Data->SetAGC(1.0f);
    s.Data->Play(true, true);
    ASSERT_GT(s.Data->RenderNext(0), 0);  // 16384 samples: one rise after 12289 of them
    EXPECT_GT(s.Data->AGC().Gain, 1.1f);
    const int32_t riseCount = s.Data->AGC().RiseCount;
    EXPECT_EQ(riseCount, 2 * test::kBlockFrames - (kInterval + 1));
    s.Data->SetAGC(1.0f);
    EXPECT_EQ(s.Data->AGC().Gain, 1.0f);
    EXPECT_EQ(s.Data->AGC().RiseCount, riseCount);
}

TEST(AGCRender, TheControlSeesSamplesBeforeTheVolumeScalesThem) {
    test::TestStream s = test::MakeStream(test::Sine(44100, 2, 1.0, 440.0, 0.95));
    s.Data->SetVolume(0.5f);
    s.Data->SetAGC(0.9f);  // target 27000: reached by the decoded tone, not by half of it
    s.Data->Play(true, true);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    EXPECT_LT(s.Data->AGC().Gain, 1.0f);
    const int32_t* block = s.Data->GetBlock();
    for (int32_t i = 0; i < 2 * test::kBlockFrames; ++i)
        ASSERT_LE(std::abs(block[i]), 32760 / 2) << i;
}

}  // namespace
}  // namespace oggmix
