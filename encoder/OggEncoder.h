#pragma once
// OggEncoder.h: Ogg Vorbis files made from PCM with libvorbisenc, with any list of comments.
// The demo file is made this way at build time, and the tests make their files with it.
// The same PCM and options give the same bytes on every run.
// Threads: any; no shared state. Memory: allocates. Errors: std::runtime_error when
// libvorbisenc refuses the rate or channel count.

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/Pcm.h"

namespace oggmix {

struct EncodeOptions {
    float Quality = 0.3f;               // libvorbisenc VBR quality, -0.1 .. 1.0
    std::vector<std::string> Comments;  // "NAME=value" entries, in order, bytes as given
    int32_t Serial = 1;                 // Ogg stream serial number
    bool PagePerPacket = false;         // every packet ends a page, so each has its granule
};

[[nodiscard]] std::vector<uint8_t> EncodeOgg(const Pcm& pcm, const EncodeOptions& options = {});

}  // namespace oggmix
