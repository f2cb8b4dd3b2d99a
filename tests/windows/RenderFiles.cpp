// RenderFiles.cpp: writes the Ogg Vorbis files that scripts/check-windows-render renders on
// both systems, made here with the Linux build's encoder so that both read the same bytes:
// rates, channel counts and kinds of material a game ships, loop tags, and the README plan's
// two tracks.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/OggFixture.h"
#include "tests/support/Signals.h"

namespace {

struct FileSpec {
    const char* Name;
    oggmix::Pcm Pcm;
    std::vector<std::string> Comments;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace oggmix::test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::vector<FileSpec> files = {
        {"music-44k-stereo.ogg", Music(44100, 2, 6.0, 1), {}},
        {"music-44k-mono.ogg", Music(44100, 1, 4.0, 2), {}},
        {"sine-44k-stereo.ogg", Sine(44100, 2, 3.0, 440.0, 0.9), {}},
        {"noise-44k-stereo.ogg", Noise(44100, 2, 2.5, 7, 0.7), {}},
        {"ramp-44k-mono.ogg", Ramp(44100, 1, 2.0, 0.01), {}},
        {"loop-44k-stereo.ogg",
         Music(44100, 2, 4.0, 3),
         {"LOOPSTART=22050", "LOOPLENGTH=88200", "TITLE=ループ"}},
        {"explore.ogg", Music(44100, 2, 8.0, 11), {}},
        {"combat.ogg", Music(44100, 2, 8.0, 12), {}},
        {"music-22k-stereo.ogg", Music(22050, 2, 3.0, 4), {}},
        {"music-48k-stereo.ogg", Music(48000, 2, 3.0, 5), {}},
    };
    for (const FileSpec& file : files) {
        EncodeOptions options;
        options.Comments = file.Comments;
        const std::vector<uint8_t> bytes = EncodeOgg(file.Pcm, options);
        std::ofstream out(std::string(argv[1]) + "/" + file.Name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], file.Name);
            return 1;
        }
    }
    return 0;
}
