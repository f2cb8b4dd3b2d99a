// Loop cues far into long files: the jump exact to the frame at minutes and hours, where a
// float time can no longer tell frames apart. The files are made from repeated silent packets
// (LongOgg.h) with noise where the cue starts and ends.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/stream/StreamTestSupport.h"
#include "tests/support/LongOgg.h"

namespace oggmix::test {
namespace {

struct FarCue {
    const char* Name;
    int32_t RateHz;
    int32_t Channels;
    const char* Tag;     // the COMMENT line
    int64_t StartFrame;  // source frames the tag names, worked out by hand
    int64_t EndFrame;
};

// Seeks a tenth of a second before the loop end and renders two blocks: the end of the loop,
// then its start.
class OggDataCuesFarIn : public ::testing::TestWithParam<FarCue> {};

TEST_P(OggDataCuesFarIn, JumpIsExactToTheFrame) {
    const FarCue& cue = GetParam();
    BindDecoder();
    const int64_t tenthFrames = cue.RateHz / 10;
    const LongOgg file =
        MakeLongOgg(cue.RateHz, cue.Channels,
                    {cue.StartFrame - 2 * tenthFrames, cue.EndFrame - 2 * tenthFrames},
                    {std::string("COMMENT=") + cue.Tag});
    ASSERT_LT(file.BurstFrames[0] + file.BurstFrameCount, cue.StartFrame + 3 * tenthFrames);
    ASSERT_GT(file.BurstFrames[1] + file.BurstFrameCount, cue.EndFrame + tenthFrames);

    TOggData data(kTestBufferBytes);
    ASSERT_TRUE(data.LoadFromStream(std::make_unique<MemoryStream>(file.Ogg)));
    EXPECT_EQ(data.CuePositions()[0].StartFrame, cue.StartFrame);
    EXPECT_EQ(data.CuePositions()[0].EndFrame, cue.EndFrame);
    const auto seekSec =
        static_cast<float>(static_cast<double>(cue.EndFrame - tenthFrames) / cue.RateHz);
    data.Seek(seekSec, true);
    data.Play(false, true);
    const std::vector<int16_t> out = RenderBlocks(data, 2);

    // libvorbisfile on its own: from where the same seek lands to the loop end, then from the
    // loop start.
    ReferenceReader reference(file.Ogg);
    reference.SeekTime(seekSec);
    Decoded decoded;
    decoded.RateHz = cue.RateHz;
    decoded.Channels = cue.Channels;
    decoded.Samples = reference.Read(cue.EndFrame - reference.Tell());
    reference.SeekFrame(cue.StartFrame);
    const std::vector<int16_t> loop = reference.Read(cue.RateHz / 2);
    decoded.Samples.insert(decoded.Samples.end(), loop.begin(), loop.end());
    std::vector<int16_t> expected = ToOutputFrames(decoded);
    ASSERT_GE(expected.size(), out.size());
    expected.resize(out.size());
    EXPECT_TRUE(SameFrames(out, expected));
}

INSTANTIATE_TEST_SUITE_P(
    LongFiles, OggDataCuesFarIn,
    ::testing::Values(
        FarCue{"Time100s", 44100, 2, "*looptime,0,89.7,100.2,-1", 3955770, 4418820},
        FarCue{"Time200s", 44100, 2, "*looptime,0,190.2,200.7,-1", 8387820, 8850870},
        FarCue{"Samples400s", 44100, 2, "*loopsample,0,17177777,17640001,-1", 17177777, 17640001},
        // 10800.0123 s is frame 476280542.43; as a float it would be 476280559.9.
        FarCue{"Time3h", 44100, 2, "*looptime,0,10789.5,10800.0123,-1", 475816950, 476280542},
        // 400.00003 s is source frame 8820000.66 at 22050 Hz; 390.2 s is 8603910.
        FarCue{"Time400sAt22050", 22050, 1, "*looptime,0,390.2,400.00003,-1", 8603910, 8820001}),
    [](const ::testing::TestParamInfo<FarCue>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace oggmix::test
