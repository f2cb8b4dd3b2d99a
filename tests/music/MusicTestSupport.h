#pragma once
// MusicTestSupport.h: a MusicPlayer on the manual back end and a listener that advances the
// device as a sound card would, waiting for each block to be delivered before its half is
// played (the wait only ends a hung run), keeping everything heard.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "sound/platform/ManualAudio.h"
#include "tests/sound/SoundTestSupport.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {

inline constexpr int32_t kTestBlockFrames = 2048;

inline PlayerOptions ManualOptions(int32_t blockFrames = kTestBlockFrames) {
    PlayerOptions options;
    options.Backend = "manual";
    options.DecoderPath = WuvorbisPath();
    options.BlockFrames = blockFrames;
    return options;
}

// A comment line "COMMENT=<tags>".
inline std::string LoopTag(const std::string& tags) { return "COMMENT=" + tags; }

class ManualPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { FPlayer = std::make_unique<MusicPlayer>(ManualOptions()); }
    void TearDown() override { FPlayer.reset(); }

    Track LoadBytes(const std::vector<uint8_t>& bytes) {
        return FPlayer->Load(std::as_bytes(std::span(bytes)), "fixture");
    }

    // Plays the device on by frames. Block n must be delivered before the cursor reaches
    // the half it fills, and is asked for once the cursor is inside the other half.
    void Listen(int64_t frames) {
        const int64_t half = FPlayer->BlockFrames();
        const int64_t target = FHeardFrames + frames;
        while (FHeardFrames < target) {
            const int64_t inHalf = FHeardFrames % half;
            int64_t to = 0;
            if (inHalf < kEnterFrames) {
                to = FHeardFrames - inHalf + kEnterFrames;
            } else {
                const auto needed = static_cast<uint64_t>(FHeardFrames / half + 1);
                ASSERT_TRUE(WaitUntil([&] {
                    const DeliveryStats d = FPlayer->Delivery();
                    return d.WrittenBlocks + d.LateBlocks >= needed;
                }));
                to = (FHeardFrames / half + 1) * half + kEnterFrames;
            }
            to = std::min(to, target);
            ASSERT_TRUE(ManualAudio::Advance(static_cast<int32_t>(to - FHeardFrames), &FHeard));
            FHeardFrames = to;
        }
    }
    [[nodiscard]] int64_t PositionFrames(Track track) {
        return std::llround(FPlayer->Position(track) * 44100.0);
    }

    static constexpr int64_t kEnterFrames = 16;
    std::unique_ptr<MusicPlayer> FPlayer;
    std::vector<int16_t> FHeard;  // interleaved left, right
    int64_t FHeardFrames = 0;
};

}  // namespace oggmix::test
