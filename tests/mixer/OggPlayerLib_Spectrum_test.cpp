// OggPlayerLib_Spectrum_test.cpp: the spectrum of the mix being heard: its values for known
// mixes written through OnMix, the read that wraps at the end of the ring, when it leaves the
// caller's values alone, and the per-slot spectrum next to it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "base/MemoryStream.h"
#include "mixer/OggPlayerLib.h"
#include "tests/mixer/MixerTestSupport.h"
#include "tests/support/OggFixture.h"
#include "tests/support/SpectrumChecks.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr int64_t kRenderMs = 1'000'000;
constexpr uint32_t kSeed = 8101;

// Renders one block whose mix is `mix` (interleaved; as many frames as a block holds), with
// the limiter out of the way so that the ring holds exactly those values.
void RenderMix(TOggPlayer& player, const std::vector<int32_t>& mix) {
    player.SetLimiter(32767, 32767, 500, 44100, -1);
    player.OnMix = [&mix](int32_t* samples, int32_t frameCount) {
        for (int32_t i = 0; i < 2 * frameCount; ++i) samples[i] = mix[static_cast<size_t>(i)];
    };
    player.RenderNext();
    player.OnMix = nullptr;
}

std::vector<int32_t> Block(const TOggPlayer& player, int32_t left, int32_t right) {
    std::vector<int32_t> mix(static_cast<size_t>(player.BlockBytes() / 2));
    for (size_t i = 0; i < mix.size(); i += 2) {
        mix[i] = left;
        mix[i + 1] = right;
    }
    return mix;
}

std::vector<float> MixValues(TOggPlayer& player) {
    std::vector<float> values(256, 123.0f);
    player.GetMixSpectrum(values.data());
    return values;
}

class MixSpectrum : public ::testing::Test {
protected:
    PinnedClock clock{kRenderMs};
    TOggPlayer player{kMixerBufferBytes, kMixerSlots};
};

TEST_F(MixSpectrum, BeforeTheFirstMixTheCallersValuesStay) {
    EXPECT_EQ(MixValues(player), std::vector<float>(256, 123.0f));
}

TEST_F(MixSpectrum, AMixOfEmptySlotsIsSilence) {
    player.RenderNext();
    player.RenderNext();
    clock.Set(kRenderMs + 30);
    EXPECT_EQ(MixValues(player), std::vector<float>(256, 0.0f));
}

TEST_F(MixSpectrum, ConstantInputGivesThePublishedLowEntries) {
    RenderMix(player, Block(player, 1000, 0));
    RenderMix(player, Block(player, 0, 0));
    clock.Set(kRenderMs + 20);
    const std::vector<float> left = MixValues(player);
    ExpectConstantLeftEntries(left, 5e-5);

    clock.Set(kRenderMs);
    RenderMix(player, Block(player, 1000, 1000));
    RenderMix(player, Block(player, 0, 0));
    clock.Set(kRenderMs + 20);
    const std::vector<float> both = MixValues(player);
    for (int m = 0; m < 3; ++m) EXPECT_FLOAT_EQ(both[m], 2.0f * left[m]) << m;
}

TEST_F(MixSpectrum, AFullScaleCosineAtBin64PeaksAtEntries127And128) {
    std::vector<int32_t> cosine = Block(player, 0, 0);
    for (size_t f = 0; 2 * f < cosine.size(); ++f)
        cosine[2 * f] = static_cast<int32_t>(
            std::lround(32767.0 * std::cos(std::numbers::pi * static_cast<double>(f) / 2.0)));
    RenderMix(player, cosine);
    RenderMix(player, Block(player, 0, 0));
    clock.Set(kRenderMs + 40);
    ExpectQuarterRatePeak(MixValues(player), 0.05);
}

TEST_F(MixSpectrum, TheReadWrapsAtTheEndOfTheRing) {
    // A ring of 36880 bytes: 100 ms into its second half is 800 bytes (200 frames) before
    // its end; the read goes on at the start of the ring, in the block rendered last.
    TOggPlayer small(36880, 1);
    std::vector<int32_t> heard = Block(small, 0, 0);
    std::vector<int32_t> latest = Block(small, 0, 0);
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<int32_t> sample(-20000, 20000);
    for (int32_t& v : heard) v = sample(random);
    for (int32_t& v : latest) v = sample(random);
    RenderMix(small, heard);
    RenderMix(small, latest);
    clock.Set(kRenderMs + 100);
    ASSERT_EQ(small.MixPosition(), 36880 - 800);

    const size_t heardFrames = heard.size() / 2;
    std::vector<int32_t> expected(heard.end() - 2 * 200, heard.end());
    expected.insert(expected.end(), latest.begin(), latest.begin() + 2 * 56);
    ASSERT_EQ(heardFrames, 4610u);
    EXPECT_EQ(MixValues(small), DisplaySpectrum(expected));
}

TEST_F(MixSpectrum, OnceTheRingHasPlayedWithoutANewBlockTheValuesStay) {
    RenderMix(player, Block(player, 1000, 0));
    RenderMix(player, Block(player, 0, 0));
    clock.Set(kRenderMs + 400);  // the ring plays 0.37 s
    EXPECT_EQ(MixValues(player), std::vector<float>(256, 123.0f));
}

// ---- With a stream in a slot ----

class MixSpectrumWithStream : public ::testing::Test {
protected:
    void SetUp() override {
        BindDecoder();
        stream = std::make_unique<TOggData>(kMixerBufferBytes);
        ASSERT_TRUE(stream->LoadFromStream(
            std::make_unique<MemoryStream>(EncodeOgg(Noise(44100, 2, 1.0, kSeed, 0.4)))));
        player.SetSlot(3, stream.get(), true);
        player.Play(3, true);
    }
    void TearDown() override { player.ClearSlot(3, true); }

    PinnedClock clock{kRenderMs};
    TOggPlayer player{kMixerBufferBytes, kMixerSlots};
    std::unique_ptr<TOggData> stream;
};

TEST_F(MixSpectrumWithStream, OneStreamWithinFullScaleGivesTheSameSpectrumAsItsSlot) {
    player.RenderNext();
    player.RenderNext();
    clock.Set(kRenderMs + 50);
    std::vector<float> slot(256, 123.0f);
    player.GetSpectrum(3, slot.data());
    std::vector<float> own(256);
    stream->GetSpectrum(own.data());
    EXPECT_EQ(slot, own);
    EXPECT_EQ(MixValues(player), own) << "the mix of one stream is that stream";
    EXPECT_GT(own[40], 0.0f);
}

TEST_F(MixSpectrumWithStream, AnEmptySlotLeavesTheValuesAndAPausedStreamEmptiesItsOwn) {
    player.RenderNext();
    player.RenderNext();
    std::vector<float> values(256, 123.0f);
    player.GetSpectrum(0, values.data());
    EXPECT_EQ(values, std::vector<float>(256, 123.0f));

    player.Pause(3);
    clock.Set(kRenderMs);
    player.RenderNext();  // the stream does not render: its position lapses with its time
    clock.Set(kRenderMs + 500);
    player.GetSpectrum(3, values.data());
    EXPECT_EQ(values, std::vector<float>(256, 0.0f));
}

}  // namespace
}  // namespace oggmix::test
