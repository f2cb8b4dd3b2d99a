// main.cpp: oggmix-demo-gen OUT.ogg: synthesises the demo piece and writes it as Ogg Vorbis.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "encoder/OggEncoder.h"
#include "tools/demo/DemoSong.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: oggmix-demo-gen OUT.ogg\n");
        return 2;
    }
    try {
        oggmix::EncodeOptions options;
        options.Quality = 0.4f;
        options.Comments = oggmix::demo::DemoComments();
        const auto bytes = oggmix::EncodeOgg(oggmix::demo::SynthesiseDemo(), options);
        // Written beside the target and renamed, so a failed run never leaves half a file
        // that the build would take for finished.
        const std::string partial = std::string(argv[1]) + ".partial";
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "oggmix-demo-gen: cannot write %s\n", partial.c_str());
            return 1;
        }
        std::filesystem::rename(partial, argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "oggmix-demo-gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
