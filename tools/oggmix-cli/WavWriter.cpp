// WavWriter.cpp: the canonical WAV header and the sample data after it.
#include "tools/oggmix-cli/WavWriter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/Exceptions.h"
#include "base/PcmFormat.h"
#include "base/platform/Platform.h"

namespace oggmix::cli {
namespace {

constexpr int32_t kHeaderBytes = 44;
// Samples go to the file as they lie in memory; WAV is little-endian.
static_assert(std::endian::native == std::endian::little);

void PutU32(std::array<uint8_t, kHeaderBytes>& header, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutU16(std::array<uint8_t, kHeaderBytes>& header, size_t at, uint16_t value) {
    header[at] = static_cast<uint8_t>(value);
    header[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutTag(std::array<uint8_t, kHeaderBytes>& header, size_t at, const char (&tag)[5]) {
    for (size_t i = 0; i < 4; ++i) header[at + i] = static_cast<uint8_t>(tag[i]);
}

}  // namespace

WavWriter::WavWriter(const std::string& path, int64_t plannedFrames)
    : FFile(platform::OpenFile(path, "wb")) {
    if (!FFile) throw EInOutError(path + ": cannot create (" + std::strerror(errno) + ")");
    if (!WriteHeader(std::clamp<int64_t>(plannedFrames, 0, kMaxFrames)))
        throw EInOutError(path + ": cannot write");
}

bool WavWriter::WriteHeader(int64_t frames) {
    const auto dataBytes = static_cast<uint32_t>(frames * kBytesPerFrame);
    std::array<uint8_t, kHeaderBytes> header{};
    PutTag(header, 0, "RIFF");
    PutU32(header, 4, 36 + dataBytes);
    PutTag(header, 8, "WAVE");
    PutTag(header, 12, "fmt ");
    PutU32(header, 16, 16);
    PutU16(header, 20, 1);  // PCM
    PutU16(header, 22, kChannelsPerFrame);
    PutU32(header, 24, kFramesPerSecond);
    PutU32(header, 28, kBytesPerSecond);
    PutU16(header, 32, kBytesPerFrame);
    PutU16(header, 34, kBitsPerSample);
    PutTag(header, 36, "data");
    PutU32(header, 40, dataBytes);
    return std::fwrite(header.data(), 1, header.size(), FFile.get()) == header.size();
}

bool WavWriter::Write(std::span<const int16_t> samples) {
    const int64_t frames = static_cast<int64_t>(samples.size()) / kChannelsPerFrame;
    if (!FFile || FFrames + frames > kMaxFrames) return false;
    if (std::fwrite(samples.data(), sizeof(int16_t), samples.size(), FFile.get()) != samples.size())
        return false;
    FFrames += frames;
    return true;
}

bool WavWriter::Finish() {
    if (!FFile) return false;
    bool ok = std::fflush(FFile.get()) == 0;
    if (std::fseek(FFile.get(), 0, SEEK_SET) == 0)
        ok = WriteHeader(FFrames) && ok;
    else
        ok = errno == ESPIPE && ok;  // a pipe or FIFO: the planned sizes stand
    return std::fclose(FFile.release()) == 0 && ok;
}

}  // namespace oggmix::cli
