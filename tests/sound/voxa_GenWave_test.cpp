// Wave data and the notification thread on the manual device: the order, offsets and sizes
// of fill requests, stops in either half, WriteData over the wrap, old contents replayed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <numeric>

#include "tests/sound/SoundTestSupport.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kRingBytes = 65536;
constexpr int32_t kRingFrames = kRingBytes / 4;
constexpr int32_t kHalfFrames = kRingFrames / 2;
// A cursor standing exactly on the middle satisfies neither half: step past it.
constexpr int32_t kOffsetFrames = 16;

class VOXAGenWave : public ManualSound {
protected:
    // A streaming 44100 Hz 16-bit stereo ring on channel 0, played once started.
    void MakeRing(uint32_t bytes) {
        FWave = std::make_unique<TVOXAWaveData>(FVoxa.get(), 44100, 16, true, bytes, false);
        ASSERT_NE(FWave->SoundBuffer(), nullptr);
        ASSERT_NE(FWave->Thread(), nullptr);
        FWave->SetOnFill(FRecorder.Handler());
        FChannel = FVoxa->Channels(0);
        FChannel->SetWaveData(FWave.get());
    }
    void TearDown() override {
        if (FChannel != nullptr) {
            FChannel->Stop();
            FChannel->SetWaveData(nullptr);
        }
        FWave.reset();
        ManualSound::TearDown();
    }
    FillRequest Second() const {
        return {FWave.get(), FChannel, FWave->HalfSize(), FWave->BufferBytes() - FWave->HalfSize()};
    }
    FillRequest First() const { return {FWave.get(), FChannel, 0, FWave->HalfSize()}; }

    // Outlive the wave data, whose thread may still be inside a fill when a case ends.
    std::mutex FGate;
    std::atomic<bool> FFillEntered{false};
    FillRecorder FRecorder;
    std::unique_ptr<TVOXAWaveData> FWave;
    TVOXAChannel* FChannel = nullptr;
};

TEST_F(VOXAGenWave, RequestsAlternateHalvesStartingWithTheSecond) {
    MakeRing(kRingBytes);
    FChannel->Play();
    ASSERT_TRUE(FRecorder.WaitForCount(1));
    Advance(kHalfFrames + kOffsetFrames);  // both cursors beyond the middle
    ASSERT_TRUE(FRecorder.WaitForCount(2));
    Advance(kHalfFrames);  // wrapped into the first half
    ASSERT_TRUE(FRecorder.WaitForCount(3));
    Advance(kHalfFrames);
    ASSERT_TRUE(FRecorder.WaitForCount(4));
    const std::vector<FillRequest> expected{Second(), First(), Second(), First()};
    EXPECT_EQ(FRecorder.Requests(), expected);
    EXPECT_EQ(Second().Offset, 32768u);
    EXPECT_EQ(Second().Size, 32768u);
    EXPECT_EQ(First().Size, 32768u);
}

TEST_F(VOXAGenWave, OddRingGivesTheSecondHalfTheExtraByte) {
    MakeRing(65537);
    EXPECT_EQ(FWave->HalfSize(), 32768u);
    FChannel->Play();
    ASSERT_TRUE(FRecorder.WaitForCount(1));
    EXPECT_EQ(FRecorder.Requests()[0], (FillRequest{FWave.get(), FChannel, 32768, 32769}));
    Advance(kHalfFrames + kOffsetFrames);
    ASSERT_TRUE(FRecorder.WaitForCount(2));
    EXPECT_EQ(FRecorder.Requests()[1], (FillRequest{FWave.get(), FChannel, 0, 32768}));
}

TEST_F(VOXAGenWave, NothingIsRequestedBeforePlayback) {
    MakeRing(kRingBytes);
    ASSERT_TRUE(WaitForPolls(*FWave->Thread()));
    Advance(kHalfFrames);  // a stopped buffer does not move
    ASSERT_TRUE(WaitForPolls(*FWave->Thread()));
    EXPECT_EQ(FRecorder.Count(), 0u);
    EXPECT_EQ(PlayCursor(FWave->SoundBuffer()), 0u);
}

