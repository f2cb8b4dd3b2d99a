// The game player through real sound servers: a private PulseAudio server (or PipeWire with its
// PulseAudio server) with a null sink, its monitor recorded with parec at 10 ms, and the
// recording checked against the same calls on the offline back end: in order, with no gap
// (silence the server inserted) and no repeat. On the pulse back end and on sdl through
// SDL's PulseAudio driver; also the README's C program on the default back end, a bar-line
// transition asked for ahead of time, a busy machine, and two players in one process. The
// tests start the server and stop it by its process id; they run one at a time (they load
// the cores or time the sound).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "tests/music/ServerPlayback.h"
#include "tests/support/OggFixture.h"
#include "tests/support/RunProgram.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TestPaths.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {
namespace {

constexpr int64_t kRate = kServerRate;

class PlayerThroughPulseAudio : public ::testing::Test {
protected:
    virtual SoundServer::Kind ServerKind() const { return SoundServer::Kind::PulseAudio; }

    void SetUp() override {
        FServer = std::make_unique<SoundServer>(ServerKind(), FDir.Path());
        if (const std::string missing = FServer->MissingMessage(); !missing.empty()) {
            if (std::getenv("CI") != nullptr) FAIL() << missing;
            GTEST_SKIP() << missing;
        }
        FParec = FindProgram("parec");
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        unsetenv("OGGMIX_AUDIO");
        ASSERT_TRUE(FServer->Start()) << "the sound server did not start";
    }

    std::unique_ptr<MonitorRecorder> Record(const std::string& name) {
        auto recorder = std::make_unique<MonitorRecorder>(FParec, FDir.Path() + "/" + name);
        EXPECT_TRUE(WaitUntil([&] { return SizeOf(recorder->Path()) > 0; }))
            << "parec records nothing";
        return recorder;
    }

    // Waits until what the server still holds has reached the monitor; the recording.
    static std::vector<int16_t> Drained(MonitorRecorder& recorder) {
        const uintmax_t before = SizeOf(recorder.Path());
        EXPECT_TRUE(WaitUntil([&] { return SizeOf(recorder.Path()) > before + 2 * kRate; }));
        recorder.Stop();
        return ReadPcm(recorder.Path(), 0);
    }

    // Until the track has been heard for seconds.
    static void HearFor(MusicPlayer& player, Track track, double seconds) {
        ASSERT_TRUE(WaitUntil([&] { return player.Position(track) >= seconds; }))
            << "the track is not heard";
    }

    // What the monitor recorded from where the reference starts: the reference, in order and
    // whole for at least heardSec, with no gap; silence before and after.
    static void ExpectHeardAsRendered(const std::vector<int16_t>& heard,
                                      const std::vector<int16_t>& reference, double heardSec) {
        const Alignment at = Align(heard, reference, 512);
        ASSERT_TRUE(at.Found) << "the music was not recorded";
        EXPECT_TRUE(AllZero(heard.begin(), heard.begin() + static_cast<long>(at.Offset)))
            << "something else was recorded before the music";
        const ServerComparison inOrder = CompareThroughServer(heard, reference, at);
        EXPECT_EQ(inOrder.Underruns, 0u)
            << inOrder.InsertedSilence / 2 << " frames of silence in the music";
        EXPECT_GE(static_cast<double>(inOrder.Matched), heardSec * 2 * kRate)
            << "the recording diverges after " << inOrder.Matched / 2 << " frames";
        EXPECT_TRUE(AllZero(heard.begin() + static_cast<long>(inOrder.StoppedAt), heard.end()))
            << "something else was recorded after " << inOrder.Matched / 2 << " frames";
    }

