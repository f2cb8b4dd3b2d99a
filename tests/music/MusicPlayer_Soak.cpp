// The game player's soak: two players side by side on the null back end (which pulls in real
// time), eight tracks playing in one, while this thread makes random calls as a game would:
// load and unload, play, stop, pause, resume, seek, volumes with fades, cross-fades,
// transitions, PlayAt, stingers, positions and polls. Fails on a sanitizer report, a crash, a
// refusal other than a full mixer or a transition it cannot make, a position outside its
// track, or an ill-formed event. OGGMIX_SOAK_SECONDS sets the length (default 8),
// OGGMIX_SOAK_SEED the seed (default: a new one, printed). Then one player of the C interface
// called from four threads at once, closed at the end from inside its own event callback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "oggmix/oggmix.h"
#include "tests/music/ServerPlayback.h"
#include "tests/support/OggFixture.h"

namespace oggmix::test {
namespace {

double SoakSeconds() {
    const char* text = std::getenv("OGGMIX_SOAK_SECONDS");
    return text != nullptr ? std::strtod(text, nullptr) : 8.0;
}

uint32_t SoakSeed() {
    const char* text = std::getenv("OGGMIX_SOAK_SEED");
    return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10))
                           : std::random_device{}();
}

// What the tracks are made of: rates that are converted, mono, loop cues and a tempo.
std::vector<std::vector<uint8_t>> SoakFiles() {
    const std::vector<std::string> tempo = {"BPM=120", "BEATSPERBAR=4", "FIRSTBEAT=0"};
    return {
        EncodeOgg(Music(44100, 2, 3.0, 1), {.Comments = tempo}),
        EncodeOgg(Music(44100, 2, 2.5, 2),
                  {.Comments = {"COMMENT=*looptime,0,0.5,1.5,-1\r\n*loopsample,1,44100,88200,2"}}),
        EncodeOgg(Music(22050, 1, 2.0, 3)),
        EncodeOgg(Music(48000, 2, 2.0, 4), {.Comments = {"BPM=90", "BEATSPERBAR=3"}}),
        EncodeOgg(Music(44100, 1, 0.3, 5)),
        ClickTrack(2.0),
    };
}

// One player and what this thread knows of it.
class SoakedPlayer {
public:
    SoakedPlayer(const std::vector<std::vector<uint8_t>>& files, std::mt19937& random)
        : FFiles(files), FRandom(random), FPlayer(BackendOptions("null")) {}

    void Load() {
        const Track track = LoadBytes(FPlayer, FFiles[Pick(FFiles.size())]);
        FTracks.push_back(track);
        FEverLoaded.insert(track.Id);
    }
    void PlayAll() {
        for (const Track track : FTracks) FPlayer.Play(track);
    }

    // One random call; MusicError only for a full mixer or a transition refused.
    void Step() {
        if (FTracks.empty()) return Load();
        const Track a = FTracks[Pick(FTracks.size())];
        const Track b = FTracks[Pick(FTracks.size())];
        const double sec = Uniform(0.0, 0.5);
        try {
            switch (Pick(17)) {
                case 0: return Load();
                case 1:
                    FPlayer.Unload(a);
                    std::erase(FTracks, a);
                    return;
                case 2: return (void)FPlayer.Play(a, {.Loop = Pick(2) == 0, .FadeInSec = sec});
                case 3: return (void)FPlayer.Stop(a, sec);
                case 4: return (void)FPlayer.Pause(a, sec);
                case 5: return (void)FPlayer.Resume(a, sec);
                case 6: return (void)FPlayer.Seek(a, Uniform(0.0, FPlayer.Length(a) + 0.5));
                case 7: return (void)FPlayer.SetVolume(a, Uniform(0.0, 2.0), sec);
                case 8:
                    (void)FPlayer.SetVolume(a, Uniform(0.0, 1.5),
                                            VolumeChange{{0.0, 1.0}, Quantize::Beat});
                    return;
                case 9: return (void)FPlayer.CrossFade(a, b, sec, Pick(2) == 0);
                case 10: {
                    TransitionOptions options;
                    options.When = static_cast<Quantize>(Pick(6));
                    options.StartAt = static_cast<TransitionOptions::Entry>(Pick(3));
                    options.FadeKind = static_cast<TransitionOptions::Fade>(Pick(4));
                    options.Length = {sec, 0.0};
                    (void)FPlayer.Transition(a, b, options);
                    return;
                }
                case 11:
                    (void)FPlayer.PlayAt(
                        a, FPlayer.MixedFrame() + static_cast<int64_t>(Uniform(-2000.0, 20000.0)));
                    return;
                case 12:
                    (void)FPlayer.PlayStinger(
                        a,
                        {.Grid = b, .When = Quantize::Beat, .PickupFrames = 0, .CooldownSec = 0.2});
                    return;
                case 13: return (void)FPlayer.SetPan(a, Uniform(-1.0, 1.0), sec);
                case 14:
                    return (void)FPlayer.SetToneFilter(a, static_cast<ToneFilter>(Pick(8)), sec);
                case 15: return (void)FPlayer.SetGainControl(a, Uniform(0.0, 1.0));
                default: return CheckPositions();
            }
        } catch (const MusicError& error) {
            const bool refused = error.Code() == MusicErrorCode::TooManyPlaying ||
                                 error.Code() == MusicErrorCode::InvalidArgument;
            ASSERT_TRUE(refused) << error.what();
            ++FRefused;
        }
    }

