// OggDataLib_Position_test.cpp: positions prepared off the lock play on exactly as the exact
// seek does, through the converter too; the restart after the end and the stop through them;
// a stream without a ring, whose decoders are warmed up before they play, plays the same.
#include "tests/stream/StreamTestSupport.h"

namespace oggmix::test {
namespace {

// A 48000 Hz stream through the converter, noise.
TestStream MakeConverted(double seconds) {
    return MakeConvertedStream(Noise(48000, 2, seconds, kNoiseSeed));
}

TEST(OggDataPosition, APreparedPositionPlaysOnBitForBitAsTheExactSeek) {
    constexpr int64_t kTarget = 50000;
    TestStream sought = MakeConverted(2.0);
    sought.Data->SeekFrame(kTarget, true);
    sought.Data->Play(false, true);

    TestStream prepared = MakeConverted(2.0);
    prepared.Data->Play(false, true);
    ASSERT_FALSE(RenderBlocks(*prepared.Data, 2).empty());  // somewhere else, mid-play
    prepared.Data->ApplyPosition(prepared.Data->PreparePosition(kTarget), true);
    EXPECT_LE(std::llabs(prepared.Data->PositionFrame(true) - kTarget), 1);
    EXPECT_EQ(prepared.Data->GetState(true), 2) << "the play state is kept";

    const std::vector<int16_t> expected = RenderBlocks(*sought.Data, 4);
    ASSERT_EQ(expected.size(), 4u * 2 * kBlockFrames);
    EXPECT_TRUE(SameFrames(RenderBlocks(*prepared.Data, 4), expected));
}

TEST(OggDataPosition, ARestartAfterTheEndAndAStopGoThroughPreparedPositions) {
    TestStream fresh = MakeConverted(0.5);
    fresh.Data->Play(false, true);
    const std::vector<int16_t> fromStart = RenderBlocks(*fresh.Data, 2);

    TestStream s = MakeConverted(0.5);
    s.Data->Play(false, true);
    while (s.Data->RenderNext(0) > 0) {
    }
    ASSERT_TRUE(s.Data->NeedsRestart(true));
    EXPECT_EQ(s.Data->PositionFrame(true), 0) << "rewound at the end";
    s.Data->ApplyPosition(s.Data->PreparePosition(s.Data->PositionFrame(true)), true);
    EXPECT_FALSE(s.Data->NeedsRestart(true));
    s.Data->Play(false, true);
    EXPECT_TRUE(SameFrames(RenderBlocks(*s.Data, 2), fromStart));

    s.Data->StopAt(s.Data->PreparePosition(0), true);
    EXPECT_EQ(s.Data->GetState(true), 1);
    EXPECT_EQ(s.Data->PositionFrame(true), 0);
    s.Data->Play(false, true);
    EXPECT_TRUE(SameFrames(RenderBlocks(*s.Data, 2), fromStart));
}

TEST(OggDataPosition, AStreamWithoutARingPlaysTheReferenceFromItsLoadAndFromAPreparedPosition) {
    constexpr int64_t kFrames = 5000;
    constexpr int64_t kTarget = 40000;
    const std::vector<uint8_t> ogg = EncodeOgg(Noise(44100, 2, 2.0, kNoiseSeed, 0.5));
    const std::vector<int16_t> reference = ToOutputFrames(DecodeReference(ogg));
    const auto expected = [&](int64_t from) {
        return Clipped({reference.begin() + from * 2, reference.begin() + (from + kFrames) * 2});
    };
    BindDecoder();
    TOggData direct(kTestBufferBytes, StreamUse::Direct);
    ASSERT_TRUE(direct.LoadFromStream(std::make_unique<MemoryStream>(std::vector(ogg))));
    direct.Play(false, true);
    EXPECT_EQ(direct.RenderNext(0), 0) << "nothing to render into";

    EXPECT_TRUE(SameFrames(RenderNarrow(direct, kFrames, {4096}), expected(0)));
    direct.ApplyPosition(direct.PreparePosition(kTarget), true);
    EXPECT_TRUE(SameFrames(RenderNarrow(direct, kFrames, {4096}), expected(kTarget)));
}

}  // namespace
}  // namespace oggmix::test
