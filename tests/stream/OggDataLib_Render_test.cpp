// Rendering: the decoder's samples through every source format and request size, the end of
// the stream, the volume stage seen through Render, and a render path that never allocates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "tests/stream/StreamTestSupport.h"
#include "tests/support/AllocationCounter.h"

namespace oggmix::test {
namespace {

TEST(OggDataRender, StereoAt44100ComesOutAsTheDecoderDeliversIt) {
    // Full-scale noise, so that the decoder clips some samples to -32768.
    TestStream s = MakeNoiseStream(44100, 2, 1.0, {}, 1.0);
    ASSERT_NE(std::count(s.Frames.begin(), s.Frames.end(), int16_t{-32768}), 0);

    s.Data->Play(false, true);
    EXPECT_TRUE(SameFrames(RenderNarrow(*s.Data, s.FrameCount(), {4096}), Clipped(s.Frames)));

    // Wide frames keep -32768: only narrow output is clipped.
    s.Data->Stop(true);
    s.Data->Play(false, true);
    std::vector<int16_t> wide = RenderBlocks(*s.Data, 6);
    wide.resize(s.Frames.size());
    EXPECT_TRUE(SameFrames(wide, s.Frames));
}

TEST(OggDataRender, FirstTwoFramesOfAnEightByteRenderAreTheFirstTwoDecodedFrames) {
    TestStream s = MakeNoiseStream(44100, 2, 0.5);
    s.Data->Play(false, true);
    int16_t out[4] = {};
    EXPECT_EQ(s.Data->Render(out, 8, 0, false, true), 8);
    EXPECT_TRUE(SameFrames({out, out + 4}, Clipped(FramesOf(s, 0, 2))));
}

struct FormatCase {
    int32_t RateHz;
    int32_t Channels;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << c.RateHz << " Hz " << c.Channels << " ch";
}

class OggDataRenderFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OggDataRenderFormat, ConvertsEveryFrameWhateverTheRequestSizes) {
    const FormatCase c = GetParam();
    TestStream s = MakeNoiseStream(c.RateHz, c.Channels, 1.0);
    ASSERT_EQ(s.Data->Rate(), c.RateHz);
    ASSERT_EQ(s.Data->Channels(), c.Channels);
    ASSERT_GT(s.FrameCount(), 40000);

    // One frame, odd frame counts, a chunk, a chunk +- 1 frame: a 22050 Hz source frame is
    // split between requests again and again.
    s.Data->Play(false, true);
    const std::vector<int32_t> sizes = {4, 12, 4096, 4092, 4100, 8, 4 * 997, 4 * 1031, 4};
    EXPECT_TRUE(SameFrames(RenderNarrow(*s.Data, s.FrameCount(), sizes), Clipped(s.Frames)));

    // The ring takes wide frames in 512-frame chunks.
    s.Data->Stop(true);
    s.Data->Play(false, true);
    std::vector<int16_t> wide = RenderBlocks(*s.Data, 10);
    ASSERT_GE(wide.size(), s.Frames.size());
    wide.resize(s.Frames.size());
    EXPECT_TRUE(SameFrames(wide, s.Frames));
}

INSTANTIATE_TEST_SUITE_P(SupportedFormats, OggDataRenderFormat,
                         ::testing::Values(FormatCase{44100, 2}, FormatCase{44100, 1},
                                           FormatCase{22050, 2}, FormatCase{22050, 1}));

TEST(OggDataRender, MonoAt22050GivesEverySampleAsTwoIdenticalFrames) {
    TestStream s = MakeNoiseStream(22050, 1, 0.2);
    s.Data->Play(false, true);
    std::vector<int16_t> out = RenderNarrow(*s.Data, 64, {256});
    ASSERT_EQ(out.size(), 128u);
    for (size_t i = 0; i < 16; ++i) {
        const int16_t sample = s.Reference.Samples[i];
        for (size_t k = 0; k < 4; ++k) EXPECT_EQ(out[4 * i + k], sample) << "sample " << i;
    }
}

class OggDataRenderUnsupported : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OggDataRenderUnsupported, RendersSilenceAndPauses) {
    const FormatCase c = GetParam();
    TestStream s = MakeNoiseStream(c.RateHz, c.Channels, 0.5);
    s.Data->Play(true, true);
    std::vector<uint8_t> out(4096, 0x55);
    EXPECT_EQ(s.Data->Render(out.data(), 4096, 0, false, true), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), uint8_t{0}), 4096);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->RenderNext(0), 0);
}

INSTANTIATE_TEST_SUITE_P(OtherFormats, OggDataRenderUnsupported,
                         ::testing::Values(FormatCase{48000, 2}, FormatCase{11025, 1},
                                           FormatCase{44100, 3}));

