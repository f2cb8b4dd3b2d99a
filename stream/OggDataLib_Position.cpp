// OggDataLib_Position.cpp: positions prepared off the lock and swapped in under it, the exact
// seek to a frame, and the source frame next out.
#include <algorithm>
#include <vector>

#include "stream/ConverterPriming.h"
#include "stream/OggDataLib.h"
#include "stream/SourceDecode.h"

namespace oggmix {

int64_t TOggData::ClampedFrame(int64_t SourceFrame) const noexcept {
    // As Seek lands the end on the last frame.
    return std::clamp<int64_t>(SourceFrame, 0, std::max<int64_t>(0, FPcmTotal - 1));
}

std::unique_ptr<PreparedPosition> TOggData::PreparePosition(int64_t SourceFrame) {
    if (!Loaded()) return nullptr;
    auto prepared = std::make_unique<PreparedPosition>();
    prepared->FDecoder = FCopySource.load(std::memory_order_acquire)->OpenAnother();
    if (!prepared->FDecoder) return nullptr;
    if (FUse == StreamUse::Direct) prepared->FDecoder->WarmUp();  // the seeks below keep it
    prepared->FFrame = ClampedFrame(SourceFrame);
    prepared->FLoadNumber = FLoadNumber;
    TVorbisFileDLL& binding = *prepared->FDecoder->Binding();
    OggVorbis_File* file = prepared->FDecoder->Get();
    if (!Converts()) {
        if (binding.PcmSeek(file, prepared->FFrame) != 0) return nullptr;
        return prepared;
    }

    // As PrepareConverter does for the stream's own decoder, with buffers of its own.
    prepared->FConverter = std::make_unique<RateConverter>(FRate, FChannels);
    RateConverter& converter = *prepared->FConverter;
    const int64_t startFrame = std::max<int64_t>(0, prepared->FFrame - converter.PrimeFrames());
    if (binding.PcmSeek(file, startFrame) != 0) return nullptr;
    const int64_t historyFrames = prepared->FFrame - binding.PcmTell(file);
    std::vector<int16_t> input(FConvInput.size());
    std::vector<int16_t> scratch(FWorkBuffer.size());
    std::vector<int16_t> decodeBuffer(FDecodeBuffer.size());
    const SourceDecoder source{binding, file, FRate, FChannels};
    const auto read = [&](StereoFrames16 frames) {
        HeldFrame unused;  // each source frame goes out once ahead of a converter
        return DecodeSourceFrames(source, 1, decodeBuffer, frames, unused).Frames;
    };
    if (!RestartWithHistory(converter, historyFrames,
                            StereoFrames16(input.data(), static_cast<int32_t>(input.size() / 2)),
                            scratch, read)) {
        if (binding.PcmSeek(file, prepared->FFrame) != 0) return nullptr;
        converter.Restart(0);
    }
    return prepared;
}

std::unique_ptr<PreparedPosition> TOggData::ApplyPosition(
    std::unique_ptr<PreparedPosition> Prepared, bool Lock) noexcept {
    // The swap leaves the old state in the prepared object, handed back after the lock.
    ScopedLockIf guard(FLock, Lock);
    if (Prepared) AdoptPosition(*Prepared);
    return Prepared;
}

std::unique_ptr<PreparedPosition> TOggData::StopAt(std::unique_ptr<PreparedPosition> Start,
                                                   bool Lock) noexcept {
    std::unique_ptr<PreparedPosition> spent = std::move(Start);
    ScopedLockIf guard(FLock, Lock);
    Pause(false);
    FRenderStartTime = 0.0f;
    FLastTime = 0.0f;
    if (spent) AdoptPosition(*spent);
    FHasHeldFrame = false;
    FRepeatCount.fill(0);
    std::fill(FRing.begin(), FRing.end(), 0);
    return spent;
}

void TOggData::AdoptPosition(PreparedPosition& Prepared) noexcept {
    if (!Loaded() || Prepared.FLoadNumber != FLoadNumber || !Prepared.FDecoder) return;
    if ((Prepared.FConverter != nullptr) != (FConverter != nullptr)) {
        // The conversion was switched since: the exact seek, converter restart and all.
        SeekDecoderToFrame(Prepared.FFrame);
        try {
            PrepareConverter();
        } catch (const std::exception&) {
            // Deliberate: without its converter the stream renders silence.
        }
        return;
    }
    std::swap(FDecoder, Prepared.FDecoder);
    FCopySource.store(FDecoder.get(), std::memory_order_release);
    std::swap(FConverter, Prepared.FConverter);
    FPositionLost = false;
    FHasHeldFrame = false;
    FLastTime = 0.0f;
    ResetConverterFeed();
}

void TOggData::SeekFrame(int64_t SourceFrame, bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    if (!Loaded()) return;
    if (Seekable()) SeekDecoderToFrame(ClampedFrame(SourceFrame));
    if (FConverter) PrepareConverter();
    FLastTime = 0.0f;
}

int64_t TOggData::PositionFrame(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    if (!Loaded()) return 0;
    if (FConverter && (FConvStale || FConvEnding)) return DecoderFrame();
    return NextOutputSourceFrame();
}

bool TOggData::NeedsRestart(bool Lock) {
    ScopedLockIf guard(FLock, Lock);
    return FConverter && (FConvStale || FConvEnding);
}

}  // namespace oggmix
