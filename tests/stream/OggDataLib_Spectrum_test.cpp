// OggDataLib_Spectrum_test.cpp: which frames of the render ring the stream's spectrum reads
// (the position being heard, the wrap at the end of the ring, the wide values), when no
// position exists, and what a real tone looks like.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <vector>

#include "base/Clock.h"
#include "tests/stream/StreamTestSupport.h"
#include "tests/support/SpectrumChecks.h"

namespace oggmix::test {
namespace {

constexpr int64_t kRenderMs = 1'000'000;

std::vector<float> Spectrum(TOggData& data) {
    std::vector<float> values(256, -1.0f);
    data.GetSpectrum(values.data());
    return values;
}

class OggDataSpectrum : public ::testing::Test {
protected:
    void SetUp() override {
        BindDecoder();
        test_clock::Pin(kRenderMs);
    }
    void TearDown() override { test_clock::Unpin(); }

    // Renders blocks with the clock at kRenderMs, then moves the clock msLater on.
    static void RenderThenWait(TOggData& data, int32_t blocks, int64_t msLater) {
        for (int32_t b = 0; b < blocks; ++b) ASSERT_GT(data.RenderNext(0), 0);
        test_clock::Pin(kRenderMs + msLater);
    }
};

TEST_F(OggDataSpectrum, NoPositionAndZerosBeforeTheFirstRender) {
    TestStream s = MakeNoiseStream(44100, 2, 0.5);
    EXPECT_EQ(s.Data->SpectrumPosition(), -1);
    s.Data->Play(true, true);
    EXPECT_EQ(s.Data->SpectrumPosition(), -1) << "playing is not enough: nothing rendered yet";
    EXPECT_EQ(Spectrum(*s.Data), std::vector<float>(256, 0.0f));
}

TEST_F(OggDataSpectrum, ThePositionRunsThroughTheBlockBeforeTheLatestInWholeFrames) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    s.Data->Play(true, true);
    RenderThenWait(*s.Data, 1, 0);
    // The first block went into the second half; the one heard is the first half.
    EXPECT_EQ(s.Data->SpectrumPosition(), 0);
    test_clock::Pin(kRenderMs + 10);
    EXPECT_EQ(s.Data->SpectrumPosition(), 3528);  // 10 ms = 441 frames
    test_clock::Pin(kRenderMs + 3);
    EXPECT_EQ(s.Data->SpectrumPosition(), 1056) << "1058.4 bytes down to a whole frame";

    test_clock::Pin(kRenderMs);
    ASSERT_GT(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->SpectrumPosition(), kTestBufferBytes) << "now the second half is heard";
    test_clock::Pin(kRenderMs + 200);  // past the heard block into the latest one
    EXPECT_EQ(s.Data->SpectrumPosition(), (kTestBufferBytes + 70560) % (2 * kTestBufferBytes));
}

TEST_F(OggDataSpectrum, ThePositionLapsesAfterOneRingOfTime) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    s.Data->Play(true, true);
    RenderThenWait(*s.Data, 2, 371);  // the ring plays 0.3715 s
    EXPECT_GE(s.Data->SpectrumPosition(), 0);
    test_clock::Pin(kRenderMs + 372);
    EXPECT_EQ(s.Data->SpectrumPosition(), -1);
    test_clock::Pin(kRenderMs + 500);
    EXPECT_EQ(Spectrum(*s.Data), std::vector<float>(256, 0.0f));
    test_clock::Pin(kRenderMs - 1);
    EXPECT_EQ(s.Data->SpectrumPosition(), -1) << "a clock before the render";
}

TEST_F(OggDataSpectrum, ReadsTheFramesBeingHeard) {
    TestStream s = MakeNoiseStream(44100, 2, 1.0);
    s.Data->Play(true, true);
    RenderThenWait(*s.Data, 2, 50);
    // Heard: the first block (frames 0 ..), 50 ms = 2205 frames into it.
    EXPECT_EQ(Spectrum(*s.Data), DisplaySpectrum(s.Frames, 2205));
}

TEST_F(OggDataSpectrum, TheReadWrapsAtTheEndOfTheRing) {
    // A ring of 2 x 36080 bytes: 100 ms into its second half is 800 bytes before its end.
    constexpr int32_t kBufferBytes = 36080;
    const Pcm pcm = Noise(44100, 2, 0.5, kNoiseSeed);
    std::vector<uint8_t> ogg = EncodeOgg(pcm);
    const std::vector<int16_t> frames = ToOutputFrames(DecodeReference(ogg));
    TOggData data(kBufferBytes);
    ASSERT_TRUE(data.LoadFromStream(std::make_unique<MemoryStream>(std::move(ogg))));
    data.Play(true, true);
    RenderThenWait(data, 2, 100);
    ASSERT_EQ(data.SpectrumPosition(), 2 * kBufferBytes - 800);
    // The heard block holds frames 0 .. 4509 in the second half; the first half holds the
    // next block. So the 100 frames before the end and the 156 after the wrap are one run.
    EXPECT_EQ(Spectrum(data), DisplaySpectrum(frames, 4410));
}

TEST_F(OggDataSpectrum, WideValuesBeyond16BitsAreReadWhole) {
    TestStream plain = MakeNoiseStream(44100, 2, 1.0, {}, 0.9);
    TestStream loud = MakeNoiseStream(44100, 2, 1.0, {}, 0.9);
    loud.Data->SetVolume(4.0f);
    for (TestStream* s : {&plain, &loud}) {
        s->Data->Play(true, true);
        RenderThenWait(*s->Data, 2, 20);
        test_clock::Pin(kRenderMs);
    }
    test_clock::Pin(kRenderMs + 20);
    const std::vector<float> quiet = Spectrum(*plain.Data);
    const std::vector<float> fourfold = Spectrum(*loud.Data);
    EXPECT_EQ(quiet, DisplaySpectrum(plain.Frames, 882));
    EXPECT_EQ(fourfold, DisplaySpectrum(plain.Frames, 882, 4));
}

TEST_F(OggDataSpectrum, AFullScaleToneAtAQuarterOfTheRatePeaksAtEntries127And128) {
    Pcm tone = Silence(44100, 2, 0.5);
    for (int64_t f = 0; f < tone.Frames(); ++f)
        tone.Samples[2 * f] =
            static_cast<int16_t>(std::lround(32767.0 * std::cos(std::numbers::pi * f / 2.0)));
    TestStream s = MakeStream(tone);
    s.Data->Play(true, true);
    RenderThenWait(*s.Data, 2, 100);
    // Lossy coding moves the values a little from those of the exact cosine.
    ExpectQuarterRatePeak(Spectrum(*s.Data), 1.0);
}

TEST_F(OggDataSpectrum, ConstantLeftInputGivesThePublishedLowEntries) {
    Pcm dc = Silence(44100, 2, 0.5);
    for (int64_t f = 0; f < dc.Frames(); ++f) dc.Samples[2 * f] = 1000;
    TestStream s = MakeStream(dc);
    s.Data->Play(true, true);
    RenderThenWait(*s.Data, 2, 100);
    ExpectConstantLeftEntries(Spectrum(*s.Data), 0.002);
}

}  // namespace
}  // namespace oggmix::test
