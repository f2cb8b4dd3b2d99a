// The millisecond clock and its test pin.
#include "base/Clock.h"

#include <cstdint>
#include <thread>

#include <gtest/gtest.h>

namespace oggmix {
namespace {

class ClockPin : public testing::Test {
protected:
    void TearDown() override { test_clock::Unpin(); }
};

TEST_F(ClockPin, PinnedClockReturnsExactlyThePinnedValueOnEveryThread) {
    test_clock::Pin(123456789012);
    EXPECT_EQ(timeGetTime(), 123456789012);
    int64_t seenByOther = 0;
    std::thread other([&] { seenByOther = timeGetTime(); });
    other.join();
    EXPECT_EQ(seenByOther, 123456789012);
}

TEST_F(ClockPin, AdvanceMovesThePinnedClockByTheGivenMilliseconds) {
    test_clock::Pin(1000);
    test_clock::Advance(15);
    test_clock::Advance(-5);
    EXPECT_EQ(timeGetTime(), 1010);
}

TEST_F(ClockPin, AdvanceOnAFreeClockPinsItAtTheSteadyTimeFirst) {
    const int64_t before = timeGetTime();
    test_clock::Advance(60000);
    const int64_t pinned = timeGetTime();
    EXPECT_GE(pinned, before + 60000);
    EXPECT_EQ(timeGetTime(), pinned);  // it no longer moves by itself
}

TEST_F(ClockPin, UnpinReturnsToTheSteadyClock) {
    const int64_t steady = timeGetTime();
    test_clock::Pin(steady - 1000000);
    test_clock::Unpin();
    const int64_t first = timeGetTime();
    EXPECT_GE(first, steady);
    EXPECT_GE(timeGetTime(), first);
}

}  // namespace
}  // namespace oggmix
