// Transport: the play state, pause, stop and seek, the decoder time, and the play time that
// corrects for what is still in the ring, under the pinned clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "base/Clock.h"
#include "tests/stream/StreamTestSupport.h"

namespace oggmix::test {
namespace {

constexpr double kBlockSec = kBlockFrames / 44100.0;  // 0.1858: what one ring half plays
constexpr double kTolerance = 2e-5;                   // float seconds near 1 s, plus a margin

TEST(OggDataTransport, ClosedObjectHasStateZeroAndIgnoresTheTransport) {
    TOggData data(kTestBufferBytes);
    data.Play(true, true);
    data.Seek(1.0f, true);
    EXPECT_EQ(data.GetState(true), 0);
    EXPECT_EQ(data.GetTime(true), 0.0f);
    EXPECT_EQ(data.GetPlayTime(), 0.0f);
    EXPECT_FALSE(data.Seekable());
    data.Stop(true);
    EXPECT_EQ(data.GetState(true), 0);
}

TEST(OggDataTransport, StateFollowsPlayPauseAndStop) {
    TestStream s = MakeNoiseStream(44100, 2, 2.0);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_TRUE(s.Data->Seekable());
    s.Data->Play(false, true);
    EXPECT_EQ(s.Data->GetState(true), 2);
    s.Data->Play(true, true);
    EXPECT_EQ(s.Data->GetState(true), 3);
    ASSERT_EQ(RenderBlocks(*s.Data, 2).size(), 4u * kBlockFrames);

    // Pause keeps the position; Play goes on from it.
    s.Data->Pause(true);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_NEAR(s.Data->GetTime(true), 2 * kBlockSec, kTolerance);
    s.Data->Play(false, true);
    std::vector<int16_t> next = RenderBlocks(*s.Data, 1);
    EXPECT_TRUE(SameFrames(next, FramesOf(s, 2 * kBlockFrames, 3 * kBlockFrames)));

    // Stop rewinds and silences the ring.
    s.Data->Stop(true);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->GetTime(true), 0.0f);
    EXPECT_EQ(s.Data->GetPlayTime(), 0.0f);
    const int32_t* block = s.Data->GetBlock();
    EXPECT_EQ(std::count(block, block + 2 * kBlockFrames, 0), 2 * kBlockFrames);
    s.Data->Play(false, true);
    EXPECT_TRUE(SameFrames(RenderBlocks(*s.Data, 1), FramesOf(s, 0, kBlockFrames)));
}

TEST(OggDataTransport, SeekMovesToTheFrameAndKeepsThePlayState) {
    TestStream s = MakeNoiseStream(44100, 2, 2.0);
    s.Data->Play(true, true);
    s.Data->Seek(1.0f, true);
    EXPECT_EQ(s.Data->GetTime(true), 1.0f);
    EXPECT_EQ(s.Data->GetState(true), 3);
    EXPECT_TRUE(SameFrames(RenderBlocks(*s.Data, 1), FramesOf(s, 44100, 44100 + kBlockFrames)));

    s.Data->Seek(-3.0f, true);
    EXPECT_EQ(s.Data->GetTime(true), 0.0f);
    s.Data->Seek(0.5f, true);
    s.Data->Seek(std::numeric_limits<float>::quiet_NaN(), true);
    EXPECT_EQ(s.Data->GetTime(true), 0.0f);
}

TEST(OggDataTransport, SeekToTheEndPlaysTheLastFrameThenEndsOrWraps) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    const int64_t last = s.FrameCount() - 1;
    s.Data->Play(true, true);
    s.Data->Seek(1000.0f, true);
    EXPECT_NEAR(s.Data->GetTime(true), s.Data->TotalTime(), 1.5 / 44100);
    std::vector<int16_t> expected = FramesOf(s, last, last + 1);
    AppendFrames(expected, s.Frames, 0, kBlockFrames - 1);
    EXPECT_TRUE(SameFrames(RenderBlocks(*s.Data, 1), expected));

    s.Data->Play(false, true);
    s.Data->Seek(s.Data->TotalTime(), true);
    EXPECT_EQ(s.Data->RenderNext(0), kBytesPerWideFrame);
    EXPECT_EQ(s.Data->GetState(true), 1);
}

