#pragma once
// HeardDelay.h: how many pulled frames the listener has not heard yet, for back ends that
// learn it at each pull (SDL's callback, PulseAudio's write request). The device thread
// records the delay right after a pull; any thread reads it, less the time since, as the
// device goes on playing in real time.
// Threads: Record on the device thread, Now and Reset anywhere; lock-free (one atomic word,
//          so a reader never mixes the delay of one pull with the time of another).

#include <atomic>
#include <chrono>
#include <cstdint>

namespace oggmix {

class HeardDelay {
public:
    // delayFrames: frames pulled so far that are not yet heard, at this moment.
    void Record(int32_t delayFrames) noexcept;
    // The recorded delay less the frames played since it was recorded; never negative.
    [[nodiscard]] int32_t Now() const noexcept;
    void Reset() noexcept { FPacked.store(0, std::memory_order_relaxed); }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int kDelayBits = 22;   // up to 95 s of frames
    static constexpr int64_t kTickUs = 10;  // the time is kept in 10 us ticks since FEpoch

    [[nodiscard]] uint64_t TicksNow() const noexcept;

    const Clock::time_point FEpoch = Clock::now();
    std::atomic<uint64_t> FPacked{0};  // ticks << kDelayBits | delay frames
};

}  // namespace oggmix
