// The game player's soak: two players side by side on the null back end (which pulls in real
// time), eight tracks playing in one, while this thread makes random calls as a game would:
// load and unload, play, stop, pause, resume, seek, volumes with fades, cross-fades,
// transitions, PlayAt, stingers, positions and polls. Fails on a sanitizer report, a crash, a
// refusal other than a full mixer or a transition it cannot make, a position outside its
// track, or an ill-formed event. OGGMIX_SOAK_SECONDS sets the length (default 8),
// OGGMIX_SOAK_SEED the seed (default: a new one, printed).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "oggmix/MusicPlayer.h"
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

}  // namespace
}  // namespace oggmix::test
