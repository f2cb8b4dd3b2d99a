// Plays a looping track, cross-fades to another, pauses, resumes and prints positions.
#include <oggmix/MusicPlayer.h>

#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

int main(int argc, char** argv) try {
    if (argc != 3) return std::fprintf(stderr, "usage: play_music FIRST.ogg SECOND.ogg\n"), 2;
    oggmix::MusicPlayer player;  // opens the sound device that OGGMIX_AUDIO names
    oggmix::Track first = player.Load(argv[1]), second = player.Load(argv[2]);
    player.Play(first, {.Loop = true, .FadeInSec = 0.5});
    std::this_thread::sleep_for(1500ms);
    player.CrossFade(first, second, 1.0);
    std::this_thread::sleep_for(1500ms);
    player.Pause(second);
    std::this_thread::sleep_for(500ms);
    std::printf("paused at %.3f s\n", player.Position(second));
    std::this_thread::sleep_for(500ms);
    std::printf("still at %.3f s\n", player.Position(second));
    player.Resume(second);
    std::this_thread::sleep_for(1s);
    std::printf("playing at %.3f s\n", player.Position(second));
} catch (const oggmix::MusicError& error) {
    std::fprintf(stderr, "play_music: %s\n", error.what());
    return 1;
}
