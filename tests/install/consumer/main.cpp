// consumer: loads the installed demo file through an installed oggmix and prints what it found.
#include <cstdio>
#include <filesystem>

#include "base/Exceptions.h"
#include "decoder/OggWuvorbisLib.h"
#include "stream/OggDataLib.h"

int main() {
    const auto folder = std::filesystem::canonical("/proc/self/exe").parent_path();
    try {
        if (!oggmix::LoadVorbisFileDLL((folder / "libwuvorbis.so").string())) return 1;
        oggmix::TOggData music(65536);
        if (!music.LoadFromFile(DEMO_FILE)) return 1;
        const oggmix::TLoopCue& cue = music.Cues()[0];
        std::printf("demo.ogg: %d channels, %d Hz, cue 0 from %g s to %g s\n", music.Channels(),
                    music.Rate(), cue.LoopStart, cue.LoopEnd);
    } catch (const oggmix::Exception& e) {
        std::fprintf(stderr, "consumer: %s\n", e.what());
        return 1;
    }
    return 0;
}
