// The player mixer without streams: block alternation, overwrite, clipping, the delay from the
// host's play cursor, the position and level of what is heard, construction limits.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "base/Exceptions.h"
#include "mixer/OggPlayerLib.h"
#include "tests/mixer/MixerTestSupport.h"

namespace oggmix::test {
namespace {

constexpr int64_t kStartMs = 1'000'000;
constexpr int32_t kHalfBytes = kMixerBufferBytes / 2;

// Renders one block whose whole mix is `left`, `right` in every frame.
void RenderConstantBlock(TOggPlayer& player, int32_t left, int32_t right) {
    player.OnMix = [left, right](int32_t* samples, int32_t frameCount) {
        for (int32_t frame = 0; frame < frameCount; ++frame) {
            samples[2 * frame] = left;
            samples[2 * frame + 1] = right;
        }
    };
    player.RenderNext();
    player.OnMix = nullptr;
}

bool BlockIsSilent(const TOggPlayer& player) {
    const int16_t* block = player.GetBlock();
    for (int32_t i = 0; i < kBlockSamples; ++i) {
        if (block[i] != 0) return false;
    }
    return true;
}

TEST(OggPlayer, EmptyMixerRendersSilentBlocksThatAlternateStartingWithTheSecondHalf) {
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    RenderConstantBlock(player, 1000, -1000);  // dirty both halves first
    RenderConstantBlock(player, 1000, -1000);

    player.RenderNext();
    const int16_t* first = player.GetBlock();
    EXPECT_TRUE(BlockIsSilent(player));
    player.RenderNext();
    const int16_t* second = player.GetBlock();
    EXPECT_TRUE(BlockIsSilent(player));
    player.RenderNext();

    // Three renders before `first`: the first render of the mixer went to the second half.
    EXPECT_EQ(first - second, kBlockSamples);
    EXPECT_EQ(player.GetBlock(), first);
}

TEST(OggPlayer, FillOverwritesDestAndNeverWritesBeyondOneBlock) {
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    std::vector<int16_t> dest(2 * kBlockSamples, int16_t{0x7777});

    EXPECT_EQ(player.Fill(dest.data(), 40, true), 40);
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(dest[i], 0) << i;
    EXPECT_EQ(dest[20], 0x7777);

    // A request beyond one block is cut to one block, and says so.
    EXPECT_EQ(player.Fill(dest.data(), 2 * kHalfBytes, true), kHalfBytes);
    EXPECT_EQ(dest[kBlockSamples - 1], 0);
    EXPECT_EQ(dest[kBlockSamples], 0x7777);
    EXPECT_EQ(player.Fill(dest.data(), -4, true), 0);
}

TEST(OggPlayer, FillWritesToAnUnalignedDestination) {
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    player.SetLimiter(32767, 32767, 1, 1, -1);
    std::vector<uint8_t> bytes(4 * 2 + 1, 0xEE);
    player.OnMix = [](int32_t* samples, int32_t frameCount) {
        for (int32_t i = 0; i < 2 * frameCount; ++i) samples[i] = 0x0102;
    };
    player.Fill(bytes.data() + 1, 8, true);
    EXPECT_EQ(bytes[0], 0xEE);
    for (size_t i = 1; i < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i], 0x02);  // little-endian
        EXPECT_EQ(bytes[i + 1], 0x01);
    }
}

TEST(OggPlayer, OutputIsClippedToPlusMinus32767NeverMinus32768) {
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    player.SetLimiter(32767, 32767, 1, 1, -1);  // no scaling
    const std::vector<int32_t> mix = {40000, -40000, 32767, -32768, INT32_MAX, INT32_MIN, 5, -5};
    const std::vector<int16_t> out = FillWithMix(player, mix);
    EXPECT_EQ(out, (std::vector<int16_t>{32767, -32767, 32767, -32767, 32767, -32767, 5, -5}));
}

// ---- Play position of the mix ----

class OggPlayerPosition : public ::testing::Test {
protected:
    PinnedClock clock{kStartMs};
    TOggPlayer player{kMixerBufferBytes, kMixerSlots};
};