TEST_F(VOXAGenWave, StopInTheFirstHalfMakesTheRestartAskForTheFirstHalfFirst) {
    MakeRing(kRingBytes);
    FChannel->Play();
    ASSERT_TRUE(FRecorder.WaitForCount(1));
    Advance(kHalfFrames + kOffsetFrames);
    ASSERT_TRUE(FRecorder.WaitForCount(2));  // now waiting for the first half
    FChannel->Stop();
    ASSERT_EQ(FWave->SoundBuffer()->SetCurrentPosition(400), DS_OK);  // stopped in the first half
    ASSERT_TRUE(WaitForPolls(*FWave->Thread()));
    EXPECT_EQ(FRecorder.Count(), 2u);  // the state moved on without a request

    FChannel->Play();
    ASSERT_TRUE(WaitForPolls(*FWave->Thread()));
    EXPECT_EQ(FRecorder.Count(), 2u);  // the second half is not asked for again
    Advance(kHalfFrames + kOffsetFrames);
    ASSERT_TRUE(FRecorder.WaitForCount(3));
    EXPECT_EQ(FRecorder.Requests()[2], First());
}

TEST_F(VOXAGenWave, StopInTheSecondHalfMakesTheRestartBehaveLikeTheFirstStart) {
    MakeRing(kRingBytes);
    FChannel->Play();
    ASSERT_TRUE(FRecorder.WaitForCount(1));
    FChannel->Stop();
    ASSERT_EQ(FWave->SoundBuffer()->SetCurrentPosition(40000), DS_OK);
    ASSERT_TRUE(WaitForPolls(*FWave->Thread()));
    EXPECT_EQ(FRecorder.Count(), 1u);

    FChannel->Play();
    ASSERT_TRUE(FRecorder.WaitForCount(2));
    EXPECT_EQ(FRecorder.Requests()[1], Second());
}

TEST_F(VOXAGenWave, WriteDataWrapsPastTheEndOfTheRing) {
    MakeRing(kRingBytes);
    std::vector<uint8_t> data(64);
    std::iota(data.begin(), data.end(), uint8_t{1});
    FWave->WriteData(kRingBytes - 24, data.data(), static_cast<uint32_t>(data.size()));

    void* first = nullptr;
    DWORD firstBytes = 0;
    void* second = nullptr;
    DWORD secondBytes = 0;
    ASSERT_EQ(
        FWave->SoundBuffer()->Lock(0, kRingBytes, &first, &firstBytes, &second, &secondBytes, 0),
        DS_OK);
    const auto* ring = static_cast<const uint8_t*>(first);
    EXPECT_EQ(std::memcmp(ring + kRingBytes - 24, data.data(), 24), 0);
    EXPECT_EQ(std::memcmp(ring, data.data() + 24, 40), 0);
    EXPECT_EQ(ring[40], 0);
    EXPECT_EQ(ring[kRingBytes - 25], 0);
    ASSERT_EQ(FWave->SoundBuffer()->Unlock(first, firstBytes, second, secondBytes), DS_OK);
}

TEST_F(VOXAGenWave, WriteDataLargerThanTheRingIsReportedAndCopiesNothing) {
    MakeRing(kRingBytes);
    std::vector<uint8_t> data(kRingBytes + 4, 0x55);
    try {
        FWave->WriteData(0, data.data(), static_cast<uint32_t>(data.size()));
        FAIL() << "no report";
    } catch (const EVOXA& e) {
        EXPECT_STREQ(e.what(), "DirectSoundBufferのロックに失敗しました(Error Code(80070057))");
    }
    std::vector<int16_t> heard;
    FChannel->Play();
    Advance(8, &heard);
    EXPECT_EQ(heard, std::vector<int16_t>(16, 0));
}

TEST_F(VOXAGenWave, ARoutineThatWritesNothingReplaysTheOldContents) {
    MakeRing(kRingBytes);
    std::vector<int16_t> pattern(kRingFrames * 2);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<int16_t>(i * 7);
    FWave->WriteData(0, pattern.data(), kRingBytes);
    FChannel->Play();
    std::vector<int16_t> heard;
    Advance(kOffsetFrames, &heard);  // keeps the cursors off the exact middle
    for (int turn = 0; turn < 4; ++turn) {
        ASSERT_TRUE(FRecorder.WaitForCount(static_cast<size_t>(turn) + 1));
        Advance(kHalfFrames, &heard);
    }
    ASSERT_GE(heard.size(), 2 * pattern.size());
    EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), heard.begin()));
    EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), heard.begin() + pattern.size()));
}

