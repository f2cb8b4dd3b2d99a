// AudioBackend_Pulse.cpp: the PulseAudio server through libpulse's threaded main loop. We
// ask the server for a latency (the target length) and small requests, write each request
// as it comes, and ask the server after each write how long the last written frame has until
// it is heard. A context or stream that fails (the server went away) marks the device lost.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/HeardDelay.h"
#include "sound/platform/RealtimePriority.h"

namespace oggmix {
namespace {

class PulseBackend final : public AudioBackend {
public:
    // A latency asked for is the server's target length, with requests of a quarter of it.
    explicit PulseBackend(int32_t latencyMs)
        : FTargetFrames(latencyMs > 0 ? static_cast<int32_t>(std::clamp<int64_t>(
                                            int64_t{latencyMs} * kDeviceFramesPerSecond / 1000, 4,
                                            kMaxTargetFrames))
                                      : kDefaultTargetFrames),
          FRequestFrames(latencyMs > 0 ? FTargetFrames / 4 : kDefaultRequestFrames) {}
    ~PulseBackend() override { Close(); }

    HRESULT Open(PullFn pull) override {
        FPull = std::move(pull);
        FPeriod.assign(static_cast<size_t>(FRequestFrames) * kDeviceChannels, 0);
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
        // The server asks again only once it has played something; start it off now.
        Write(FStream, pa_stream_writable_size(FStream));
        pa_threaded_mainloop_unlock(FMainloop);
    }
    void Stop() override {
        if (FStream == nullptr) return;
        // Requests are answered with the main loop's lock held: none runs once this returns.
        pa_threaded_mainloop_lock(FMainloop);
        FRunning = false;
        pa_threaded_mainloop_unlock(FMainloop);
    }
    void Close() override {
        if (FMainloop == nullptr) return;
        pa_threaded_mainloop_lock(FMainloop);
        FRunning = false;
        if (FStream != nullptr) {
            pa_stream_set_write_callback(FStream, nullptr, nullptr);
            pa_stream_set_underflow_callback(FStream, nullptr, nullptr);
            pa_stream_set_state_callback(FStream, nullptr, nullptr);
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

private:
    // 100 ms held by the server keeps it fed with both cores busy (80 ms did not always);
    // requests of 10 ms keep it topped up.
    static constexpr int32_t kDefaultTargetFrames = 4410;
    static constexpr int32_t kDefaultRequestFrames = 441;
    static constexpr int32_t kMaxTargetFrames = 10 * kDeviceFramesPerSecond;

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
        return {};
    }

    // Main loop thread, locked.
    void Write(pa_stream* stream, size_t bytes) {
        if (!FRunning) return;
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
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->FLost.store(true, std::memory_order_relaxed);
        pa_threaded_mainloop_signal(self->FMainloop, 0);
    }
    static void Underflow(pa_stream*, void* userdata) {
        static_cast<PulseBackend*>(userdata)->FUnderruns.fetch_add(1, std::memory_order_relaxed);
    }
    static void StreamState(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseBackend*>(userdata);
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->FLost.store(true, std::memory_order_relaxed);
        pa_threaded_mainloop_signal(self->FMainloop, 0);
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
