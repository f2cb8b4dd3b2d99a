// A player that is a global object: made before main, on the back end OGGMIX_AUDIO names, and
// destroyed after it. main plays a file and ends the program with exit() while it plays; the
// player must end cleanly, with the sound heard so far kept.
#include <oggmix/MusicPlayer.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

oggmix::MusicPlayer gPlayer;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: global_player FILE.ogg\n"), 2;
    gPlayer.Play(gPlayer.Load(argv[1]));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::printf("left open\n");
    std::fflush(stdout);
    std::exit(0);
}
