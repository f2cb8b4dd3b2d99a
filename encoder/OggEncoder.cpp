// OggEncoder.cpp: libvorbisenc's analysis loop, page by page into memory.
#include "encoder/OggEncoder.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <stdexcept>

namespace oggmix {
namespace {

void AppendPage(std::vector<uint8_t>& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

// Owns the libvorbis encoder state for one file.
class Encoder {
public:
    Encoder(const Pcm& pcm, const EncodeOptions& options) : FPagePerPacket(options.PagePerPacket) {
        vorbis_info_init(&FInfo);
        if (vorbis_encode_init_vbr(&FInfo, pcm.Channels, pcm.RateHz, options.Quality) != 0) {
            vorbis_info_clear(&FInfo);
            throw std::runtime_error("libvorbisenc refused the format");
        }
        vorbis_comment_init(&FComment);
        for (const std::string& entry : options.Comments)
            vorbis_comment_add(&FComment, entry.c_str());
        vorbis_analysis_init(&FDsp, &FInfo);
        vorbis_block_init(&FDsp, &FBlock);
        ogg_stream_init(&FStream, options.Serial);
    }
    ~Encoder() {
        ogg_stream_clear(&FStream);
        vorbis_block_clear(&FBlock);
        vorbis_dsp_clear(&FDsp);
        vorbis_comment_clear(&FComment);
        vorbis_info_clear(&FInfo);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    std::vector<uint8_t> Run(const Pcm& pcm) {
        std::vector<uint8_t> out;
        ogg_packet header, comment, code;
        vorbis_analysis_headerout(&FDsp, &FComment, &header, &comment, &code);
        ogg_stream_packetin(&FStream, &header);
        ogg_stream_packetin(&FStream, &comment);
        ogg_stream_packetin(&FStream, &code);
        ogg_page page;
        while (ogg_stream_flush(&FStream, &page) != 0) AppendPage(out, page);

        constexpr int64_t kPieceFrames = 1024;
        const int64_t frames = pcm.Frames();
        for (int64_t first = 0; first < frames; first += kPieceFrames) {
            const int64_t count = std::min(kPieceFrames, frames - first);
            float** buffer = vorbis_analysis_buffer(&FDsp, static_cast<int>(count));
            for (int64_t i = 0; i < count; ++i)
                for (int32_t ch = 0; ch < pcm.Channels; ++ch)
                    buffer[ch][i] = pcm.Samples[(first + i) * pcm.Channels + ch] / 32768.0f;
            vorbis_analysis_wrote(&FDsp, static_cast<int>(count));
            Drain(out);
        }
        vorbis_analysis_wrote(&FDsp, 0);
        Drain(out);
        while (ogg_stream_flush(&FStream, &page) != 0) AppendPage(out, page);
        return out;
    }

private:
    void Drain(std::vector<uint8_t>& out) {
        ogg_packet packet;
        ogg_page page;
        while (vorbis_analysis_blockout(&FDsp, &FBlock) == 1) {
            vorbis_analysis(&FBlock, nullptr);
            vorbis_bitrate_addblock(&FBlock);
            while (vorbis_bitrate_flushpacket(&FDsp, &packet) != 0) {
                ogg_stream_packetin(&FStream, &packet);
                if (FPagePerPacket)
                    while (ogg_stream_flush(&FStream, &page) != 0) AppendPage(out, page);
                else
                    while (ogg_stream_pageout(&FStream, &page) != 0) AppendPage(out, page);
            }
        }
    }

    bool FPagePerPacket;
    vorbis_info FInfo{};
    vorbis_comment FComment{};
    vorbis_dsp_state FDsp{};
    vorbis_block FBlock{};
    ogg_stream_state FStream{};
};

}  // namespace

std::vector<uint8_t> EncodeOgg(const Pcm& pcm, const EncodeOptions& options) {
    Encoder encoder(pcm, options);
    return encoder.Run(pcm);
}

}  // namespace oggmix
