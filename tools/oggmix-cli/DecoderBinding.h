#pragma once
// DecoderBinding.h: binds libwuvorbis.so from the folder of the oggmix-cli executable, as the
// test application binds it from its own, for every subcommand that decodes.
// Threads: the main thread, before any stream is created. Errors: printed to stderr.

#include <string>

namespace oggmix::cli {

// The folder that holds the running executable.
[[nodiscard]] std::string ExecutableDir();

// Loads ExecutableDir()/libwuvorbis.so into VorbisFileDLL. On failure prints
// "oggmix-cli: <message>" to stderr and returns false.
[[nodiscard]] bool BindDecoder();

}  // namespace oggmix::cli
