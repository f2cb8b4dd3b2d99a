#pragma once
// RealtimePump.h: a thread that pulls one period of frames per period of wall time, for the
// back ends without a device clock of their own (null, wav). After a stall it catches up at
// most a few periods and then resynchronises, as a device that dropped frames would.
// Its device clock counts a pulled period as heard at once.
// Resting: Rest from inside the pull makes the thread sleep after that pull until Wake, its
// clock going on in real time; Wake counts the frames it passed as pulled (the Skip callback).
// Threads: Start/Stop/ResetClock/Wake on the owner's thread; the pull, the sink and Rest run
//          on the pump's thread; HeardFrames and Resting on any.
// Memory: Start allocates the period buffer; the loop does not.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/RestGate.h"

namespace oggmix {

class RealtimePump {
public:
    static constexpr int32_t kPeriodFrames = 441;  // 10 ms

    // Sink receives every pulled period, on the pump's thread.
    using SinkFn = std::function<void(std::span<const int16_t> interleaved)>;

    RealtimePump() = default;
    ~RealtimePump() { Stop(); }
    RealtimePump(const RealtimePump&) = delete;
    RealtimePump& operator=(const RealtimePump&) = delete;

    void Start(AudioBackend::PullFn pull, SinkFn sink);
    void Stop();  // joins; no pull runs afterwards
    // Nothing pulled yet; while stopped.
    void ResetClock() noexcept;
    [[nodiscard]] int64_t HeardFrames() const noexcept { return FClock.HeardFrames(); }
    void Rest() noexcept { FRestAsked = true; }
    void Wake(const AudioBackend::SkipFn& skip);
    [[nodiscard]] bool Resting() const noexcept { return FGate.Resting(); }

private:
    void Run();
    void Sleep();

    AudioBackend::PullFn FPull;
    SinkFn FSink;
    std::vector<int16_t> FPeriod;
    int64_t FPulledFrames = 0;  // pump thread while it runs; Wake's while it sleeps
    bool FRestAsked = false;    // pump thread
    DeviceClock FClock;
    std::mutex FRestLock;
    std::condition_variable FWoken;
    RestGate FGate;  // woken under FRestLock
    std::atomic<bool> FTerminated{false};
    std::thread FThread;
};

}  // namespace oggmix
