#pragma once
// OggFixture.h: Ogg Vorbis files made at test time. EncodeOgg (encoder/OggEncoder.h) encodes
// synthesised PCM with libvorbisenc and any list of comments; DecodeReference decodes with
// plain libvorbisfile, the reference that the stream engine's output is checked against
// (Vorbis is lossy, so never check against the synthesised PCM). OggOfPackets wraps
// arbitrary packets in Ogg pages, for streams that are Ogg but not Vorbis.
// Threads: any. Memory: allocates. Errors: std::runtime_error.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "encoder/OggEncoder.h"
#include "tests/support/Signals.h"

namespace oggmix::test {

using oggmix::EncodeOgg;
using oggmix::EncodeOptions;

// A chained file: first's encode followed by second's, the second link with serial 2.
[[nodiscard]] std::vector<uint8_t> EncodeChain(const Pcm& first, const Pcm& second);

struct Decoded {
    int32_t RateHz = 0;
    int32_t Channels = 0;
    int64_t PcmTotal = 0;    // samples per channel (ov_pcm_total of the whole file)
    double TimeTotal = 0.0;  // seconds (ov_time_total)
    bool Seekable = false;
    std::string Vendor;
    std::vector<std::string> Comments;
    std::vector<int16_t> Samples;  // interleaved, as ov_read(…, 0, 2, 1) gives them
};

// Decodes the whole file with libvorbisfile directly. Throws when it cannot be opened.
[[nodiscard]] Decoded DecodeReference(std::span<const uint8_t> oggBytes);

// libvorbisfile over the bytes, for the reference of a stretch of a file too long to decode
// whole. The bytes must outlive the reader. Throws when a call fails.
class ReferenceReader {
public:
    explicit ReferenceReader(std::span<const uint8_t> oggBytes);
    ~ReferenceReader();
    ReferenceReader(const ReferenceReader&) = delete;
    ReferenceReader& operator=(const ReferenceReader&) = delete;

    void SeekTime(double seconds);  // ov_time_seek
    void SeekFrame(int64_t frame);  // ov_pcm_seek
    [[nodiscard]] int64_t Tell();   // ov_pcm_tell
    // The next frames, interleaved, as ov_read(…, 0, 2, 1) gives them.
    [[nodiscard]] std::vector<int16_t> Read(int64_t frames);

private:
    struct State;
    std::unique_ptr<State> FState;
};

// One logical Ogg stream holding the packets in order (first packet BOS, last EOS).
[[nodiscard]] std::vector<uint8_t> OggOfPackets(const std::vector<std::vector<uint8_t>>& packets,
                                                int32_t serial = 7);

// A packet of an Ogg stream with the granule position of its page (-1 when no page ends in it).
struct OggPacket {
    std::vector<uint8_t> Bytes;
    int64_t GranulePos = -1;
};

// The packets of the first logical stream in oggBytes, in order; stops at damage or the end.
[[nodiscard]] std::vector<OggPacket> PacketsOf(std::span<const uint8_t> oggBytes);

// Pages packets again: a page ends after every packet that has a granule position, so the
// packets of PacketsOf come out on the pages they came from. For files rebuilt with some
// packet changed.
[[nodiscard]] std::vector<uint8_t> OggOfPagedPackets(const std::vector<OggPacket>& packets,
                                                     int32_t serial = 1);

// A Vorbis comment header packet with these vendor and "NAME=value" entries, bytes as given.
[[nodiscard]] std::vector<uint8_t> VorbisCommentPacket(const std::string& vendor,
                                                       const std::vector<std::string>& comments);

}  // namespace oggmix::test
