// Plays a looping track, cross-fades to another, pauses, resumes and prints positions.
#include <oggmix/MusicPlayer.h>

#include <chrono>
#include <cstdio>
#include <thread>

static void Wait(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int main(int argc, char** argv) {
    if (argc != 3) return std::fprintf(stderr, "usage: play_music FIRST.ogg SECOND.ogg\n"), 2;
    try {
        oggmix::MusicPlayer player;  // opens the sound device that OGGMIX_AUDIO names
        oggmix::Track first = player.Load(argv[1]), second = player.Load(argv[2]);
        player.Play(first, {.Loop = true, .FadeInSec = 0.5});
        Wait(1.5);
        player.CrossFade(first, second, 1.0);
        Wait(1.5);
        player.Pause(second);
        Wait(0.5);
        std::printf("paused at %.3f s\n", player.Position(second));
        Wait(0.5);
        std::printf("still at %.3f s\n", player.Position(second));
        player.Resume(second);
        Wait(1.0);
        std::printf("playing at %.3f s\n", player.Position(second));
    } catch (const oggmix::MusicError& error) {
        std::fprintf(stderr, "play_music: %s\n", error.what());
        return 1;
    }
    return 0;
}
