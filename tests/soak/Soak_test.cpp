// The concurrency soak: 8 looping streams mixed through the audio feed on the null back end in
// real time, while this thread plays a restless user and the display at once, as fast as it
// can (RestlessUser.h). Every few seconds, and at the end, it settles every control and
// listens that the mix and each stream are heard again. Fails on a sanitizer report, a
// deadlock (the watchdog ends the run when no block is rendered for 2 seconds), an unanswered
// fill request, a read-out that is not a number in its range, or a frozen or silent output.
// OGGMIX_SOAK_SECONDS sets the length (default 8), OGGMIX_SOAK_SEED the seed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "feed/AudioFeed.h"
#include "sound/voxa.h"
#include "tests/soak/RestlessUser.h"
#include "tests/soak/SoakWatch.h"
#include "tests/sound/SoundTestSupport.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr double kDefaultSeconds = 8.0;
constexpr uint32_t kDefaultSeed = 20261207;
constexpr auto kSettleEvery = std::chrono::seconds(4);

double SoakSeconds() {
    const char* text = std::getenv("OGGMIX_SOAK_SECONDS");
    return text != nullptr ? std::strtod(text, nullptr) : kDefaultSeconds;
}

uint32_t SoakSeed() {
    const char* text = std::getenv("OGGMIX_SOAK_SEED");
    return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) : kDefaultSeed;
}

std::string Encoded(const TempDir& dir, const std::string& name, const Pcm& pcm,
                    std::vector<std::string> comments = {}) {
    EncodeOptions options;
    options.Comments = std::move(comments);
    return dir.Write(name, EncodeOgg(pcm, options));
}

// The files the user loads: first the ones the engine plays as they are, then ones it refuses,
// renders as silence or plays only in part. Playable is set to how many of the first kind
// there are.
std::vector<std::string> MakeFiles(const TempDir& dir, size_t& playable) {
    std::vector<std::string> files = {
        Encoded(dir, "cues.ogg", Music(44100, 2, 3.0, 1),
                {"COMMENT=*looptime,0,0.5,1.5,-1\r\n*loopsample,1,44100,110250,2"}),
        Encoded(dir, "mono.ogg", Music(44100, 1, 2.5, 2)),
        Encoded(dir, "half.ogg", Music(22050, 2, 2.5, 3)),
        Encoded(dir, "halfmono.ogg", Music(22050, 1, 2.5, 4), {"COMMENT=*looptime,3,0.1,2.0,-1"}),
        Encoded(dir, "short.ogg", Music(44100, 2, 0.4, 5)),
    };
    playable = files.size();
    std::vector<uint8_t> cut = EncodeOgg(Music(44100, 2, 1.0, 6));
    cut.resize(200);
    const std::string text = "not music";
    files.push_back(Encoded(dir, "48k.ogg", Music(48000, 2, 1.0, 9)));
    files.push_back(dir.Write("cut.ogg", cut));
    files.push_back(
        dir.Write("chained.ogg", EncodeChain(Music(44100, 2, 1.2, 7), Music(22050, 1, 1.0, 8))));
    files.push_back(dir.Write("text.ogg", std::vector<uint8_t>(text.begin(), text.end())));
    // A damaged audio page (a hole in the middle), and a last page that claims an hour.
    std::vector<uint8_t> damaged = EncodeOgg(Music(44100, 2, 2.0, 10));
    damaged[damaged.size() * 3 / 5] ^= 0x10;
    files.push_back(dir.Write("damaged.ogg", damaged));
    std::vector<OggPacket> packets = PacketsOf(EncodeOgg(Music(44100, 2, 2.0, 11)));
    packets.back().GranulePos = int64_t{44100} * 3600;
    files.push_back(dir.Write("promising.ogg", OggOfPagedPackets(packets)));
    return files;
}

TEST(Soak, EightLoopingStreamsSurviveARestlessUserAndTheDisplay) {
    const double seconds = SoakSeconds();
    const uint32_t seed = SoakSeed();
    std::printf("soak: %.0f s, seed %u (OGGMIX_SOAK_SECONDS, OGGMIX_SOAK_SEED)\n", seconds, seed);
    setenv("OGGMIX_AUDIO", "null", 1);
    TempDir dir;
    size_t playable = 0;
    const std::vector<std::string> files = MakeFiles(dir, playable);

    MixWatch watch;  // outlives the refill thread that feeds it
    TVOXA voxa(nullptr);
    voxa.SetDebugOption({dsoExceptOnError});
    voxa.Loaded();
    AudioFeed feed(voxa, WuvorbisPath(), AudioFeed::kSlotCount);
    TOggPlayer& player = feed.Player();
    // The refill thread reads the hook under the mixer's lock: set it under the lock too.
    player.Lock();
    player.OnMix = [&watch](int32_t* samples, int32_t frames) { watch.See(samples, frames); };
    player.Unlock();

    RestlessUser user(feed, watch, files, playable, seed);
    user.LoadEverySlot();
    {
        const Watchdog watchdog([&feed] { return feed.WrittenBlocks() + feed.DroppedBlocks(); },
                                user.Steps(), user.LastStep());
        EXPECT_TRUE(user.Settle()) << user.Problem();
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(seconds));
        Clock::time_point settleAt = Clock::now() + kSettleEvery;
        while (Clock::now() < end) {
            user.Act();
            if (Clock::now() >= settleAt) {
                EXPECT_TRUE(user.Settle()) << user.Problem();
                settleAt = Clock::now() + kSettleEvery;
            }
        }
        EXPECT_TRUE(user.Settle()) << user.Problem();
    }

    // Every fill request is answered: written, or dropped because the device was already there.
    voxa.Channels(0)->Stop();
    EXPECT_TRUE(WaitUntil(
        [&feed] { return feed.RequestedBlocks() == feed.WrittenBlocks() + feed.DroppedBlocks(); }));
    EXPECT_EQ(feed.RefillFailure(), nullptr);
    EXPECT_GT(feed.WrittenBlocks(), 0u);
    EXPECT_EQ(user.Problems(), 0u) << "first: " << user.Problem();
    EXPECT_EQ(watch.FrozenBlocks(), 0u) << "blocks holding one non-zero value throughout";
    std::printf("soak: %llu user steps, %llu refused loads; %llu blocks written, %llu dropped\n",
                static_cast<unsigned long long>(user.Steps().load()),
                static_cast<unsigned long long>(user.RefusedLoads()),
                static_cast<unsigned long long>(feed.WrittenBlocks()),
                static_cast<unsigned long long>(feed.DroppedBlocks()));
}

}  // namespace
}  // namespace oggmix::test
