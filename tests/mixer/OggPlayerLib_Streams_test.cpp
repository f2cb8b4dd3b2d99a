// The player mixer with real streams: the mix against libvorbisfile's own decode, the sum of
// two streams, streams left out, the delay handed to the streams, the slot rules, the per-slot
// operations and their empty-slot results, and a render path that allocates nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "base/Exceptions.h"
#include "base/MemoryStream.h"
#include "mixer/OggPlayerLib.h"
#include "stream/OggDataLib.h"
#include "tests/mixer/MixerTestSupport.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/OggFixture.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr uint32_t kSeedA = 7001;
constexpr uint32_t kSeedB = 7002;

struct Fixture {
    std::vector<uint8_t> Ogg;
    Decoded Reference;
};

Fixture MakeFixture(const Pcm& pcm) {
    Fixture fixture{EncodeOgg(pcm), {}};
    fixture.Reference = DecodeReference(fixture.Ogg);
    return fixture;
}

// The reference sample as the 16-bit output gives it: -32768 cannot be written.
int16_t Narrow(int16_t sample) { return sample == -32768 ? int16_t{-32767} : sample; }

// One second of seeded noise each, five and a bit blocks; loud enough that the two sum
// beyond full scale.
const Fixture& FixtureA() {
    static const Fixture fixture = MakeFixture(Noise(44100, 2, 1.0, kSeedA, 0.7));
    return fixture;
}
const Fixture& FixtureB() {
    static const Fixture fixture = MakeFixture(Noise(44100, 2, 1.0, kSeedB, 0.7));
    return fixture;
}

class OggPlayerStreams : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        BindDecoder();
        std::printf("noise seeds %u, %u\n", kSeedA, kSeedB);
    }

    static std::unique_ptr<TOggData> Load(const Fixture& fixture,
                                          int32_t bufferBytes = kMixerBufferBytes) {
        auto stream = std::make_unique<TOggData>(bufferBytes);
        EXPECT_TRUE(stream->LoadFromStream(std::make_unique<MemoryStream>(fixture.Ogg)));
        return stream;
    }

    const Fixture& a = FixtureA();
    const Fixture& b = FixtureB();
    PinnedClock clock{5'000'000};
    // Streams outlive the mixer, which empties its slots when it goes.
    std::unique_ptr<TOggData> streamA = Load(a);
    std::unique_ptr<TOggData> streamB = Load(b);
    TOggPlayer player{kMixerBufferBytes, kMixerSlots};
};

TEST_F(OggPlayerStreams, OneStreamAtDefaultsGivesTheDecodedSamplesThenSilence) {
    const std::vector<int16_t>& reference = a.Reference.Samples;
    player.SetSlot(0, streamA.get(), true);
    player.Play(0, false);

    size_t at = 0;
    while (at < reference.size()) {
        player.RenderNext();
        const int16_t* block = player.GetBlock();
        for (int32_t i = 0; i < kBlockSamples; ++i, ++at) {
            const int16_t expected = at < reference.size() ? Narrow(reference[at]) : int16_t{0};
            ASSERT_EQ(block[i], expected) << "sample " << at;
        }
    }
    EXPECT_EQ(streamA->GetState(true), 1);  // ended without looping
    player.RenderNext();
    const int16_t* block = player.GetBlock();
    EXPECT_TRUE(std::all_of(block, block + kBlockSamples, [](int16_t s) { return s == 0; }));
}

TEST_F(OggPlayerStreams, AccumulatorHoldsThePlainSumAndTheOutputIsItsClip) {
    player.SetLimiter(32767, 32767, 1, 1, -1);  // no scaling: the output is the clipped sum
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(3, streamB.get(), true);
    player.PlayAll(true);
    std::vector<int32_t> mix;
    player.OnMix = [&mix](int32_t* samples, int32_t frameCount) {
        mix.assign(samples, samples + 2 * frameCount);
    };

    int beyondFullScale = 0;
    for (int block = 0; block < 3; ++block) {
        player.RenderNext();
        ASSERT_EQ(mix.size(), static_cast<size_t>(kBlockSamples));
        for (int32_t i = 0; i < kBlockSamples; ++i) {
            const size_t at = static_cast<size_t>(block * kBlockSamples + i);
            const int32_t sum = a.Reference.Samples[at] + b.Reference.Samples[at];
            ASSERT_EQ(mix[static_cast<size_t>(i)], sum) << "sample " << at;
            ASSERT_EQ(player.GetBlock()[i], std::clamp(sum, -32767, 32767)) << "sample " << at;
            if (sum > 32767 || sum < -32767) ++beyondFullScale;
        }
    }
    EXPECT_GT(beyondFullScale, 0);  // the fixture does reach beyond full scale
}

TEST_F(OggPlayerStreams, DefaultLimiterScalesASumBeyondFullScaleInsteadOfClippingIt) {
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(1, streamB.get(), true);
    player.PlayAll(true);
    for (int block = 0; block < 3; ++block) player.RenderNext();
    EXPECT_GT(player.GetLimiterLevel(), 32767);
    EXPECT_GT(player.Peak(), 32767);
    const int16_t* block = player.GetBlock();
    const int32_t clipped = static_cast<int32_t>(std::count_if(
        block, block + kBlockSamples, [](int16_t s) { return s == 32767 || s == -32767; }));
    EXPECT_LT(clipped, kBlockSamples / 1000);
}

