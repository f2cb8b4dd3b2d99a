// The audio feed on the manual device: the mixer's blocks are heard in order after the ring's
// first half, late blocks are dropped, silence without streams, the cursor test, a start
// after the streams, start-up failure and the shutdown order.
#include "feed/AudioFeed.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/sound/SoundTestSupport.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr int32_t kHalfFrames = AudioFeed::kRingBytes / 8;
constexpr size_t kHalfSamples = 2 * kHalfFrames;
constexpr int32_t kOffsetFrames = 16;  // keeps the cursors off the exact middle

class AudioFeedTest : public ManualSound {
protected:
    void TearDown() override {
        FFeed.reset();
        ManualSound::TearDown();
    }
    void StartFeed(int32_t streams = 2) {
        FFeed = std::make_unique<AudioFeed>(*FVoxa, WuvorbisPath(), streams);
    }
    // Waits for the fill request number `count` to have finished.
    void WaitForFills(uint64_t count) {
        ASSERT_TRUE(
            WaitUntil([&] { return FFeed->WrittenBlocks() + FFeed->DroppedBlocks() >= count; }));
    }
    std::string WriteOgg(double seconds) {
        const auto bytes = EncodeOgg(Music(44100, 2, seconds, 7));
        return FDir.Write("music.ogg", bytes);
    }
    static std::vector<int16_t> Half(const std::vector<int16_t>& heard, int index) {
        const auto begin = heard.begin() + static_cast<ptrdiff_t>(index * kHalfSamples);
        return {begin, begin + static_cast<ptrdiff_t>(kHalfSamples)};
    }

    TempDir FDir;
    std::unique_ptr<AudioFeed> FFeed;
};

TEST(AudioFeedCursors, ABlockMayBeWrittenUnlessACursorLiesInsideIt) {
    // Cursor exactly on the block's first byte: allowed; one byte further: not.
    EXPECT_TRUE(AudioFeed::CanWriteBlockAt(100, 32768, 32768, 32768));
    EXPECT_FALSE(AudioFeed::CanWriteBlockAt(100, 32769, 32768, 32768));
    EXPECT_TRUE(AudioFeed::CanWriteBlockAt(0, 4096, 32768, 32768));
    EXPECT_FALSE(AudioFeed::CanWriteBlockAt(32769, 36865, 32768, 32768));
    EXPECT_TRUE(AudioFeed::CanWriteBlockAt(32768, 36864, 0, 32768));  // at the end: outside
    EXPECT_FALSE(AudioFeed::CanWriteBlockAt(32767, 36863, 0, 32768));
    // The write cursor wrapped to the start while the play cursor is near the end.
    EXPECT_FALSE(AudioFeed::CanWriteBlockAt(65000, 3560, 32768, 32768));
    EXPECT_FALSE(AudioFeed::CanWriteBlockAt(32768, 33000, 32768, 32768));  // write cursor inside
    // Extreme values do not overflow the end of the span.
    EXPECT_FALSE(AudioFeed::CanWriteBlockAt(10, 0xFFFFFFF0u, 0xFFFFFF00u, 0x200));
}

TEST_F(AudioFeedTest, WithoutStreamsEveryWrittenBlockIsSilence) {
    StartFeed();
    WaitForFills(1);
    // Something audible in the half the device plays first, where no fill has written yet.
    std::vector<int16_t> pattern(kHalfSamples, 1234);
    FFeed->WaveData().WriteData(0, pattern.data(), AudioFeed::kRingBytes / 2);
    std::vector<int16_t> heard;
    Advance(kOffsetFrames, &heard);
    for (uint64_t n = 1; n <= 3; ++n) {
        WaitForFills(n);
        Advance(kHalfFrames, &heard);
    }
    EXPECT_EQ(Half(heard, 0), pattern);
    EXPECT_EQ(Half(heard, 1), std::vector<int16_t>(kHalfSamples, 0));
    EXPECT_EQ(Half(heard, 2), std::vector<int16_t>(kHalfSamples, 0));
    EXPECT_EQ(FFeed->DroppedBlocks(), 0u);
}

TEST_F(AudioFeedTest, TheMixersBlocksAreHeardInOrderAfterTheRingsFirstHalf) {
    const std::string file = WriteOgg(1.5);
    StartFeed();
    WaitForFills(1);  // the first block rendered before any stream joined: silence
    ASSERT_TRUE(FFeed->Stream(0).LoadFromFile(file));
    FFeed->Player().SetSlot(0, &FFeed->Stream(0), true);
    FFeed->Player().Play(0, true);

    std::vector<int16_t> heard;
    Advance(kOffsetFrames, &heard);
    constexpr int kBlocks = 12;  // longer than the file: the loop is heard too
    for (uint64_t n = 1; n <= kBlocks; ++n) {
        WaitForFills(n);
        Advance(kHalfFrames, &heard);
    }
    EXPECT_EQ(FFeed->DroppedBlocks(), 0u);

    // The same file through a mixer of its own, block by block.
    TOggData stream(AudioFeed::kStreamBytes);
    ASSERT_TRUE(stream.LoadFromFile(file));
    TOggPlayer player(AudioFeed::kMixerBytes, AudioFeed::kSlotCount);
    player.SetSlot(0, &stream, true);
    player.Play(0, true);
    for (int block = 0; block + 2 < kBlocks; ++block) {
        player.RenderNext();
        const std::vector<int16_t> expected(player.GetBlock(), player.GetBlock() + kHalfSamples);
        ASSERT_EQ(Half(heard, block + 2), expected) << "block " << block;
    }
    EXPECT_NE(Half(heard, 2), std::vector<int16_t>(kHalfSamples, 0));
    player.ClearSlot(0, true);
}