    void CheckPositions() {
        for (const Track track : FTracks) {
            const double at = FPlayer.Position(track);
            ASSERT_GE(at, 0.0);
            ASSERT_LE(at, FPlayer.Length(track) + 1e-9);
        }
    }

    void CheckEvents() {
        const int64_t mixed = FPlayer.MixedFrame();
        for (const MusicEvent& event : FPlayer.Poll()) {
            ++FEvents;
            const bool device = event.Kind == MusicEventKind::DeviceLost ||
                                event.Kind == MusicEventKind::DeviceBack;
            ASSERT_FALSE(device) << "the null device is never lost";
            ASSERT_TRUE(FEverLoaded.contains(event.Which.Id)) << "event of an unknown track";
            ASSERT_GE(event.Frame, 0);
            ASSERT_LE(event.Frame, FPlayer.MixedFrame());
            ASSERT_GE(event.CueIndex, -1);
            ASSERT_LE(event.CueIndex, 15);
            if (event.Kind == MusicEventKind::Beat || event.Kind == MusicEventKind::Bar) {
                ASSERT_GE(event.Bar, 0);
                ASSERT_GE(event.BeatInBar, 0);
                ASSERT_LT(event.BeatInBar, 4);
            }
            ASSERT_NE(event.HeardAt, std::chrono::steady_clock::time_point{});
        }
        ASSERT_GE(FPlayer.MixedFrame(), mixed);
    }

    [[nodiscard]] size_t Refused() const { return FRefused; }
    [[nodiscard]] size_t Events() const { return FEvents; }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(FRandom); }
    double Uniform(double from, double to) {
        return std::uniform_real_distribution<double>(from, to)(FRandom);
    }

    const std::vector<std::vector<uint8_t>>& FFiles;
    std::mt19937& FRandom;
    MusicPlayer FPlayer;
    std::vector<Track> FTracks;
    std::set<uint32_t> FEverLoaded;
    size_t FRefused = 0;
    size_t FEvents = 0;
};

TEST(MusicSoak, TwoPlayersTakeRandomCallsFromTheGameThread) {
    const uint32_t seed = SoakSeed();
    std::printf("music soak: seed %u (OGGMIX_SOAK_SEED), %.0f s\n", seed, SoakSeconds());
    std::mt19937 random(seed);
    const std::vector<std::vector<uint8_t>> files = SoakFiles();
    SoakedPlayer eight(files, random);
    SoakedPlayer beside(files, random);
    for (int i = 0; i < kMaxPlayingTracks; ++i) eight.Load();
    for (int i = 0; i < 2; ++i) beside.Load();
    eight.PlayAll();
    beside.PlayAll();

    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(SoakSeconds());
    size_t calls = 0;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 4; ++i, ++calls) {
            ASSERT_NO_FATAL_FAILURE(eight.Step());
            ASSERT_NO_FATAL_FAILURE(beside.Step());
        }
        ASSERT_NO_FATAL_FAILURE(eight.CheckEvents());
        ASSERT_NO_FATAL_FAILURE(beside.CheckEvents());
        ASSERT_NO_FATAL_FAILURE(eight.CheckPositions());
    }
    std::printf("music soak: %zu calls a player, %zu and %zu refused, %zu and %zu events\n", calls,
                eight.Refused(), beside.Refused(), eight.Events(), beside.Events());
    EXPECT_GT(eight.Events(), 0u);
}

