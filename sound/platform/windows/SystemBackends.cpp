// SystemBackends.cpp: Windows' device back end, WASAPI's shared mode.
#include "sound/platform/AudioBackend.h"

namespace oggmix {

std::string DefaultAudioBackendName() { return "wasapi"; }

std::unique_ptr<AudioBackend> MakeSystemBackend(std::string_view name,
                                                const BackendOptions& Options) {
    if (name == "wasapi") return MakeWasapiBackend(Options.LatencyMs);
    return nullptr;
}

const char* SystemBackendNames() { return "wasapi, "; }

}  // namespace oggmix
