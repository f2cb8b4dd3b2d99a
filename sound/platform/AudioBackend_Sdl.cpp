// AudioBackend_Sdl.cpp: the real sound device through SDL2's audio callback (audio subsystem
// only). SDL converts to the device's own format when it differs from ours. SDL cannot say
// how much of the sound it has not played yet: after each callback the period just pulled is
// in SDL's buffer and about one more period in the server's (SDL asks the server for a
// latency of one period), and that drains in real time until the next callback.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <bit>

#include "sound/platform/AudioBackend.h"
#include "sound/platform/DeviceClock.h"
#include "sound/platform/HeardDelay.h"

namespace oggmix {
namespace {

class SdlBackend final : public AudioBackend {
public:
    explicit SdlBackend(int32_t latencyMs) : FWantedPeriodFrames(PeriodForLatency(latencyMs)) {}
    ~SdlBackend() override { Close(); }

    HRESULT Open(PullFn pull) override {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return Fail(std::string("SDL audio: ") + SDL_GetError());
        FPull = std::move(pull);
        SDL_AudioSpec want{};
        want.freq = kDeviceFramesPerSecond;
        want.format = AUDIO_S16SYS;
        want.channels = kDeviceChannels;
        want.samples = static_cast<Uint16>(FWantedPeriodFrames);
        want.callback = &SdlBackend::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        FDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (FDevice == 0) {
            const std::string why = std::string("SDL audio: ") + SDL_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return Fail(why);
        }
        FPeriodFrames = have.samples;
        FDelay.Reset();
        FPulledFrames = 0;
        FClock.Reset();
        Opened();
        return DS_OK;
    }
    void Start() override {
        if (FDevice == 0) return;
        SDL_PauseAudioDevice(FDevice, 0);
        FStarted.store(true, std::memory_order_relaxed);
    }
    void Stop() override {
        // Pausing takes SDL's device lock, so no callback runs once it returns.
        if (FDevice == 0) return;
        FStarted.store(false, std::memory_order_relaxed);
        SDL_PauseAudioDevice(FDevice, 1);
    }
    void Close() override {
        if (FDevice == 0) return;
        SDL_CloseAudioDevice(FDevice);
        FDevice = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    int32_t PeriodFrames() const noexcept override { return FPeriodFrames; }
    int32_t DelayFrames() const noexcept override { return FDelay.Now(); }
    int64_t HeardFrames() const noexcept override { return FClock.HeardFrames(); }
    std::string Name() const override { return "sdl"; }
    // SDL stops a device that went away (its device-removed event) and reports it stopped.
    bool Lost() const noexcept override {
        return FStarted.load(std::memory_order_relaxed) && FDevice != 0 &&
               SDL_GetAudioDeviceStatus(FDevice) == SDL_AUDIO_STOPPED;
    }

private:
    // 46 ms: enough for a loaded machine to keep the server fed (see bench/RESULTS.md), and
    // small enough that the heard position lags the ring's refill by well under a block.
    static constexpr int32_t kDefaultPeriodFrames = 2048;

    // SDL wants a power of two: the one nearest the latency asked for (by ratio).
    static int32_t PeriodForLatency(int32_t latencyMs) {
        if (latencyMs <= 0) return kDefaultPeriodFrames;
        const auto frames = static_cast<uint32_t>(
            std::clamp<int64_t>(int64_t{latencyMs} * kDeviceFramesPerSecond / 1000, 64, 16384));
        const uint32_t below = std::bit_floor(frames);
        return static_cast<int32_t>(frames - below < below / 2 ? below : 2 * below);
    }

    static void SDLCALL Callback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<SdlBackend*>(userdata);
        self->FPull(std::span<int16_t>(reinterpret_cast<int16_t*>(stream),
                                       static_cast<size_t>(len) / sizeof(int16_t)));
        self->FDelay.Record(2 * self->FPeriodFrames);
        self->FPulledFrames += len / kDeviceBytesPerFrame;
        self->FClock.Record(self->FPulledFrames, 2 * self->FPeriodFrames);
    }

    const int32_t FWantedPeriodFrames;
    PullFn FPull;
    SDL_AudioDeviceID FDevice = 0;
    int32_t FPeriodFrames = FWantedPeriodFrames;
    int64_t FPulledFrames = 0;  // SDL's audio thread while running
    std::atomic<bool> FStarted{false};
    HeardDelay FDelay;
    DeviceClock FClock;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeSdlBackend(int32_t latencyMs) {
    return std::make_unique<SdlBackend>(latencyMs);
}

}  // namespace oggmix
