// DeviceCore.cpp: the device mixer, its back end, and the watch that carries the device over
// a lost back end: a real-time stand-in while it is gone, a new back end when it returns.
#include <algorithm>
#include <limits>

#include "sound/platform/DeviceStatus.h"
#include "sound/platform/SoundDevice_Internal.h"

namespace oggmix {
namespace {

// The device that CurrentSoundDeviceStatus describes: the one opened last.
std::mutex gCurrentMutex;
const DeviceCore* gCurrent = nullptr;  // guarded by gCurrentMutex
std::atomic<uint64_t> gLosses{0};

}  // namespace

SoundDeviceStatus CurrentSoundDeviceStatus() {
    SoundDeviceStatus status;
    status.Losses = gLosses.load(std::memory_order_relaxed);
    std::lock_guard guard(gCurrentMutex);
    if (gCurrent == nullptr) return status;
    status.Open = true;
    status.Lost = gCurrent->Lost();
    status.Backend = gCurrent->BackendName();
    status.PeriodFrames = gCurrent->PeriodFrames();
    status.DelayFrames = gCurrent->DelayFrames();
    return status;
}

DeviceCore::~DeviceCore() { Close(); }

AudioBackend::PullFn DeviceCore::Pull() {
    return [this](std::span<int16_t> out) { Mix(out); };
}

HRESULT DeviceCore::Open() {
    FVoices.reserve(16);
    const HRESULT hr = FBackend->Open(Pull());
    if (hr != DS_OK) return hr;
    FOpen = true;
    FBackend->Start();
    {
        std::lock_guard guard(FWatchMutex);
        FClosing = false;
    }
    FWatch = std::thread([this] { Watch(); });
    std::lock_guard guard(gCurrentMutex);
    gCurrent = this;
    return DS_OK;
}

void DeviceCore::Close() {
    if (!FOpen) return;
    FOpen = false;
    {
        std::lock_guard guard(gCurrentMutex);
        if (gCurrent == this) gCurrent = nullptr;
    }
    {
        std::lock_guard guard(FWatchMutex);
        FClosing = true;
    }
    FWatchWake.notify_all();
    FWatch.join();
    // Only this thread swaps the back end now.
    FBackend->Stop();
    FBackend->Close();
}

int32_t DeviceCore::PeriodFrames() const noexcept {
    std::lock_guard guard(FBackendMutex);
    return FBackend->PeriodFrames();
}

int32_t DeviceCore::DelayFrames() const noexcept {
    std::lock_guard guard(FBackendMutex);
    return FBackend->DelayFrames();
}

void DeviceCore::Watch() {
    std::unique_lock lock(FWatchMutex);
    auto nextReopen = std::chrono::steady_clock::now();
    while (!FWatchWake.wait_for(lock, kWatchInterval, [this] { return FClosing; })) {
        lock.unlock();
        if (!Lost()) {
            bool lost = false;
            {
                std::lock_guard guard(FBackendMutex);
                lost = FBackend->Lost();
            }
            if (lost) {
                LoseBackend();
                nextReopen = std::chrono::steady_clock::now() + kReopenInterval;
            }
        } else if (std::chrono::steady_clock::now() >= nextReopen) {
            nextReopen = std::chrono::steady_clock::now() + kReopenInterval;
            (void)ReopenBackend();
        }
        lock.lock();
    }
}

void DeviceCore::ReplaceBackend(std::unique_ptr<AudioBackend> next) {
    // The old back end stops before the new one starts: one device thread at a time.
    AudioBackend* old = nullptr;
    {
        std::lock_guard guard(FBackendMutex);
        old = FBackend.get();
    }
    old->Stop();
    next->Start();
    {
        std::lock_guard guard(FBackendMutex);
        std::swap(FBackend, next);
    }
    next->Close();  // the old one, no longer reachable by any query
}

void DeviceCore::LoseBackend() {
    std::unique_ptr<AudioBackend> standIn = MakeNullBackend();
    (void)standIn->Open(Pull());  // the null back end always opens
    ReplaceBackend(std::move(standIn));
    FLost.store(true, std::memory_order_relaxed);
    gLosses.fetch_add(1, std::memory_order_relaxed);
}

bool DeviceCore::ReopenBackend() {
    std::unique_ptr<AudioBackend> next;
    if (CreateAudioBackend(FBackendName, next) != DS_OK || next->Open(Pull()) != DS_OK)
        return false;
    ReplaceBackend(std::move(next));
    FLost.store(false, std::memory_order_relaxed);
    return true;
}

void DeviceCore::AddVoice(SoundBuffer* voice) { FVoices.push_back(voice); }

void DeviceCore::RemoveVoice(SoundBuffer* voice) noexcept { std::erase(FVoices, voice); }

void DeviceCore::Mix(std::span<int16_t> out) noexcept {
    std::lock_guard guard(FVoiceMutex);
    while (!out.empty()) {
        const size_t samples = std::min(out.size(), FAccumulator.size()) & ~size_t{1};
        if (samples == 0) break;
        const std::span<int32_t> acc(FAccumulator.data(), samples);
        std::fill(acc.begin(), acc.end(), 0);
        for (size_t i = 0; i < FVoices.size();) {
            if (FVoices[i]->MixInto(acc)) {
                ++i;
            } else {
                // Stopped at the end of its ring; the order of voices does not change a sum.
                FVoices[i] = FVoices.back();
                FVoices.pop_back();
            }
        }
        for (size_t i = 0; i < samples; ++i)
            out[i] = static_cast<int16_t>(std::clamp<int32_t>(
                acc[i], std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
        out = out.subspan(samples);
    }
    std::fill(out.begin(), out.end(), int16_t{0});
}

}  // namespace oggmix
