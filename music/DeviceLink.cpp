// DeviceLink.cpp: opening the player's back end, its clock of frames heard, resting while
// nothing plays, and the watcher that carries the music on through a lost device and brings
// the device back.
#include "music/DeviceLink.h"

#include <algorithm>
#include <chrono>

#include "oggmix/MusicPlayer.h"

namespace oggmix::music {
namespace {

using namespace std::chrono_literals;

constexpr auto kLossCheck = 100ms;    // how soon a back end without notices is seen lost
constexpr auto kRetryEvery = 1000ms;  // how often a lost device is tried again

std::string ShortName(const std::string& name) {
    if (name.starts_with("wav:")) return "wav";
    if (name.starts_with("manual")) return "manual";
    return name;
}

const std::string kStandInName = "null";

}  // namespace

DeviceLink::DeviceLink(const std::string& Name, int32_t LatencyMs, bool Required, MixFn Mix,
                       SkipFn Skip)
    : FName(Name),
      FOffline(Name == "offline"),
      FLatencyMs(LatencyMs),
      FBackendName(ShortName(Name)),
      FMix(std::move(Mix)),
      FSkip(std::move(Skip)) {
    if (FOffline) return;
    std::string why;
    FBackend = Open(FName, why);
    if (!FBackend) {
        FStatus = "the sound device (" + FName + ") cannot be opened" +
                  (why.empty() ? std::string() : ": " + why);
        if (Required) throw MusicError(MusicErrorCode::NoDevice, FStatus);
        // Silent playback: everything runs, timed as if heard.
        FBackend = Open("null", why);
        FFallback = true;
        FStandIn = true;
        FLastReason = DeviceQuiet::Gone;
        if (!FBackend) throw MusicError(MusicErrorCode::NoDevice, FStatus);
    }
}

DeviceLink::~DeviceLink() {
    {
        std::lock_guard guard(FWatchLock);
        FEnding = true;
    }
    FWake.notify_all();
    if (FWatcher.joinable()) FWatcher.join();
    std::unique_ptr<AudioBackend> last;
    {
        std::lock_guard guard(FSwapLock);
        last = std::move(FBackend);
    }
    if (last) {
        last->Stop();
        last->Close();
    }
}

std::unique_ptr<AudioBackend> DeviceLink::Open(const std::string& name, std::string& why) {
    std::unique_ptr<AudioBackend> backend;
    if (CreateAudioBackend(name, backend, BackendOptions{FLatencyMs}) != DS_OK || !backend) {
        why = "unknown sound back end '" + name + "' (pulse, sdl, null, wav:PATH or manual)";
        return nullptr;
    }
    backend->SetNotice([this] { Noticed(); });
    AudioBackend* pulling = backend.get();
    if (backend->Open([this, pulling](std::span<int16_t> out) { PullCounted(out, pulling); }) !=
        DS_OK) {
        why = backend->Error();
        return nullptr;
    }
    return backend;
}

void DeviceLink::Start() {
    if (FOffline) return;
    {
        std::lock_guard guard(FSwapLock);
        FBackend->Start();
    }
    FWatcher = std::thread([this] { Watch(); });
}

void DeviceLink::Wake() {
    if (FOffline) return;
    FAwakeUntil.store(FPulledFrames.load(std::memory_order_relaxed) + kWakeGraceFrames,
                      std::memory_order_relaxed);
    std::lock_guard guard(FSwapLock);
    FBackend->Wake([this](int64_t frames) {
        FSkip(frames);
        FPulledFrames.fetch_add(frames, std::memory_order_relaxed);
        FAwakeUntil.fetch_add(frames, std::memory_order_relaxed);
    });
}

void DeviceLink::RenderOffline(std::span<int16_t> Interleaved) noexcept {
    PullCounted(Interleaved, nullptr);
}

void DeviceLink::PullCounted(std::span<int16_t> interleaved, AudioBackend* backend) noexcept {
    const auto start = std::chrono::steady_clock::now();
    const bool playing = FMix(interleaved);
    const int64_t pulled = FPulledFrames.fetch_add(static_cast<int64_t>(interleaved.size() / 2),
                                                   std::memory_order_relaxed) +
                           static_cast<int64_t>(interleaved.size() / 2);
    if (!playing && backend != nullptr && pulled >= FAwakeUntil.load(std::memory_order_relaxed))
        backend->Rest();
    const int64_t tookUs = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    if (tookUs > FLongestPullUs.load(std::memory_order_relaxed))
        FLongestPullUs.store(tookUs, std::memory_order_relaxed);
}

void DeviceLink::Swap(std::unique_ptr<AudioBackend> next, bool fallback) {
    std::unique_ptr<AudioBackend> previous;
    {
        std::lock_guard guard(FSwapLock);
        // The old back end stops first, so that two never pull at once; what it still held
        // is lost with it, and the new one's clock starts where the pulls have got to.
        FBackend->Stop();
        previous = std::move(FBackend);
        // A resting back end's clock ran on past its pulls: the new one goes on from there.
        const int64_t heard = FBaseFrames + previous->HeardFrames();
        const int64_t pulled = FPulledFrames.load(std::memory_order_relaxed);
        if (heard > pulled) {
            FSkip(heard - pulled);
            FPulledFrames.store(heard, std::memory_order_relaxed);
        }
        FBaseFrames = FPulledFrames.load(std::memory_order_relaxed);
        FBaseUnderruns += previous->Underruns();
        FBackend = std::move(next);
        FFallback = fallback;
        FStandIn = fallback;
        FAwakeUntil.store(FBaseFrames + kWakeGraceFrames, std::memory_order_relaxed);
        FBackend->Start();
    }
    previous->Close();
}

void DeviceLink::Noticed() {
    {
        std::lock_guard guard(FWatchLock);
        FChanged = true;
    }
    FWake.notify_all();
}

// The watcher's own lock is never held while another is taken: a notice arrives with the
// back end's lock held, which Wake takes after FSwapLock.
void DeviceLink::Watch() {
    auto nextTry = std::chrono::steady_clock::now();
    DeviceQuiet seen = DeviceQuiet::None;
    for (;;) {
        bool fallback = false;
        bool notifies = false;
        {
            std::lock_guard guard(FSwapLock);
            fallback = FFallback;
            notifies = FBackend->Notifies();
        }
        {
            // Asleep while the device plays and tells us of changes: no wake-ups while idle.
            std::unique_lock lock(FWatchLock);
            if (fallback && FStatus.empty())
                FWake.wait_until(lock, nextTry, [this] { return FEnding; });
            else if (notifies || fallback)
                FWake.wait(lock, [this] { return FEnding || FChanged; });
            else
                FWake.wait_for(lock, kLossCheck, [this] { return FEnding || FChanged; });
            if (FEnding) return;
            FChanged = false;
        }
        bool lost = false;
        DeviceQuiet quiet = DeviceQuiet::None;
        {
            std::lock_guard guard(FSwapLock);
            lost = FBackend->Lost();
            quiet = FBackend->Quiet();
        }
        if (lost && !fallback) {
            FLastReason = DeviceQuiet::Gone;
            FLosses.fetch_add(1);
            std::string why;
            if (auto stand = Open("null", why)) Swap(std::move(stand), true);
            nextTry = std::chrono::steady_clock::now() + kRetryEvery;
        } else if (fallback && FStatus.empty() && std::chrono::steady_clock::now() >= nextTry) {
            std::string why;
            if (auto back = Open(FName, why))
                Swap(std::move(back), false);
            else
                nextTry = std::chrono::steady_clock::now() + kRetryEvery;
        } else if (quiet != seen && quiet != DeviceQuiet::None) {
            FLastReason = quiet;
            if (seen == DeviceQuiet::None) FLosses.fetch_add(1);
        }
        if (!fallback) seen = quiet;
    }
}

int64_t DeviceLink::HeardFrames() const noexcept {
    if (FOffline) return FPulledFrames.load(std::memory_order_relaxed);
    int64_t heard = 0;
    {
        std::lock_guard guard(FSwapLock);
        heard = FBaseFrames + (FBackend ? FBackend->HeardFrames() : 0);
    }
    // A back end swapped in starts its clock at the frames pulled, ahead of what the old one
    // had played; a clock never runs back.
    int64_t last = FLastHeard.load(std::memory_order_relaxed);
    while (heard > last && !FLastHeard.compare_exchange_weak(last, heard)) {
    }
    return std::max(heard, last);
}

uint64_t DeviceLink::Underruns() const noexcept {
    if (FOffline) return 0;
    std::lock_guard guard(FSwapLock);
    return FBaseUnderruns + FBackend->Underruns();
}

DeviceQuiet DeviceLink::Quiet() const noexcept {
    if (FOffline) return DeviceQuiet::None;
    std::lock_guard guard(FSwapLock);
    if (!FStatus.empty() || FFallback || FBackend->Lost()) return DeviceQuiet::Gone;
    return FBackend->Quiet();
}

bool DeviceLink::Available() const noexcept { return Quiet() == DeviceQuiet::None; }

const std::string& DeviceLink::BackendName() const noexcept {
    return FStandIn.load() ? kStandInName : FBackendName;
}

}  // namespace oggmix::music
