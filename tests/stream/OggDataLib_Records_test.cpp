// OggDataLib_Records_test.cpp: play records: every block's output rebuilt from its record alone
// matches a plain decode, for loops shorter than a block, the wrap and the end, and the jumps
// of a converted stream land where they are heard.
#include <algorithm>
#include <cstdlib>

#include "tests/stream/StreamTestSupport.h"

namespace oggmix::test {
namespace {

constexpr int32_t kSmallBlockFrames = 2048;
constexpr int32_t kSmallBufferBytes = kSmallBlockFrames * kBytesPerWideFrame;

std::string Tag(const char* line) { return std::string("COMMENT=") + line; }

// A noise stream in blocks of 2048 frames, with records on and, if asked, the conversion.
TestStream MakeRecorded(int32_t rateHz, double seconds, std::vector<std::string> comments,
                        bool convert = false) {
    BindDecoder();
    EncodeOptions options;
    options.Comments = std::move(comments);
    std::vector<uint8_t> ogg = EncodeOgg(Noise(rateHz, 2, seconds, kNoiseSeed), options);
    TestStream stream;
    stream.Reference = DecodeReference(ogg);
    stream.Frames = ToOutputFrames(stream.Reference);
    stream.Data = std::make_unique<TOggData>(kSmallBufferBytes);
    stream.Data->SetConversion(convert);
    stream.Data->SetPlayRecords(true);
    if (!stream.Data->LoadFromStream(std::make_unique<MemoryStream>(std::move(ogg))))
        throw std::runtime_error("the test stream did not load");
    return stream;
}

std::vector<int16_t> BlockOf(const TOggData& data) {
    const int32_t* block = data.GetBlock();
    return {block, block + 2 * kSmallBlockFrames};
}

// The block as its record tells it: the decode from StartFrame, from each jump's ToFrame on,
// silence after the music. Also checks that each jump leaves from where the music had got to.
::testing::AssertionResult MatchesRecord(const std::vector<int16_t>& block,
                                         const PlayRecord& record, const TestStream& s) {
    std::vector<int16_t> rebuilt;
    int64_t sourceFrame = record.StartFrame;
    int32_t outputFrame = 0;
    const auto playTo = [&](int32_t endFrame) {
        AppendFrames(rebuilt, s.Frames, sourceFrame, sourceFrame + endFrame - outputFrame);
        sourceFrame += endFrame - outputFrame;
        outputFrame = endFrame;
    };
    for (const PlayJump& jump : record.Jumps) {
        playTo(jump.OutputFrame);
        if (jump.FromFrame != sourceFrame)
            return ::testing::AssertionFailure()
                   << "jump at output frame " << jump.OutputFrame << " leaves from "
                   << jump.FromFrame << ", the music was at " << sourceFrame;
        sourceFrame = jump.ToFrame;
        if (jump.Cause == PlayJumpCause::End) break;
    }
    playTo(record.MusicFrames);
    rebuilt.resize(block.size(), 0);
    if (record.LostJumps != 0) return ::testing::AssertionFailure() << "jumps were lost";
    return SameFrames(block, rebuilt);
}

TEST(OggDataRecords, ALoopShorterThanABlockRecordsEveryJumpAtItsFrame) {
    TestStream s = MakeRecorded(44100, 0.5, {Tag("*loopsample,0,10000,11000,-1")});
    s.Data->Play(false, true);
    int32_t jumps = 0;
    for (int32_t b = 0; b < 40; ++b) {
        ASSERT_GT(s.Data->RenderNext(0), 0);
        const PlayRecord* record = s.Data->LastPlayRecord();
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(MatchesRecord(BlockOf(*s.Data), *record, s)) << "block " << b;
        for (const PlayJump& jump : record->Jumps) {
            EXPECT_EQ(jump.Cause, PlayJumpCause::LoopCue);
            EXPECT_EQ(jump.CueIndex, 0);
            EXPECT_EQ(jump.FromFrame, 11000);
            EXPECT_EQ(jump.ToFrame, 10000);
        }
        jumps += static_cast<int32_t>(record->Jumps.size());
    }
    // The first jump after 11000 frames, then one every 1000.
    EXPECT_EQ(jumps, (40 * kSmallBlockFrames - 11000) / 1000 + 1);
}

TEST(OggDataRecords, TheWrapAndTheEndAreRecordedWhereTheyAreHeard) {
    TestStream s = MakeRecorded(44100, 0.3, {});
    const int64_t total = s.Reference.PcmTotal;
    s.Data->Play(true, true);
    std::vector<PlayJump> seen;
    for (int32_t b = 0; b < 10; ++b) {
        ASSERT_GT(s.Data->RenderNext(0), 0);
        const PlayRecord* record = s.Data->LastPlayRecord();
        ASSERT_NE(record, nullptr);
        EXPECT_TRUE(MatchesRecord(BlockOf(*s.Data), *record, s)) << "block " << b;
        seen.insert(seen.end(), record->Jumps.begin(), record->Jumps.end());
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].Cause, PlayJumpCause::Wrap);
    EXPECT_EQ(seen[0].FromFrame, total);
    EXPECT_EQ(seen[0].ToFrame, 0);

