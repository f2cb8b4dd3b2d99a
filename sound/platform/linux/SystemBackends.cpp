// SystemBackends.cpp: Linux's device back ends, PulseAudio's server and SDL's device.
#include "sound/platform/AudioBackend.h"

namespace oggmix {

std::string DefaultAudioBackendName() {
    constexpr int32_t kAnswerTimeoutMs = 1000;
    return PulseServerAnswers(kAnswerTimeoutMs) ? "pulse" : "sdl";
}

std::unique_ptr<AudioBackend> MakeSystemBackend(std::string_view name,
                                                const BackendOptions& Options) {
    if (name == "sdl") return MakeSdlBackend(Options.LatencyMs);
    if (name == "pulse") return MakePulseBackend(Options.LatencyMs);
    return nullptr;
}

const char* SystemBackendNames() { return "sdl, pulse, "; }

}  // namespace oggmix
