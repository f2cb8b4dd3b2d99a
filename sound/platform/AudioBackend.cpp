// AudioBackend.cpp: picks the back end that OGGMIX_AUDIO names, and keeps the last failure.
#include "sound/platform/AudioBackend.h"

#include <charconv>
#include <cstdlib>
#include <mutex>

#include "sound/platform/ManualAudio.h"

namespace oggmix {
namespace {

std::mutex gErrorMutex;
std::string gLastError;  // guarded by gErrorMutex

}  // namespace

std::string AudioBackendName() {
    const char* value = std::getenv("OGGMIX_AUDIO");
    return (value == nullptr || *value == '\0') ? std::string("sdl") : std::string(value);
}

std::string LastAudioBackendError() {
    std::lock_guard guard(gErrorMutex);
    return gLastError;
}

void SetLastAudioBackendError(std::string message) {
    std::lock_guard guard(gErrorMutex);
    gLastError = std::move(message);
}

HRESULT CreateAudioBackend(std::string_view name, std::unique_ptr<AudioBackend>& Backend) {
    Backend.reset();
    if (name.empty() || name == "sdl") {
        Backend = MakeSdlBackend();
    } else if (name == "pulse") {
        Backend = MakePulseBackend();
    } else if (name == "null") {
        Backend = MakeNullBackend();
    } else if (name.starts_with("wav:") && name.size() > 4) {
        Backend = MakeWavBackend(std::string(name.substr(4)));
    } else if (name == "manual") {
        Backend = MakeManualBackend(ManualAudio::kDefaultPeriodFrames);
    } else if (name.starts_with("manual:")) {
        int32_t frames = 0;
        const std::string_view digits = name.substr(7);
        const auto [end, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), frames);
        if (ec == std::errc() && end == digits.data() + digits.size() && frames > 0)
            Backend = MakeManualBackend(frames);
    }
    if (!Backend) {
        SetLastAudioBackendError("unknown audio back end '" + std::string(name) +
                                 "' (sdl, pulse, null, wav:PATH or manual)");
        return DSERR_NODRIVER;
    }
    return DS_OK;
}

}  // namespace oggmix
