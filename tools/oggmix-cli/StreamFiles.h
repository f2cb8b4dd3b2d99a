#pragma once
// StreamFiles.h: what the subcommands need before they can play files: the decoding library
// bound from oggmix-cli's own folder, and music files loaded into streams, with failures
// reported on stderr as "oggmix-cli: <path>: <reason>".
// Threads: the main thread. Memory: allocates.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stream/OggDataLib.h"

namespace oggmix::cli {

// The full path of libwuvorbis.so beside the executable.
[[nodiscard]] std::string DecoderPathBesideExecutable();
// Binds libwuvorbis.so beside the executable. On failure prints the reason and returns false.
[[nodiscard]] bool BindDecoderBesideExecutable();

// Why the loaded stream would render silence with its conversion setting ("48000 Hz;
// --resample converts it"), or an empty string when it renders music.
[[nodiscard]] std::string SilenceReason(const TOggData& stream);

// Why LoadFromFile found nothing to load at path: "is a directory" or "no such file".
[[nodiscard]] const char* WhyNotLoaded(const std::string& path);

// Loads path into stream, with the conversion on when resample. A file that cannot be loaded
// or would render silence is reported and refused: false.
[[nodiscard]] bool LoadStreamFile(TOggData& stream, const std::string& path, bool resample);

// Loads each path into its own stream of bufferBytes. Every failure is reported; the result
// is empty when any file failed.
[[nodiscard]] std::vector<std::unique_ptr<TOggData>> LoadStreamFiles(
    const std::vector<std::string>& paths, int32_t bufferBytes, bool resample);

// The length of a loaded stream in output frames (44100 Hz).
[[nodiscard]] int64_t OutputFrames(const TOggData& stream) noexcept;

}  // namespace oggmix::cli
