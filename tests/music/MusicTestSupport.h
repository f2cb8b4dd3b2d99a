#pragma once
// MusicTestSupport.h: a MusicPlayer on the manual back end and a listener that advances the
// device as a sound card would, waiting for each block to be delivered before its half is
// played (the wait only ends a hung run), keeping everything heard.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
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
    options.BlockFrames = blockFrames;
    return options;
}

// A comment line "COMMENT=<tags>".
inline std::string LoopTag(const std::string& tags) { return "COMMENT=" + tags; }

// Plays the manual device on as a sound card would. Block n must be delivered before the
// cursor reaches the half it fills, and is asked for once the cursor is inside the other half.
class ManualListener {
public:
    // delivered: blocks written or late so far.
    ManualListener(int32_t blockFrames, std::function<uint64_t()> delivered)
        : FBlockFrames(blockFrames), FDelivered(std::move(delivered)) {}

    void Listen(int64_t frames) {
        const int64_t half = FBlockFrames;
        const int64_t target = FHeardFrames + frames;
        while (FHeardFrames < target) {
            const int64_t inHalf = FHeardFrames % half;
            int64_t to = 0;
            if (inHalf < kEnterFrames) {
                to = FHeardFrames - inHalf + kEnterFrames;
            } else {
                const auto needed = static_cast<uint64_t>(FHeardFrames / half + 1);
                ASSERT_TRUE(WaitUntil([&] { return FDelivered() >= needed; }));
                to = (FHeardFrames / half + 1) * half + kEnterFrames;
            }
            to = std::min(to, target);
            ASSERT_TRUE(ManualAudio::Advance(static_cast<int32_t>(to - FHeardFrames), &FHeard));
            FHeardFrames = to;
        }
    }
    [[nodiscard]] int64_t HeardFrames() const noexcept { return FHeardFrames; }
    [[nodiscard]] const std::vector<int16_t>& Heard() const noexcept { return FHeard; }

private:
    static constexpr int64_t kEnterFrames = 16;
    int32_t FBlockFrames;
    std::function<uint64_t()> FDelivered;
    std::vector<int16_t> FHeard;  // interleaved left, right
    int64_t FHeardFrames = 0;
};

class ManualPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        FPlayer = std::make_unique<MusicPlayer>(ManualOptions());
        FListener = std::make_unique<ManualListener>(kTestBlockFrames, [this] {
            const DeliveryStats d = FPlayer->Delivery();
            return d.WrittenBlocks + d.LateBlocks;
        });
    }
    void TearDown() override { FPlayer.reset(); }

    Track LoadBytes(const std::vector<uint8_t>& bytes) {
        return FPlayer->Load(std::as_bytes(std::span(bytes)), "fixture");
    }
    void Listen(int64_t frames) { FListener->Listen(frames); }
    [[nodiscard]] int64_t HeardFrames() const { return FListener->HeardFrames(); }
    [[nodiscard]] const std::vector<int16_t>& Heard() const { return FListener->Heard(); }
    [[nodiscard]] int64_t PositionFrames(Track track) {
        return std::llround(FPlayer->Position(track) * 44100.0);
    }

    std::unique_ptr<MusicPlayer> FPlayer;
    std::unique_ptr<ManualListener> FListener;
};

}  // namespace oggmix::test
