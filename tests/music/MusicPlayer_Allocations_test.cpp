// The device's thread allocates and frees nothing: a player on the offline back end is pulled
// from a thread of the test's own, which counts every heap allocation and free it makes, the
// decoding library's included, while the game's thread loads, starts, seeks, cross-fades and
// stops.
#include <gtest/gtest.h>

#include <cstdlib>
#include <semaphore>
#include <thread>

#include "tests/music/MusicTestSupport.h"
#include "tests/support/AllocationCounter.h"

namespace oggmix::test {
namespace {

// Pulls the player as a device would, on a thread of its own, in pieces of 10 ms that fall
// anywhere in a block, counting the allocations and frees of that thread inside the pulls
// alone.
class CountingDevice {
public:
    explicit CountingDevice(MusicPlayer& Player)
        : FPlayer(Player), FPiece(2 * kPieceFrames), FThread([this] { Run(); }) {
        FDone.acquire();  // the thread has tried its counter
    }
    ~CountingDevice() {
        FFrames = -1;
        FGo.release();
        FThread.join();
    }
    CountingDevice(const CountingDevice&) = delete;
    CountingDevice& operator=(const CountingDevice&) = delete;

    void Pull(double Seconds) {
        FFrames = std::llround(Seconds * 44100.0);
        FGo.release();
        FDone.acquire();
    }
    [[nodiscard]] int64_t Allocations() const noexcept { return FAllocations; }
    [[nodiscard]] int64_t Frees() const noexcept { return FFrees; }
    [[nodiscard]] int32_t Peak() const noexcept { return FPeak; }
    // Whether the counters see an allocation and a free of this thread at all.
    [[nodiscard]] bool Counts() const noexcept { return FCounts; }

private:
    static constexpr int64_t kPieceFrames = 441;

    void Run() {
        const int64_t allocated = HeapAllocationsOnThisThread();
        const int64_t freed = HeapFreesOnThisThread();
        void* (*volatile allocate)(std::size_t) = std::malloc;
        std::free(allocate(64));
        FCounts = HeapAllocationsOnThisThread() > allocated && HeapFreesOnThisThread() > freed;
        FDone.release();
        for (;;) {
            FGo.acquire();
            if (FFrames < 0) return;
            const int64_t allocatedBefore = HeapAllocationsOnThisThread();
            const int64_t freedBefore = HeapFreesOnThisThread();
            for (int64_t done = 0; done < FFrames; done += kPieceFrames) {
                const auto piece = std::span(FPiece).first(
                    static_cast<size_t>(2 * std::min(kPieceFrames, FFrames - done)));
                FPlayer.RenderOffline(piece);
                for (const int16_t sample : piece) FPeak = std::max(FPeak, std::abs(sample));
            }
            FAllocations += HeapAllocationsOnThisThread() - allocatedBefore;
            FFrees += HeapFreesOnThisThread() - freedBefore;
            FDone.release();
        }
    }

    MusicPlayer& FPlayer;
    std::vector<int16_t> FPiece;
    int64_t FFrames = 0;
    int64_t FAllocations = 0;
    int64_t FFrees = 0;
    int32_t FPeak = 0;  // of everything pulled
    bool FCounts = false;
    std::binary_semaphore FGo{0};
    std::binary_semaphore FDone{0};
    std::thread FThread;  // last: starts once the rest is in place
};

TEST(MusicAllocations, TheDeviceThreadAllocatesAndFreesNothingThroughThirtySecondsOfCalls) {
    PlayerOptions options;
    options.Backend = "offline";
    MusicPlayer player(options);
    const std::vector<std::string> tempo = {"BPM=120", "BEATSPERBAR=4", "FIRSTBEAT=0"};
    const auto load = [&](int32_t rate, double seconds, uint32_t seed,
                          std::vector<std::string> comments) {
        const auto bytes = EncodeOgg(Music(rate, 2, seconds, seed), {.Comments = comments});
        return player.Load(std::as_bytes(std::span(bytes)), std::to_string(rate));
    };
    std::vector<std::string> looped = tempo;
    looped.insert(looped.end(), {"LOOPSTART=22050", "LOOPLENGTH=88200"});
    const Track a = load(44100, 3.0, 1, looped);
    const Track b = load(22050, 2.0, 2, tempo);
    const Track c = load(32000, 2.0, 3, tempo);
    const Track stinger = load(44100, 0.5, 4, {});
    CountingDevice device(player);
    ASSERT_TRUE(device.Counts());

    // A start, a seek, a transition on the bar and a stinger on a beat.
    player.Play(a, {.FadeInSec = 0.2});
    device.Pull(1.5);  // a's loop jump comes and goes
    player.Seek(a, 0.3);
    device.Pull(0.7);
    player.Transition(a, b,
                      {.FadeKind = TransitionOptions::Fade::Cross, .Length = {.Seconds = 0.5}});
    device.Pull(1.5);
    player.PlayStinger(stinger, {.Grid = b});
    device.Pull(2.5);  // b wraps at its end, the stinger ends
    // Pause and resume, a cross-fade to a converted rate, volume, pan, filter, gain control.
    player.Pause(b, 0.1);
    device.Pull(0.5);
    player.Resume(b, 0.1);
    device.Pull(0.5);
    player.CrossFade(b, c, 0.5);
    device.Pull(1.0);
    player.SetVolume(c, 0.5, 0.3);
    player.SetPan(c, -0.5, 0.3);
    player.SetToneFilter(c, ToneFilter::LowPass, 0.3);
    player.SetGainControl(c, 1.0);
    device.Pull(2.5);  // c wraps through its converter
    // A track loaded while others play, started on a frame ahead, then a converted seek.
    const Track d = load(48000, 2.0, 5, tempo);
    player.PlayAt(d, player.MixedFrame() + 5000);
    device.Pull(1.0);
    player.Seek(c, 0.5);
    player.Seek(d, 1.9);
    device.Pull(1.0);  // d wraps
    // Stops with and without a fade, a track that plays to its end, and starts again.
    player.Stop(c, 0.2);
    player.Stop(d);
    player.Play(b, {.Loop = false});
    device.Pull(3.0);
    (void)player.Poll();
    player.Play(b, {.Loop = false});
    player.Play(d, {.Loop = false});  // ends inside its converter
    player.Play(c);
    player.PlayStinger(stinger, {.Grid = c, .When = Quantize::Bar});
    device.Pull(3.0);
    player.Play(d);
    TransitionOptions onBeat;
    onBeat.When = Quantize::Beat;
    onBeat.StartAt = TransitionOptions::Entry::Same;
    player.Transition(c, a, onBeat);
    device.Pull(2.0);
    player.Unload(b);
    player.Stop(a, 0.5);
    device.Pull(9.3);
    (void)player.Poll();

    EXPECT_EQ(player.MixedFrame(), 30 * 44100);
    EXPECT_GT(device.Peak(), 8000);  // the music was heard
    EXPECT_EQ(device.Allocations(), 0);
    EXPECT_EQ(device.Frees(), 0) << "what the device's thread retires is freed by the game's";
}

}  // namespace
}  // namespace oggmix::test
