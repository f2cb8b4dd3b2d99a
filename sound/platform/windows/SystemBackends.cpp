// SystemBackends.cpp: Windows' device back ends. None is built yet: a player that asks for the
// device is told "unknown audio back end 'wasapi'"; null, wav: and offline work.
#include "sound/platform/AudioBackend.h"

namespace oggmix {

std::string DefaultAudioBackendName() { return "wasapi"; }

std::unique_ptr<AudioBackend> MakeSystemBackend(std::string_view, const BackendOptions&) {
    return nullptr;
}

const char* SystemBackendNames() { return ""; }

}  // namespace oggmix
