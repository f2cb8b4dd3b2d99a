// OggPlayerLib_Levels_test.cpp: the mixer gives the same blocks, envelope and peak at every
// instruction-set level as on the scalar path: with real streams summed beyond full scale,
// with streams so loud that their sum leaves 32 bits, and with accumulators of extreme
// values handed in through OnMix.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "base/MemoryStream.h"
#include "mixer/OggPlayerLib.h"
#include "stream/SimdLevel.h"
#include "tests/mixer/MixerTestSupport.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kSeed = 7100;
constexpr int32_t kBlocks = 12;

struct MixOutcome {
    std::vector<int16_t> Samples;  // every block, one after the other
    std::vector<int32_t> Levels;   // the envelope after each block
    std::vector<int32_t> Peaks;    // the peak meter after each block
    bool operator==(const MixOutcome&) const = default;
};

class OggPlayerLevels : public ::testing::Test {
protected:
    static void SetUpTestSuite() { BindDecoder(); }
    void TearDown() override { SetSimdLevel(SupportedSimdLevel()); }

    static const std::vector<uint8_t>& Ogg() {
        static const std::vector<uint8_t> ogg = EncodeOgg(Music(44100, 2, 2.0, 9));
        return ogg;
    }

    // Three streams of the same music from different places, at the volumes given, mixed
    // for kBlocks blocks at the active level.
    static MixOutcome MixStreams(float volume, float masterVolume) {
        std::vector<std::unique_ptr<TOggData>> streams;
        TOggPlayer player(kMixerBufferBytes, kMixerSlots);
        for (int32_t i = 0; i < 3; ++i) {
            streams.push_back(std::make_unique<TOggData>(kMixerBufferBytes));
            EXPECT_TRUE(streams.back()->LoadFromStream(std::make_unique<MemoryStream>(Ogg())));
            streams.back()->Seek(0.6f * static_cast<float>(i), true);
            streams.back()->SetVolume(volume);
            streams.back()->SetMasterVolume(masterVolume);
            player.SetSlot(i, streams.back().get(), true);
        }
        streams[1]->SetFilterCurve4(2.0f, 1.0f, 0.0f, 1.0f, 0.5f);
        streams[2]->SetAGC(0.8f);
        player.PlayAll(true);
        MixOutcome outcome;
        for (int32_t block = 0; block < kBlocks; ++block) {
            player.RenderNext();
            outcome.Samples.insert(outcome.Samples.end(), player.GetBlock(),
                                   player.GetBlock() + kBlockSamples);
            outcome.Levels.push_back(player.GetLimiterLevel());
            outcome.Peaks.push_back(player.Peak());
        }
        player.Reset();
        return outcome;
    }

    PinnedClock clock{2'000'000};
};

TEST_F(OggPlayerLevels, StreamsSummedBeyondFullScaleMixAlikeAtEveryLevel) {
    SetSimdLevel(SimdLevel::Scalar);
    const MixOutcome expected = MixStreams(1.5f, 1.0f);
    for (const SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (SetSimdLevel(level) != level) continue;
        EXPECT_TRUE(MixStreams(1.5f, 1.0f) == expected) << SimdLevelName(level);
    }
}

TEST_F(OggPlayerLevels, SumsBeyondThirtyTwoBitsSaturateAlikeAtEveryLevel) {
    // 1000 x 1000 overflows every gain to the 32-bit limit: three such streams wrap a 32-bit
    // sum many times over.
    SetSimdLevel(SimdLevel::Scalar);
    const MixOutcome expected = MixStreams(1000.0f, 1000.0f);
    for (const SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (SetSimdLevel(level) != level) continue;
        EXPECT_TRUE(MixStreams(1000.0f, 1000.0f) == expected) << SimdLevelName(level);
    }
}

TEST_F(OggPlayerLevels, ExtremeAccumulatorsAreLimitedAndClippedAlikeAtEveryLevel) {
    std::printf("random seed %u\n", kSeed);
    // Groups that stay within full scale, go beyond it, sit at the 32-bit limits; in blocks of
    // awkward lengths.
    std::mt19937 random(kSeed);
    std::vector<std::vector<int32_t>> mixes;
    for (int block = 0; block < 40; ++block) {
        const int32_t frames = std::uniform_int_distribution<int32_t>(1, kBlockFrames)(random);
        std::vector<int32_t> mix(static_cast<size_t>(2 * frames));
        const int32_t span = block % 4 == 0   ? std::numeric_limits<int32_t>::max()
                             : block % 4 == 1 ? 30000
                                              : 200000;
        for (int32_t& v : mix) v = std::uniform_int_distribution<int32_t>(-span, span)(random);
        if (block % 5 == 0) mix.front() = std::numeric_limits<int32_t>::min();
        mixes.push_back(std::move(mix));
    }
    const auto run = [&mixes] {
        TOggPlayer player(kMixerBufferBytes, kMixerSlots);
        player.SetLimiter(20000, 65534, 3000, 2000, -1);
        MixOutcome outcome;
        for (const auto& mix : mixes) {
            const std::vector<int16_t> out = FillWithMix(player, mix);
            outcome.Samples.insert(outcome.Samples.end(), out.begin(), out.end());
            outcome.Levels.push_back(player.GetLimiterLevel());
            outcome.Peaks.push_back(player.Peak());
        }
        return outcome;
    };
    SetSimdLevel(SimdLevel::Scalar);
    const MixOutcome expected = run();
    for (const SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (SetSimdLevel(level) != level) continue;
        EXPECT_TRUE(run() == expected) << SimdLevelName(level);
    }
}

}  // namespace
}  // namespace oggmix::test
