// StreamFiles.cpp: binding the decoder and loading files for the subcommands.
#include "tools/oggmix-cli/StreamFiles.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "base/Exceptions.h"
#include "base/PcmFormat.h"
#include "base/Utf8Path.h"
#include "base/platform/Platform.h"
#include "decoder/OggWuvorbisLib.h"
#include "stream/SourceFormat.h"

namespace oggmix::cli {

std::string DecoderPathBesideExecutable() {
    const std::string folder = platform::ProgramFolder();
    const std::string name = platform::SharedLibraryName("wuvorbis");
    return folder.empty() ? name : folder + "/" + name;
}

bool BindDecoderBesideExecutable() {
    const std::string path = DecoderPathBesideExecutable();
    try {
        if (LoadVorbisFileDLL(path)) return true;
        std::fprintf(stderr, "oggmix-cli: %s: an entry point is missing\n", path.c_str());
    } catch (const Exception& e) {
        std::fprintf(stderr, "oggmix-cli: %s\n", e.what());
    }
    return false;
}

const char* WhyNotLoaded(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(PathFromUtf8(path), error) ? "is a directory"
                                                                    : "no such file";
}

std::vector<std::unique_ptr<TOggData>> LoadStreamFiles(const std::vector<std::string>& paths,
                                                       int32_t bufferBytes, bool resample) {
    std::vector<std::unique_ptr<TOggData>> streams;
    bool allLoaded = true;
    for (const std::string& path : paths) {
        auto stream = std::make_unique<TOggData>(bufferBytes);
        if (!LoadStreamFile(*stream, path, resample)) {
            allLoaded = false;
            continue;
        }
        streams.push_back(std::move(stream));
    }
    if (!allLoaded) streams.clear();
    return streams;
}

std::string SilenceReason(const TOggData& stream) {
    if (stream.Renders()) return {};
    return FormatProblem(stream.Rate(), stream.Channels()) +
           (PlaysConverted(stream.Rate(), stream.Channels()) ? "; --resample converts it"
                                                             : "; no conversion plays it");
}

bool LoadStreamFile(TOggData& stream, const std::string& path, bool resample) {
    try {
        stream.SetConversion(resample);
        if (stream.LoadFromFile(path)) {
            const std::string reason = SilenceReason(stream);
            if (reason.empty()) return true;
            std::fprintf(stderr, "oggmix-cli: %s: would play silence: %s\n", path.c_str(),
                         reason.c_str());
            stream.Close();
            return false;
        }
        std::fprintf(stderr, "oggmix-cli: %s: %s\n", path.c_str(), WhyNotLoaded(path));
    } catch (const Exception& e) {
        std::fprintf(stderr, "oggmix-cli: %s: %s\n", path.c_str(), e.what());
    }
    return false;
}

int64_t OutputFrames(const TOggData& stream) noexcept {
    if (stream.Rate() == kFramesPerSecond) return stream.PcmTotal();
    if (stream.Rate() == kFramesPerSecond / 2) return 2 * stream.PcmTotal();
    // Converted: every source frame's share of output, the last one rounded up.
    if (stream.Rate() > 0 && stream.PcmTotal() > 0)
        return (stream.PcmTotal() * kFramesPerSecond + stream.Rate() - 1) / stream.Rate();
    return std::llround(static_cast<double>(stream.TotalTime()) * kFramesPerSecond);
}

}  // namespace oggmix::cli
