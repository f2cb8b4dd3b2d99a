// OggFixture.cpp: chained files, libvorbisfile reference decoding, raw Ogg packets.
#include "tests/support/OggFixture.h"

#include <vorbis/vorbisenc.h>
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace oggmix::test {
namespace {

void AppendPage(std::vector<uint8_t>& out, const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

struct MemoryReader {
    std::span<const uint8_t> bytes;
    size_t position = 0;
};

size_t ReadMemory(void* dest, size_t size, size_t count, void* source) {
    auto* reader = static_cast<MemoryReader*>(source);
    const size_t wanted = size * count;
    const size_t n = std::min(wanted, reader->bytes.size() - reader->position);
    if (n == 0) return 0;  // an empty span may have no data pointer at all
    std::memcpy(dest, reader->bytes.data() + reader->position, n);
    reader->position += n;
    return size == 0 ? 0 : n / size;
}

int SeekMemory(void* source, ogg_int64_t offset, int whence) {
    auto* reader = static_cast<MemoryReader*>(source);
    const int64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<int64_t>(reader->position)
                                              : static_cast<int64_t>(reader->bytes.size());
    const int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(reader->bytes.size())) return -1;
    reader->position = static_cast<size_t>(target);
    return 0;
}

long TellMemory(void* source) {
    return static_cast<long>(static_cast<MemoryReader*>(source)->position);
}

}  // namespace

std::vector<uint8_t> EncodeChain(const Pcm& first, const Pcm& second) {
    std::vector<uint8_t> bytes = EncodeOgg(first);
    EncodeOptions options;
    options.Serial = 2;
    const std::vector<uint8_t> tail = EncodeOgg(second, options);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

Decoded DecodeReference(std::span<const uint8_t> oggBytes) {
    MemoryReader reader{oggBytes};
    OggVorbis_File vf;
    const ov_callbacks callbacks{ReadMemory, SeekMemory, nullptr, TellMemory};
    if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) < 0)
        throw std::runtime_error("libvorbisfile cannot open the data");

    Decoded decoded;
    const vorbis_info* info = ov_info(&vf, -1);
    decoded.RateHz = static_cast<int32_t>(info->rate);
    decoded.Channels = info->channels;
    decoded.PcmTotal = ov_pcm_total(&vf, -1);
    decoded.TimeTotal = ov_time_total(&vf, -1);
    decoded.Seekable = ov_seekable(&vf) != 0;
    const vorbis_comment* comment = ov_comment(&vf, -1);
    decoded.Vendor = comment->vendor ? comment->vendor : "";
    for (int i = 0; i < comment->comments; ++i)
        decoded.Comments.emplace_back(comment->user_comments[i]);

    std::vector<char> buffer(4096);
    int section = 0;
    for (;;) {
        const long n =
            ov_read(&vf, buffer.data(), static_cast<int>(buffer.size()), 0, 2, 1, &section);
        if (n == OV_HOLE) continue;
        if (n <= 0) break;
        const auto* samples = reinterpret_cast<const int16_t*>(buffer.data());
        decoded.Samples.insert(decoded.Samples.end(), samples, samples + n / 2);
    }
    ov_clear(&vf);
    return decoded;
}

struct ReferenceReader::State {
    MemoryReader Reader;
    OggVorbis_File File{};
};

ReferenceReader::ReferenceReader(std::span<const uint8_t> oggBytes)
    : FState(std::make_unique<State>()) {
    FState->Reader.bytes = oggBytes;
    const ov_callbacks callbacks{ReadMemory, SeekMemory, nullptr, TellMemory};
    if (ov_open_callbacks(&FState->Reader, &FState->File, nullptr, 0, callbacks) < 0)
        throw std::runtime_error("libvorbisfile cannot open the data");
}

ReferenceReader::~ReferenceReader() { ov_clear(&FState->File); }

void ReferenceReader::SeekTime(double seconds) {
    if (ov_time_seek(&FState->File, seconds) != 0) throw std::runtime_error("ov_time_seek failed");
}