    // One track played through backend while recorders parecs record the monitor; with
    // idleFirst, the player stands idle long enough to rest before the track is played.
    void ExpectPlayedAsRendered(const std::string& backend, int recorders = 1,
                                bool idleFirst = false) {
        constexpr double kPlaySec = 3.0;
        const std::vector<uint8_t> music = EncodeOgg(Music(kServerRate, 2, 5.0, 5));
        std::vector<std::unique_ptr<MonitorRecorder>> recording;
        for (int i = 0; i < recorders; ++i)
            recording.push_back(Record("recorded" + std::to_string(i) + ".raw"));
        {
            MusicPlayer player(BackendOptions(backend));
            ASSERT_EQ(player.BackendName(), backend);
            const Track track = LoadBytes(player, music);
            if (idleFirst) {
                // Resting, the clock still moves on, in real time, past what was mixed.
                ASSERT_TRUE(WaitUntil([&] { return player.HeardFrame() >= 2 * kRate; }));
                EXPECT_GT(player.MixedFrame(), player.Delivery().WrittenBlocks * 2048);
            }
            player.Play(track, {.Loop = false});
            HearFor(player, track, kPlaySec);
            EXPECT_EQ(player.Delivery().LateBlocks, 0u);
        }
        const std::vector<int16_t> reference = PlayedAlone(music, kPlaySec + 1.0);
        for (const auto& recorder : recording)
            ExpectHeardAsRendered(Drained(*recorder), reference, kPlaySec - 0.1);
    }

    TempDir FDir;
    std::string FParec;
    std::unique_ptr<SoundServer> FServer;
};

// The same through PipeWire's PulseAudio server, as current desktops run it.
class PlayerThroughPipeWire : public PlayerThroughPulseAudio {
protected:
    SoundServer::Kind ServerKind() const override { return SoundServer::Kind::PipeWire; }
};

TEST_F(PlayerThroughPulseAudio, PulseIsHeardAsRendered) { ExpectPlayedAsRendered("pulse"); }

// A second client asking the server for 10 ms: the server then asks its other clients for
// small pieces too, which a player that fills only whole blocks could not keep up with.
TEST_F(PlayerThroughPulseAudio, PulseIsHeardAsRenderedBesideALowLatencyClient) {
    ExpectPlayedAsRendered("pulse", 2);
}

TEST_F(PlayerThroughPulseAudio, SdlIsHeardAsRendered) { ExpectPlayedAsRendered("sdl"); }

// An idle player corks its stream; the first call after it is heard whole and in order.
TEST_F(PlayerThroughPulseAudio, PulseAfterRestingIsHeardAsRendered) {
    ExpectPlayedAsRendered("pulse", 1, true);
}

// A suspended sink plays nothing: the player says so, with the reason, its clock goes on in
// real time meanwhile, and it says when the sink plays again.
TEST_F(PlayerThroughPulseAudio, ASuspendedSinkIsReportedAndTheClockGoesOn) {
    const std::string pactl = FindProgram("pactl");
    MusicPlayer player(BackendOptions("pulse"));
    const Track track = LoadBytes(player, EncodeOgg(Music(kServerRate, 2, 3.0, 41)));
    player.Play(track);
    HearFor(player, track, 0.5);
    std::vector<MusicEvent> events;
    const auto told = [&](MusicEventKind kind) {
        return WaitUntil([&] {
            for (const MusicEvent& event : player.Poll()) events.push_back(event);
            return std::any_of(events.begin(), events.end(),
                               [&](const MusicEvent& e) { return e.Kind == kind; });
        });
    };
    ASSERT_EQ(RunProgram(pactl, {"suspend-sink", SoundServer::kSink, "1"}).ExitCode, 0);
    ASSERT_TRUE(told(MusicEventKind::DeviceLost)) << "no DeviceLost for a suspended sink";
    const auto lost = std::find_if(events.begin(), events.end(), [](const MusicEvent& e) {
        return e.Kind == MusicEventKind::DeviceLost;
    });
    EXPECT_EQ(lost->Reason, DeviceLossReason::Suspended);
    EXPECT_FALSE(player.DeviceAvailable());
    const int64_t heard = player.HeardFrame();
    EXPECT_TRUE(WaitUntil([&] { return player.HeardFrame() >= heard + kRate; }))
        << "the clock stood still while the sink was suspended";
    ASSERT_EQ(RunProgram(pactl, {"suspend-sink", SoundServer::kSink, "0"}).ExitCode, 0);
    EXPECT_TRUE(told(MusicEventKind::DeviceBack)) << "no DeviceBack once the sink plays again";
    EXPECT_TRUE(player.DeviceAvailable());
}

TEST_F(PlayerThroughPipeWire, PulseIsHeardAsRendered) { ExpectPlayedAsRendered("pulse"); }

TEST_F(PlayerThroughPipeWire, SdlIsHeardAsRendered) { ExpectPlayedAsRendered("sdl"); }

// Run once: a gap under load is a fault of the path, not bad luck.
TEST_F(PlayerThroughPulseAudio, UnderLoadNothingIsMissed) {
    constexpr double kPlaySec = 20.0;
    const std::vector<uint8_t> music = EncodeOgg(Music(kServerRate, 2, kPlaySec + 2.0, 7));
    auto recorder = Record("recorded.raw");
    {
        MusicPlayer player(BackendOptions("pulse"));
        const Track track = LoadBytes(player, music);
        BusyCores load;
        ASSERT_GT(load.Processes(), 0u) << "taskset cannot load the processors";
        player.Play(track, {.Loop = false});
        HearFor(player, track, kPlaySec);
        EXPECT_EQ(player.Delivery().LateBlocks, 0u);
    }
    ExpectHeardAsRendered(Drained(*recorder), PlayedAlone(music, kPlaySec + 1.0), kPlaySec - 0.1);
}

// A game loop asking where 8 tracks are and whether they play, as fast as it can, beside
// the device at 20 ms: the device never waits for it, so the server reports no gap, not even
// at the start.
TEST_F(PlayerThroughPulseAudio, AGameLoopReadingFlatOutCausesNoGap) {
    constexpr int kTracks = 8;
    constexpr auto kReadFor = std::chrono::seconds(30);
    MusicPlayer player(BackendOptions("pulse", 20));
    std::vector<Track> tracks;
    for (int i = 0; i < kTracks; ++i)
        tracks.push_back(LoadBytes(player, EncodeOgg(Music(kServerRate, 2, 4.0, 40 + i))));
    for (const Track track : tracks) player.Play(track, {.Loop = true});
    bool allPlaying = true;
    double heardSec = 0.0;
    const auto until = std::chrono::steady_clock::now() + kReadFor;
    while (std::chrono::steady_clock::now() < until) {
        for (const Track track : tracks) {
            heardSec = std::max(heardSec, player.Position(track));
            allPlaying = allPlaying && player.IsPlaying(track);
        }
    }
    EXPECT_TRUE(allPlaying) << "a looping track was reported stopped";
    EXPECT_GT(heardSec, 0.0) << "no track was heard";
    const DeliveryStats delivery = player.Delivery();
    EXPECT_EQ(delivery.LateBlocks, 0u);
    std::printf("the device waited for the game for up to %lld us\n",
                static_cast<long long>(delivery.LongestWaitUs));
}

// The default back end finds the server: with SDL's driver pointed nowhere, only pulse can
// reach the monitor.
TEST_F(PlayerThroughPulseAudio, TheCExampleIsHeardOnTheDefaultBackEnd) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::vector<uint8_t> first = EncodeOgg(Music(kServerRate, 2, 3.0, 11));
    const std::string firstPath = FDir.Write("first.ogg", first);
    const std::string secondPath =
        FDir.Write("second.ogg", EncodeOgg(Music(kServerRate, 2, 3.0, 12)));
    auto recorder = Record("recorded.raw");
    const ProgramResult run =
        RunProgram(ExecutableDir() + "/play_music_c", {firstPath, secondPath});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_NE(run.Out.find("playing at"), std::string::npos) << run.Out;
    const std::vector<int16_t> heard = Drained(*recorder);

