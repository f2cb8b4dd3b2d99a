// MusicDelivery.cpp: oggmix_delivery SECONDS FILE [BLOCK_FRAMES...]: plays FILE twice (one of
// them fading in) through the music player on the null back end, which takes sound in real
// time, for SECONDS per block size, and prints per block size how many blocks the ring asked
// for in time, how many arrived after the device had passed their half (late), and how many
// turns of the ring went by without a request at all (missed). Late and missed blocks are what
// a listener hears as gaps or repeats; run it on the machine in the state to be judged.
#include <oggmix/MusicPlayer.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) try {
    if (argc < 3) {
        std::fprintf(stderr, "usage: oggmix_delivery SECONDS FILE [BLOCK_FRAMES...]\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    std::vector<int> blocks;
    for (int i = 3; i < argc; ++i) blocks.push_back(std::atoi(argv[i]));
    if (blocks.empty()) blocks = {8192, 4096, 2048, 1024};
    std::printf("%-12s %8s %8s %6s %6s\n", "block", "expected", "in time", "late", "missed");
    for (const int blockFrames : blocks) {
        oggmix::PlayerOptions options;
        options.Backend = "null";
        options.BlockFrames = blockFrames;
        oggmix::MusicPlayer player(options);
        const oggmix::Track a = player.Load(argv[2]);
        const oggmix::Track b = player.Load(argv[2]);
        player.Play(a);
        player.Play(b, {.Loop = true, .FadeInSec = 2.0});
        const auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - start < std::chrono::duration<double>(seconds)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(16));  // a game's frame
            (void)player.Poll();
        }
        const oggmix::DeliveryStats stats = player.Delivery();
        const auto expected = static_cast<long long>(seconds * 44100.0 / blockFrames);
        const auto asked = static_cast<long long>(stats.WrittenBlocks + stats.LateBlocks);
        std::printf("%-12s %8lld %8llu %6llu %6lld\n",
                    (std::to_string(blockFrames) + " frames").c_str(), expected,
                    static_cast<unsigned long long>(stats.WrittenBlocks),
                    static_cast<unsigned long long>(stats.LateBlocks),
                    expected > asked ? expected - asked : 0);
    }
    return 0;
} catch (const oggmix::MusicError& error) {
    std::fprintf(stderr, "oggmix_delivery: %s\n", error.what());
    return 1;
}