void ReferenceReader::SeekFrame(int64_t frame) {
    if (ov_pcm_seek(&FState->File, frame) != 0) throw std::runtime_error("ov_pcm_seek failed");
}

int64_t ReferenceReader::Tell() { return ov_pcm_tell(&FState->File); }

std::vector<int16_t> ReferenceReader::Read(int64_t frames) {
    const int channels = ov_info(&FState->File, -1)->channels;
    std::vector<int16_t> samples(static_cast<size_t>(frames * channels));
    size_t done = 0;
    int section = 0;
    while (done < samples.size()) {
        const auto wantBytes = static_cast<int>(std::min<size_t>(samples.size() - done, 2048) * 2);
        const long n = ov_read(&FState->File, reinterpret_cast<char*>(samples.data() + done),
                               wantBytes, 0, 2, 1, &section);
        if (n == OV_HOLE) continue;
        if (n <= 0) throw std::runtime_error("the data ended before the frames asked for");
        done += static_cast<size_t>(n) / 2;
    }
    return samples;
}

std::vector<uint8_t> OggOfPackets(const std::vector<std::vector<uint8_t>>& packets,
                                  int32_t serial) {
    // Each packet on a page of its own, its index as the granule position.
    std::vector<OggPacket> paged;
    for (size_t i = 0; i < packets.size(); ++i)
        paged.push_back({packets[i], static_cast<int64_t>(i)});
    return OggOfPagedPackets(paged, serial);
}

std::vector<OggPacket> PacketsOf(std::span<const uint8_t> oggBytes) {
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(oggBytes.size()));
    std::memcpy(buffer, oggBytes.data(), oggBytes.size());
    ogg_sync_wrote(&sync, static_cast<long>(oggBytes.size()));

    std::vector<OggPacket> packets;
    ogg_stream_state stream;
    bool streamOpen = false;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!streamOpen) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            streamOpen = true;
        }
        if (ogg_stream_pagein(&stream, &page) != 0) continue;  // another logical stream
        ogg_packet packet;
        while (ogg_stream_packetout(&stream, &packet) == 1)
            packets.push_back({std::vector<uint8_t>(packet.packet, packet.packet + packet.bytes),
                               packet.granulepos});
        if (ogg_page_eos(&page)) break;
    }
    if (streamOpen) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return packets;
}

std::vector<uint8_t> OggOfPagedPackets(const std::vector<OggPacket>& packets, int32_t serial) {
    ogg_stream_state stream;
    ogg_stream_init(&stream, serial);
    std::vector<uint8_t> out;
    ogg_page page;
    for (size_t i = 0; i < packets.size(); ++i) {
        ogg_packet packet{};
        packet.packet = const_cast<unsigned char*>(packets[i].Bytes.data());
        packet.bytes = static_cast<long>(packets[i].Bytes.size());
        packet.b_o_s = i == 0;
        packet.e_o_s = i + 1 == packets.size();
        packet.granulepos = packets[i].GranulePos;
        packet.packetno = static_cast<ogg_int64_t>(i);
        ogg_stream_packetin(&stream, &packet);
        // A page ends where a packet with a granule position ends, as in the file it came from.
        if (packets[i].GranulePos != -1)
            while (ogg_stream_flush(&stream, &page) != 0) AppendPage(out, page);
    }
    while (ogg_stream_flush(&stream, &page) != 0) AppendPage(out, page);
    ogg_stream_clear(&stream);
    return out;
}

std::vector<uint8_t> VorbisCommentPacket(const std::string& vendor,
                                         const std::vector<std::string>& comments) {
    std::vector<uint8_t> packet = {0x03, 'v', 'o', 'r', 'b', 'i', 's'};
    const auto appendLength = [&packet](size_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            packet.push_back(static_cast<uint8_t>(value >> shift));
    };
    const auto appendText = [&](const std::string& text) {
        appendLength(text.size());
        packet.insert(packet.end(), text.begin(), text.end());
    };
    appendText(vendor);
    appendLength(comments.size());
    for (const std::string& entry : comments) appendText(entry);
    packet.push_back(0x01);  // framing bit
    return packet;
}

}  // namespace oggmix::test
