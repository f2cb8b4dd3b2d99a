// The heard position and events of the front end on the manual back end: the position is the
// frame being heard, checked against the sound itself across loop jumps and seeks; events
// arrive once each when heard; fades after Play and pauses are heard as asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/music/MusicTestSupport.h"
#include "tests/support/ConvertedReference.h"

namespace oggmix::test {
namespace {

class MusicPosition : public ManualPlayerTest {
protected:
    // 2 s of music looping from 1.5 s back to 0.5 s by its tag.
    void LoadLooping() {
        FBytes = EncodeOgg(Music(44100, 2, 2.0, 3),
                           {.Comments = {LoopTag("*loopsample,0,22050,66150,-1")}});
        FReference = DecodeReference(FBytes).Samples;
        FTrack = LoadBytes(FBytes);
    }
    // Reads the position now; checks it after the next frames are heard.
    void Mark() { FMarks.push_back({HeardFrames(), PositionFrames(FTrack)}); }
    // Marks after each of count stretches of frames heard.
    void MarkEvery(int64_t frames, int count) {
        for (int i = 0; i < count; ++i) {
            Listen(frames);
            Mark();
        }
    }
    // The frames heard from each mark are the track's frames from the marked position on.
    void ExpectMarksMatchTheSound() {
        constexpr int64_t kCompared = 32;
        for (const auto& [heardAt, positionFrames] : FMarks) {
            ASSERT_LE((heardAt + kCompared) * 2, static_cast<int64_t>(Heard().size()));
            ASSERT_LE((positionFrames + kCompared) * 2, static_cast<int64_t>(FReference.size()));
            const auto heard = Heard().begin() + heardAt * 2;
            const auto expected = FReference.begin() + positionFrames * 2;
            EXPECT_TRUE(std::equal(heard, heard + kCompared * 2, expected))
                << "heard frame " << heardAt << " is not frame " << positionFrames;
        }
    }