    // Its first track fading in over 0.5 s, heard until the cross-fade 1.5 s after the play.
    MusicPlayer offline(BackendOptions("offline"));
    offline.Play(LoadBytes(offline, first), {.Loop = true, .FadeInSec = 0.5});
    const std::vector<int16_t> reference = RenderFrames(offline, 2 * kRate);
    const Alignment at = Align(heard, reference, 2048);
    ASSERT_TRUE(at.Found) << "the C program was not heard";
    EXPECT_GE(at.Match, static_cast<size_t>(1.2 * 2 * kRate));
}

// A transition on the next bar line, asked for while the bar before it plays: the monitor
// hears the first track up to the line and the second from there, to the frame.
TEST_F(PlayerThroughPulseAudio, ABarTransitionIsHeardOnTheBarLine) {
    constexpr int64_t kBarFrames = 4 * kClickBeatFrames;
    TransitionOptions onTheBar;
    onTheBar.When = Quantize::Bar;
    const std::vector<std::string> tempo = {"BPM=120", "BEATSPERBAR=4", "FIRSTBEAT=0"};
    const std::vector<uint8_t> from =
        EncodeOgg(Music(kServerRate, 2, 6.0, 21), {.Comments = tempo});
    const std::vector<uint8_t> to = EncodeOgg(Music(kServerRate, 2, 6.0, 22), {.Comments = tempo});
    auto recorder = Record("recorded.raw");
    int64_t lineOut = 0;
    {
        MusicPlayer player(BackendOptions("pulse"));
        const Track a = LoadBytes(player, from);
        const Track b = LoadBytes(player, to);
        const int64_t startOut = player.PlayAt(a, player.MixedFrame() + kRate / 10);
        HearFor(player, a, 0.5);
        lineOut = player.Transition(a, b, onTheBar);
        EXPECT_EQ(lineOut - startOut, kBarFrames);
        ASSERT_TRUE(WaitUntil([&] { return player.HeardFrame() >= lineOut + 2 * kRate; }));
    }
    MusicPlayer offline(BackendOptions("offline"));
    const Track a = LoadBytes(offline, from);
    const Track b = LoadBytes(offline, to);
    offline.PlayAt(a, 0);
    std::vector<int16_t> reference = RenderFrames(offline, kRate / 2);
    ASSERT_EQ(offline.Transition(a, b, onTheBar), kBarFrames);
    const std::vector<int16_t> rest = RenderFrames(offline, kBarFrames + 4 * kRate);
    reference.insert(reference.end(), rest.begin(), rest.end());
    ExpectHeardAsRendered(Drained(*recorder), reference, (kBarFrames + 1.9 * kRate) / kRate);
}

