// AudioBackend_Pulse.cpp: the PulseAudio server through libpulse's threaded main loop. We
// ask the server for a latency (the target length) and requests as large as it allows, write
// each request as it comes, and ask the server after each write how long the last written
// frame has until it is heard. A context or stream that fails (the server went away) marks
// the device lost. A sink that is suspended, or a server that stops asking for sound, makes
// the device quiet: the stream's own timer then pulls in real time into nothing, until the
// server plays again and what it held from before is dropped. At rest the stream is corked
// once what it holds has played, and nothing runs until Wake.
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/HeardDelay.h"
#include "sound/platform/RealtimePriority.h"
#include "sound/platform/RestGate.h"

namespace oggmix {
namespace {

class PulseBackend final : public AudioBackend {
public:
    // A latency asked for is the server's target length. Requests are as large as leave the
    // server kHeldFrames when it asks, and at least half the target: the longer the latency,
    // the fewer the wake-ups (each costs a dozen system calls here and more in the server).
    // Without one (the software sound device), small requests keep its ring's refill timely.
    explicit PulseBackend(int32_t latencyMs)
        : FTargetFrames(latencyMs > 0 ? static_cast<int32_t>(std::clamp<int64_t>(
                                            int64_t{latencyMs} * kDeviceFramesPerSecond / 1000, 4,
                                            kMaxTargetFrames))
                                      : kDefaultTargetFrames),
          FRequestFrames(latencyMs > 0 ? std::max(FTargetFrames / 2, FTargetFrames - kHeldFrames)
                                       : kDefaultRequestFrames) {}
    ~PulseBackend() override { Close(); }

