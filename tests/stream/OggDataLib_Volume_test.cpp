// OggDataLib_Volume_test.cpp: fade, pan and the two volumes through the output stage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "stream/OggDataLib.h"
#include "tests/stream/StreamTestSupport.h"

namespace oggmix {
namespace {

constexpr int32_t kBufferBytes = 65536;

// Runs frames (interleaved left, right) through ApplyVolume and returns what it wrote, one
// value per sample, and checks the byte count it reports.
std::vector<int32_t> Apply(TOggData& stream, const std::vector<int16_t>& samples, bool wide) {
    const auto count = static_cast<int32_t>(samples.size() * sizeof(int16_t));
    std::vector<int32_t> out(samples.size());
    if (wide) {
        EXPECT_EQ(stream.ApplyVolume(out.data(), samples.data(), count, true), 2 * count);
    } else {
        std::vector<int16_t> narrow(samples.size());
        EXPECT_EQ(stream.ApplyVolume(narrow.data(), samples.data(), count, false), count);
        out.assign(narrow.begin(), narrow.end());
    }
    return out;
}

std::vector<int16_t> Constant(int32_t frames, int16_t left, int16_t right) {
    std::vector<int16_t> samples;
    for (int32_t i = 0; i < frames; ++i) {
        samples.push_back(left);
        samples.push_back(right);
    }
    return samples;
}

const std::vector<int16_t> kEdges{-32768, 32767, -3, 3, 0, -1, 12345, -23456};

TEST(VolumeDefaults, EverySamplePassesUnchangedExceptMinus32768WhenNarrow) {
    TOggData stream(kBufferBytes);
    const std::vector<int32_t> wide = Apply(stream, kEdges, true);
    const std::vector<int32_t> narrow = Apply(stream, kEdges, false);
    for (size_t i = 0; i < kEdges.size(); ++i) {
        EXPECT_EQ(wide[i], kEdges[i]) << i;
        EXPECT_EQ(narrow[i], kEdges[i] == -32768 ? -32767 : kEdges[i]) << i;
    }
}

TEST(VolumeFade, HalfVolumeHalvesTowardZero) {
    TOggData stream(kBufferBytes);
    stream.Fade(0.5f, 0.0f);
    EXPECT_EQ(Apply(stream, {-3, 3, 32767, -32768}, true),
              (std::vector<int32_t>{-1, 1, 16383, -16384}));
}

TEST(VolumeFade, TheVolumeIsClampedTo0To64) {
    TOggData stream(kBufferBytes);
    stream.Fade(100.0f, 0.0f);
    EXPECT_EQ(stream.GetFadeVolume(true), 64.0f);
    EXPECT_EQ(stream.GetFadeTarget(true), 64.0f);
    stream.Fade(-1.0f, 0.0f);
    EXPECT_EQ(stream.GetFadeVolume(true), 0.0f);
    stream.Fade(1.0f, 0.0f);
    stream.Fade(std::numeric_limits<float>::quiet_NaN(), 0.0f);
    EXPECT_EQ(stream.GetFadeVolume(true), 0.0f);
}

TEST(VolumeFade, TimesBelowAHundredthOfASecondTakeEffectAtOnce) {
    for (float seconds : {0.0f, 0.005f, 0.01f, -3.0f, std::numeric_limits<float>::quiet_NaN()}) {
        TOggData stream(kBufferBytes);
        stream.Fade(0.25f, seconds);
        EXPECT_EQ(stream.GetFadeVolume(true), 0.25f) << seconds;
    }
    TOggData stream(kBufferBytes);
    stream.Fade(0.25f, 0.0101f);
    EXPECT_EQ(stream.GetFadeVolume(true), 1.0f) << "a ramp waits for frames to pass";
    EXPECT_EQ(stream.GetFadeTarget(true), 0.25f);
}

TEST(VolumeFade, AFadeOutOverOneSecondFallsLinearlyAndSnapsToZero) {
    TOggData stream(kBufferBytes);
    stream.Fade(0.0f, 1.0f);
    const std::vector<int32_t> out = Apply(stream, Constant(22050, 10000, -10000), true);
    EXPECT_LT(out[0], 10000) << "the ramp moves before the first frame is scaled";
    for (size_t i = 2; i < out.size(); i += 2) {
        EXPECT_LE(out[i], out[i - 2]) << i;
        EXPECT_EQ(out[i + 1], -out[i]) << i;
    }
    EXPECT_NEAR(stream.GetFadeVolume(true), 0.5, 1e-4);
    EXPECT_NEAR(out[out.size() - 2], 5000, 40);

    Apply(stream, Constant(22000, 1, 1), false);
    EXPECT_GT(stream.GetFadeVolume(true), 0.0f) << "not there after 44050 frames";
    Apply(stream, Constant(51, 1, 1), false);
    EXPECT_EQ(stream.GetFadeVolume(true), 0.0f) << "there after 44101 frames";
    EXPECT_EQ(Apply(stream, Constant(3, 32767, -32767), true), std::vector<int32_t>(6, 0));
}

TEST(VolumeFade, ANewFadeTakesOverFromThePresentVolume) {
    TOggData stream(kBufferBytes);
    stream.Fade(0.0f, 1.0f);
    const std::vector<int32_t> falling = Apply(stream, Constant(22050, 20000, 20000), true);
    stream.Fade(1.0f, 1.0f);
    const std::vector<int32_t> rising = Apply(stream, Constant(22050, 20000, 20000), true);
    EXPECT_NEAR(rising[0], falling.back(), 2) << "no jump at the change";
    EXPECT_GT(rising.back(), rising[0]);
    EXPECT_NEAR(stream.GetFadeVolume(true), 0.75, 1e-3) << "the rest of the way, over one second";
}

TEST(VolumePan, FullLeftOrRightSilencesTheOtherSideOnly) {
    TOggData stream(kBufferBytes);
    stream.SetPan(1.0f, 0.0f);
    EXPECT_EQ(Apply(stream, {1000, 1000, -32768, 32767}, true),
              (std::vector<int32_t>{0, 1000, 0, 32767}));
    stream.SetPan(-1.0f, 0.0f);
    EXPECT_EQ(Apply(stream, {1000, 1000, -32768, 32767}, true),
              (std::vector<int32_t>{1000, 0, -32768, 0}));
    stream.SetPan(0.5f, 0.0f);
    EXPECT_EQ(Apply(stream, {1000, 1000, -999, -999}, true),
              (std::vector<int32_t>{500, 1000, -499, -999}));
}

TEST(VolumePan, ValuesBeyondTheSidesAreClamped) {
    struct Case {
        float pan;
        std::vector<int32_t> expected;
    };
    for (const Case& c : {Case{5.0f, {0, 1000}}, Case{-5.0f, {1000, 0}},
                          Case{std::numeric_limits<float>::quiet_NaN(), {1000, 0}}}) {
        TOggData stream(kBufferBytes);
        stream.SetPan(c.pan, 0.0f);
        EXPECT_EQ(Apply(stream, {1000, 1000}, true), c.expected) << c.pan;
    }
}

TEST(VolumePan, APanRampMovesOneSideFrameByFrame) {
    TOggData stream(kBufferBytes);
    stream.SetPan(1.0f, 1.0f);
    const std::vector<int32_t> out = Apply(stream, Constant(44101, 8000, 8000), true);
    for (size_t i = 2; i < out.size(); i += 2) {
        EXPECT_LE(out[i], out[i - 2]) << i;
        EXPECT_EQ(out[i + 1], 8000) << i;
    }
    EXPECT_NEAR(out[2 * 22050], 4000, 40);
    EXPECT_EQ(out[out.size() - 2], 0);
}

TEST(VolumeLevels, MasterAndOwnVolumeMultiply) {
    TOggData stream(kBufferBytes);
    stream.SetVolume(0.5f);
    stream.SetMasterVolume(0.5f);
    EXPECT_EQ(Apply(stream, {1000, -1001, 3, -3}, true), (std::vector<int32_t>{250, -250, 0, 0}));
}

TEST(VolumeLevels, ANegativeVolumeInvertsAndTheNarrowFormatClips) {
    TOggData stream(kBufferBytes);
    stream.SetVolume(-1.0f);
    EXPECT_EQ(Apply(stream, {-32768, 100}, true), (std::vector<int32_t>{32768, -100}));
    EXPECT_EQ(Apply(stream, {-32768, 100}, false), (std::vector<int32_t>{32767, -100}));
}

TEST(VolumeLevels, WideOutputAtDoubleVolumeLeavesThe16BitRangeForTheMixer) {
    TOggData stream(kBufferBytes);
    stream.SetVolume(2.0f);
    EXPECT_EQ(Apply(stream, {32767, -32768}, true), (std::vector<int32_t>{65534, -65536}));
    EXPECT_EQ(Apply(stream, {32767, -32768}, false), (std::vector<int32_t>{32767, -32767}));
}

TEST(VolumeLevels, SettingsFarOutOfRangeSaturateInsteadOfOverflowing) {
    TOggData stream(kBufferBytes);
    stream.Fade(64.0f, 0.0f);
    stream.SetVolume(1.0e9f);
    stream.SetMasterVolume(-1.0e9f);
    const std::vector<int32_t> wide = Apply(stream, {32767, -32768, 1, 0}, true);
    EXPECT_EQ(wide[0], std::numeric_limits<int32_t>::min());
    EXPECT_EQ(wide[1], std::numeric_limits<int32_t>::max());
    EXPECT_LT(wide[2], 0);
    EXPECT_EQ(wide[3], 0);
    EXPECT_EQ(Apply(stream, {32767, -32768}, false), (std::vector<int32_t>{-32767, 32767}));
}

TEST(VolumeRamps, SplittingTheFramesOverSeveralCallsChangesNothing) {
    const std::vector<int16_t> signal = Constant(5000, 30000, -20000);
    TOggData whole(kBufferBytes);
    TOggData pieces(kBufferBytes);
    for (TOggData* s : {&whole, &pieces}) {
        s->Fade(0.2f, 0.05f);
        s->SetPan(-0.7f, 0.08f);
    }
    const std::vector<int32_t> once = Apply(whole, signal, true);
    std::vector<int32_t> split;
    for (size_t at = 0, frames = 1; at < signal.size(); frames = frames * 2 + 1) {
        const size_t n = std::min(frames * 2, signal.size() - at);
        const std::vector<int16_t> part(signal.begin() + static_cast<ptrdiff_t>(at),
                                        signal.begin() + static_cast<ptrdiff_t>(at + n));
        const std::vector<int32_t> out = Apply(pieces, part, true);
        split.insert(split.end(), out.begin(), out.end());
        at += n;
    }
    EXPECT_EQ(split, once);
}

TEST(VolumeFade, AFadeOutPausesTheStreamAtTheFirstBlockThatBeginsBelowAHundredth) {
    test::TestStream s = test::MakeNoiseStream(44100, 2, 2.0);
    s.Data->Play(true, true);
    s.Data->Fade(0.0f, 1.0f);
    // 44100 frames of fade in blocks of 8192: the sixth block begins at 0.07 of the volume,
    // the seventh at 0.
    for (int block = 0; block < 5; ++block) ASSERT_GT(s.Data->RenderNext(0), 0) << block;
    EXPECT_NEAR(s.Data->GetFadeVolume(true), 1.0 - 5.0 * 8192 / 44100, 1e-3);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->GetFadeVolume(true), 0.0f);
    EXPECT_EQ(s.Data->GetState(true), 3);
    EXPECT_EQ(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->GetState(true), 1) << "paused where the fade ended";
    const float pausedAt = s.Data->GetTime(true);
    EXPECT_GT(pausedAt, 1.0f);
    s.Data->Fade(1.0f, 0.0f);
    s.Data->Play(true, true);
    EXPECT_GT(s.Data->RenderNext(0), 0);
    EXPECT_GT(s.Data->GetTime(true), pausedAt) << "resumes from there";
}

TEST(VolumeFade, AFadeHeldAtTheFloat0Point01PausesAndOneStepAboveItPlays) {
    // 0.01f lies just below a hundredth, so a stream faded to it counts as silent.
    const float justAbove = std::nextafter(0.01f, 1.0f);
    for (const float level : {0.01f, justAbove}) {
        test::TestStream s = test::MakeNoiseStream(44100, 2, 1.0);
        s.Data->Play(true, true);
        s.Data->Fade(level, 0.0f);
        ASSERT_EQ(s.Data->GetFadeVolume(true), level);
        const bool paused = s.Data->RenderNext(0) == 0;
        EXPECT_EQ(paused, level == 0.01f) << "fade level " << level;
        EXPECT_EQ(s.Data->GetState(true), paused ? 1 : 3) << "fade level " << level;
    }
}

TEST(VolumeRamps, AVolumeRampFallsFrameByFrameToZeroAndTheStreamPlaysOn) {
    TOggData stream(kBufferBytes);
    stream.SetVolume(0.0f, 0.5f);
    const std::vector<int32_t> out = Apply(stream, Constant(30000, 10000, 10000), true);
    EXPECT_LT(out[0], 10000) << "the ramp moves before the first frame is scaled";
    for (size_t i = 2; i < out.size(); i += 2) EXPECT_LE(out[i], out[i - 2]) << i / 2;
    // The volume in 1/256 reaches 0 after 255/256 of the 22050 frames.
    EXPECT_GT(out[2 * 21900], 0);
    EXPECT_EQ(out[2 * 21970], 0);
    EXPECT_EQ(out.back(), 0);

    test::TestStream s = test::MakeNoiseStream(44100, 2, 2.0);
    s.Data->Play(true, true);
    s.Data->SetVolume(0.0f, 0.5f);
    for (int block = 0; block < 4; ++block) ASSERT_GT(s.Data->RenderNext(0), 0) << block;
    EXPECT_EQ(s.Data->GetState(true), 3) << "a volume of 0 does not pause";
    EXPECT_NEAR(s.Data->GetTime(true), 4.0 * test::kBlockFrames / 44100, 1e-3);
    const int32_t* block = s.Data->GetBlock();
    EXPECT_EQ(std::vector<int32_t>(block, block + 2 * test::kBlockFrames),
              std::vector<int32_t>(2 * test::kBlockFrames, 0));
}

TEST(VolumeRamps, SettingsSurviveClose) {
    TOggData stream(kBufferBytes);
    stream.Fade(0.5f, 0.0f);
    stream.SetPan(1.0f, 0.0f);
    stream.SetVolume(0.5f);
    stream.Close();
    EXPECT_EQ(Apply(stream, {1000, 1000}, true), (std::vector<int32_t>{0, 250}));
}

}  // namespace
}  // namespace oggmix
