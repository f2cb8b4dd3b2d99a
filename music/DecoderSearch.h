#pragma once
// DecoderSearch.h: where the player looks for the decoding library (libwuvorbis.so).
// Threads: any. Memory: allocates. Errors: MusicError (NoDecoder) listing every place tried.
#include <string>
#include <vector>

namespace oggmix::music {

// The places to try, in order: Explicit alone when given; otherwise beside the program,
// beside the module holding this code (and its ../bin), and the installed program folder.
[[nodiscard]] std::vector<std::string> DecoderCandidates(const std::string& Explicit);
// The first candidate that exists as a file.
[[nodiscard]] std::string FindDecoder(const std::string& Explicit);

}  // namespace oggmix::music