    HRESULT Open(PullFn pull) override {
        FPull = std::move(pull);
        // A whole request in one write: the server asks for up to its target length at once,
        // and each write is a message to it.
        FPeriod.assign(static_cast<size_t>(std::max(FTargetFrames, kPaceFrames)) * kDeviceChannels,
                       0);
        FDelay.Reset();
        FPulledFrames = 0;
        FClock.Reset();
        FMainloop = pa_threaded_mainloop_new();
        if (FMainloop == nullptr || pa_threaded_mainloop_start(FMainloop) < 0)
            return Fail("cannot start its main loop");
        pa_threaded_mainloop_lock(FMainloop);
        const std::string failure = Connect();
        pa_threaded_mainloop_unlock(FMainloop);
        if (!failure.empty()) return Fail(failure);
        Opened();
        return DS_OK;
    }
    void Start() override {
        if (FStream == nullptr) return;
        pa_threaded_mainloop_lock(FMainloop);
        FRunning = true;
        FLastRequestNs = DeviceClock::NowNs();
        if (Pacing()) {
            ArmPace(0);
        } else {
            ArmCheck();
            // The server asks again only once it has played something; start it off now.
            Write(FStream, pa_stream_writable_size(FStream));
        }
        pa_threaded_mainloop_unlock(FMainloop);
    }
    void Stop() override {
        if (FStream == nullptr) return;
        // Requests are answered with the main loop's lock held: none runs once this returns.
        pa_threaded_mainloop_lock(FMainloop);
        FRunning = false;
        DisarmTimers();
        pa_threaded_mainloop_unlock(FMainloop);
    }
    void Close() override {
        if (FMainloop == nullptr) return;
        pa_threaded_mainloop_lock(FMainloop);
        FRunning = false;
        FreeTimers();
        if (FStream != nullptr) {
            pa_stream_set_write_callback(FStream, nullptr, nullptr);
            pa_stream_set_underflow_callback(FStream, nullptr, nullptr);
            pa_stream_set_state_callback(FStream, nullptr, nullptr);
            pa_stream_set_suspended_callback(FStream, nullptr, nullptr);
            pa_stream_set_moved_callback(FStream, nullptr, nullptr);
            pa_stream_disconnect(FStream);
            pa_stream_unref(FStream);
            FStream = nullptr;
        }
        if (FContext != nullptr) {
            pa_context_set_state_callback(FContext, nullptr, nullptr);
            pa_context_disconnect(FContext);
            pa_context_unref(FContext);
            FContext = nullptr;
        }
        pa_threaded_mainloop_unlock(FMainloop);
        pa_threaded_mainloop_stop(FMainloop);
        pa_threaded_mainloop_free(FMainloop);
        FMainloop = nullptr;
    }
    int32_t PeriodFrames() const noexcept override { return FRequestFrames; }
    int32_t DelayFrames() const noexcept override { return FDelay.Now(); }
    bool Lost() const noexcept override { return FLost.load(std::memory_order_relaxed); }
    uint64_t Underruns() const noexcept override {
        return FUnderruns.load(std::memory_order_relaxed);
    }
    int64_t HeardFrames() const noexcept override { return FClock.HeardFrames(); }
    std::string Name() const override { return "pulse"; }
    DeviceQuiet Quiet() const noexcept override {
        if (Lost()) return DeviceQuiet::Gone;
        return FQuiet.load(std::memory_order_relaxed);
    }
    bool Notifies() const noexcept override { return true; }
    void Rest() noexcept override { FRestAsked = true; }
    bool Resting() const noexcept override { return FGate.Resting(); }
    void Wake(const SkipFn& skip) override {
        if (FStream == nullptr || !FGate.AskWake()) return;
        pa_threaded_mainloop_lock(FMainloop);
        if (FGate.Resting()) {
            FGate.Woken();
            Disarm(FCorkTimer);
            // The clock ran on while nothing was pulled; the frames it passed count as pulled
            // silence, and the clock is held to the frames pulled again.
            const int64_t heard = FClock.HeardFrames();
            if (heard > FPulledFrames) {
                skip(heard - FPulledFrames);
                FPulledFrames = heard;
            }
            FClock.Record(FPulledFrames, FPulledFrames - std::min(heard, FPulledFrames));
            if (FCorked) {
                pa_operation_unref(pa_stream_cork(FStream, 0, nullptr, nullptr));
                FCorked = false;
            }
            FLastRequestNs = DeviceClock::NowNs();
            if (Pacing())
                ArmPace(0);
            else if (FRunning)
                Write(FStream, pa_stream_writable_size(FStream));
            ArmCheck();
        }
        pa_threaded_mainloop_unlock(FMainloop);
    }

private:
    // 100 ms held by the server keeps it fed with both cores busy (80 ms did not always); 75
    // ms held when it asks leaves a long latency's requests room to be late.
    static constexpr int32_t kDefaultTargetFrames = 4410;
    static constexpr int32_t kDefaultRequestFrames = 441;
    static constexpr int32_t kHeldFrames = kDefaultTargetFrames * 3 / 4;
    static constexpr int32_t kMaxTargetFrames = 10 * kDeviceFramesPerSecond;
    // While quiet, the music moves on by this many frames per pull, in real time.
    static constexpr int32_t kPaceFrames = 441;
    static constexpr pa_usec_t kPaceUs = 1'000'000ULL * kPaceFrames / kDeviceFramesPerSecond;
    // While playing, how often we look whether the server still asks for sound, and how long
    // it may go without asking (a request is at most half the target length apart).
    static constexpr pa_usec_t kCheckUs = 250'000;
    static constexpr int64_t kStallNs = 500'000'000;
    // After what the server holds has played, before the stream is corked.
    static constexpr pa_usec_t kCorkMarginUs = 30'000;

    HRESULT Fail(const std::string& why) {
        Close();
        return AudioBackend::Fail("PulseAudio: " + why);
    }