    std::vector<uint8_t> FBytes;
    std::vector<int16_t> FReference;
    Track FTrack;
    std::vector<std::pair<int64_t, int64_t>> FMarks;
};

TEST_F(MusicPosition, PositionIsTheFrameHeardAcrossLoopJumpsAndSeeks) {
    LoadLooping();
    Listen(100);
    FPlayer->Play(FTrack);
    Listen(2 * kTestBlockFrames);
    // Past the first loop jump (1.5 s) and well into the second turn.
    MarkEvery(2999, 40);
    Listen(64);  // a seek is heard from the next frame on: the last mark's frames come first
    FPlayer->Seek(FTrack, 0.25);
    MarkEvery(1777, 10);
    Listen(64);
    ExpectMarksMatchTheSound();
    // The loop was heard: some mark lies before 1.5 s after one that lies later.
    const bool jumped = std::adjacent_find(FMarks.begin(), FMarks.end(), [](auto& a, auto& b) {
                            return b.second < a.second;
                        }) != FMarks.end();
    EXPECT_TRUE(jumped);
}

TEST_F(MusicPosition, PositionOfA48000HzTrackIsTheConvertedFrameHeard) {
    FBytes = EncodeOgg(Music(48000, 2, 2.0, 3));
    // Output frame k of the converted music is music time k / 44100.
    FReference = ConvertedAlone(DecodeReference(FBytes).Samples, 48000);
    FTrack = LoadBytes(FBytes);
    Listen(100);
    FPlayer->Play(FTrack);
    Listen(2 * kTestBlockFrames);
    MarkEvery(2999, 10);
    Listen(64);
    FPlayer->Seek(FTrack, 0.25);
    MarkEvery(1777, 5);
    Listen(64);
    ExpectMarksMatchTheSound();
}

TEST_F(MusicPosition, LoopAndEndEventsArriveOnceEachWhenHeard) {
    LoadLooping();
    const Track once = LoadBytes(EncodeOgg(Music(44100, 2, 0.3, 5)));
    std::vector<MusicEvent> called;
    FPlayer->SetEventCallback([&](const MusicEvent& event) { called.push_back(event); });
    FPlayer->Play(FTrack);
    FPlayer->Play(once, {.Loop = false});
    std::vector<MusicEvent> polled;
    // 3.6 s: the loop tag jumps at 1.5 s and 2.5 s and 3.5 s of listening.
    for (int i = 0; i < 36; ++i) {
        Listen(4410);
        for (const MusicEvent& event : FPlayer->Poll()) polled.push_back(event);
    }
    const auto count = [&](MusicEventKind kind, Track track, int32_t cue) {
        return std::count_if(polled.begin(), polled.end(), [&](const MusicEvent& e) {
            return e.Kind == kind && e.Which == track && e.CueIndex == cue;
        });
    };
    EXPECT_EQ(count(MusicEventKind::Looped, FTrack, 0), 3);
    EXPECT_EQ(count(MusicEventKind::Ended, once, -1), 1);
    // Each jump is told ahead as well, when mixed: the fourth may be mixed already.
    const auto reached = count(MusicEventKind::CueReached, FTrack, 0);
    EXPECT_GE(reached, 3);
    EXPECT_LE(reached, 4);
    EXPECT_EQ(polled.size(), static_cast<size_t>(4 + reached));
    EXPECT_EQ(called.size(), polled.size());
    for (const MusicEvent& event : FPlayer->Poll())
        EXPECT_EQ(event.Kind, MusicEventKind::CueReached);
    EXPECT_FALSE(FPlayer->IsPlaying(once));
    EXPECT_EQ(FPlayer->Position(once), 0.0);
}

TEST_F(MusicPosition, ACrossFadeBackTurnsTheFadingTrackUpWhereItIs) {
    LoadLooping();
    const Track other = LoadBytes(EncodeOgg(Music(44100, 2, 2.0, 9)));
    Listen(100);
    FPlayer->Play(FTrack);
    Listen(22050);
    FPlayer->CrossFade(FTrack, other, 1.0);
    Listen(11025);
    const int64_t fading = PositionFrames(FTrack);
    FPlayer->CrossFade(other, FTrack, 0.5);
    Listen(3 * kTestBlockFrames);
    EXPECT_TRUE(FPlayer->IsPlaying(FTrack));
    EXPECT_GT(PositionFrames(FTrack), fading);  // going on, not from the start again
}

TEST_F(MusicPosition, TheEventsOfAnUnloadedTrackAreNotHandedOut) {
    const auto bytes = EncodeOgg(Music(44100, 2, 0.2, 5));
    const Track once = LoadBytes(bytes);
    const Track kept = LoadBytes(bytes);
    FPlayer->Play(once, {.Loop = false});
    FPlayer->Play(kept, {.Loop = false});
    Listen(10 * kTestBlockFrames);  // both ends heard
    FPlayer->Unload(once);
    const std::vector<MusicEvent> events = FPlayer->Poll();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Which, kept);
}

TEST_F(MusicPosition, TheDeviceGoingAndComingBackIsReportedOnceEach) {
    const auto count = [](const std::vector<MusicEvent>& events, MusicEventKind kind) {
        return std::count_if(events.begin(), events.end(),
                             [&](const MusicEvent& e) { return e.Kind == kind; });
    };
    struct Available {
        ~Available() { ManualAudio::SetAvailable(true); }
    } restore;
    ManualAudio::SetAvailable(false);
    ASSERT_TRUE(WaitUntil([&] { return FPlayer->BackendName() == "null"; }))
        << "the silent stand-in plays, and the player says so";
    std::vector<MusicEvent> events = FPlayer->Poll();
    ASSERT_EQ(count(events, MusicEventKind::DeviceLost), 1);
    EXPECT_EQ(events.front().Reason, DeviceLossReason::Gone);
    EXPECT_TRUE(FPlayer->Poll().empty());
    ManualAudio::SetAvailable(true);
    ASSERT_TRUE(WaitUntil([&] { return FPlayer->DeviceAvailable(); }));
    EXPECT_EQ(FPlayer->BackendName(), "manual");
    events = FPlayer->Poll();
    EXPECT_EQ(count(events, MusicEventKind::DeviceBack), 1);
    EXPECT_EQ(events.size(), 1u);
}

int32_t PeakOf(const std::vector<int16_t>& heard, int64_t firstFrame, int64_t frames) {
    int32_t peak = 0;
    for (int64_t i = firstFrame * 2; i < (firstFrame + frames) * 2; ++i)
        peak = std::max(peak, std::abs(int32_t{heard[static_cast<size_t>(i)]}));
    return peak;
}

TEST_F(MusicPosition, LoopStartTagsLoopATrackToo) {
    const Track tagged = LoadBytes(
        EncodeOgg(Music(44100, 2, 2.0, 3), {.Comments = {"LOOPSTART=22050", "LOOPLENGTH=44100"}}));
    FPlayer->Play(tagged);
    Listen(44100 * 2);  // the end of the loop, 1.5 s, is heard
    std::vector<MusicEvent> events = FPlayer->Poll();
    std::erase_if(events, [](const MusicEvent& e) { return e.Kind != MusicEventKind::Looped; });
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].CueIndex, 0);
}

TEST_F(MusicPosition, AFadeInAskedWithPlayRisesFromSilence) {
    const Track tone = LoadBytes(EncodeOgg(Sine(44100, 2, 2.0, 440.0, 0.5)));
    Listen(100);
    FPlayer->Play(tone, {.Loop = true, .FadeInSec = 0.5});
    Listen(44100);
    // The music starts with the block after the one being filled: find its first sound.
    const auto first = std::find_if(Heard().begin(), Heard().end(), [](int16_t s) { return s; });
    ASSERT_NE(first, Heard().end());
    const int64_t start = (first - Heard().begin()) / 2;
    const int32_t early = PeakOf(Heard(), start, 2205);
    const int32_t middle = PeakOf(Heard(), start + 11025, 2205);
    const int32_t late = PeakOf(Heard(), start + 26460, 2205);
    EXPECT_LT(early, middle / 4);
    EXPECT_LT(middle, late * 3 / 4);
    EXPECT_GT(late, 15000);  // full volume: the tone's peak is about 16384
    EXPECT_TRUE(FPlayer->IsPlaying(tone));
}