TEST_F(OggPlayerStreams, StreamThatDoesNotRenderIsLeftOutOfTheMix) {
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(1, streamB.get(), true);  // loaded but never played
    player.Play(0, true);
    player.RenderNext();
    for (int32_t i = 0; i < kBlockSamples; ++i)
        ASSERT_EQ(player.GetBlock()[i], Narrow(a.Reference.Samples[static_cast<size_t>(i)]));
    EXPECT_EQ(streamB->GetState(true), 1);
}

TEST_F(OggPlayerStreams, EachSlotHasTheRecordOfItsStreamsRenderInTheLastMix) {
    streamA->SetPlayRecords(true);
    streamB->SetPlayRecords(true);
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(2, streamB.get(), true);
    player.Play(0, true);
    player.Play(2, true);
    std::vector<const PlayRecord*> seenInMix;
    player.OnMix = [&](int32_t*, int32_t) {
        seenInMix = {player.SlotRecord(0), player.SlotRecord(1), player.SlotRecord(2)};
    };
    player.RenderNext();
    player.RenderNext();
    EXPECT_EQ(seenInMix[0], streamA->LastPlayRecord());
    EXPECT_EQ(seenInMix[1], nullptr);
    EXPECT_EQ(seenInMix[2], streamB->LastPlayRecord());
    ASSERT_NE(player.SlotRecord(0), nullptr);
    EXPECT_EQ(player.SlotRecord(0)->StartFrame, kBlockFrames);

    player.Pause(2);
    player.RenderNext();
    EXPECT_NE(player.SlotRecord(0), nullptr);
    EXPECT_EQ(player.SlotRecord(2), nullptr) << "did not render in this mix";
    player.ClearSlot(0, true);
    EXPECT_EQ(player.SlotRecord(0), nullptr);
    player.OnMix = nullptr;
}

TEST_F(OggPlayerStreams, PlayCursorDelayReachesTheStreamsPlayTime) {
    auto playTimeAfterTwoBlocks = [this](TOggData& stream, bool withCursor) {
        TOggPlayer mixer(kMixerBufferBytes, kMixerSlots);
        if (withCursor) {
            mixer.OnGetPosition = [](int32_t& position, int32_t& size) {
                position = 8820;  // 50 ms
                size = 65536;
            };
        }
        mixer.SetSlot(0, &stream, true);
        mixer.Play(0, true);
        mixer.RenderNext();
        mixer.RenderNext();
        return mixer.GetPlayTime(0);
    };
    const float without = playTimeAfterTwoBlocks(*streamA, false);
    const float with = playTimeAfterTwoBlocks(*streamB, true);
    EXPECT_NEAR(with - without, 0.050f, 0.001f);
}

// ---- Slots ----

TEST_F(OggPlayerStreams, AStreamSitsInOneSlotOnly) {
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(1, streamA.get(), true);
    EXPECT_EQ(player.Slots(0), nullptr);
    EXPECT_EQ(player.Slots(1), streamA.get());

    player.SetSlot(2, streamB.get(), false);
    player.ClearSlot(1, true);
    EXPECT_EQ(player.Slots(1), nullptr);
    EXPECT_EQ(player.Slots(2), streamB.get());
}

TEST_F(OggPlayerStreams, SlotNumbersOutsideTheMixerAreIgnored) {
    player.SetSlot(0, streamA.get(), true);
    for (int32_t slot : {-1, kMixerSlots, 1000, INT32_MIN}) {
        player.SetSlot(slot, streamA.get(), true);  // must not empty slot 0 either
        player.ClearSlot(slot, true);
        EXPECT_EQ(player.Slots(slot), nullptr);
        player.Play(slot, true);
        player.Fade(slot, 0.0f, 0.0f);
        EXPECT_EQ(player.GetTime(slot), 0.0f);
        EXPECT_EQ(player.GetFilterGain(slot, 10), 1.0f);
    }
    EXPECT_EQ(player.Slots(0), streamA.get());
    EXPECT_EQ(streamA->GetState(true), 1);
}

TEST_F(OggPlayerStreams, StreamOfAnotherBufferSizeIsRefusedAndTheSlotsStayAsTheyWere) {
    const std::unique_ptr<TOggData> small = Load(a, kMixerBufferBytes / 2);
    player.SetSlot(0, streamA.get(), true);
    EXPECT_THROW(player.SetSlot(0, small.get(), true), ERangeError);
    EXPECT_EQ(player.Slots(0), streamA.get());
}

TEST_F(OggPlayerStreams, ResetEmptiesTheSlotsAndLeavesTheStreamsAlone) {
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(1, streamB.get(), true);
    player.PlayAll(true);
    player.Reset();
    for (int32_t slot = 0; slot < kMixerSlots; ++slot) EXPECT_EQ(player.Slots(slot), nullptr);
    EXPECT_EQ(streamA->GetState(true), 3);
    EXPECT_EQ(streamB->GetState(true), 3);
}