TEST_F(AudioFeedTest, StartedAfterItsStreamsTheFirstBlockRequestedIsMusic) {
    const std::string file = WriteOgg(1.0);
    FFeed = std::make_unique<AudioFeed>(*FVoxa, WuvorbisPath(), 1, false);
    ASSERT_TRUE(FFeed->Stream(0).LoadFromFile(file));
    FFeed->Player().SetSlot(0, &FFeed->Stream(0), true);
    FFeed->Player().Play(0, true);
    ASSERT_TRUE(WaitForPolls(*FFeed->WaveData().Thread()));
    EXPECT_EQ(FFeed->RequestedBlocks(), 0u);  // the channel does not play yet

    FFeed->Start();
    WaitForFills(1);
    std::vector<int16_t> heard;
    Advance(2 * kHalfFrames, &heard);  // the ring's silent first half, then the first block
    EXPECT_NE(Half(heard, 1), std::vector<int16_t>(kHalfSamples, 0));
}

TEST_F(AudioFeedTest, ABlockForAHalfTheDeviceHasReachedIsDropped) {
    StartFeed();
    WaitForFills(1);
    std::vector<int16_t> old(kHalfSamples, -77);
    FFeed->WaveData().WriteData(0, old.data(), AudioFeed::kRingBytes / 2);
    Advance(kOffsetFrames);
    FFeed->Player().Lock();  // holds the next fill inside RenderNext
    Advance(kHalfFrames);    // both cursors beyond the middle: the first half is requested
    ASSERT_TRUE(WaitUntil([&] { return FFeed->RequestedBlocks() >= 2; }));
    std::vector<int16_t> heard;
    Advance(kHalfFrames, &heard);  // the device is back inside the first half
    FFeed->Player().Unlock();
    WaitForFills(2);
    EXPECT_EQ(FFeed->DroppedBlocks(), 1u);
    EXPECT_EQ(FFeed->WrittenBlocks(), 1u);
    heard.clear();
    Advance(kHalfFrames - kOffsetFrames - 100, &heard);
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](int16_t s) { return s == -77; }));
}

TEST_F(AudioFeedTest, APlayPositionIsTheCursorInTheRing) {
    StartFeed();
    Advance(1000);
    int32_t position = -1;
    int32_t size = -1;
    FFeed->GetPlayPosition(position, size);
    EXPECT_EQ(position, 4000);
    EXPECT_EQ(size, 65536);
}

TEST_F(AudioFeedTest, ShutdownStopsTheSoundAndUnloadsTheDecoderLast) {
    const std::string file = WriteOgg(0.5);
    StartFeed();
    ASSERT_TRUE(FFeed->Stream(1).LoadFromFile(file));
    FFeed->Player().SetSlot(1, &FFeed->Stream(1), true);
    FFeed->Player().Play(1, true);
    IDirectSoundBuffer8* ring = FFeed->WaveData().SoundBuffer();
    ring->AddRef();  // keep the ring to look at it afterwards
    FFeed.reset();
    DWORD status = 1;
    ASSERT_EQ(ring->GetStatus(&status), DS_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(ring->Release(), 1u);  // channel 0 still holds the detached streaming buffer
    EXPECT_EQ(FVoxa->Channels(0)->WaveData(), nullptr);
    EXPECT_EQ(VorbisFileDLL, nullptr);
    std::vector<int16_t> heard;
    Advance(100, &heard);
    EXPECT_EQ(heard, std::vector<int16_t>(200, 0));
}

TEST_F(AudioFeedTest, AMissingDecoderStopsStartUpBeforeAnythingIsCreated) {
    try {
        AudioFeed feed(*FVoxa, FDir.Path() + "/libwuvorbis.so", 2);
        FAIL() << "started without a decoder";
    } catch (const ERangeError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "wuvorbis.dllが存在しません。\r\n(" + FDir.Path() + "/libwuvorbis.so)");
    }
    EXPECT_EQ(FVoxa->Channels(0)->WaveData(), nullptr);
    EXPECT_EQ(FVoxa->Channels(0)->SoundBuffer(), nullptr);
}

class AudioFeedWithoutDevice : public AudioFeedTest {
protected:
    const char* Backend() const override { return "no-such-device"; }
};

TEST_F(AudioFeedWithoutDevice, StartsAndStopsSilentlyWithoutASoundBuffer) {
    StartFeed();
    EXPECT_EQ(FFeed->WaveData().SoundBuffer(), nullptr);
    int32_t position = -1;
    int32_t size = -1;
    FFeed->GetPlayPosition(position, size);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(FFeed->CanWriteBlock(&FFeed->WaveData(), 0, 32768));
}

}  // namespace
}  // namespace oggmix::test