TEST(OggDataRender, PartOfAFrameAtTheEndOfARequestIsZeroFilled) {
    TestStream s = MakeNoiseStream(44100, 2, 0.5);
    s.Data->Play(false, true);
    uint8_t narrow[10];
    std::memset(narrow, 0x55, sizeof narrow);
    EXPECT_EQ(s.Data->Render(narrow, 10, 0, false, true), 8);
    EXPECT_EQ(narrow[8], 0);
    EXPECT_EQ(narrow[9], 0);
    int32_t wide[3];
    std::memset(wide, 0x55, sizeof wide);
    EXPECT_EQ(s.Data->Render(wide, 12, 0, true, true), 8);
    EXPECT_EQ(wide[2], 0);
    // Both renders together took three frames, nothing lost between them.
    EXPECT_EQ(narrow[0] | narrow[1] << 8, static_cast<uint16_t>(ClipToSample(s.Frames[0])));
    EXPECT_EQ(wide[0], s.Frames[4]);
    EXPECT_EQ(wide[1], s.Frames[5]);
}

TEST(OggDataRender, EndWithoutLoopingFillsTheRestWithSilencePausesAndRewinds) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    const int64_t blocksWithAudio = (s.FrameCount() + kBlockFrames - 1) / kBlockFrames;
    s.Data->Play(false, true);

    std::vector<int16_t> out;
    for (int64_t b = 0; b < blocksWithAudio; ++b) {
        const int64_t frames = std::min<int64_t>(s.FrameCount() - b * kBlockFrames, kBlockFrames);
        ASSERT_EQ(s.Data->RenderNext(0), frames * kBytesPerWideFrame) << "block " << b;
        const int32_t* block = s.Data->GetBlock();
        out.insert(out.end(), block, block + 2 * kBlockFrames);
    }
    std::vector<int16_t> expected = s.Frames;
    expected.resize(out.size(), 0);
    EXPECT_TRUE(SameFrames(out, expected));

    EXPECT_EQ(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->GetTime(true), 0.0f);

    // The next Play starts from the beginning.
    s.Data->Play(false, true);
    std::vector<int16_t> again = RenderBlocks(*s.Data, 1);
    again.resize(1000);
    EXPECT_TRUE(SameFrames(again, {s.Frames.begin(), s.Frames.begin() + 1000}));
}

TEST(OggDataRender, EndWithLoopingContinuesFromTheStartWithoutAGap) {
    TestStream s = MakeNoiseStream(44100, 2, 0.3);
    s.Data->Play(true, true);
    std::vector<int16_t> out = RenderBlocks(*s.Data, 6);
    ASSERT_EQ(out.size(), 6u * 2 * kBlockFrames);

    std::vector<int16_t> expected;
    while (expected.size() < out.size()) AppendFrames(expected, s.Frames, 0, s.FrameCount());
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
    EXPECT_EQ(s.Data->GetState(true), 3);
}

TEST(OggDataRender, LoopingStreamWithoutAudioPausesInsteadOfSpinning) {
    TestStream s = MakeStream(Silence(44100, 2, 0.0));
    ASSERT_EQ(s.Data->PcmTotal(), 0);
    s.Data->Play(true, true);
    EXPECT_EQ(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->GetState(true), 1);
}

TEST(OggDataRender, RenderNextAlternatesHalvesAndAPausedStreamKeepsItsLastBlock) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    s.Data->Play(false, true);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    const int32_t* first = s.Data->GetBlock();
    ASSERT_GT(s.Data->RenderNext(0), 0);
    const int32_t* second = s.Data->GetBlock();
    EXPECT_EQ(std::abs(second - first), 2 * kBlockFrames);
    EXPECT_EQ(second[0], s.Frames[2 * kBlockFrames]);

    s.Data->Pause(true);
    EXPECT_EQ(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->GetBlock(), second);
    EXPECT_EQ(second[0], s.Frames[2 * kBlockFrames]);
}

TEST(OggDataRender, ClosedOrPausedStreamRendersZerosAndReportsNothing) {
    TOggData closed(kTestBufferBytes);
    closed.Play(true, true);
    std::vector<uint8_t> out(64, 0x55);
    EXPECT_EQ(closed.Render(out.data(), 64, 0, true, true), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), uint8_t{0}), 64);
    EXPECT_EQ(closed.RenderNext(0), 0);
    EXPECT_EQ(closed.GetState(true), 0);

    TestStream s = MakeNoiseStream(44100, 2, 0.2);
    std::fill(out.begin(), out.end(), 0x55);
    EXPECT_EQ(s.Data->Render(out.data(), 64, 0, false, true), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), uint8_t{0}), 64);
}

// The volume stage at the end of the render path, with its fixed-point results.
struct VolumeCase {
    const char* Name;
    std::function<void(TOggData&)> Set;
    std::function<int32_t(int32_t)> Left;
    std::function<int32_t(int32_t)> Right;
};

void PrintTo(const VolumeCase& c, std::ostream* os) { *os << c.Name; }

