// OggDataLib_Levels_test.cpp: whole streams rendered with every stage at work (the tone filter
// moving, the gain control on, fades and pan ramping, volumes beyond unity) give the same
// blocks at every instruction-set level as on the scalar path, for a 44100 Hz stereo and a
// 22050 Hz mono file; and a rendered block allocates nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Clock.h"
#include "base/MemoryStream.h"
#include "stream/FilterPresets.h"
#include "stream/OggDataLib.h"
#include "stream/SimdLevel.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"
#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

constexpr int32_t kBufferBytes = 65536;
constexpr int32_t kBlocks = 24;  // 4.5 s: through the end of the file and round again

void ApplyPreset(TOggData& stream, const char* caption, float seconds) {
    const auto& v = FindFilterPreset(caption)->Values;
    if (FindFilterPreset(caption)->ValueCount == 8)
        stream.SetFilterCurve8(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], seconds);
    else
        stream.SetFilterCurve4(v[0], v[1], v[2], v[3], seconds);
}

// The settings the test changes before block `block`, as a user at the controls would.
void Steer(TOggData& stream, int32_t block) {
    switch (block) {
        case 0:
            ApplyPreset(stream, "LowReso", 0.4f);
            stream.SetAGC(1.0f);
            break;
        case 3: stream.Fade(0.3f, 0.5f); break;
        case 5: stream.SetPan(-0.6f, 0.3f); break;
        case 7: ApplyPreset(stream, "Wave", 0.2f); break;
        case 9:
            stream.Fade(2.5f, 0.2f);
            stream.SetVolume(1.7f);
            break;
        case 12: ApplyPreset(stream, "HighPass", 0.0f); break;
        case 14: stream.SetAGC(0.2f); break;
        case 17: ApplyPreset(stream, "OFF", 0.3f); break;
        case 20: stream.SetMasterVolume(-1.0f); break;
        default: break;
    }
}

// Every block of a looping render under Steer, at the active level.
std::vector<std::vector<int32_t>> RenderSteered(const std::vector<uint8_t>& ogg) {
    TOggData stream(kBufferBytes);
    EXPECT_TRUE(stream.LoadFromStream(std::make_unique<MemoryStream>(ogg)));
    stream.Play(true, true);
    std::vector<std::vector<int32_t>> blocks;
    for (int32_t block = 0; block < kBlocks; ++block) {
        Steer(stream, block);
        EXPECT_EQ(stream.RenderNext(0), kBufferBytes);
        const int32_t* rendered = stream.GetBlock();
        blocks.emplace_back(rendered, rendered + kBufferBytes / 4);
    }
    return blocks;
}

class OggDataLevels : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { BindDecoder(); }
    void SetUp() override { test_clock::Pin(1'000'000); }
    void TearDown() override {
        SetSimdLevel(SupportedSimdLevel());
        test_clock::Unpin();
    }
    // 3.5 s of music, as 44100 Hz stereo (false) or 22050 Hz mono (true).
    static std::vector<uint8_t> Ogg(bool mono) {
        return EncodeOgg(mono ? Music(22050, 1, 3.5, 5) : Music(44100, 2, 3.5, 5));
    }
};

TEST_P(OggDataLevels, EveryLevelRendersTheScalarPathsBlocks) {
    const std::vector<uint8_t> ogg = Ogg(GetParam());
    SetSimdLevel(SimdLevel::Scalar);
    const auto expected = RenderSteered(ogg);
    for (const SimdLevel level : {SimdLevel::Sse2, SimdLevel::Avx2}) {
        if (SetSimdLevel(level) != level) continue;  // the processor lacks it
        const auto actual = RenderSteered(ogg);
        for (int32_t block = 0; block < kBlocks; ++block)
            ASSERT_EQ(actual[block], expected[block])
                << SimdLevelName(level) << ", block " << block;
    }
}

TEST_P(OggDataLevels, ARenderedBlockAllocatesNothingWithEveryStageAtWork) {
    TOggData stream(kBufferBytes);
    ASSERT_TRUE(stream.LoadFromStream(std::make_unique<MemoryStream>(Ogg(GetParam()))));
    stream.Play(true, true);
    (void)stream.RenderNext(0);  // warm up: the first render may touch lazily made state
    for (int32_t block = 0; block < kBlocks; ++block) {
        Steer(stream, block);
        const AllocationScope scope;
        (void)stream.RenderNext(0);
        ASSERT_EQ(scope.Count(), 0) << "block " << block;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, OggDataLevels, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Mono22050" : "Stereo44100";
                         });

}  // namespace
}  // namespace oggmix::test
