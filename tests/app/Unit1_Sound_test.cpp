// Unit1_Sound_test.cpp: the window's sound path on the manual device: silence until a file
// is loaded, then the mixer's blocks are heard in order; the meters and spectra follow what
// is heard.
#include <QProgressBar>

#include <algorithm>
#include <cstdlib>

#include "app/CanvasImage.h"
#include "sound/platform/ManualAudio.h"
#include "tests/app/AppTestSupport.h"

namespace oggmix::test {
namespace {

using TForm1Sound = WindowTest;

constexpr int32_t kHalfFrames = AudioFeed::kRingBytes / 2 / kBytesPerFrame;
constexpr int32_t kOffsetFrames = 16;  // keeps the cursors off the exact middle

TEST_F(TForm1Sound, ALoadedFileIsHeardBlockForBlockAsTheMixerRendersIt) {
    // What the window's mixer must produce: the same file in a mixer of the same size with
    // the limiter of the bars' start values, after one silent block.
    TOggData reference(kStreamBufferBytes);
    ASSERT_TRUE(reference.LoadFromFile(ToneFile));
    TOggPlayer referencePlayer(kMixerBufferBytes, 8);
    referencePlayer.SetLimiter(26213, 65534, 500, 44100, -1);
    referencePlayer.RenderNext();
    referencePlayer.SetSlot(0, &reference, true);
    referencePlayer.Play(0, true);
    referencePlayer.RenderNext();
    const std::vector<int16_t> firstBlock(referencePlayer.GetBlock(),
                                          referencePlayer.GetBlock() + 2 * kHalfFrames);
    referencePlayer.RenderNext();
    const std::vector<int16_t> secondBlock(referencePlayer.GetBlock(),
                                           referencePlayer.GetBlock() + 2 * kHalfFrames);

    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    std::vector<int16_t> heard;
    ASSERT_TRUE(ManualAudio::Advance(kOffsetFrames, &heard));
    for (uint64_t fills = 2; fills <= 4; ++fills) {
        ManualAudio::Advance(kHalfFrames, &heard);  // the device crosses into the other half
        WaitForFills(*Window->Feed(), fills);
    }
    ManualAudio::Advance(kHalfFrames, &heard);
    ASSERT_GE(heard.size(), size_t{4} * 2 * kHalfFrames);

    // The first half plays what the ring held before any fill, the second half the silent
    // block rendered at start-up; then the file's blocks follow, one per half.
    const auto block = [&](int index) {
        const auto begin = heard.begin() + 2 * index * kHalfFrames;
        return std::vector<int16_t>(begin, begin + 2 * kHalfFrames);
    };
    const std::vector<int16_t> silence(2 * kHalfFrames, 0);
    EXPECT_EQ(block(0), silence);
    EXPECT_EQ(block(1), silence);
    EXPECT_EQ(block(2), firstBlock);
    EXPECT_EQ(block(3), secondBlock);
    EXPECT_EQ(Window->Feed()->DroppedBlocks(), 0u);
}

TEST_F(TForm1Sound, MetersAndSpectraShowTheToneBeingHeard) {
    const PinnedClock clock(1'000'000);
    Window->AppIdle();
    EXPECT_EQ(Find<QProgressBar>(*Window, "ProgressBar1").value(), 0);

    // Min at full scale: the limiter passes the quiet tone unscaled.
    MoveBar(*Window, "MinVolumeBar", 100);
    ASSERT_TRUE(DropFiles(*Window, {ToneFile}));
    Window->Player()->RenderNext();  // the tone's first block, heard once the next is rendered
    Window->Player()->RenderNext();
    Window->AppIdle();

    // The meters show the mean magnitude of the frames being heard, in percent of full scale:
    // for a steady tone about that of the whole decoded file.
    const Decoded decoded = DecodeReference(ReadFileBytes(ToneFile));
    double sum = 0.0;
    for (const int16_t sample : decoded.Samples) sum += std::abs(sample);
    const double meanPercent = sum / static_cast<double>(decoded.Samples.size()) / 32768.0 * 100.0;
    for (const char* meter : {"ProgressBar1", "ProgressBar2"})
        EXPECT_NEAR(Find<QProgressBar>(*Window, meter).value(), meanPercent, 2.0) << meter;
    // 440 Hz lies near entry 5 of the mix spectrum (about 86 Hz per entry): column 6.
    const QImage& mix = Find<CanvasImage>(*Window, "Image1").Canvas();
    int tallest = -1;
    int tallestHeight = 0;
    for (int x = 1; x <= 254; ++x) {
        int height = 0;
        while (height < mix.height() &&
               mix.pixel(x, mix.height() - 1 - height) == qRgb(255, x - 1, 255))
            ++height;
        if (height > tallestHeight) {
            tallestHeight = height;
            tallest = x;
        }
    }
    EXPECT_GT(tallestHeight, 0);
    EXPECT_GE(tallest, 5);
    EXPECT_LE(tallest, 7);
}

}  // namespace
}  // namespace oggmix::test
