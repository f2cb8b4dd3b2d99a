#pragma once
// DeviceLink.h: a player's own sound device stream. One back end pulls the player's mix on the
// device's thread (offline: none; the owner pulls through RenderOffline on its own thread); the link counts the frames pulled and, through the back end's clock, the
// frames heard. When the device goes away, a back end that pulls in real time into nothing
// takes over, so the music moves on as if heard, and the device is tried again every second.
//
// Threads: construction, Start, destruction and the read-outs on the owner's thread (the
//          read-outs on any thread); the pull on the device's thread; a watcher thread of the
//          link's own looks for a lost device. At most one back end pulls at a time.
// Locks:   FSwapLock, only while back ends are swapped and while the clock is read; never
//          across an open or a close of a back end, never on the device's thread.
// Errors:  MusicError (NoDevice) from the constructor when the device is required and cannot
//          be opened; nothing else throws.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sound/platform/AudioBackend.h"

namespace oggmix::music {

class DeviceLink {
public:
    // Name: a back-end name as OGGMIX_AUDIO takes it, already chosen. Pull fills the span on
    // the device's thread (no alloc, no throw, no blocking).
    DeviceLink(const std::string& Name, int32_t LatencyMs, bool Required,
               AudioBackend::PullFn Pull);
    ~DeviceLink();  // no pull runs once it returns
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    void Start();
    // "offline": nothing pulls but RenderOffline, which mixes on the caller's thread.
    [[nodiscard]] bool Offline() const noexcept { return FOffline; }
    void RenderOffline(std::span<int16_t> Interleaved) noexcept;

    // Output frames heard so far: never less than before, never more than pulled.
    [[nodiscard]] int64_t HeardFrames() const noexcept;
    // False while playing into nothing: without a device from the start, or while it is lost.
    [[nodiscard]] bool Available() const noexcept;
    // Empty when the device opened at the start; otherwise why it could not be opened.
    [[nodiscard]] const std::string& Status() const noexcept { return FStatus; }
    // "pulse", "sdl", "null", "wav" or "manual": the back end asked for.
    [[nodiscard]] const std::string& BackendName() const noexcept { return FBackendName; }
    [[nodiscard]] uint64_t Losses() const noexcept { return FLosses.load(); }
    // Gaps the device played for want of sound, as far as its back ends can tell.
    [[nodiscard]] uint64_t Underruns() const noexcept;

private:
    [[nodiscard]] std::unique_ptr<AudioBackend> Open(const std::string& name, std::string& why);
    void Swap(std::unique_ptr<AudioBackend> next, bool fallback);
    void Watch();
    void PullCounted(std::span<int16_t> interleaved) noexcept;

    const std::string FName;
    const bool FOffline;
    const int32_t FLatencyMs;
    std::string FStatus;
    std::string FBackendName;
    AudioBackend::PullFn FPull;

    mutable std::mutex FSwapLock;
    std::unique_ptr<AudioBackend> FBackend;  // guarded by FSwapLock; swapped by Swap only
    int64_t FBaseFrames = 0;      // guarded by FSwapLock: pulled before the back end opened
    uint64_t FBaseUnderruns = 0;  // guarded by FSwapLock: of the back ends swapped out
    bool FFallback = false;       // guarded by FSwapLock: the real-time stand-in is pulling
    std::atomic<int64_t> FPulledFrames{0};  // device thread writes; read after a Stop
    mutable std::atomic<int64_t> FLastHeard{0};
    std::atomic<uint64_t> FLosses{0};

    std::mutex FWatchLock;
    std::condition_variable FWake;
    bool FEnding = false;  // guarded by FWatchLock
    std::thread FWatcher;  // last: ends first
};

}  // namespace oggmix::music