TEST(OggDataTransport, TransportFromTheUIThreadWhileTheRefillThreadRenders) {
    TestStream s = MakeNoiseStream(22050, 1, 1.0, {"COMMENT=*looptime,0,0.2,0.6,-1"});
    TOggData& d = *s.Data;
    std::atomic<bool> done{false};
    std::atomic<int32_t> badCounts{0};
    std::thread refill([&] {
        while (!done.load(std::memory_order_relaxed)) {
            const int32_t n = d.RenderNext(5);
            if (n < 0 || n > kTestBufferBytes || n % kBytesPerWideFrame != 0) ++badCounts;
        }
    });
    for (int i = 0; i < 300; ++i) {
        d.Play(i % 2 == 0, true);
        d.Seek(static_cast<float>(i % 7) * 0.15f, true);
        (void)d.GetPlayTime();
        (void)d.GetTime(true);
        if (i % 5 == 0) d.Pause(true);
        if (i % 11 == 0) d.Stop(true);
        d.Fade(1.0f, 0.0f);
    }
    done = true;
    refill.join();
    EXPECT_EQ(badCounts.load(), 0);
    d.Stop(true);
    EXPECT_EQ(d.GetState(true), 1);
    EXPECT_EQ(d.GetTime(true), 0.0f);
}

class OggDataPlayTime : public ::testing::Test {
protected:
    void SetUp() override { test_clock::Pin(1'000'000); }
    void TearDown() override { test_clock::Unpin(); }
};

TEST_F(OggDataPlayTime, FollowsTheBlockBeingHeardAndHidesSmallStepsBack) {
    TestStream s = MakeNoiseStream(44100, 2, 3.0);
    TOggData& d = *s.Data;
    d.Play(false, true);
    ASSERT_GT(d.RenderNext(0), 0);
    EXPECT_EQ(d.GetPlayTime(), 0.0f);  // a render from the start: nothing to place yet

    // Block 0 starts to play as block 1 is rendered.
    ASSERT_GT(d.RenderNext(0), 0);
    EXPECT_NEAR(d.GetPlayTime(), 0.0, kTolerance);
    test_clock::Advance(100);
    EXPECT_NEAR(d.GetPlayTime(), 0.100, kTolerance);
    test_clock::Advance(50);
    EXPECT_NEAR(d.GetPlayTime(), 0.150, kTolerance);

    // Block 1 has been heard for 20 ms when block 2 is rendered.
    ASSERT_GT(d.RenderNext(20), 0);
    EXPECT_NEAR(d.GetPlayTime(), kBlockSec + 0.020, kTolerance);
    test_clock::Advance(300);
    EXPECT_NEAR(d.GetPlayTime(), kBlockSec + 0.320, kTolerance);
    // No further than the decoder, whatever the clock says.
    test_clock::Advance(100);
    EXPECT_NEAR(d.GetPlayTime(), 3 * kBlockSec, kTolerance);

    // A render that comes early would step back by less than a ring: hidden.
    ASSERT_GT(d.RenderNext(0), 0);
    EXPECT_NEAR(d.GetPlayTime(), 3 * kBlockSec, kTolerance);
    test_clock::Advance(100);
    EXPECT_NEAR(d.GetPlayTime(), 3 * kBlockSec, kTolerance);
    test_clock::Advance(100);
    EXPECT_NEAR(d.GetPlayTime(), 2 * kBlockSec + 0.200, kTolerance);
}

TEST_F(OggDataPlayTime, SeekBackIsReportedAtOnceAndStopGivesZero) {
    TestStream s = MakeNoiseStream(44100, 2, 3.0);
    TOggData& d = *s.Data;
    d.Play(false, true);
    for (int b = 0; b < 10; ++b) ASSERT_GT(d.RenderNext(0), 0);
    test_clock::Advance(50);
    EXPECT_NEAR(d.GetPlayTime(), 8 * kBlockSec + 0.050, kTolerance);

    d.Seek(0.25f, true);
    EXPECT_NEAR(d.GetPlayTime(), 0.25, kTolerance);
    ASSERT_GT(d.RenderNext(0), 0);
    ASSERT_GT(d.RenderNext(0), 0);
    test_clock::Advance(10);
    EXPECT_NEAR(d.GetPlayTime(), 0.25 + 0.010, kTolerance);

    d.Stop(true);
    EXPECT_EQ(d.GetPlayTime(), 0.0f);
}

TEST_F(OggDataPlayTime, NeverNegativeRightAfterTheStreamWraps) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    TOggData& d = *s.Data;
    d.Play(true, true);
    for (int b = 0; b < 5; ++b) ASSERT_GT(d.RenderNext(0), 0);
    EXPECT_NEAR(d.GetPlayTime(), 3 * kBlockSec, kTolerance);
    // Block 5 wraps; block 6 starts 5052 frames after the start, less than a ring half: the
    // estimate lies before the start, and the wrap has reset the last reported time.
    ASSERT_GT(d.RenderNext(0), 0);
    ASSERT_GT(d.RenderNext(0), 0);
    EXPECT_EQ(d.GetPlayTime(), 0.0f);
    test_clock::Advance(100);
    EXPECT_NEAR(d.GetPlayTime(), (6 * kBlockFrames - 44100) / 44100.0 - kBlockSec + 0.100,
                kTolerance);
}

}  // namespace
}  // namespace oggmix::test