TEST_F(OggPlayerPosition, NoPositionBeforeTheFirstBlock) {
    EXPECT_EQ(player.MixPosition(), -1);
    EXPECT_EQ(player.GetLevel(0), 0.0f);
}

TEST_F(OggPlayerPosition, PositionAdvancesWithTheClockInWholeFrames) {
    player.RenderNext();
    EXPECT_EQ(player.MixPosition(), 0);
    clock.Advance(50);
    EXPECT_EQ(player.MixPosition(), 8820);  // 50 ms of 176.4 bytes
    clock.Advance(1);
    EXPECT_EQ(player.MixPosition() % 4, 0);
    EXPECT_GT(player.MixPosition(), 8820);
}

TEST_F(OggPlayerPosition, HeardBlockIsTheOneBeforeTheBlockRenderedLast) {
    player.RenderNext();  // second half
    player.RenderNext();  // first half; the second half is being heard
    EXPECT_EQ(player.MixPosition(), kHalfBytes);
    clock.Advance(100);
    EXPECT_EQ(player.MixPosition(), kHalfBytes + 17640);
}

TEST_F(OggPlayerPosition, PositionLapsesOnceOneRingHasPlayedWithoutANewBlock) {
    player.RenderNext();
    clock.Advance(371);  // 65444 bytes: still inside the ring
    EXPECT_NE(player.MixPosition(), -1);
    clock.Advance(1);  // 65620 bytes: more than the ring holds
    EXPECT_EQ(player.MixPosition(), -1);
    player.RenderNext();
    EXPECT_NE(player.MixPosition(), -1);
}

TEST_F(OggPlayerPosition, AClockThatStepsBackGivesTheStartOfTheHeardBlock) {
    player.RenderNext();
    clock.Set(kStartMs - 100);
    EXPECT_EQ(player.MixPosition(), 0);
}

// ---- The delay measured from the host's play cursor ----

struct CursorCase {
    int32_t PositionBytes;
    int32_t SizeBytes;
    int64_t ExpectedDelayMs;
};

class OggPlayerCursor : public ::testing::TestWithParam<CursorCase> {};

