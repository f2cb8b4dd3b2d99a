// Clock.cpp: steady milliseconds with a pin for tests.
#include "base/Clock.h"

#include <atomic>
#include <chrono>

namespace oggmix {
namespace {

// Relaxed is enough: the pin is set by a test before the threads it checks read it,
// and each read stands alone.
std::atomic<bool> gPinned{false};
std::atomic<int64_t> gPinnedMs{0};

int64_t SteadyMs() noexcept {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int64_t timeGetTime() noexcept {
    return gPinned.load(std::memory_order_relaxed) ? gPinnedMs.load(std::memory_order_relaxed)
                                                   : SteadyMs();
}

namespace test_clock {

void Pin(int64_t nowMs) noexcept {
    gPinnedMs.store(nowMs, std::memory_order_relaxed);
    gPinned.store(true, std::memory_order_relaxed);
}

void Advance(int64_t deltaMs) noexcept {
    if (!gPinned.load(std::memory_order_relaxed)) Pin(SteadyMs());
    gPinnedMs.fetch_add(deltaMs, std::memory_order_relaxed);
}

void Unpin() noexcept { gPinned.store(false, std::memory_order_relaxed); }

}  // namespace test_clock
}  // namespace oggmix