TEST_F(MusicPosition, APauseFallsSilentWithinTwoBlocksAndResumeGoesOnFromThere) {
    LoadLooping();
    Listen(100);
    FPlayer->Play(FTrack);
    Listen(20000);
    FPlayer->Pause(FTrack);
    const int64_t pausedAt = HeardFrames();
    Listen(3 * kTestBlockFrames);
    const int64_t stood = PositionFrames(FTrack);
    EXPECT_EQ(PeakOf(Heard(), pausedAt + 2 * kTestBlockFrames, kTestBlockFrames), 0);
    EXPECT_FALSE(FPlayer->IsPlaying(FTrack));
    Listen(10000);
    EXPECT_EQ(PositionFrames(FTrack), stood);

    FPlayer->Resume(FTrack);
    Listen(3 * kTestBlockFrames);
    Mark();
    Listen(64);
    ExpectMarksMatchTheSound();
    EXPECT_GT(FMarks.back().second, stood);
    EXPECT_LE(FMarks.back().second, stood + 3 * kTestBlockFrames);
}

TEST_F(MusicPosition, ASeekWhilePausedIsWhereResumeGoesOn) {
    LoadLooping();
    Listen(100);
    FPlayer->Play(FTrack);
    Listen(30000);
    FPlayer->Pause(FTrack);
    Listen(3 * kTestBlockFrames);
    FPlayer->Seek(FTrack, 0.25);
    EXPECT_EQ(PositionFrames(FTrack), 11025);
    FPlayer->Resume(FTrack);
    Listen(3 * kTestBlockFrames);
    Mark();
    Listen(64);
    ExpectMarksMatchTheSound();
    EXPECT_GT(FMarks.back().second, 11025);
    EXPECT_LE(FMarks.back().second, 11025 + 3 * kTestBlockFrames);
}

TEST_F(MusicPosition, EveryTurnOfALoopShorterThanABlockIsAnEvent) {
    // A 1000-frame loop turns two or three times in every 2048-frame block.
    const Track track = LoadBytes(
        EncodeOgg(Music(44100, 2, 1.0, 3), {.Comments = {LoopTag("*loopsample,0,4000,5000,-1")}}));
    FPlayer->Play(track);
    Listen(44100);
    (void)FPlayer->Poll();
    Listen(44100);
    const std::vector<MusicEvent> events = FPlayer->Poll();
    const auto count = [&](MusicEventKind kind) {
        return std::count_if(events.begin(), events.end(), [&](const MusicEvent& e) {
            return e.Kind == kind && e.CueIndex == 0;
        });
    };
    EXPECT_GE(count(MusicEventKind::Looped), 44);
    EXPECT_LE(count(MusicEventKind::Looped), 45);
    EXPECT_GE(count(MusicEventKind::CueReached), 44);
    EXPECT_LE(count(MusicEventKind::CueReached), 45);
    EXPECT_EQ(
        static_cast<size_t>(count(MusicEventKind::Looped) + count(MusicEventKind::CueReached)),
        events.size());
}

TEST_F(MusicPosition, APausedPositionRunsOnToWhereTheFadeFellSilentAndStaysThere) {
    const Track track = LoadBytes(EncodeOgg(Music(44100, 2, 3.0, 3)));
    FPlayer->Play(track);
    Listen(3 * kTestBlockFrames);
    FPlayer->Pause(track, 0.05);
    std::vector<std::pair<int64_t, int64_t>> seen;  // heard frame, position
    for (int i = 0; i < 120; ++i) {
        Listen(97);
        seen.emplace_back(HeardFrames(), PositionFrames(track));
    }
    for (size_t i = 1; i < seen.size(); ++i)
        ASSERT_GE(seen[i].second, seen[i - 1].second) << "at heard frame " << seen[i].first;
    EXPECT_FALSE(FPlayer->IsPlaying(track));
    // From the first look at the final position on, nothing is heard; before it, the fade.
    const int64_t stood = seen.back().second;
    const auto still = std::find_if(seen.begin(), seen.end(),
                                    [&](const auto& look) { return look.second == stood; });
    ASSERT_NE(still, seen.begin());
    EXPECT_EQ(PeakOf(Heard(), still->first, HeardFrames() - still->first), 0);
    EXPECT_GT(PeakOf(Heard(), (still - 1)->first - 200, 200), 0);
    EXPECT_GT(stood, 3 * kTestBlockFrames);
}

}  // namespace
}  // namespace oggmix::test
