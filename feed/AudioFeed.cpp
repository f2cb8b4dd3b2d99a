// AudioFeed.cpp: start-up and shutdown order, the fill routine, the cursor test and the
// mixer's position callback.
#include "feed/AudioFeed.h"

#include <algorithm>

#include "base/Exceptions.h"
#include "base/PcmFormat.h"
#include "decoder/OggWuvorbisLib.h"

namespace oggmix {

AudioFeed::AudioFeed(TVOXA& Voxa, const std::string& DecoderPath, int32_t StreamCount,
                     bool StartPlaying, int32_t BlockFrames)
    : FVoxa(Voxa), FBlockFrames(BlockFrames) {
    if (StreamCount < 1 || StreamCount > kSlotCount)
        throw ERangeError("stream count must be 1 to 8");
    if (BlockFrames < kMinBlockFrames || BlockFrames > kBlockFrames || BlockFrames % 4 != 0)
        throw ERangeError("block size must be 1024 to 8192 frames, a multiple of 4");
    FDecoderUsable = LoadVorbisFileDLL(DecoderPath);

    // Ring, mixer ring and stream block: two blocks of 16-bit frames, two of 16-bit frames,
    // one of wide frames; all the same number of bytes.
    const int32_t bufferBytes = StreamBytes();
    FWaveData = std::make_unique<TVOXAWaveData>(&FVoxa, kFramesPerSecond, kBitsPerSample, true,
                                                static_cast<uint32_t>(bufferBytes), false);
    FWaveData->SetOnFill([this](TVOXAGenWave* sender, TVOXAChannel* channel, uint32_t offset,
                                uint32_t size) { FillWave(sender, channel, offset, size); });

    FPlayer = std::make_unique<TOggPlayer>(bufferBytes, kSlotCount);
    FPlayer->OnGetPosition = [this](int32_t& position, int32_t& size) {
        GetPlayPosition(position, size);
    };
    for (int32_t i = 0; i < StreamCount; ++i)
        FOggData.push_back(std::make_unique<TOggData>(bufferBytes));
    if (StartPlaying) Start();
}

void AudioFeed::Start() {
    if (FStarted) return;
    FStarted = true;
    if (TVOXAChannel* channel = FVoxa.Channels(0)) {
        channel->SetWaveData(FWaveData.get());
        channel->Play();
    }
}

AudioFeed::~AudioFeed() {
    if (TVOXAChannel* channel = FStarted ? FVoxa.Channels(0) : nullptr) {
        channel->Stop();
        channel->SetWaveData(nullptr);
    }
    FWaveData->SetOnFill(nullptr);
    FWaveData.reset();
    for (int32_t slot = 0; slot < StreamCount(); ++slot) FPlayer->ClearSlot(slot, true);
    for (auto& stream : FOggData) stream.reset();
    FPlayer.reset();
    // FDecoder unloads the library last.
}

void AudioFeed::FillWave(TVOXAGenWave* Sender, TVOXAChannel*, uint32_t Offset, uint32_t Size) {
    FRequested.fetch_add(1, std::memory_order_relaxed);
    FPlayer->RenderNext();
    // The mixer's block is all there is to copy, whatever size the ring asks for.
    const auto blockBytes = static_cast<uint32_t>(FPlayer->BlockBytes());
    if (CanWriteBlock(Sender, Offset, Size)) {
        FWaveData->WriteData(Offset, FPlayer->GetBlock(), std::min(Size, blockBytes));
        // Release: whoever sees the count also sees this fill's reads of the mixer's block,
        // so a test may render on its own once the fill it waited for is counted.
        FWritten.fetch_add(1, std::memory_order_release);
    } else {
        FDropped.fetch_add(1, std::memory_order_release);
    }
}

bool AudioFeed::CanWriteBlock(TVOXAGenWave* Sender, uint32_t Offset, uint32_t Size) {
    if (Sender == nullptr || Sender->SoundBuffer() == nullptr) return false;
    DWORD play = 0;
    DWORD write = 0;
    (void)Sender->SoundBuffer()->GetCurrentPosition(&play, &write);
    return CanWriteBlockAt(play, write, Offset, Size);
}

bool AudioFeed::CanWriteBlockAt(uint32_t Play, uint32_t Write, uint32_t Offset,
                                uint32_t Size) noexcept {
    // The write cursor wrapped to the start while the play cursor is still near the end.
    if (Play > Write) return false;
    const uint64_t end = uint64_t{Offset} + Size;
    if (Offset < Play && end > Play) return false;
    if (Offset < Write && end > Write) return false;
    return true;
}

void AudioFeed::GetPlayPosition(int32_t& Position, int32_t& Size) {
    Position = 0;
    Size = 0;
    if (!FWaveData || FWaveData->SoundBuffer() == nullptr) return;
    DWORD play = 0;
    DWORD write = 0;
    (void)FWaveData->SoundBuffer()->GetCurrentPosition(&play, &write);
    Position = static_cast<int32_t>(play);
    Size = static_cast<int32_t>(FWaveData->BufferBytes());
}

std::exception_ptr AudioFeed::RefillFailure() const {
    const TVOXANotifyThread* thread = FWaveData->Thread();
    return thread != nullptr ? thread->FatalException() : nullptr;
}

}  // namespace oggmix