    // Main loop locked. Empty on success, else why not.
    std::string Connect() {
        FContext = pa_context_new(pa_threaded_mainloop_get_api(FMainloop), "oggmix");
        if (FContext == nullptr) return "cannot make a context";
        pa_context_set_state_callback(FContext, &PulseBackend::ContextState, this);
        if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return pa_strerror(pa_context_errno(FContext));
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(FContext);
            if (state == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(state)) return pa_strerror(pa_context_errno(FContext));
            pa_threaded_mainloop_wait(FMainloop);
        }
        const pa_sample_spec format{PA_SAMPLE_S16LE, kDeviceFramesPerSecond, kDeviceChannels};
        FStream = pa_stream_new(FContext, "oggmix", &format, nullptr);
        if (FStream == nullptr) return pa_strerror(pa_context_errno(FContext));
        pa_stream_set_state_callback(FStream, &PulseBackend::StreamState, this);
        pa_stream_set_write_callback(FStream, &PulseBackend::WriteRequest, this);
        pa_stream_set_underflow_callback(FStream, &PulseBackend::Underflow, this);
        pa_stream_set_suspended_callback(FStream, &PulseBackend::SinkChanged, this);
        pa_stream_set_moved_callback(FStream, &PulseBackend::SinkChanged, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(FTargetFrames * kDeviceBytesPerFrame);
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(FRequestFrames * kDeviceBytesPerFrame);
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
        if (pa_stream_connect_playback(FStream, nullptr, &attr, flags, nullptr, nullptr) < 0)
            return pa_strerror(pa_context_errno(FContext));
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(FStream);
            if (state == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(state)) return pa_strerror(pa_context_errno(FContext));
            pa_threaded_mainloop_wait(FMainloop);
        }
        FCheckTimer = NewTimer(&PulseBackend::CheckDue);
        FPaceTimer = NewTimer(&PulseBackend::PaceDue);
        FCorkTimer = NewTimer(&PulseBackend::CorkDue);
        FSinkIndex = pa_stream_get_device_index(FStream);
        if (pa_stream_is_suspended(FStream) == 1) EnterQuiet(DeviceQuiet::Suspended);
        return {};
    }

    // ---- Timers on the main loop's thread, disarmed until armed. Main loop locked. ----
    using TimerFn = void (*)(pa_mainloop_api*, pa_time_event*, const struct timeval*, void*);
    pa_time_event* NewTimer(TimerFn due) {
        pa_time_event* timer = pa_context_rttime_new(FContext, PA_USEC_INVALID, due, this);
        return timer;
    }
    void Arm(pa_time_event* timer, pa_usec_t fromNowUs) {
        if (timer != nullptr)
            pa_context_rttime_restart(FContext, timer, pa_rtclock_now() + fromNowUs);
    }
    void Disarm(pa_time_event* timer) {
        if (timer != nullptr) pa_context_rttime_restart(FContext, timer, PA_USEC_INVALID);
    }
    void DisarmTimers() {
        Disarm(FCheckTimer);
        Disarm(FPaceTimer);
        Disarm(FCorkTimer);
    }
    void FreeTimers() {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(FMainloop);
        for (pa_time_event** timer : {&FCheckTimer, &FPaceTimer, &FCorkTimer}) {
            if (*timer != nullptr) api->time_free(*timer);
            *timer = nullptr;
        }
    }
    void ArmCheck() {
        if (FRunning && !Resting() && !Pacing()) Arm(FCheckTimer, kCheckUs);
    }
    void ArmPace(pa_usec_t fromNowUs) {
        FPaceNextUs = pa_rtclock_now() + fromNowUs;
        Arm(FPaceTimer, fromNowUs);
    }
    // Pulling by our own timer: quiet for a reason the server tells (a request would not come).
    [[nodiscard]] bool Pacing() const {
        const DeviceQuiet quiet = FQuiet.load(std::memory_order_relaxed);
        return FRunning && !Resting() && quiet != DeviceQuiet::None;
    }