// One thread's random C calls on the shared player; false once the player is closed.
bool CallOnce(oggmix_player* player, const std::vector<oggmix_track>& tracks,
              std::mt19937& random) {
    const auto pick = [&](size_t n) {
        return std::uniform_int_distribution<size_t>(0, n - 1)(random);
    };
    const oggmix_track a = tracks[pick(tracks.size())];
    const oggmix_track b = tracks[pick(tracks.size())];
    const double sec = std::uniform_real_distribution<double>(0.0, 0.3)(random);
    int64_t frame = 0;
    double at = 0.0;
    int playing = 0;
    oggmix_event events[8];
    size_t count = 0;
    oggmix_result result = OGGMIX_OK;
    switch (pick(10)) {
        case 0: result = oggmix_play(player, a, 1, sec); break;
        case 1: result = oggmix_stop(player, a, sec); break;
        case 2: result = oggmix_seek(player, a, sec); break;
        case 3: result = oggmix_set_volume_fade(player, a, 2 * sec, sec); break;
        case 4: result = oggmix_position(player, a, &at); break;
        case 5: result = oggmix_is_playing(player, a, &playing); break;
        case 6: result = oggmix_poll(player, events, 8, &count); break;
        case 7: result = oggmix_transition(player, a, b, nullptr, &frame); break;
        case 8: result = oggmix_play_at(player, a, 4410, 0, 0.0, &frame); break;
        default: result = oggmix_pause(player, a, sec); break;
    }
    if (result == OGGMIX_ERROR_INVALID_PLAYER) return false;
    const bool refused =
        result == OGGMIX_ERROR_INVALID_ARGUMENT || result == OGGMIX_ERROR_TOO_MANY_PLAYING;
    EXPECT_TRUE(result == OGGMIX_OK || refused) << oggmix_last_error();
    return true;
}

// Runs on whichever thread polls.
void CloseOnEvent(const oggmix_event*, void* user) {
    oggmix_player* player = static_cast<std::atomic<oggmix_player*>*>(user)->exchange(nullptr);
    if (player != nullptr) {
        EXPECT_EQ(oggmix_close(player), OGGMIX_OK);
    }
}

TEST(MusicSoak, FourThreadsCallOneCPlayerAndItsOwnCallbackClosesIt) {
    const uint32_t seed = SoakSeed();
    std::printf("C soak: seed %u (OGGMIX_SOAK_SEED), %.0f s\n", seed, SoakSeconds() / 2);
    oggmix_options options;
    oggmix_default_options(&options);
    options.backend = "null";
    oggmix_player* player = nullptr;
    ASSERT_EQ(oggmix_open(&options, &player), OGGMIX_OK) << oggmix_last_error();
    std::vector<oggmix_track> tracks;
    for (const std::vector<uint8_t>& bytes : SoakFiles()) {
        oggmix_track track = 0;
        ASSERT_EQ(oggmix_load_memory(player, bytes.data(), bytes.size(), "soak", &track),
                  OGGMIX_OK);
        tracks.push_back(track);
    }

    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(SoakSeconds() / 2);
    std::atomic<size_t> calls{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(seed + t);
            while (CallOnce(player, tracks, random)) ++calls;
        });
    }
    while (std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The first event polled from here on closes the player while the threads still call;
    // the threads' polls may run the callback too.
    (void)oggmix_play(player, tracks[0], 1, 0.0);  // its beats, unless the mixer is full
    std::atomic<oggmix_player*> closing{player};
    EXPECT_EQ(oggmix_set_event_callback(player, CloseOnEvent, &closing), OGGMIX_OK);
    for (oggmix_event event; closing != nullptr;) {
        size_t count = 0;
        const oggmix_result result = oggmix_poll(player, &event, 1, &count);
        EXPECT_TRUE(result == OGGMIX_OK || result == OGGMIX_ERROR_INVALID_PLAYER);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::thread& thread : threads) thread.join();
    std::printf("C soak: %zu calls from 4 threads\n", calls.load());
    EXPECT_GT(calls.load(), 0u);
    EXPECT_EQ(oggmix_close(player), OGGMIX_ERROR_INVALID_PLAYER);
}

}  // namespace
}  // namespace oggmix::test