    s.Data->Play(false, true);
    const PlayRecord* record = nullptr;
    for (int32_t b = 0; b < 10 && record == nullptr; ++b) {
        ASSERT_GT(s.Data->RenderNext(0), 0);
        const PlayRecord* last = s.Data->LastPlayRecord();
        if (!last->Jumps.empty()) record = last;
    }
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(MatchesRecord(BlockOf(*s.Data), *record, s));
    ASSERT_EQ(record->Jumps.size(), 1u);
    EXPECT_EQ(record->Jumps[0].Cause, PlayJumpCause::End);
    EXPECT_EQ(record->Jumps[0].OutputFrame, record->MusicFrames);
    EXPECT_LT(record->MusicFrames, kSmallBlockFrames);
    EXPECT_EQ(s.Data->RenderNext(0), 0);
    EXPECT_EQ(s.Data->LastPlayRecord(), nullptr);
}

TEST(OggDataRecords, AFadeToSilenceIsRecordedWhereItFallsSilent) {
    TestStream s = MakeRecorded(44100, 1.0, {});
    s.Data->Play(false, true);
    s.Data->Fade(0.0f, 0.1f);  // 4410 frames; silent in 1/256 from 4410 * 255 / 256 on
    for (int32_t b = 0; b < 2; ++b) {
        ASSERT_GT(s.Data->RenderNext(0), 0);
        EXPECT_EQ(s.Data->LastPlayRecord()->SilentFrame, -1) << "block " << b;
    }
    ASSERT_GT(s.Data->RenderNext(0), 0);
    const int32_t silentFrame = s.Data->LastPlayRecord()->SilentFrame;
    EXPECT_GE(silentFrame, 4392 - 2 * kSmallBlockFrames);
    EXPECT_LE(silentFrame, 4410 - 2 * kSmallBlockFrames);
    const std::vector<int16_t> block = BlockOf(*s.Data);
    EXPECT_TRUE(std::all_of(block.begin() + 2 * silentFrame, block.end(),
                            [](int16_t sample) { return sample == 0; }));
    EXPECT_TRUE(std::any_of(block.begin() + 2 * (silentFrame - 8), block.begin() + 2 * silentFrame,
                            [](int16_t sample) { return sample != 0; }));
    EXPECT_EQ(s.Data->RenderNext(0), 0) << "the fade paused the stream";
}

TEST(OggDataRecords, AConvertedStreamsJumpIsRecordedWhereItsOutputReachesIt) {
    // 48000 Hz: output frame k plays source frame k * 48000 / 44100, so the jump at source
    // frame 60000 is heard at output frame 55125, and the end at the output of all the music.
    TestStream s = MakeRecorded(48000, 1.5, {Tag("*loopsample,0,24000,60000,1")}, true);
    const int64_t total = s.Reference.PcmTotal;
    s.Data->Play(false, true);
    std::vector<PlayJump> seen;
    int64_t blockStart = 0;
    while (s.Data->RenderNext(0) > 0) {
        const PlayRecord* record = s.Data->LastPlayRecord();
        ASSERT_NE(record, nullptr);
        if (seen.empty()) {
            EXPECT_LE(std::llabs(record->StartFrame - blockStart * 48000 / 44100), 1);
        }
        for (PlayJump jump : record->Jumps) {
            jump.OutputFrame += static_cast<int32_t>(blockStart);
            seen.push_back(jump);
        }
        blockStart += record->MusicFrames;
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Cause, PlayJumpCause::LoopCue);
    EXPECT_EQ(seen[0].FromFrame, 60000);
    EXPECT_EQ(seen[0].ToFrame, 24000);
    EXPECT_LE(std::abs(seen[0].OutputFrame - 55125), 1);
    EXPECT_EQ(seen[1].Cause, PlayJumpCause::End);
    const int64_t musicFrames = (60000 + total - 24000) * 44100 / 48000;
    EXPECT_LE(std::llabs(seen[1].OutputFrame - musicFrames), 1);
    EXPECT_EQ(seen[1].OutputFrame, blockStart);
}

}  // namespace
}  // namespace oggmix::test
