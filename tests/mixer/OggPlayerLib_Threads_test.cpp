// The mixer used as the host uses it: a refill thread renders block after block while the UI
// thread changes settings and slots and reads positions, levels, spectra and the limiter.
// Run under ThreadSanitizer this shows that the two threads meet only where the locks and the
// atomics say.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "base/MemoryStream.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tests/mixer/MixerTestSupport.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

std::unique_ptr<TOggData> LoadTone(double seconds, double freqHz) {
    auto stream = std::make_unique<TOggData>(kMixerBufferBytes);
    const std::vector<uint8_t> ogg = EncodeOgg(Sine(44100, 2, seconds, freqHz, 0.6));
    EXPECT_TRUE(stream->LoadFromStream(std::make_unique<MemoryStream>(ogg)));
    return stream;
}

TEST(OggPlayerThreads, UiThreadWorksTheMixerWhileTheRefillThreadRenders) {
    BindDecoder();
    const std::unique_ptr<TOggData> first = LoadTone(0.5, 440.0);
    const std::unique_ptr<TOggData> second = LoadTone(0.3, 660.0);
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    player.OnGetPosition = [](int32_t& position, int32_t& size) {
        position = 4000;
        size = 65536;
    };
    player.SetSlot(0, first.get(), true);
    player.PlayAll(true);

    std::atomic<bool> done{false};
    std::atomic<int32_t> outOfRange{0};
    std::thread refill([&] {
        for (int block = 0; block < 60; ++block) {
            player.RenderNext();
            const int16_t* samples = player.GetBlock();
            for (int32_t i = 0; i < kBlockSamples; ++i) {
                if (samples[i] == -32768) outOfRange.fetch_add(1, std::memory_order_relaxed);
            }
        }
        done.store(true, std::memory_order_release);
    });

    std::vector<float> spectrum(256);
    int32_t round = 0;
    do {  // at least once, however fast the refill thread is
        ++round;
        player.SetLimiter(20000 + round % 20000, 65534, 1 + round % 700, 44100,
                          round % 3 == 0 ? 30000 : -1);
        player.SetSlot(1, round % 2 == 0 ? second.get() : nullptr, true);
        player.Play(1, true);
        player.SetVolume(0, 0.5f + static_cast<float>(round % 10) / 10.0f);
        player.SetMasterVolume(0.9f);
        player.Fade(0, 1.0f, 0.1f);
        player.SetFilterCurve4(0, 1.0f, 0.9f, 0.9f, 1.0f, 0.05f);
        static_cast<void>(player.MixPosition());
        static_cast<void>(player.GetLevel(round % 3));
        player.GetMixSpectrum(spectrum.data());
        player.GetSpectrum(0, spectrum.data());
        static_cast<void>(player.GetPlayTime(0));
        static_cast<void>(player.GetTime(1));
        static_cast<void>(player.GetFilterGain(0, round % 256));
        static_cast<void>(player.GetLimiterLevel() + player.Peak() + player.MinLevel() +
                          player.MaxLevel() + player.Down() + player.Delay());
    } while (!done.load(std::memory_order_acquire));
    refill.join();
    player.ClearSlot(0, true);
    player.ClearSlot(1, true);
    EXPECT_EQ(outOfRange.load(), 0);
}

// Stopping, closing and reloading a stream zero its ring while the stream sits in its slot;
// the mix reads the stream's block after the stream has rendered it, so those must meet only
// under the stream's lock (ThreadSanitizer reports the race otherwise).
TEST(OggPlayerThreads, StopsClosesAndReloadsMeetTheMixOnlyUnderTheStreamsLock) {
    BindDecoder();
    const std::vector<uint8_t> ogg = EncodeOgg(Sine(44100, 2, 0.4, 440.0, 0.6));
    TOggData stream(kMixerBufferBytes);
    ASSERT_TRUE(stream.LoadFromStream(std::make_unique<MemoryStream>(ogg)));
    TOggPlayer player(kMixerBufferBytes, kMixerSlots);
    player.SetSlot(0, &stream, true);
    player.Play(0, true);

    std::atomic<bool> done{false};
    std::thread refill([&] {
        for (int block = 0; block < 80; ++block) player.RenderNext();
        done.store(true, std::memory_order_release);
    });
    int32_t reloads = 0;
    int32_t round = 0;
    do {
        switch (round++ % 3) {
            case 0: player.Stop(0); break;
            case 1: stream.Close(); break;
            default: reloads += stream.LoadFromStream(std::make_unique<MemoryStream>(ogg)) ? 1 : 0;
        }
        player.Play(0, true);
    } while (!done.load(std::memory_order_acquire));
    refill.join();
    player.ClearSlot(0, true);
    EXPECT_EQ(reloads, round / 3);  // every reload of the file loads it
}

}  // namespace
}  // namespace oggmix::test
