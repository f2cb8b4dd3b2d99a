// AudioBackend_Wav.cpp: plays into a WAV file, in real time: the file holds what a listener
// would have heard. The header's sizes are written when the back end closes.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/FileCloser.h"
#include "base/platform/Platform.h"
#include "sound/platform/AudioBackend.h"
#include "sound/platform/RealtimePump.h"

namespace oggmix {
namespace {

void PutLE32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
void PutLE16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

// The canonical 44-byte header of 16-bit stereo PCM at the device rate.
std::array<uint8_t, 44> WavHeader(uint32_t dataBytes) {
    std::array<uint8_t, 44> header{};
    std::memcpy(header.data(), "RIFF", 4);
    PutLE32(header.data() + 4, 36 + dataBytes);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    PutLE32(header.data() + 16, 16);
    PutLE16(header.data() + 20, WAVE_FORMAT_PCM);
    PutLE16(header.data() + 22, kDeviceChannels);
    PutLE32(header.data() + 24, kDeviceFramesPerSecond);
    PutLE32(header.data() + 28, kDeviceFramesPerSecond * kDeviceBytesPerFrame);
    PutLE16(header.data() + 32, kDeviceBytesPerFrame);
    PutLE16(header.data() + 34, 16);
    std::memcpy(header.data() + 36, "data", 4);
    PutLE32(header.data() + 40, dataBytes);
    return header;
}

class WavBackend final : public AudioBackend {
public:
    explicit WavBackend(std::string path) : FPath(std::move(path)) {}
    ~WavBackend() override { Close(); }

    HRESULT Open(PullFn pull) override {
        FFile.reset(platform::OpenFile(FPath, "wb"));
        const auto header = WavHeader(0);
        if (!FFile || std::fwrite(header.data(), 1, header.size(), FFile.get()) != header.size()) {
            const std::string why = std::strerror(errno);
            FFile.reset();
            return Fail("cannot write " + FPath + ": " + why);
        }
        FPull = std::move(pull);
        FDataBytes = 0;
        FPump.ResetClock();
        Opened();
        return DS_OK;
    }
    void Start() override {
        FPump.Start(FPull, [this](std::span<const int16_t> frames) { Write(frames); });
    }
    void Stop() override { FPump.Stop(); }
    void Close() override {
        FPump.Stop();
        if (!FFile) return;
        const auto header = WavHeader(FDataBytes);
        if (std::fseek(FFile.get(), 0, SEEK_SET) == 0)
            std::fwrite(header.data(), 1, header.size(), FFile.get());
        FFile.reset();
    }
    int32_t PeriodFrames() const noexcept override { return RealtimePump::kPeriodFrames; }
    int64_t HeardFrames() const noexcept override { return FPump.HeardFrames(); }
    std::string Name() const override { return "wav"; }

private:
    void Write(std::span<const int16_t> frames) {
        const size_t bytes = frames.size_bytes();
        // RIFF sizes are 32-bit: a file that would pass 4 GiB keeps its first 4 GiB.
        if (FDataBytes > UINT32_MAX - 36 - bytes) return;
        if (std::fwrite(frames.data(), 1, bytes, FFile.get()) == bytes)
            FDataBytes += static_cast<uint32_t>(bytes);
    }

    std::string FPath;
    UniqueFile FFile;
    uint32_t FDataBytes = 0;  // pump thread while running
    PullFn FPull;
    RealtimePump FPump;
};

}  // namespace

std::unique_ptr<AudioBackend> MakeWavBackend(std::string path) {
    return std::make_unique<WavBackend>(std::move(path));
}

}  // namespace oggmix