TEST_F(VOXAGenWave, WrittenHalvesAreHeardInOrder) {
    MakeRing(kRingBytes);
    // Each request writes a block numbered by its position in the sequence.
    FWave->SetOnFill(FRecorder.Handler([block = int16_t{0}](const FillRequest& request) mutable {
        ++block;
        std::vector<int16_t> samples(request.Size / 2, block);
        request.Sender->WriteData(request.Offset, samples.data(), request.Size);
    }));
    FChannel->Play();
    std::vector<int16_t> heard;
    Advance(kOffsetFrames, &heard);
    for (size_t n = 1; n <= 5; ++n) {
        ASSERT_TRUE(FRecorder.WaitForCount(n));
        Advance(kHalfFrames, &heard);
    }
    // The first half plays its initial silence, then blocks 1, 2, 3, 4 follow one per half.
    for (int half = 0; half < 5; ++half) {
        const int16_t expected = static_cast<int16_t>(half);
        const auto begin = heard.begin() + half * kHalfFrames * 2;
        EXPECT_TRUE(
            std::all_of(begin, begin + kHalfFrames * 2, [&](int16_t s) { return s == expected; }))
            << "half " << half;
    }
}

TEST_F(VOXAGenWave, ASlowRefillDoesNotStallTheDevice) {
    MakeRing(kRingBytes);
    FWave->SetOnFill(FRecorder.Handler([this](const FillRequest&) {
        FFillEntered.store(true);
        std::lock_guard wait(FGate);
    }));
    std::unique_lock closed(FGate);  // the fill waits here until the device has moved on
    FChannel->Play();
    ASSERT_TRUE(WaitUntil([&] { return FFillEntered.load(); }));
    Advance(2 * kRingFrames + kOffsetFrames);  // two turns of the ring while the fill is stuck
    EXPECT_EQ(PlayCursor(FWave->SoundBuffer()), static_cast<uint32_t>(4 * kOffsetFrames));
    closed.unlock();
    ASSERT_TRUE(FRecorder.WaitForCount(1));
}

TEST_F(VOXAGenWave, AFillThatThrowsEndsTheThreadAndKeepsTheException) {
    MakeRing(kRingBytes);
    FWave->SetOnFill(
        [](TVOXAGenWave*, TVOXAChannel*, uint32_t, uint32_t) { throw EVOXA("fill failed"); });
    FChannel->Play();
    ASSERT_TRUE(WaitUntil([&] { return FWave->Thread()->FatalException() != nullptr; }));
    try {
        std::rethrow_exception(FWave->Thread()->FatalException());
    } catch (const EVOXA& e) {
        EXPECT_STREQ(e.what(), "fill failed");
    }
}

TEST_F(VOXAGenWave, NotificationEventsAreSignalledAtBothHalves) {
    MakeRing(kRingBytes);
    FChannel->Play();
    Advance(kHalfFrames + 1);
    EXPECT_EQ(WaitForSingleObject(FWave->Event(0), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(FWave->Event(1), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(FWave->Event(2), 0), WAIT_TIMEOUT);
    FChannel->Stop();
    EXPECT_EQ(WaitForSingleObject(FWave->Event(2), 0), WAIT_OBJECT_0);
}

TEST_F(VOXAGenWave, StaticWaveDataHasNoThreadAndNoEvents) {
    TVOXAGenWave wave(FVoxa.get(), 44100, 16, false, 4096, false, false, false);
    EXPECT_NE(wave.SoundBuffer(), nullptr);
    EXPECT_EQ(wave.Thread(), nullptr);
    EXPECT_EQ(wave.Event(0), nullptr);
    EXPECT_EQ(wave.HalfSize(), 0u);
    EXPECT_EQ(wave.WaveFormat().nBlockAlign, 2);
    EXPECT_EQ(wave.WaveFormat().nAvgBytesPerSec, 88200u);
}

TEST_F(VOXAGenWave, StreamingWithEffectsStillGetsItsThread) {
    TVOXAWaveData wave(FVoxa.get(), 44100, 16, true, kRingBytes, true);
    EXPECT_NE(wave.Thread(), nullptr);
}

TEST_F(VOXAGenWave, AnUnsupportedFormatIsReportedAndLeavesNoBuffer) {
    try {
        TVOXAWaveData wave(FVoxa.get(), 22050, 16, true, kRingBytes, false);
        FAIL() << "no report";
    } catch (const EVOXA& e) {
        EXPECT_STREQ(e.what(), "サウンドバッファの作成に失敗しました(Error Code(88780064))");
    }
    FVoxa->SetDebugOption({});
    TVOXAWaveData wave(FVoxa.get(), 22050, 16, true, kRingBytes, false);
    EXPECT_EQ(wave.SoundBuffer(), nullptr);
    EXPECT_EQ(wave.Thread(), nullptr);
    const uint8_t data[4] = {1, 2, 3, 4};
    wave.WriteData(0, data, 4);  // nothing to write into, no crash
}

}  // namespace
}  // namespace oggmix::test
