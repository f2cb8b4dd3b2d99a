#pragma once
// SoakWatch.h: what the soak watches while it runs.
//   MixWatch: sees every mixed block (through the mixer's OnMix hook, on the refill thread)
//             and counts blocks, audible blocks and frozen ones (one non-zero value held for
//             a whole block: the mark of a gain gone to NaN or infinity, or a stuck stage).
//   Watchdog: a thread that ends the process with a report when no block has been rendered
//             for 2 seconds, or the user thread has not moved for 10 (a deadlock), so that a
//             hung run fails instead of hanging the suite.
// Threads: MixWatch::See on the refill thread under the mixer lock; the read-outs anywhere.
// Memory: See allocates nothing.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace oggmix::test {

class MixWatch {
public:
    // The pre-limiter mix of one block, interleaved left, right.
    void See(const int32_t* Samples, int32_t FrameCount) noexcept;

    [[nodiscard]] uint64_t Blocks() const noexcept { return FBlocks.load(); }
    [[nodiscard]] uint64_t AudibleBlocks() const noexcept { return FAudible.load(); }
    [[nodiscard]] uint64_t FrozenBlocks() const noexcept { return FFrozen.load(); }

private:
    std::atomic<uint64_t> FBlocks{0};
    std::atomic<uint64_t> FAudible{0};  // varying, with a mean magnitude of at least 8
    std::atomic<uint64_t> FFrozen{0};
};

class Watchdog {
public:
    static constexpr auto kBlockLimit = std::chrono::seconds(2);
    static constexpr auto kUserLimit = std::chrono::seconds(10);

    // RenderedBlocks: blocks the refill thread has finished. UserSteps and LastStep: the user
    // thread's progress and what it did last (a static text).
    Watchdog(std::function<uint64_t()> RenderedBlocks, const std::atomic<uint64_t>& UserSteps,
             const std::atomic<const char*>& LastStep);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    void Run();

    std::function<uint64_t()> FRenderedBlocks;
    const std::atomic<uint64_t>& FUserSteps;
    const std::atomic<const char*>& FLastStep;
    std::atomic<bool> FTerminated{false};
    std::thread FThread;
};

}  // namespace oggmix::test
