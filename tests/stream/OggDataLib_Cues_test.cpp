// Loop cues in the render path: the jump at the exact frame, repeat counts across chunks and
// blocks, several cues in one chunk, loop ends at the end of the stream, 22050 Hz sources
// split inside a source frame, and cue tables that must not hang the render.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/stream/StreamTestSupport.h"

namespace oggmix::test {
namespace {

std::string Tag(const char* line) { return std::string("COMMENT=") + line; }

// Output frames [from, to) of the stream, appended in the order given; to -1 is the end.
struct Span {
    int64_t From;
    int64_t To;
};

std::vector<int16_t> Expected(const TestStream& s, std::initializer_list<Span> spans) {
    std::vector<int16_t> out;
    for (const Span& span : spans)
        AppendFrames(out, s.Frames, span.From, span.To < 0 ? s.FrameCount() : span.To);
    return out;
}

// Renders whole blocks until the stream stops, then cuts the trailing silence of the last
// block to the expected length (checking that it is silence).
std::vector<int16_t> RenderUntilStopped(TOggData& data, size_t expectedSamples) {
    std::vector<int16_t> out = RenderBlocks(data, 1000);
    EXPECT_GE(out.size(), expectedSamples);
    EXPECT_LT(out.size(), expectedSamples + 2 * kBlockFrames);
    for (size_t i = expectedSamples; i < out.size(); ++i) {
        if (out[i] != 0) {
            ADD_FAILURE() << "sound after the expected end, frame " << i / 2;
            break;
        }
    }
    if (out.size() > expectedSamples) out.resize(expectedSamples);
    return out;
}

TEST(OggDataCues, JumpAtLoopEndLandsOnTheFirstFrameOfLoopStart) {
    TestStream s = MakeNoiseStream(44100, 2, 3.0, {Tag("*looptime,0,1.0,2.0,-1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 40);  // 7.4 s
    std::vector<int16_t> expected = Expected(s, {{0, 88200}});
    while (expected.size() < out.size()) AppendFrames(expected, s.Frames, 44100, 88200);
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
    EXPECT_EQ(s.Data->GetState(true), 2);
}

TEST(OggDataCues, JumpIsExactWhateverTheRequestSizes) {
    TestStream s = MakeNoiseStream(44100, 2, 2.0, {Tag("*loopsample,0,22050,60001,2")});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, 60001}, {22050, 60001}, {22050, -1}});
    const std::vector<int16_t> out =
        RenderNarrow(*s.Data, 200000, {4 * 997, 4, 4096, 4 * 13, 4 * 1024, 4 * 3});
    EXPECT_TRUE(SameFrames(out, Clipped(expected)));
}

TEST(OggDataCues, RepeatCountIsHonouredWhereverTheJumpFallsInABlock) {
    // A 0.2 s loop: its jumps fall into different chunks of different blocks.
    TestStream s = MakeNoiseStream(44100, 2, 1.5, {Tag("*loopsample,0,22050,30870,3")});
    s.Data->Play(false, true);
    // Three jumps: the third pass from the loop start plays on to the end.
    const std::vector<int16_t> expected =
        Expected(s, {{0, 30870}, {22050, 30870}, {22050, 30870}, {22050, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
    EXPECT_EQ(s.Data->GetState(true), 1);
}

TEST(OggDataCues, CueWithCountZeroNeverJumps) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*looptime,0,0.1,0.5,0")});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

TEST(OggDataCues, PassingALoopEndReArmsItAfterTheStreamWraps) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*loopsample,0,11025,33075,1")});
    s.Data->Play(true, true);
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 14);
    std::vector<int16_t> expected;
    while (expected.size() < out.size()) {
        AppendFrames(expected, s.Frames, 0, 33075);
        AppendFrames(expected, s.Frames, 11025, s.FrameCount());
    }
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
}

TEST(OggDataCues, StopClearsTheRepeatCounters) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*loopsample,0,4410,22050,1")});
    s.Data->Play(false, true);
    // Three blocks: past the jump, back before the loop end.
    ASSERT_EQ(RenderBlocks(*s.Data, 3).size(), 6u * kBlockFrames);
    s.Data->Stop(true);
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, 22050}, {4410, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

TEST(OggDataCues, CuesEndingInOneChunkJumpInTheOrderPlaybackReachesThem) {
    // Both ends lie in the chunk of frames 44032 .. 44543; cue 1 comes first in time.
    TestStream s = MakeNoiseStream(
        44100, 2, 2.0, {Tag("*loopsample,0,8820,44320,1\r\n*loopsample,1,22050,44188,1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, 44188}, {22050, 44320}, {8820, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

TEST(OggDataCues, CuesSharingALoopEndTakeTurnsLowestIndexFirst) {
    TestStream s =
        MakeNoiseStream(44100, 2, 1.5, {Tag("*looptime,5,0.5,1.0,1\r\n*looptime,3,0.25,1.0,1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, 44100}, {11025, 44100}, {22050, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

TEST(OggDataCues, LoopShorterThanAChunkKeepsLooping) {
    TestStream s = MakeNoiseStream(44100, 2, 1.5, {Tag("*loopsample,0,44100,44300,5")});
    s.Data->Play(false, true);
    std::vector<int16_t> expected = Expected(s, {{0, 44300}});
    for (int i = 0; i < 4; ++i) AppendFrames(expected, s.Frames, 44100, 44300);
    AppendFrames(expected, s.Frames, 44100, s.FrameCount());
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

TEST(OggDataCues, CuesThatJumpOntoEachOthersEndsPlayOnInsteadOfSpinning) {
    // 0.5 s jumps to 1.0 s, which jumps straight back to 0.5 s: without a frame in between
    // neither jumps again, so playback goes on from there.
    TestStream s =
        MakeNoiseStream(44100, 2, 1.5, {Tag("*looptime,0,0.5,1.0,-1\r\n*looptime,1,1.0,0.5,-1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 4);
    ASSERT_EQ(out.size(), 8u * kBlockFrames);
    std::vector<int16_t> expected = Expected(s, {{0, 22050}, {22050, 44100}, {44100, -1}});
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
}

TEST(OggDataCues, LoopEndAtTheEndOfTheStreamJumpsThereEvenWithoutLooping) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*loopsample,0,22050,44100,-1")});
    ASSERT_EQ(s.Data->PcmTotal(), 44100);
    s.Data->Play(false, true);
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 12);
    ASSERT_EQ(out.size(), 24u * kBlockFrames);
    std::vector<int16_t> expected = Expected(s, {{0, -1}});
    while (expected.size() < out.size()) AppendFrames(expected, s.Frames, 22050, s.FrameCount());
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
}

TEST(OggDataCues, LoopEndOneFramePastTheEndJumpsWhereTheDataEndsTwoFramesPastIsNeverReached) {
    TestStream s = MakeNoiseStream(
        44100, 2, 1.0, {Tag("*loopsample,0,22050,44101,1\r\n*loopsample,1,11025,44102,-1")});
    ASSERT_EQ(s.Data->PcmTotal(), 44100);
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, -1}, {22050, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

TEST(OggDataCues, LoopEndFarBeyondTheEndIsNeverReachedWithOrWithoutLooping) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*looptime,0,0.25,100.0,-1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> once = Expected(s, {{0, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, once.size()), once));

    s.Data->Play(true, true);
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 12);
    std::vector<int16_t> expected;
    while (expected.size() < out.size()) AppendFrames(expected, s.Frames, 0, s.FrameCount());
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
}

TEST(OggDataCues, TheEndWithoutLoopingKeepsTheRepeatCounters) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*loopsample,0,22050,44100,1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> first = Expected(s, {{0, -1}, {22050, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, first.size()), first));
    // The cue has jumped its once; played again, the stream runs through to its end.
    s.Data->Play(false, true);
    const std::vector<int16_t> again = Expected(s, {{0, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, again.size()), again));
}

// A cue whose start is its end would jump onto itself: it is not taken. Before, the decoder
// landed a frame early and the cue jumped again after every frame.
class OggDataCuesZeroLength : public ::testing::TestWithParam<int32_t> {};

TEST_P(OggDataCuesZeroLength, IsNotTakenAndPlaybackGoesOn) {
    TestStream s = MakeNoiseStream(GetParam(), 2, 1.0,
                                   {Tag("*looptime,0,0.5000204,0.5000204,-1\r\n"
                                        "*loopsample,1,8821,8821,-1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, -1}});
    const std::vector<int16_t> out = RenderBlocks(*s.Data, 12);
    ASSERT_GE(out.size(), expected.size());
    EXPECT_TRUE(
        SameFrames(std::vector<int16_t>(out.begin(), out.begin() + expected.size()), expected));
    EXPECT_EQ(s.Data->GetState(true), 1);
}

INSTANTIATE_TEST_SUITE_P(BothRates, OggDataCuesZeroLength, ::testing::Values(44100, 22050));

TEST(OggDataCues, LoopStartTagsTurnedOnDuringPlayLoopExactlyBetweenTheirSamples) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {"LOOPSTART=22050", "LOOPLENGTH=11027"});
    s.Data->Play(false, true);
    std::vector<int16_t> out = RenderBlocks(*s.Data, 1);
    s.Data->SetLoopStartTags(true);
    const std::vector<int16_t> rest = RenderBlocks(*s.Data, 8);
    out.insert(out.end(), rest.begin(), rest.end());
    std::vector<int16_t> expected = Expected(s, {{0, 33077}});
    while (expected.size() < out.size()) AppendFrames(expected, s.Frames, 22050, 33077);
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
}

TEST(OggDataCues, LoopStartOutsideTheStreamGoesOnFromTheLoopEnd) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {Tag("*looptime,0,50.0,0.5,-1")});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected = Expected(s, {{0, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
}

// A 22050 Hz source frame is two output frames; cues jump between source frames, at the one
// nearest to their time, whatever output frames the requests end on.
class OggDataCues22050 : public ::testing::TestWithParam<int32_t> {};

TEST_P(OggDataCues22050, LoopEndJumpsAtTheSourceFrameNearestToItsTime) {
    char end[32];
    std::snprintf(end, sizeof end, "%.9g", 25000.7 / 22050.0);  // nearest: source frame 25001
    TestStream s = MakeNoiseStream(22050, GetParam(), 2.0,
                                   {Tag((std::string("*looptime,0,0.5,") + end + ",3").c_str())});
    s.Data->Play(false, true);
    const std::vector<int16_t> expected =
        Expected(s, {{0, 50002}, {22050, 50002}, {22050, 50002}, {22050, -1}});
    EXPECT_TRUE(SameFrames(RenderUntilStopped(*s.Data, expected.size()), expected));
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->GetTime(true), 0.0f);

    // The same through narrow requests of odd frame counts.
    s.Data->Play(false, true);
    EXPECT_TRUE(SameFrames(
        RenderNarrow(*s.Data, static_cast<int64_t>(expected.size()) / 2, {4 * 1023, 4, 4 * 7}),
        Clipped(expected)));
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, OggDataCues22050, ::testing::Values(1, 2));

}  // namespace
}  // namespace oggmix::test