// The delay dates the heard block back: MixPosition right after the render equals the
// position that a render without a cursor reaches after the delay has passed.
TEST_P(OggPlayerCursor, CursorDatesTheHeardBlockBackByItsPlayingTime) {
    const CursorCase c = GetParam();
    PinnedClock clock(kStartMs);

    TOggPlayer reference(kMixerBufferBytes, kMixerSlots);
    reference.RenderNext();
    clock.Advance(c.ExpectedDelayMs);
    const int32_t expected = reference.MixPosition();

    clock.Set(kStartMs);
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    int32_t calls = 0;
    player.OnGetPosition = [&](int32_t& position, int32_t& size) {
        ++calls;
        position = c.PositionBytes;
        size = c.SizeBytes;
    };
    player.RenderNext();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(player.MixPosition(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cursors, OggPlayerCursor,
    ::testing::Values(CursorCase{8820, 65536, 50},   // 50 ms into the half being played
                      CursorCase{41588, 65536, 50},  // the same offset in the other half
                      CursorCase{0, 65536, 0},
                      CursorCase{441, 65536, 2},      // 2.5 ms: halves go to even
                      CursorCase{1323, 65536, 8},     // 7.5 ms
                      CursorCase{1147, 65536, 7},     // 6.502 ms
                      CursorCase{8820, 0, 0},         // no size reported: no delay
                      CursorCase{8820, 1, 0},         // a size without halves
                      CursorCase{-8820, 65536, 0}));  // a cursor before the buffer

// ---- Output level ----

TEST_F(OggPlayerPosition, LevelIsMeasuredOnTheBlockBeingHeardNotTheOneRenderedLast) {
    RenderConstantBlock(player, 16384, 16384);  // heard once the next block is rendered
    RenderConstantBlock(player, 0, 0);
    EXPECT_FLOAT_EQ(player.GetLevel(2), 0.5f);
}

TEST_F(OggPlayerPosition, LevelOfAFullScaleLeftAndSilentRightChannel) {
    RenderConstantBlock(player, 32767, 0);
    RenderConstantBlock(player, 32767, 0);
    EXPECT_FLOAT_EQ(player.GetLevel(0), 32767.0f / 32768.0f);
    EXPECT_EQ(player.GetLevel(1), 0.0f);
    EXPECT_NEAR(player.GetLevel(2), 0.5f, 1e-4);
    EXPECT_NEAR(player.GetLevel(-7), 0.5f, 1e-4);
}

TEST_F(OggPlayerPosition, LevelAveragesMagnitudesOfBothSigns) {
    player.OnMix = [](int32_t* samples, int32_t frameCount) {
        for (int32_t frame = 0; frame < frameCount; ++frame) {
            samples[2 * frame] = frame % 2 == 0 ? 8192 : -8192;
            samples[2 * frame + 1] = -16384;
        }
    };
    player.RenderNext();
    player.RenderNext();
    EXPECT_FLOAT_EQ(player.GetLevel(0), 0.25f);
    EXPECT_FLOAT_EQ(player.GetLevel(1), 0.5f);
    EXPECT_FLOAT_EQ(player.GetLevel(2), 0.375f);
}

TEST_F(OggPlayerPosition, LevelWindowWrapsFromTheEndOfTheRingToItsStart) {
    RenderConstantBlock(player, 1024, 0);  // second half: heard after the next render
    RenderConstantBlock(player, 3072, 0);  // first half
    clock.Advance(183);                    // near the end of the second half
    const int32_t heard = player.MixPosition();
    ASSERT_GT(heard, kMixerBufferBytes - 256 * 4);
    const int32_t framesBeforeWrap = (kMixerBufferBytes - heard) / 4;
    const int32_t meanL = (framesBeforeWrap * 1024 + (256 - framesBeforeWrap) * 3072) / 256;
    EXPECT_FLOAT_EQ(player.GetLevel(0), static_cast<float>(meanL) / 32768.0f);
}

TEST_F(OggPlayerPosition, LevelIsZeroOnceThePositionHasLapsed) {
    RenderConstantBlock(player, 32767, 32767);
    clock.Advance(400);
    EXPECT_EQ(player.GetLevel(0), 0.0f);
    EXPECT_EQ(player.GetLevel(2), 0.0f);
}

// ---- Construction and Reset ----

TEST(OggPlayer, ConstructionRefusesSizesItCannotMix) {
    EXPECT_THROW(TOggPlayer(0, 8), ERangeError);
    EXPECT_THROW(TOggPlayer(-65536, 8), ERangeError);
    EXPECT_THROW(TOggPlayer(65532, 8), ERangeError);  // half a ring would end inside a frame
    EXPECT_THROW(TOggPlayer(65536, 0), ERangeError);
    EXPECT_THROW(TOggPlayer(65536, 33), ERangeError);
    EXPECT_NO_THROW(TOggPlayer(8, 32));
}

TEST(OggPlayer, SmallestRingMixesOneFramePerBlock) {
    TOggPlayer player(8, 1);
    RenderConstantBlock(player, 7, -7);
    EXPECT_EQ(player.GetBlock()[0], 7);
    EXPECT_EQ(player.GetBlock()[1], -7);
}

TEST(OggPlayer, ResetSilencesTheRingAndRestoresTheLimiterButKeepsTheEnvelope) {
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    player.SetLimiter(16384, 16384, 1, 1, -1);
    RenderConstantBlock(player, 1000, 1000);
    const int16_t* block = player.GetBlock();
    ASSERT_EQ(block[0], 1996);
    const int32_t envelope = player.GetLimiterLevel();

    player.Reset();
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(player.GetLimiterLevel(), envelope);
    EXPECT_EQ(player.MinLevel(), 32767);
    EXPECT_EQ(player.MaxLevel(), 65534);
    EXPECT_EQ(player.Down(), 500);
    EXPECT_EQ(player.Delay(), 44100);
    // With the defaults back, a mix within full scale passes unchanged.
    EXPECT_EQ(FillWithMix(player, ConstantGroup(1000)), std::vector<int16_t>(64, 1000));
}

}  // namespace
}  // namespace oggmix::test
