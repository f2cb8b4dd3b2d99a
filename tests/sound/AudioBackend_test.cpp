// A back end opened directly, as a player of its own opens one: its name, its own error, and
// its device clock (exact on the manual back end, monotonic under any sequence of records).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/ManualAudio.h"

namespace oggmix {
namespace {

TEST(AudioBackend, TheManualDeviceClockIsWhatItsPlayCursorSays) {
    std::unique_ptr<AudioBackend> backend;
    ASSERT_EQ(CreateAudioBackend("manual:64", backend), DS_OK);
    EXPECT_EQ(backend->Name(), "manual");
    int64_t mixed = 0;
    ASSERT_EQ(backend->Open(
                  [&](std::span<int16_t> out) { mixed += static_cast<int64_t>(out.size()) / 2; }),
              DS_OK);
    EXPECT_TRUE(backend->Error().empty());
    ASSERT_TRUE(ManualAudio::Advance(100));  // stopped: nothing is pulled
    EXPECT_EQ(backend->HeardFrames(), 0);
    backend->Start();
    ASSERT_TRUE(ManualAudio::Advance(1000));
    EXPECT_EQ(backend->HeardFrames(), 1000);
    ManualAudio::SetDelayFrames(300);
    ASSERT_TRUE(ManualAudio::Advance(500));
    EXPECT_EQ(backend->HeardFrames(), 1200);
    ManualAudio::SetDelayFrames(900);  // more held now cannot take back what was heard
    ASSERT_TRUE(ManualAudio::Advance(100));
    EXPECT_EQ(backend->HeardFrames(), 1200);
    ManualAudio::SetDelayFrames(0);
    ASSERT_TRUE(ManualAudio::Advance(10));
    EXPECT_EQ(backend->HeardFrames(), 1610);
    EXPECT_EQ(mixed, 1610);
    backend->Close();
}

TEST(AudioBackend, AFailedOpenIsExplainedByThatBackEnd) {
    std::unique_ptr<AudioBackend> backend;
    ASSERT_EQ(CreateAudioBackend("wav:/nonexistent-folder/x.wav", backend), DS_OK);
    EXPECT_EQ(backend->Name(), "wav");
    EXPECT_EQ(backend->Open([](std::span<int16_t>) {}), DSERR_NODRIVER);
    EXPECT_NE(backend->Error().find("/nonexistent-folder/x.wav"), std::string::npos)
        << backend->Error();
}

TEST(DeviceClock, MovesWithTheClockUpToWhatWasPulled) {
    DeviceClock clock;
    clock.Record(44100, 44100, 1'000'000'000);
    EXPECT_EQ(clock.HeardFrames(1'000'000'000), 0);
    EXPECT_EQ(clock.HeardFrames(1'500'000'000), 22050);
    EXPECT_EQ(clock.HeardFrames(9'000'000'000), 44100);
}

TEST(DeviceClock, NeverGoesBackNorPastWhatWasPulledUnderRandomRecords) {
    std::mt19937_64 random(20);
    DeviceClock clock;
    int64_t pulled = 0, nowNs = 0, last = 0;
    for (int i = 0; i < 20000; ++i) {
        nowNs += std::uniform_int_distribution<int64_t>(0, 20'000'000)(random);
        if (random() % 2 == 0) {
            pulled += std::uniform_int_distribution<int64_t>(0, 4096)(random);
            clock.Record(pulled, std::uniform_int_distribution<int64_t>(0, pulled)(random), nowNs);
        }
        const int64_t heard = clock.HeardFrames(nowNs);
        ASSERT_GE(heard, last) << "record " << i;
        ASSERT_LE(heard, pulled) << "record " << i;
        last = heard;
    }
    EXPECT_GT(last, 0);
}

// A reader on another thread never sees a record half written.
TEST(DeviceClock, AReaderBesideTheDeviceThreadSeesWholeRecords) {
    DeviceClock clock;
    std::atomic<bool> done{false};
    std::thread device([&] {
        for (int64_t pulled = 441; pulled <= 441 * 20000; pulled += 441)
            clock.Record(pulled, pulled % 4410);
        done.store(true);
    });
    int64_t last = 0;
    while (!done.load()) {
        const int64_t heard = clock.HeardFrames();
        ASSERT_GE(heard, last);
        ASSERT_LE(heard, 441 * 20000);
        last = heard;
    }
    device.join();
    EXPECT_EQ(clock.HeardFrames(), 441 * 20000 - (441 * 20000) % 4410);
}

}  // namespace
}  // namespace oggmix
