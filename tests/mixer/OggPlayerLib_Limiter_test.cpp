// The mix limiter, driven through OnMix one group (32 frames) or one block at a time:
// defaults, fixed gains, the rise, hold and fall of the envelope, settings, the peak meter,
// and settings or mixes far outside the usual range.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "mixer/OggPlayerLib.h"
#include "tests/mixer/MixerTestSupport.h"

namespace oggmix::test {
namespace {

bool WithinOutputRange(const std::vector<int16_t>& out) {
    for (int16_t sample : out) {
        if (sample < -32767) return false;
    }
    return true;
}

class OggPlayerLimiter : public ::testing::Test {
protected:
    TOggPlayer player{kMixerBufferBytes, kMixerSlots};
};

TEST_F(OggPlayerLimiter, DefaultsPassAMixWithinFullScaleUnchanged) {
    const uint32_t seed = 20240611;
    std::printf("seed %u\n", seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int32_t> sample(-32767, 32767);
    std::vector<int32_t> mix(kBlockSamples);
    for (int32_t& value : mix) value = sample(random);
    mix[100] = 32767;
    mix[101] = -32767;

    for (int block = 0; block < 3; ++block) {
        const std::vector<int16_t> out = FillWithMix(player, mix);
        ASSERT_EQ(out, std::vector<int16_t>(mix.begin(), mix.end())) << "block " << block;
    }
    EXPECT_EQ(player.GetLimiterLevel(), 32767);
}

TEST_F(OggPlayerLimiter, FirstGroupOfANewMixerRaisesTheEnvelopeToTheLowerBound) {
    EXPECT_EQ(player.GetLimiterLevel(), 0);
    EXPECT_EQ(FillWithMix(player, ConstantGroup(3)), std::vector<int16_t>(64, 3));
    EXPECT_EQ(player.GetLimiterLevel(), 32767);
}

TEST_F(OggPlayerLimiter, EqualBoundsAtFullScaleScaleNothingAndTheSumIsClipped) {
    player.SetLimiter(32767, 32767, 1, 1, -1);
    const std::vector<int16_t> out = FillWithMix(player, {40000, -40000, 20000, -20000});
    EXPECT_EQ(out, (std::vector<int16_t>{32767, -32767, 20000, -20000}));
    EXPECT_EQ(player.GetLimiterLevel(), 32767);
    EXPECT_EQ(player.Peak(), 0);  // a fixed gain keeps no peak meter
}

TEST_F(OggPlayerLimiter, EqualBoundsGiveAFixedGainTruncatedTowardZero) {
    player.SetLimiter(16384, 16384, 1, 1, -1);  // 8388352 div 16384 = 511
    const std::vector<int16_t> out = FillWithMix(player, {1000, -1000, 1, -1, 0, 20000});
    EXPECT_EQ(out, (std::vector<int16_t>{1996, -1996, 1, -1, 0, 32767}));
}

TEST_F(OggPlayerLimiter, AGroupBeyondFullScaleRaisesTheEnvelopeThreeQuartersOfTheWay) {
    FillWithMix(player, ConstantGroup(0));
    ASSERT_EQ(player.GetLimiterLevel(), 32767);

    std::vector<int32_t> loud = ConstantGroup(1000);
    loud[7] = 65534;
    loud[8] = -65534;
    const std::vector<int16_t> out = FillWithMix(player, loud);
    // (8388352 + 65534 x 768) div 4 = 14679616: 57342; gain 8388352 div 57342 = 146.
    EXPECT_EQ(player.GetLimiterLevel(), 57342);
    EXPECT_EQ(out[0], 570);    // 1000 x 146 / 256
    EXPECT_EQ(out[7], 32767);  // 37374, clipped
    EXPECT_EQ(out[8], -32767);
    EXPECT_EQ(player.Peak(), 65534);
}

TEST_F(OggPlayerLimiter, LoudMixIsScaledToFitJustWithinFullScale) {
    std::vector<int32_t> loud(kBlockSamples);
    for (size_t i = 0; i < loud.size(); ++i) loud[i] = (i % 64 < 32 ? 60000 : -60000);
    std::vector<int16_t> out;
    for (int block = 0; block < 4; ++block) out = FillWithMix(player, loud);
    // The envelope approaches the peak from below (each rise truncates).
    EXPECT_GE(player.GetLimiterLevel(), 59990);
    EXPECT_LE(player.GetLimiterLevel(), 60000);
    for (int16_t sample : out) {
        const int32_t magnitude = sample < 0 ? -sample : sample;
        ASSERT_GT(magnitude, 32000);
        ASSERT_LT(magnitude, 32767);  // scaled, not clipped
    }
}

TEST_F(OggPlayerLimiter, LastGroupOfAFillHoldsTheRemainingFrames) {
    FillWithMix(player, ConstantGroup(0));
    // 33 frames: one group of 32 quiet frames, then a group of one loud frame, which alone is
    // scaled.
    std::vector<int32_t> mix = ConstantGroup(1000);
    mix.push_back(65534);
    mix.push_back(1000);
    const std::vector<int16_t> out = FillWithMix(player, mix);
    EXPECT_EQ(out[0], 1000);
    EXPECT_EQ(out[63], 1000);
    EXPECT_EQ(out[65], 570);
    // The next Fill starts its groups at its own frame 0, with the raised envelope.
    EXPECT_EQ(FillWithMix(player, {1000, 1000})[0], 570);
}

TEST_F(OggPlayerLimiter, EnvelopeHoldsThenFallsByDownPerGroupToTheLowerBound) {
    const int32_t holdGroups = 5;
    player.SetLimiter(10000, 65534, 2560, holdGroups * 32 + 31, 20000);

    // The envelope stays put for holdGroups + 1 quiet groups...
    for (int group = 0; group <= holdGroups; ++group) {
        FillWithMix(player, ConstantGroup(100));
        ASSERT_EQ(player.GetLimiterLevel(), 20000) << "quiet group " << group;
    }
    // ...then falls by 2560 / 256 = 10 per group until it reaches the lower bound.
    int32_t previous = 20000;
    int falls = 0;
    while (previous > 10000) {
        FillWithMix(player, ConstantGroup(100));
        const int32_t level = player.GetLimiterLevel();
        ASSERT_EQ(level, previous - 10);
        previous = level;
        ++falls;
    }
    EXPECT_EQ(falls, 1000);
    FillWithMix(player, ConstantGroup(100));
    EXPECT_EQ(player.GetLimiterLevel(), 10000);
}

TEST_F(OggPlayerLimiter, ARiseDuringTheFallRestartsTheHold) {
    player.SetLimiter(10000, 65534, 2560, 2 * 32, 20000);  // hold: 2 groups
    for (int group = 0; group < 13; ++group) FillWithMix(player, ConstantGroup(0));
    const int32_t falling = player.GetLimiterLevel();
    ASSERT_EQ(falling, 20000 - 10 * 10);

    FillWithMix(player, ConstantGroup(30000));  // rises
    const int32_t risen = player.GetLimiterLevel();
    ASSERT_GT(risen, falling);
    for (int group = 0; group < 3; ++group) {
        FillWithMix(player, ConstantGroup(0));
        EXPECT_EQ(player.GetLimiterLevel(), risen);
    }
    FillWithMix(player, ConstantGroup(0));
    EXPECT_EQ(player.GetLimiterLevel(), risen - 10);
}

TEST_F(OggPlayerLimiter, QuietMixIsRaisedWhenTheEnvelopeSettlesAtALowerBound) {
    player.SetLimiter(26213, 65534, 500, 44100, -1);
    FillWithMix(player, ConstantGroup(0));
    EXPECT_EQ(player.GetLimiterLevel(), 26213);
    // 8388352 div 26213 = 320: 1.25 x.
    EXPECT_EQ(FillWithMix(player, {1000, -1000, 4, -3}),
              (std::vector<int16_t>{1250, -1250, 5, -3}));
}

TEST_F(OggPlayerLimiter, MinimumAboveMaximumRaisesTheMaximumAndBadTimesBecomeOne) {
    player.SetLimiter(30000, 20000, 0, 0, -1);
    EXPECT_EQ(player.MinLevel(), 30000);
    EXPECT_EQ(player.MaxLevel(), 30000);
    EXPECT_EQ(player.Down(), 1);
    EXPECT_EQ(player.Delay(), 1);
    // Equal bounds: a fixed gain of 8388352 div 30000 = 279.
    EXPECT_EQ(FillWithMix(player, {10000, 0})[0], 10898);
}

TEST_F(OggPlayerLimiter, LevelRestartsTheEnvelopeButNotBelowTheLowerBound) {
    player.SetLimiter(26213, 65534, 500, 44100, 20000);
    EXPECT_EQ(player.GetLimiterLevel(), 26213);
    player.SetLimiter(26213, 65534, 500, 44100, 40000);
    EXPECT_EQ(player.GetLimiterLevel(), 40000);
    player.SetLimiter(32767, 65534, 500, 44100, -1);  // -1 keeps the envelope
    EXPECT_EQ(player.GetLimiterLevel(), 40000);
}

TEST_F(OggPlayerLimiter, LevelRestartAlsoRestartsTheHold) {
    player.SetLimiter(10000, 65534, 2560, 3 * 32, 10000);  // hold: 3 groups
    for (int group = 0; group < 40; ++group) FillWithMix(player, ConstantGroup(20000));
    for (int group = 0; group < 10; ++group) FillWithMix(player, ConstantGroup(0));
    ASSERT_LT(player.GetLimiterLevel(), 20000);  // falling
    player.SetLimiter(10000, 65534, 2560, 3 * 32, 15000);
    for (int group = 0; group < 4; ++group) {
        FillWithMix(player, ConstantGroup(0));
        EXPECT_EQ(player.GetLimiterLevel(), 15000) << group;
    }
    FillWithMix(player, ConstantGroup(0));
    EXPECT_EQ(player.GetLimiterLevel(), 15000 - 10);
}

TEST_F(OggPlayerLimiter, PeakMeterKeepsTheLargestGroupPeakAndDecaysByAnEighthPerFill) {
    std::vector<int32_t> mix = ConstantGroup(100);
    mix[3] = -24000;
    FillWithMix(player, mix);
    EXPECT_EQ(player.Peak(), 24000);
    FillWithMix(player, ConstantGroup(100));
    EXPECT_EQ(player.Peak(), 21000);
    FillWithMix(player, ConstantGroup(100));
    EXPECT_EQ(player.Peak(), 18375);
    player.SetLimiter(32767, 65534, 500, 44100, -1);
    EXPECT_EQ(player.Peak(), 0);
}

// ---- Settings and mixes outside the usual range: defined results, output within range ----

TEST_F(OggPlayerLimiter, BoundsOfZeroGiveTheLargestGainWithoutOverflow) {
    player.SetLimiter(0, 0, 500, 44100, -1);  // the application's bars at their left ends
    // An envelope of at least 256: gain 8388352 div 256 = 32767, i.e. 128 x.
    const std::vector<int16_t> out = FillWithMix(player, {1, -1, 255, -256, 70000, INT32_MIN});
    EXPECT_EQ(out, (std::vector<int16_t>{127, -127, 32639, -32767, 32767, -32767}));
}

TEST_F(OggPlayerLimiter, BoundsBelow256BehaveAsAnEnvelopeOf256) {
    player.SetLimiter(0, 100, 1, 1, -1);
    std::vector<int32_t> mix = ConstantGroup(1);
    mix[1] = 90;
    const std::vector<int16_t> out = FillWithMix(player, mix);
    EXPECT_EQ(out[0], 127);
    EXPECT_EQ(out[1], 11519);  // 90 x 32767 / 256
    EXPECT_EQ(player.GetLimiterLevel(), 256);
}

TEST_F(OggPlayerLimiter, ExtremeMixesAndSettingsStayDefinedAndWithinRange) {
    const std::vector<int32_t> extremes = {INT32_MAX, INT32_MIN, INT32_MAX - 1, -INT32_MAX, 1,
                                           -1,        0,         40000};
    const int32_t settings[][5] = {
        {32767, 65534, 500, 44100, -1},
        {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MIN},
        {INT32_MIN, INT32_MIN, 1, 1, 0},
        {-5, 100000000, INT32_MAX, 1, 1},
        {0, 1, INT32_MAX, 1, INT32_MAX},
    };
    for (const auto& s : settings) {
        player.SetLimiter(s[0], s[1], s[2], s[3], s[4]);
        for (int group = 0; group < 3; ++group) {
            EXPECT_TRUE(WithinOutputRange(FillWithMix(player, extremes)));
            EXPECT_TRUE(WithinOutputRange(FillWithMix(player, ConstantGroup(0))));
        }
        EXPECT_GE(player.Peak(), 0);
    }
}

TEST_F(OggPlayerLimiter, EnvelopeUnderHugeBoundsFollowsTheMixUpAndDown) {
    player.SetLimiter(1, INT32_MAX, INT32_MAX, 1, -1);
    for (int group = 0; group < 40; ++group) FillWithMix(player, ConstantGroup(INT32_MAX));
    EXPECT_EQ(player.GetLimiterLevel(), INT32_MAX / 256);  // the highest envelope there is
    FillWithMix(player, ConstantGroup(0));
    FillWithMix(player, ConstantGroup(0));
    FillWithMix(player, ConstantGroup(0));
    EXPECT_EQ(player.GetLimiterLevel(), 256);  // a fall of INT32_MAX lands on the floor
}

}  // namespace
}  // namespace oggmix::test
