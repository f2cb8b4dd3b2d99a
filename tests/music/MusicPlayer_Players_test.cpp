// Several players in one process, each with a device stream of its own, on the wav back end
// (which plays in real time, as a device does, and keeps what it played).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/music/MusicTestSupport.h"
#include "tests/tools/PlaySupport.h"

namespace oggmix::test {
namespace {

using namespace std::chrono_literals;

PlayerOptions WavOptions(const std::string& path) {
    PlayerOptions options;
    options.Backend = "wav:" + path;
    return options;
}

// The peak of the frames from firstSec to lastSec of interleaved stereo at 44100 Hz.
int32_t PeakBetween(const std::vector<int16_t>& samples, double firstSec, double lastSec) {
    int32_t peak = 0;
    const auto first = static_cast<size_t>(firstSec * 44100) * 2;
    const auto last = std::min(samples.size(), static_cast<size_t>(lastSec * 44100) * 2);
    for (size_t i = first; i < last; ++i) peak = std::max(peak, std::abs(int32_t{samples[i]}));
    return peak;
}

TEST(MusicPlayers, TwoPlayersPlayAtOnceAndClosingOneLeavesTheOtherPlaying) {
    TempDir dir;
    const std::string firstPath = dir.Path() + "/first.wav";
    const std::string secondPath = dir.Path() + "/second.wav";
    const auto tone = EncodeOgg(Sine(44100, 2, 1.0, 440.0, 0.5));
    auto first = std::make_unique<MusicPlayer>(WavOptions(firstPath));
    auto second = std::make_unique<MusicPlayer>(WavOptions(secondPath));
    first->Play(first->Load(std::as_bytes(std::span(tone)), "first"));
    second->Play(second->Load(std::as_bytes(std::span(tone)), "second"));
    std::this_thread::sleep_for(600ms);
    first.reset();
    std::this_thread::sleep_for(600ms);
    second.reset();

    constexpr size_t kWavHeaderBytes = 44;
    const std::vector<int16_t> heardFirst = ReadPcm(firstPath, kWavHeaderBytes);
    const std::vector<int16_t> heardSecond = ReadPcm(secondPath, kWavHeaderBytes);
    // The tone's peak is about 16384; both play it, the second on after the first has gone.
    EXPECT_GT(PeakBetween(heardFirst, 0.2, 0.5), 15000);
    EXPECT_GT(PeakBetween(heardSecond, 0.2, 0.5), 15000);
    EXPECT_GT(PeakBetween(heardSecond, 0.8, 1.0), 15000);
    EXPECT_LT(heardFirst.size(), heardSecond.size());
}

}  // namespace
}  // namespace oggmix::test