class OggDataRenderVolume : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(OggDataRenderVolume, ScalesEverySampleTruncatingTowardZero) {
    const VolumeCase& c = GetParam();
    TestStream s = MakeNoiseStream(44100, 2, 0.2);
    c.Set(*s.Data);
    s.Data->Play(false, true);
    const std::vector<int16_t> out = RenderNarrow(*s.Data, 4096, {4096});
    ASSERT_EQ(out.size(), 8192u);
    std::vector<int16_t> expected;
    for (size_t i = 0; i < out.size(); i += 2) {
        expected.push_back(static_cast<int16_t>(ClipToSample(c.Left(s.Frames[i]))));
        expected.push_back(static_cast<int16_t>(ClipToSample(c.Right(s.Frames[i + 1]))));
    }
    EXPECT_TRUE(SameFrames(out, expected));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, OggDataRenderVolume,
    ::testing::Values(VolumeCase{"FadeHalf", [](TOggData& d) { d.Fade(0.5f, 0.0f); },
                                 [](int32_t v) { return v / 2; }, [](int32_t v) { return v / 2; }},
                      VolumeCase{"PanRight", [](TOggData& d) { d.SetPan(1.0f, 0.0f); },
                                 [](int32_t) { return 0; }, [](int32_t v) { return v; }},
                      VolumeCase{"PanLeft", [](TOggData& d) { d.SetPan(-1.0f, 0.0f); },
                                 [](int32_t v) { return v; }, [](int32_t) { return 0; }},
                      VolumeCase{"PanHalfRight", [](TOggData& d) { d.SetPan(0.5f, 0.0f); },
                                 [](int32_t v) { return v / 2; }, [](int32_t v) { return v; }},
                      VolumeCase{"VolumeAndMasterHalf",
                                 [](TOggData& d) {
                                     d.SetVolume(0.5f);
                                     d.SetMasterVolume(0.5f);
                                 },
                                 [](int32_t v) { return v / 4; }, [](int32_t v) { return v / 4; }},
                      VolumeCase{"ImmediateFadeUnderTenMs",
                                 [](TOggData& d) { d.Fade(0.25f, 0.005f); },
                                 [](int32_t v) { return v / 4; }, [](int32_t v) { return v / 4; }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(OggDataRender, WideOutputAtDoubleVolumeLeavesTheSixteenBitRange) {
    TestStream s = MakeNoiseStream(44100, 2, 0.2, {}, 1.0);
    s.Data->SetVolume(2.0f);
    s.Data->Play(false, true);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    const int32_t* block = s.Data->GetBlock();
    int32_t largest = 0;
    for (int32_t i = 0; i < 2 * kBlockFrames; ++i) {
        EXPECT_EQ(block[i], 2 * s.Frames[i]) << "sample " << i;
        largest = std::max(largest, std::abs(block[i]));
    }
    EXPECT_GT(largest, 32767);
}

TEST(OggDataRender, ImmediateFadeToSilencePausesAtTheNextRender) {
    TestStream s = MakeNoiseStream(44100, 2, 0.5);
    s.Data->Play(true, true);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    const float before = s.Data->GetTime(true);
    s.Data->Fade(0.0f, 0.0f);
    EXPECT_EQ(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->GetTime(true), before);  // paused where it was, not rewound
}

TEST(OggDataRender, FadeOutOverOneSecondPausesAtTheFirstBlockThatStartsSilent) {
    TestStream s = MakeNoiseStream(44100, 2, 2.0);
    s.Data->Play(false, true);
    s.Data->Fade(0.0f, 1.0f);
    // The fade reaches 0 after about 44100 frames, inside the sixth block.
    int32_t rendered = 0;
    while (s.Data->RenderNext(0) > 0) ++rendered;
    EXPECT_EQ(rendered, 6);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_NEAR(s.Data->GetTime(true), 6.0 * kBlockFrames / 44100, 1e-4);
}

TEST(OggDataRender, RenderNextAllocatesNothing) {
    // Every source format, a filter curve, the gain control, a cue jump and a loop wrap in
    // the measured blocks.
    for (const FormatCase c :
         {FormatCase{44100, 2}, FormatCase{44100, 1}, FormatCase{22050, 2}, FormatCase{22050, 1}}) {
        SCOPED_TRACE(testing::Message() << c.RateHz << " Hz " << c.Channels << " ch");
        TestStream s =
            MakeNoiseStream(c.RateHz, c.Channels, 0.5, {"COMMENT=*looptime,0,0.1,0.2,1"});
        s.Data->SetFilterCurve4(1.5f, 0.5f, 1.0f, 2.0f, 0.0f);
        s.Data->SetAGC(1.0f);
        s.Data->Play(true, true);
        int32_t rendered = 0;
        const AllocationScope scope;
        for (int32_t b = 0; b < 8; ++b) rendered += s.Data->RenderNext(10) > 0 ? 1 : 0;
        EXPECT_EQ(scope.Count(), 0);
        EXPECT_EQ(rendered, 8);
    }
}

}  // namespace
}  // namespace oggmix::test