    // ---- Quiet: the server plays nothing of ours; the music goes on in real time. ----
    void EnterQuiet(DeviceQuiet why) {
        if (FQuiet.load(std::memory_order_relaxed) == why) return;
        const bool was = FQuiet.load(std::memory_order_relaxed) != DeviceQuiet::None;
        FQuiet.store(why, std::memory_order_relaxed);
        Notice();
        if (was) return;
        Disarm(FCheckTimer);
        // What the server holds is not heard now; the clock goes on through it in real time.
        FClock.RunFree();
        if (Pacing()) ArmPace(kPaceUs);
    }
    void LeaveQuiet() {
        if (FQuiet.load(std::memory_order_relaxed) == DeviceQuiet::None) return;
        FQuiet.store(DeviceQuiet::None, std::memory_order_relaxed);
        Notice();
        Disarm(FPaceTimer);
        // What it held from before the music moved on is dropped, not played late.
        pa_operation_unref(pa_stream_flush(FStream, nullptr, nullptr));
        FDelay.Reset();
        FLastRequestNs = DeviceClock::NowNs();
        if (Resting()) return;
        ArmCheck();
        Write(FStream, pa_stream_writable_size(FStream));
    }
    void Pace() {
        const pa_usec_t nowUs = pa_rtclock_now();
        constexpr pa_usec_t kMaxBehindUs = 20 * kPaceUs;
        if (nowUs > FPaceNextUs + kMaxBehindUs) FPaceNextUs = nowUs;
        while (Pacing() && FPaceNextUs <= nowUs) {
            const std::span<int16_t> out(FPeriod.data(),
                                         static_cast<size_t>(kPaceFrames) * kDeviceChannels);
            FPull(out);
            FPulledFrames += kPaceFrames;
            FPaceNextUs += kPaceUs;
            if (FRestAsked) BeginRest();
        }
        if (Pacing()) Arm(FPaceTimer, FPaceNextUs - std::min(FPaceNextUs, nowUs));
    }

    // ---- Resting: the pull has nothing to play. ----
    void BeginRest() {
        FRestAsked = false;
        if (!FGate.TryRest()) return;
        Disarm(FCheckTimer);
        Disarm(FPaceTimer);
        FClock.RunFree();
        // Corked once what the server holds has played: corking at once would keep the end
        // of the music in the server until the next sound.
        const auto heldUs =
            static_cast<pa_usec_t>(FDelay.Now()) * 1'000'000 / kDeviceFramesPerSecond;
        Arm(FCorkTimer, heldUs + kCorkMarginUs);
    }

    // Main loop thread, locked.
    void Write(pa_stream* stream, size_t bytes) {
        if (!FRunning || Resting()) return;
        FLastRequestNs = DeviceClock::NowNs();
        if (FQuiet.load(std::memory_order_relaxed) == DeviceQuiet::Stalled) return LeaveQuiet();
        if (Pacing()) return;
        const size_t periodBytes = FPeriod.size() * sizeof(int16_t);
        bytes -= bytes % kDeviceBytesPerFrame;
        int32_t writtenFrames = 0;
        while (bytes > 0) {
            const size_t chunk = std::min(bytes, periodBytes);
            FPull(std::span<int16_t>(FPeriod.data(), chunk / sizeof(int16_t)));
            if (pa_stream_write(stream, FPeriod.data(), chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                break;
            writtenFrames += static_cast<int32_t>(chunk / kDeviceBytesPerFrame);
            bytes -= chunk;
            if (FRestAsked) break;
        }
        pa_usec_t latencyUs = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &latencyUs, &negative) == 0 && negative == 0) {
            // Never less than what was just written: the server cannot have played it yet.
            const auto latencyFrames =
                static_cast<int32_t>(latencyUs * kDeviceFramesPerSecond / 1'000'000);
            FDelay.Record(std::max(latencyFrames, writtenFrames));
        } else {
            // No timing information (at the start, or while an update is on its way), or a
            // stale one: libpulse moves its estimate of the server's read position on with
            // the clock, and on a busy machine it can pass what was just written, which the
            // server cannot have played yet. What was unheard still is, and the frames just
            // written join it. Counting none would put the heard cursor ahead by the whole
            // write, and a busy server's request can be longer than half the ring, so the
            // refill would miss that half.
            FDelay.Record(FDelay.Now() + writtenFrames);
        }
        FPulledFrames += writtenFrames;
        FClock.Record(FPulledFrames, FDelay.Now());
        if (FRestAsked) BeginRest();
    }

