// The beat grid: exact beat frames at any distance, bars, and tempo texts.
#include "music/TempoGrid.h"

#include <gtest/gtest.h>

#include <cmath>

namespace oggmix::music {
namespace {

TEST(TempoGrid, BeatsAnHourInAreTheNearestFramesAndTiesRoundUp) {
    // 137 BPM: 19313.868... frames a beat; an hour holds 8220 beats.
    const TempoGrid grid{137'000'000, 4, 100, 44100};
    for (const int64_t beat : {int64_t{0}, int64_t{1}, int64_t{7}, int64_t{8219}, int64_t{8220}}) {
        const long double exact = 100.0L + beat * 60.0L * 44100.0L / 137.0L;
        EXPECT_LE(std::abs(static_cast<long double>(grid.BeatFrame(beat)) - exact), 0.5L) << beat;
        EXPECT_EQ(grid.BeatAtOrAfter(grid.BeatFrame(beat)), beat);
        EXPECT_EQ(grid.BeatAtOrAfter(grid.BeatFrame(beat) + 1), beat + 1);
    }
    // A beat half way between two frames goes to the later one: 2.5 frames a beat.
    const TempoGrid half{120'000'000, 4, 0, 5};
    EXPECT_EQ(half.BeatFrame(1), 3);
    EXPECT_EQ(half.BeatFrame(3), 8);
}

TEST(TempoGrid, BarsCountFromBeatZeroAndEveryNBarsFromBarZero) {
    const TempoGrid grid{120'000'000, 3, 0, 44100};  // 22050 frames a beat, 3 a bar
    EXPECT_EQ(grid.BarBeatAtOrAfter(1), 3);
    EXPECT_EQ(grid.BarBeatAtOrAfter(grid.BeatFrame(3)), 3);
    EXPECT_EQ(grid.BarBeatAtOrAfter(1, 2), 6);
    EXPECT_EQ(grid.BarOf(7), 2);
    EXPECT_EQ(grid.BeatInBar(7), 1);
    EXPECT_EQ(grid.BarOf(-1), -1);
    EXPECT_EQ(grid.BeatInBar(-1), 2);
}

TEST(TempoGrid, TempoTextsAreDecimalNumbersOfBeatsPerMinute) {
    EXPECT_EQ(ParseBpm("120"), 120'000'000);
    EXPECT_EQ(ParseBpm(" 137.5 "), 137'500'000);
    EXPECT_EQ(ParseBpm("98.000001"), 98'000'001);
    // Past six decimals, the nearest millionth.
    EXPECT_EQ(ParseBpm("98.0000005"), 98'000'001);
    EXPECT_EQ(ParseBpm("98.00000049999"), 98'000'000);
    EXPECT_FALSE(ParseBpm("0"));
    EXPECT_FALSE(ParseBpm("-120"));
    EXPECT_FALSE(ParseBpm("120 BPM"));
    EXPECT_FALSE(ParseBpm(""));
    EXPECT_FALSE(ParseBpm("10000"));
}

}  // namespace
}  // namespace oggmix::music
