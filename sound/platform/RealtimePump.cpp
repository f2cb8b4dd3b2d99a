// RealtimePump.cpp: pacing by the steady clock with absolute deadlines, so that sleep jitter
// does not accumulate into drift.
#include "sound/platform/RealtimePump.h"

#include <chrono>

namespace oggmix {

void RealtimePump::Start(AudioBackend::PullFn pull, SinkFn sink) {
    Stop();
    FPull = std::move(pull);
    FSink = std::move(sink);
    FPeriod.assign(static_cast<size_t>(kPeriodFrames) * kDeviceChannels, 0);
    FTerminated.store(false, std::memory_order_relaxed);
    FThread = std::thread([this] { Run(); });
}

void RealtimePump::Stop() {
    if (!FThread.joinable()) return;
    FTerminated.store(true, std::memory_order_relaxed);
    FThread.join();
}

void RealtimePump::ResetClock() noexcept {
    FPulledFrames = 0;
    FClock.Reset();
}

void RealtimePump::Run() {
    using Clock = std::chrono::steady_clock;
    constexpr auto kPeriod =
        std::chrono::microseconds(1'000'000LL * kPeriodFrames / kDeviceFramesPerSecond);
    constexpr int kMaxCatchUpPeriods = 20;
    auto deadline = Clock::now();
    while (!FTerminated.load(std::memory_order_relaxed)) {
        FPull(FPeriod);
        if (FSink) FSink(FPeriod);
        FPulledFrames += kPeriodFrames;
        FClock.Record(FPulledFrames, 0);
        deadline += kPeriod;
        const auto now = Clock::now();
        if (now - deadline > kMaxCatchUpPeriods * kPeriod) deadline = now;
        std::this_thread::sleep_until(deadline);
    }
}

}  // namespace oggmix