// ---- Per-slot and all-slot operations ----

TEST_F(OggPlayerStreams, TransportOperationsReachTheSlotsStream) {
    player.SetSlot(2, streamA.get(), true);
    player.Play(2, true);
    EXPECT_EQ(streamA->GetState(true), 3);
    player.Pause(2);
    EXPECT_EQ(streamA->GetState(true), 1);
    player.Play(2, false);
    EXPECT_EQ(streamA->GetState(true), 2);
    player.Seek(2, 0.5f);
    EXPECT_NEAR(player.GetTime(2), 0.5f, 1e-3f);
    player.Stop(2);
    EXPECT_EQ(streamA->GetState(true), 1);
    EXPECT_EQ(player.GetTime(2), 0.0f);
    EXPECT_EQ(player.GetPlayTime(2), 0.0f);
}

TEST_F(OggPlayerStreams, AllSlotOperationsReachEveryOccupiedSlot) {
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(5, streamB.get(), true);
    player.PlayAll(false);
    EXPECT_EQ(streamA->GetState(true), 2);
    EXPECT_EQ(streamB->GetState(true), 2);
    player.StopAll();
    EXPECT_EQ(streamA->GetState(true), 1);
    EXPECT_EQ(streamB->GetState(true), 1);
}

TEST_F(OggPlayerStreams, VolumeAndMasterVolumeScaleTheSlotsOutput) {
    player.SetSlot(0, streamA.get(), true);
    player.SetVolume(0, 0.5f);
    player.SetMasterVolume(0.5f);
    player.Play(0, true);
    player.RenderNext();
    for (int32_t i = 0; i < kBlockSamples; ++i) {
        const int32_t sample = a.Reference.Samples[static_cast<size_t>(i)];
        ASSERT_EQ(player.GetBlock()[i], sample * 64 / 256) << i;  // a quarter, toward zero
    }
}

TEST_F(OggPlayerStreams, FadeToSilenceReachesTheStreamAndPausesIt) {
    player.SetSlot(0, streamA.get(), true);
    player.Play(0, true);
    player.Fade(0, 0.0f, 0.0f);
    player.RenderNext();
    EXPECT_EQ(streamA->GetState(true), 1);
}

TEST_F(OggPlayerStreams, FilterAndSpectrumOperationsReachTheSlotsStream) {
    player.SetSlot(0, streamA.get(), true);
    player.SetFilterCurve4(0, 0.25f, 0.25f, 0.25f, 0.25f, 0.0f);
    EXPECT_NEAR(player.GetFilterGain(0, 100), 0.25f, 1e-6f);
    player.SetFilterCurve8(0, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 0.0f);
    EXPECT_NEAR(player.GetFilterGain(0, 100), 2.0f, 1e-6f);

    std::vector<float> values(256, 123.0f);
    player.GetSpectrum(0, values.data());  // no position yet: the stream writes zeros
    EXPECT_EQ(values[10], 0.0f);
}

TEST_F(OggPlayerStreams, EmptySlotsGiveTheirDefaultResults) {
    std::vector<float> values(256, 123.0f);
    player.GetSpectrum(4, values.data());
    EXPECT_EQ(values[0], 123.0f);
    EXPECT_EQ(player.GetFilterGain(4, 0), 1.0f);
    EXPECT_EQ(player.GetTime(4), 0.0f);
    EXPECT_EQ(player.GetPlayTime(4), 0.0f);
    player.Play(4, true);
    player.Pause(4);
    player.Stop(4);
    player.Seek(4, 1.0f);
    player.Fade(4, 0.0f, 1.0f);
    player.SetVolume(4, 0.0f);
    player.SetFilterCurve4(4, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    player.SetFilterCurve8(4, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    player.PlayAll(true);
    player.StopAll();
    player.SetMasterVolume(0.0f);
    player.RenderNext();
    EXPECT_EQ(player.GetBlock()[0], 0);
}

// ---- The render path allocates nothing ----

TEST_F(OggPlayerStreams, RenderNextMakesNoHeapAllocation) {
    player.SetSlot(0, streamA.get(), true);
    player.SetSlot(1, streamB.get(), true);
    player.OnGetPosition = [](int32_t& position, int32_t& size) {
        position = 1234;
        size = 65536;
    };
    int64_t mixed = 0;
    player.OnMix = [&mixed](int32_t*, int32_t frameCount) { mixed += frameCount; };
    player.Play(0, true);
    player.Play(1, false);
    player.Fade(0, 0.5f, 0.5f);
    player.RenderNext();  // warm up: the first render may touch lazily made state

    const AllocationScope scope;
    for (int block = 0; block < 12; ++block) player.RenderNext();  // through both ends
    EXPECT_EQ(scope.Count(), 0);
    EXPECT_EQ(mixed, 13 * kBlockFrames);
    EXPECT_EQ(streamA->GetState(true), 3);
    EXPECT_EQ(streamB->GetState(true), 1);
}

}  // namespace
}  // namespace oggmix::test
