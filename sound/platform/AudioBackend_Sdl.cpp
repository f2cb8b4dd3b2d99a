// AudioBackend_Sdl.cpp: the real sound device through SDL2's audio callback (audio subsystem
// only). SDL converts to the device's own format when it differs from ours.
#include <SDL.h>

#include "sound/platform/AudioBackend.h"

namespace oggmix {
namespace {

class SdlBackend final : public AudioBackend {
public:
    ~SdlBackend() override { Close(); }

    HRESULT Open(PullFn pull) override {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            SetLastAudioBackendError(std::string("SDL audio: ") + SDL_GetError());
            return DSERR_NODRIVER;
        }
        FPull = std::move(pull);
        SDL_AudioSpec want{};
        want.freq = kDeviceFramesPerSecond;
        want.format = AUDIO_S16SYS;
        want.channels = kDeviceChannels;
        want.samples = kWantedPeriodFrames;
        want.callback = &SdlBackend::Callback;
        want.userdata = this;
        SDL_AudioSpec have{};
        FDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (FDevice == 0) {
            SetLastAudioBackendError(std::string("SDL audio: ") + SDL_GetError());
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return DSERR_NODRIVER;
        }
        FPeriodFrames = have.samples;
        SetLastAudioBackendError({});
        return DS_OK;
    }
    void Start() override {
        if (FDevice != 0) SDL_PauseAudioDevice(FDevice, 0);
    }
    void Stop() override {
        // Pausing takes SDL's device lock, so no callback runs once it returns.
        if (FDevice != 0) SDL_PauseAudioDevice(FDevice, 1);
    }
    void Close() override {
        if (FDevice == 0) return;
        SDL_CloseAudioDevice(FDevice);
        FDevice = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    int32_t PeriodFrames() const noexcept override { return FPeriodFrames; }

private:
    static constexpr int kWantedPeriodFrames = 1024;

    static void SDLCALL Callback(void* userdata, Uint8* stream, int len) {
        auto* self = static_cast<SdlBackend*>(userdata);
        self->FPull(std::span<int16_t>(reinterpret_cast<int16_t*>(stream),
                                       static_cast<size_t>(len) / sizeof(int16_t)));
    }

    PullFn FPull;
    SDL_AudioDeviceID FDevice = 0;
    int32_t FPeriodFrames = kWantedPeriodFrames;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeSdlBackend() { return std::make_unique<SdlBackend>(); }

}  // namespace oggmix
