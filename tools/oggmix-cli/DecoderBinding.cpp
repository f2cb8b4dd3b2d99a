// DecoderBinding.cpp: the decoding library beside the executable.
#include "tools/oggmix-cli/DecoderBinding.h"

#include <cstdio>
#include <filesystem>

#include "base/Exceptions.h"
#include "decoder/OggWuvorbisLib.h"

namespace oggmix::cli {

std::string ExecutableDir() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

bool BindDecoder() {
    const std::string path = ExecutableDir() + "/libwuvorbis.so";
    try {
        if (LoadVorbisFileDLL(path)) return true;
        std::fprintf(stderr, "oggmix-cli: %s: not a usable decoding library (an entry point is missing)\n",
                     VorbisFileDLL->DLLName().c_str());
    } catch (const Exception& e) {
        std::fprintf(stderr, "oggmix-cli: %s\n", e.what());
    }
    return false;
}

}  // namespace oggmix::cli
