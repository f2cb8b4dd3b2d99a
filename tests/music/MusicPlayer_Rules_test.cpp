// The game player's calls on one timeline, through the public interface and the offline back
// end: starts withdrawn by stops free their slots, a refused call changes nothing, calls that
// would contradict themselves are refused, each stinger keeps its own cooldown, and events
// told ahead come in frame order with NextBeat naming the next one.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "tests/support/OggFixture.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kSeed = 20261208;

class TimelineRules : public ::testing::Test {
protected:
    Track Load(double seconds, uint32_t seed, const std::vector<std::string>& comments = {}) {
        const std::vector<uint8_t> ogg =
            EncodeOgg(Noise(44100, 2, seconds, seed, 0.2), {.Comments = comments});
        return FPlayer.Load(std::as_bytes(std::span(ogg)), "noise " + std::to_string(seed));
    }
    // Mixes frames in blocks, polling after each; the events come back in the order polled.
    std::vector<MusicEvent> Render(int64_t frames) {
        std::vector<MusicEvent> events;
        std::vector<int16_t> block(2 * 1000);
        for (int64_t done = 0; done < frames; done += 1000) {
            FPlayer.RenderOffline(block);
            for (const MusicEvent& event : FPlayer.Poll()) events.push_back(event);
        }
        return events;
    }
    template <class Call>
    void ExpectRefused(Call&& call, MusicErrorCode code, const std::string& text) {
        try {
            call();
            ADD_FAILURE() << "not refused";
        } catch (const MusicError& e) {
            EXPECT_EQ(e.Code(), code) << e.what();
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
    }

    static PlayerOptions Offline() {
        PlayerOptions options;
        options.Backend = "offline";
        return options;
    }

    MusicPlayer FPlayer{Offline()};
};

TEST_F(TimelineRules, StartsWithdrawnByStopsGiveUpTheirSlots) {
    std::vector<Track> tracks;
    for (uint32_t i = 0; i < 9; ++i) tracks.push_back(Load(0.5, kSeed + i));
    for (int i = 0; i < 8; ++i)
        FPlayer.PlayAt(tracks[static_cast<size_t>(i)], int64_t{3600} * 44100);
    for (int i = 0; i < 8; ++i) FPlayer.Stop(tracks[static_cast<size_t>(i)]);
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(FPlayer.IsPlaying(tracks[static_cast<size_t>(i)]));
    FPlayer.Play(tracks[8]);
    EXPECT_TRUE(FPlayer.IsPlaying(tracks[8]));
}

TEST_F(TimelineRules, ARefusedTransitionLeavesTheOneWaitingAsItWas) {
    const std::vector<std::string> tempo{"BPM=120"};
    const Track a = Load(4.0, kSeed, tempo), b = Load(4.0, kSeed + 1);
    const Track group = FPlayer.MakeLayerGroup({Load(4.0, kSeed + 2), Load(4.0, kSeed + 3)});
    for (uint32_t i = 0; i < 6; ++i) FPlayer.Play(Load(4.0, kSeed + 10 + i));
    FPlayer.Play(a);
    const int64_t bar = FPlayer.Transition(a, b);
    // Seven slots play and b holds the eighth: the group's two layers cannot have theirs.
    ExpectRefused([&] { FPlayer.Transition(a, group); }, MusicErrorCode::TooManyPlaying,
                  "8 tracks are playing");
    EXPECT_EQ(FPlayer.Delivery().RefusedCalls, 1u);
    Render(bar + 2000);
    EXPECT_TRUE(FPlayer.IsPlaying(b));
    EXPECT_FALSE(FPlayer.IsPlaying(a));
    EXPECT_FALSE(FPlayer.IsPlaying(group));
}

TEST_F(TimelineRules, ATransitionWithinOneGroupOrToItselfIsRefused) {
    const Track first = Load(1.0, kSeed), second = Load(1.0, kSeed + 1);
    const Track group = FPlayer.MakeLayerGroup({first, second});
    ExpectRefused([&] { FPlayer.Transition(group, second); }, MusicErrorCode::InvalidArgument,
                  "is in both");
    ExpectRefused([&] { FPlayer.Transition(first, group); }, MusicErrorCode::InvalidArgument,
                  "is in both");
    ExpectRefused([&] { FPlayer.Transition(first, first); }, MusicErrorCode::InvalidArgument,
                  "is both");
}

TEST_F(TimelineRules, EachStingerKeepsItsOwnCooldown) {
    const Track grid = Load(4.0, kSeed, {"BPM=120"});
    const Track one = Load(0.5, kSeed + 1), two = Load(0.5, kSeed + 2);
    FPlayer.Play(grid);
    const StingerOptions options{.Grid = grid, .When = Quantize::Beat, .CooldownSec = 1.0};
    EXPECT_GE(FPlayer.PlayStinger(one, options), 0);
    EXPECT_GE(FPlayer.PlayStinger(two, options), 0);
    EXPECT_EQ(FPlayer.PlayStinger(one, options), -1);
}

TEST_F(TimelineRules, EventsToldAheadComeInFrameOrderAndNextBeatNamesTheNext) {
    const Track slow = Load(6.0, kSeed, {"BPM=100"}), quick = Load(6.0, kSeed + 1, {"BPM=137"});
    FPlayer.Play(slow);
    FPlayer.Play(quick);
    Render(3000);
    const int64_t next = FPlayer.NextBeat(quick);
    const std::vector<MusicEvent> events = Render(5 * 44100);
    int64_t last = -1;
    int64_t firstQuickBeat = -1;
    for (const MusicEvent& event : events) {
        EXPECT_GE(event.Frame, last) << "out of frame order";
        last = event.Frame;
        if (event.Kind == MusicEventKind::Beat && event.Which == quick && firstQuickBeat < 0)
            firstQuickBeat = event.Frame;
    }
    EXPECT_EQ(next, firstQuickBeat);
}

}  // namespace
}  // namespace oggmix::test
