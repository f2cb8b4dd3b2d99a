// Explore music switches to combat on a bar line, a drum layer fades in over two beats and a
// stinger lands on the next bar; every beat is printed as soon as it is known, before it is heard.
#include <oggmix/MusicPlayer.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A game's frame loop: polls every 10 ms for a while, printing each beat (bar.beat, 1.1 the
// first).
void PrintBeats(oggmix::MusicPlayer& player, Clock::duration span) {
    for (const auto end = Clock::now() + span; Clock::now() < end;) {
        for (const oggmix::MusicEvent& event : player.Poll()) {
            if (event.Kind != oggmix::MusicEventKind::Beat) continue;
            const std::chrono::duration<double> until = event.HeardAt - Clock::now();
            std::printf("beat at frame %" PRId64 ", %" PRId64 ".%d, heard in %.3f s\n", event.Frame,
                        event.Bar + 1, event.BeatInBar + 1, until.count());
        }
        std::this_thread::sleep_for(10ms);
    }
}

int main(int argc, char** argv) try {
    if (argc != 5) {
        std::fprintf(stderr,
                     "usage: adaptive_music EXPLORE.ogg COMBAT.ogg DRUMS.ogg STINGER.ogg\n");
        return 2;
    }
    oggmix::MusicPlayer player;  // opens the sound device that OGGMIX_AUDIO names
    const oggmix::Track explore = player.Load(argv[1]), combat = player.Load(argv[2]);
    const oggmix::Track drums = player.Load(argv[3]), stinger = player.Load(argv[4]);
    for (const oggmix::Track track : {explore, combat})  // files without BPM tags
        if (player.TempoOf(track).Bpm == 0.0) player.SetTempo(track, {.Bpm = 120.0});
    // The drums are a layer of the combat music, as long as it, on the same playhead; they
    // wait silent until the fight heats up.
    const oggmix::Track fight = player.MakeLayerGroup({combat, drums});
    player.SetVolume(drums, 0.0);

    player.Play(explore);
    PrintBeats(player, 1s);
    const int64_t combatFrame = player.Transition(explore, fight);  // a cut on the next bar
    std::printf("combat from frame %" PRId64 "\n", combatFrame);
    PrintBeats(player, 2s);
    player.SetVolume(drums, 1.0, oggmix::VolumeChange{.Length = {.Beats = 2.0}});
    PrintBeats(player, 1s);
    const int64_t stingerFrame =
        player.PlayStinger(stinger, {.Grid = fight, .When = oggmix::Quantize::Bar});
    std::printf("stinger at frame %" PRId64 "\n", stingerFrame);
    PrintBeats(player, 3s);  // the next bar can be a whole bar away
} catch (const oggmix::MusicError& error) {
    std::fprintf(stderr, "adaptive_music: %s\n", error.what());
    return 1;
}
