// The millisecond clock: milliseconds of the steady clock, and a pin that never outlives the
// test that set it. The pin's own arithmetic is exercised by every test that pins the clock.
#include "base/Clock.h"

#include <chrono>
#include <cstdint>

#include <gtest/gtest.h>

namespace oggmix {
namespace {

int64_t SteadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The clock read between two readings of the steady clock lies between them.
void ExpectSteadyTime() {
    const int64_t before = SteadyMs();
    const int64_t now = timeGetTime();
    const int64_t after = SteadyMs();
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

TEST(Clock, CountsMillisecondsOfTheSteadyClock) { ExpectSteadyTime(); }

TEST(Clock, UnpinningAfterAPinOrAnAdvanceReturnsToTheSteadyClock) {
    test_clock::Pin(SteadyMs() - 1000000);
    test_clock::Unpin();
    ExpectSteadyTime();
    test_clock::Advance(60000);
    test_clock::Unpin();
    ExpectSteadyTime();
}

}  // namespace
}  // namespace oggmix