    // The server's requests arrive on the main loop's thread (Start writes from its caller's).
    static void WriteRequest(pa_stream* stream, size_t bytes, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (!self->FPriorityTried) {
            self->FPriorityTried = true;
            (void)RaiseThreadToRealtime();
        }
        self->Write(stream, bytes);
    }
    static void ContextState(pa_context* context, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) self->MarkLost();
        pa_threaded_mainloop_signal(self->FMainloop, 0);
    }
    // A stream at rest or quiet runs dry on purpose: not a gap.
    static void Underflow(pa_stream*, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (self->Resting() || self->FQuiet.load(std::memory_order_relaxed) != DeviceQuiet::None)
            return;
        self->FUnderruns.fetch_add(1, std::memory_order_relaxed);
    }
    static void StreamState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) self->MarkLost();
        pa_threaded_mainloop_signal(self->FMainloop, 0);
    }
    void MarkLost() {
        if (FLost.exchange(true, std::memory_order_relaxed)) return;
        DisarmTimers();
        Notice();
    }
    // Suspended or resumed, or moved to another sink: whether the sink we are on plays.
    static void SinkChanged(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (pa_stream_is_suspended(stream) == 1) {
            const bool moved = self->FSinkIndex != pa_stream_get_device_index(stream);
            self->EnterQuiet(moved ? DeviceQuiet::Moved : DeviceQuiet::Suspended);
        } else {
            self->FSinkIndex = pa_stream_get_device_index(stream);
            self->LeaveQuiet();
        }
    }
    static void CheckDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (!self->FRunning || self->Resting() || self->Pacing()) return;
        if (DeviceClock::NowNs() - self->FLastRequestNs > kStallNs) {
            self->EnterQuiet(DeviceQuiet::Stalled);
            return;
        }
        self->ArmCheck();
    }
    static void PaceDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        static_cast<PulseBackend*>(userdata)->Pace();
    }
    static void CorkDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (!self->Resting() || self->FCorked) return;
        pa_operation_unref(pa_stream_cork(self->FStream, 1, nullptr, nullptr));
        self->FCorked = true;
    }

    const int32_t FTargetFrames;
    const int32_t FRequestFrames;
    PullFn FPull;
    std::vector<int16_t> FPeriod;  // main loop thread
    int64_t FPulledFrames = 0;     // main loop lock
    pa_threaded_mainloop* FMainloop = nullptr;
    pa_context* FContext = nullptr;
    pa_stream* FStream = nullptr;
    bool FRunning = false;        // main loop lock
    bool FPriorityTried = false;  // main loop thread
    // Main loop lock (the pull's Rest runs on the main loop's thread, inside a pull).
    bool FRestAsked = false;
    bool FCorked = false;
    int64_t FLastRequestNs = 0;
    pa_usec_t FPaceNextUs = 0;
    uint32_t FSinkIndex = PA_INVALID_INDEX;
    pa_time_event* FCheckTimer = nullptr;
    pa_time_event* FPaceTimer = nullptr;
    pa_time_event* FCorkTimer = nullptr;
    RestGate FGate;  // rests and is woken under the main loop lock
    // Written under the main loop lock, read anywhere.
    std::atomic<DeviceQuiet> FQuiet{DeviceQuiet::None};
    std::atomic<bool> FLost{false};
    std::atomic<uint64_t> FUnderruns{0};
    HeardDelay FDelay;
    DeviceClock FClock;
};

}  // namespace

std::unique_ptr<AudioBackend> MakePulseBackend(int32_t latencyMs) {
    return std::make_unique<PulseBackend>(latencyMs);
}

}  // namespace oggmix
