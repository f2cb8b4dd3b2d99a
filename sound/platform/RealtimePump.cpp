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
    {
        std::lock_guard guard(FRestLock);
        FTerminated.store(true, std::memory_order_relaxed);
    }
    FWoken.notify_all();
    FThread.join();
    if (FGate.Resting()) FGate.Woken();
}

void RealtimePump::Wake(const AudioBackend::SkipFn& skip) {
    if (!FGate.AskWake()) return;
    {
        std::lock_guard guard(FRestLock);
        if (!FGate.Resting()) return;
        const int64_t heard = FClock.HeardFrames();
        if (heard > FPulledFrames) {
            skip(heard - FPulledFrames);
            FPulledFrames = heard;
        }
        FClock.Record(FPulledFrames, 0);
        FGate.Woken();
    }
    FWoken.notify_all();
}

// Until Wake or Stop; the clock runs on meanwhile.
void RealtimePump::Sleep() {
    FRestAsked = false;
    std::unique_lock lock(FRestLock);
    if (FTerminated.load(std::memory_order_relaxed) || !FGate.TryRest()) return;
    FClock.RunFree();
    FWoken.wait(lock,
                [this] { return !FGate.Resting() || FTerminated.load(std::memory_order_relaxed); });
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
        if (FRestAsked) {
            Sleep();
            deadline = Clock::now();
            continue;
        }
        deadline += kPeriod;
        const auto now = Clock::now();
        if (now - deadline > kMaxCatchUpPeriods * kPeriod) deadline = now;
        std::this_thread::sleep_until(deadline);
    }
}

}  // namespace oggmix
