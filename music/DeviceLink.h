#pragma once
// DeviceLink.h: a player's own sound device stream. One back end pulls the player's mix on the
// device's thread (offline: none; the owner pulls through RenderOffline on its own thread);
// the link counts the frames pulled and, through the back end's clock, the frames heard. When
// the device goes away, a back end that pulls in real time into nothing takes over, so the
// music moves on as if heard, and the device is tried again every second. A device that stays
// open but plays nothing (a suspended sink) moves the music on in real time by itself; the
// link reports it lost, with the reason, until it plays again.
//
// Idle: when the mix says nothing plays or is due, and kWakeGraceFrames have been pulled
// since the last Wake, the back end rests (pulse: corked once what it holds has played; null:
// its thread sleeps), and no thread of the link wakes while it does. Its clock goes on in real
// time meanwhile, so HeardFrames moves on past the frames pulled. Wake, called by the owner
// before anything that may start sound, sets it pulling again; the frames the clock passed
// meanwhile are handed to Skip first, before any pull (on the owner's thread; on the
// watcher's when it swaps a resting back end out, none pulling then): the owner moves its
// output clock on by as many without mixing them, so that output frames keep counting real
// time and a change lands where it would have landed had the device pulled silence all along.
//
// Threads: construction, Start, Wake, destruction and the read-outs on the owner's thread (the
//          read-outs on any thread); the pull on the device's thread; a watcher thread of the
//          link's own, woken by the back end's notices (every 100 ms for a back end that gives
//          none, every second while the stand-in plays), looks for a lost or quiet device. At
//          most one back end pulls at a time.
// Locks:   FSwapLock, while back ends are swapped, woken and their clock read; never across an
//          open or a close of a back end, never on the device's thread. Wake takes it, then
//          the back end's lock, then Skip runs: the owner calls Wake holding none of its own.
// Errors:  MusicError (NoDevice) from the constructor when the device is required and cannot
//          be opened; nothing else throws.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "sound/platform/AudioBackend.h"

namespace oggmix::music {

class DeviceLink {
public:
    // Mix fills the span on the device's thread (no alloc, no throw, no blocking) and says
    // whether anything is still playing or due; false lets the device rest.
    using MixFn = std::function<bool(std::span<int16_t> interleaved)>;
    // Frames of silence that passed while the device rested; owner's thread, inside Wake.
    using SkipFn = AudioBackend::SkipFn;
    // Half a second: a Wake keeps the device pulling at least this long, so that what the
    // owner does right after it lands before the device can rest again.
    static constexpr int64_t kWakeGraceFrames = kDeviceFramesPerSecond / 2;

    // Name: a back-end name as OGGMIX_AUDIO takes it, already chosen.
    DeviceLink(const std::string& Name, int32_t LatencyMs, bool Required, MixFn Mix, SkipFn Skip);
    ~DeviceLink();  // no pull runs once it returns
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    void Start();
    // Owner's thread, holding none of its own locks: the device pulls again if it rested.
    void Wake();
    // "offline": nothing pulls but RenderOffline, which mixes on the caller's thread.
    [[nodiscard]] bool Offline() const noexcept { return FOffline; }
    void RenderOffline(std::span<int16_t> Interleaved) noexcept;

    // Output frames heard so far: never less than before, never more than pulled.
    [[nodiscard]] int64_t HeardFrames() const noexcept;
    // False while playing into nothing: without a device from the start, while it is lost, or
    // while it plays nothing (Quiet).
    [[nodiscard]] bool Available() const noexcept;
    // Why the device plays nothing now (Gone while the stand-in plays); None while it plays.
    [[nodiscard]] DeviceQuiet Quiet() const noexcept;
    // Why it last went quiet or was lost.
    [[nodiscard]] DeviceQuiet LastLossReason() const noexcept { return FLastReason.load(); }
    // Empty when the device opened at the start; otherwise why it could not be opened.
    [[nodiscard]] const std::string& Status() const noexcept { return FStatus; }
    // "pulse", "sdl", "null", "wav" or "manual": the back end pulling; "null" while the
    // stand-in plays for a device that is lost or could not be opened.
    [[nodiscard]] const std::string& BackendName() const noexcept;
    // Times the device was lost or went quiet.
    [[nodiscard]] uint64_t Losses() const noexcept { return FLosses.load(); }
    // Gaps the device played for want of sound, as far as its back ends can tell.
    [[nodiscard]] uint64_t Underruns() const noexcept;
    // The longest a pull took, in microseconds of the steady clock.
    [[nodiscard]] int64_t LongestPullUs() const noexcept { return FLongestPullUs.load(); }

private:
    [[nodiscard]] std::unique_ptr<AudioBackend> Open(const std::string& name, std::string& why);
    void Swap(std::unique_ptr<AudioBackend> next, bool fallback);
    void Watch();
    void Noticed();
    void PullCounted(std::span<int16_t> interleaved, AudioBackend* backend) noexcept;

    const std::string FName;
    const bool FOffline;
    const int32_t FLatencyMs;
    std::string FStatus;
    std::string FBackendName;
    MixFn FMix;
    SkipFn FSkip;

    mutable std::mutex FSwapLock;
    std::unique_ptr<AudioBackend> FBackend;  // guarded by FSwapLock; swapped by Swap only
    int64_t FBaseFrames = 0;            // guarded by FSwapLock: pulled before the back end opened
    uint64_t FBaseUnderruns = 0;        // guarded by FSwapLock: of the back ends swapped out
    bool FFallback = false;             // guarded by FSwapLock: the real-time stand-in is pulling
    std::atomic<bool> FStandIn{false};  // FFallback, for BackendName
    std::atomic<int64_t> FPulledFrames{0};  // device thread writes (Skip: the owner's, in Wake)
    std::atomic<int64_t> FAwakeUntil{kWakeGraceFrames};  // pulled frames before a rest
    std::atomic<int64_t> FLongestPullUs{0};              // device thread writes
    mutable std::atomic<int64_t> FLastHeard{0};
    std::atomic<uint64_t> FLosses{0};
    std::atomic<DeviceQuiet> FLastReason{DeviceQuiet::None};

    std::mutex FWatchLock;
    std::condition_variable FWake;
    bool FEnding = false;   // guarded by FWatchLock
    bool FChanged = false;  // guarded by FWatchLock: a back end's notice came
    std::thread FWatcher;   // last: ends first
};

}  // namespace oggmix::music
