// DeviceLink.cpp: opening the player's back end, its clock of frames heard, and the watcher
// that carries the music on through a lost device and brings the device back.
#include "music/DeviceLink.h"

#include <algorithm>
#include <chrono>

#include "oggmix/MusicPlayer.h"

namespace oggmix::music {
namespace {

using namespace std::chrono_literals;

constexpr auto kLossCheck = 100ms;    // how soon a lost device is noticed
constexpr auto kRetryEvery = 1000ms;  // how often a lost device is tried again

std::string ShortName(const std::string& name) {
    if (name.starts_with("wav:")) return "wav";
    if (name.starts_with("manual")) return "manual";
    return name;
}

}  // namespace

DeviceLink::DeviceLink(const std::string& Name, int32_t LatencyMs, bool Required,
                       AudioBackend::PullFn Pull)
    : FName(Name),
      FOffline(Name == "offline"),
      FLatencyMs(LatencyMs),
      FBackendName(ShortName(Name)),
      FPull(std::move(Pull)) {
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
    if (backend->Open([this](std::span<int16_t> out) { PullCounted(out); }) != DS_OK) {
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

void DeviceLink::RenderOffline(std::span<int16_t> Interleaved) noexcept {
    PullCounted(Interleaved);
}

void DeviceLink::PullCounted(std::span<int16_t> interleaved) noexcept {
    FPull(interleaved);
    FPulledFrames.fetch_add(static_cast<int64_t>(interleaved.size() / 2),
                            std::memory_order_relaxed);
}

void DeviceLink::Swap(std::unique_ptr<AudioBackend> next, bool fallback) {
    std::unique_ptr<AudioBackend> previous;
    {
        std::lock_guard guard(FSwapLock);
        // The old back end stops first, so that two never pull at once; what it still held
        // is lost with it, and the new one's clock starts where the pulls have got to.
        FBackend->Stop();
        previous = std::move(FBackend);
        FBaseFrames = FPulledFrames.load(std::memory_order_relaxed);
        FBaseUnderruns += previous->Underruns();
        FBackend = std::move(next);
        FFallback = fallback;
        FBackend->Start();
    }
    previous->Close();
}

void DeviceLink::Watch() {
    auto nextTry = std::chrono::steady_clock::now();
    std::unique_lock lock(FWatchLock);
    while (!FEnding) {
        FWake.wait_for(lock, kLossCheck);
        if (FEnding) break;
        lock.unlock();
        bool lost = false;
        bool fallback = false;
        {
            std::lock_guard guard(FSwapLock);
            lost = FBackend->Lost();
            fallback = FFallback;
        }
        if (lost && !fallback) {
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
        }
        lock.lock();
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

bool DeviceLink::Available() const noexcept {
    if (FOffline) return true;
    std::lock_guard guard(FSwapLock);
    return FStatus.empty() && !FFallback && !FBackend->Lost();
}

}  // namespace oggmix::music
