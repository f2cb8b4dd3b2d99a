// SoakWatch.cpp: the mix watch and the watchdog of the soak.
#include "tests/soak/SoakWatch.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace oggmix::test {

void MixWatch::See(const int32_t* Samples, int32_t FrameCount) noexcept {
    const int32_t count = 2 * FrameCount;
    if (count <= 0) return;
    int64_t magnitude = 0;
    bool varies = false;
    for (int32_t i = 0; i < count; ++i) {
        magnitude += Samples[i] < 0 ? -int64_t{Samples[i]} : int64_t{Samples[i]};
        varies = varies || Samples[i] != Samples[0];
    }
    if (!varies && Samples[0] != 0) FFrozen.fetch_add(1);
    if (varies && magnitude >= 8 * int64_t{count}) FAudible.fetch_add(1);
    FBlocks.fetch_add(1);
}

Watchdog::Watchdog(std::function<uint64_t()> RenderedBlocks, const std::atomic<uint64_t>& UserSteps,
                   const std::atomic<const char*>& LastStep)
    : FRenderedBlocks(std::move(RenderedBlocks)), FUserSteps(UserSteps), FLastStep(LastStep) {
    FThread = std::thread([this] { Run(); });
}

Watchdog::~Watchdog() {
    FTerminated.store(true);
    FThread.join();
}

void Watchdog::Run() {
    using Clock = std::chrono::steady_clock;
    uint64_t blocks = FRenderedBlocks();
    uint64_t steps = FUserSteps.load();
    Clock::time_point blockSeen = Clock::now();
    Clock::time_point stepSeen = blockSeen;
    while (!FTerminated.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Clock::time_point now = Clock::now();
        if (const uint64_t b = FRenderedBlocks(); b != blocks) {
            blocks = b;
            blockSeen = now;
        }
        if (const uint64_t s = FUserSteps.load(); s != steps) {
            steps = s;
            stepSeen = now;
        }
        const bool blocksStalled = now - blockSeen > kBlockLimit;
        const bool userStalled = now - stepSeen > kUserLimit;
        if (blocksStalled || userStalled) {
            // A deadlock or a dead refill thread: fail loudly rather than hang the suite.
            std::fprintf(
                stderr, "soak watchdog: %s; %llu blocks rendered, %llu user steps, last step: %s\n",
                blocksStalled ? "no block rendered for 2 s" : "the user thread is stuck",
                static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(steps),
                FLastStep.load());
            std::fflush(stderr);
            std::abort();
        }
    }
}

}  // namespace oggmix::test
