// DecoderSession.cpp: opening and closing a decoder over a stream's compressed file.
#include "stream/DecoderSession.h"

#include <array>

namespace oggmix {

bool DecoderSession::Open(std::unique_ptr<MemoryStream> Source) noexcept {
    Close();
    // A missing or unusable binding refuses like the decoder would. A refused open leaves the
    // file with its caller: Source frees it on the way out.
    TVorbisFileDLL* binding = Binding();
    if (Source == nullptr || binding == nullptr ||
        binding->OpenCallbacks(Source.get(), &FDecoder, nullptr, 0) < 0) {
        FDecoder = OggVorbis_File{};
        return false;
    }
    FSource = Source.release();  // the decoder's from here on
    return true;
}

std::unique_ptr<DecoderSession> DecoderSession::OpenAnother() const {
    if (FSource == nullptr) return nullptr;
    auto other = std::make_unique<DecoderSession>();
    other->SetBinding(FBinding);
    const std::span<const uint8_t> bytes = FSource->Bytes();
    auto copy = std::make_unique<MemoryStream>(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    if (!other->Open(std::move(copy))) return nullptr;
    return other;
}

void DecoderSession::WarmUp() noexcept {
    // Enough frames for several long blocks of any rate, so the block memory has met its
    // largest.
    constexpr int32_t kWarmUpFrames = 16384;
    TVorbisFileDLL* binding = Binding();
    if (FSource == nullptr || binding == nullptr) return;
    std::array<int16_t, 4096> scratch{};
    int64_t frames = 0;
    while (frames < kWarmUpFrames) {
        int32_t bitstream = 0;
        const int32_t bytes = binding->Read(
            &FDecoder, scratch.data(), static_cast<int32_t>(sizeof(scratch)), 0, 2, 1, &bitstream);
        if (bytes <= 0) return;
        const vorbis_info* info = binding->Info(&FDecoder, -1);
        const int32_t channels = info != nullptr && info->channels > 0 ? info->channels : 1;
        frames += bytes / (2 * channels);
    }
}

void DecoderSession::Close() noexcept {
    if (FSource == nullptr) return;
    // Clearing the decoder frees the file through the close callback. A binding that is gone or
    // cannot clear (the host freed it too early) leaves the file ours, so it is closed here
    // rather than leaked.
    TVorbisFileDLL* binding = Binding();
    if (binding == nullptr || binding->Clear(&FDecoder) != 0) StreamClose(FSource);
    FSource = nullptr;
    FDecoder = OggVorbis_File{};
}

}  // namespace oggmix
