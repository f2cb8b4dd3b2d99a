// AudioBackend.cpp: picks a back end by name or the default, and keeps the last failure.
#include "sound/platform/AudioBackend.h"

#include <charconv>
#include <cstdlib>
#include <mutex>

#include "sound/platform/ManualAudio.h"

namespace oggmix {
namespace {

// Made on first use: a back end may open while the program's own globals are still being
// made (a global player), and must find this ready, and still there when that player goes.
struct LastError {
    std::mutex Mutex;
    std::string Text;  // guarded by Mutex
};

LastError& TheLastError() {
    static LastError error;
    return error;
}

}  // namespace

std::string AudioBackendName() {
    const char* value = std::getenv("OGGMIX_AUDIO");
    return (value == nullptr || *value == '\0') ? DefaultAudioBackendName() : std::string(value);
}

std::string LastAudioBackendError() {
    LastError& error = TheLastError();
    std::lock_guard guard(error.Mutex);
    return error.Text;
}

void SetLastAudioBackendError(std::string message) {
    LastError& error = TheLastError();
    std::lock_guard guard(error.Mutex);
    error.Text = std::move(message);
}

HRESULT AudioBackend::Fail(std::string why) {
    SetLastAudioBackendError(why);
    FError = std::move(why);
    return DSERR_NODRIVER;
}

void AudioBackend::Opened() {
    FError.clear();
    SetLastAudioBackendError({});
}

HRESULT CreateAudioBackend(std::string_view name, std::unique_ptr<AudioBackend>& Backend,
                           const BackendOptions& Options) {
    Backend.reset();
    const std::string defaultName = name.empty() ? DefaultAudioBackendName() : std::string();
    if (name.empty()) name = defaultName;
    if (name == "null") {
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
    if (!Backend) Backend = MakeSystemBackend(name, Options);
    if (!Backend) {
        SetLastAudioBackendError("unknown audio back end '" + std::string(name) + "' (" +
                                 SystemBackendNames() + "null, wav:PATH or manual)");
        return DSERR_NODRIVER;
    }
    return DS_OK;
}

}  // namespace oggmix