// Two players side by side: both heard; when one closes the other goes on, in order.
TEST_F(PlayerThroughPulseAudio, ClosingOnePlayerLeavesTheOtherPlaying) {
    const std::vector<uint8_t> music = EncodeOgg(Music(kServerRate, 2, 8.0, 31));
    const std::vector<uint8_t> tone = EncodeOgg(Sine(kServerRate, 2, 8.0, 1000.0, 0.2));
    auto recorder = Record("recorded.raw");
    {
        MusicPlayer staying(BackendOptions("pulse"));
        const Track track = LoadBytes(staying, music);
        staying.Play(track, {.Loop = false});
        HearFor(staying, track, 1.0);
        {
            MusicPlayer leaving(BackendOptions("pulse"));
            const Track other = LoadBytes(leaving, tone);
            leaving.Play(other, {.Loop = false});
            HearFor(leaving, other, 1.5);
        }
        const double closedAt = staying.Position(track);
        HearFor(staying, track, closedAt + 2.0);
    }
    const std::vector<int16_t> heard = Drained(*recorder);
    const std::vector<int16_t> reference = PlayedAlone(music, 8.0);

    // The music alone, then with the tone (a frame that differs), then alone again on the
    // same frames: nothing of it was dropped or repeated while both played.
    const Alignment at = Align(heard, reference, 512);
    ASSERT_TRUE(at.Found) << "the first player was not heard";
    EXPECT_GE(at.Match, static_cast<size_t>(0.9 * 2 * kRate)) << "not heard alone at first";
    size_t j = at.Match;
    const auto sameFrom = [&](size_t k) {
        return at.Offset + k + 2048 <= heard.size() && k + 2048 <= reference.size() &&
               std::equal(reference.begin() + static_cast<long>(k),
                          reference.begin() + static_cast<long>(k + 2048),
                          heard.begin() + static_cast<long>(at.Offset + k));
    };
    while (j < reference.size() && !sameFrom(j)) j += 2;
    EXPECT_GE(j - at.Match, static_cast<size_t>(1.4 * 2 * kRate))
        << "the second player was not heard";
    ASSERT_LT(j, reference.size()) << "the first player was not heard alone after the close";
    const std::vector<int16_t> rest(reference.begin() + static_cast<long>(j), reference.end());
    const ServerComparison after = CompareThroughServer(heard, rest, {true, at.Offset + j, 0});
    EXPECT_EQ(after.Underruns, 0u) << "a gap after the close";
    EXPECT_GE(after.Matched, static_cast<size_t>(1.9 * 2 * kRate))
        << "the first player stopped " << after.Matched / 2 << " frames after the close";
}

}  // namespace
}  // namespace oggmix::test
