// OggDataLib_Load.cpp: closing, loading from a file or a memory stream, and the stream information.
#include "stream/OggDataLib.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <memory>

#include "base/Exceptions.h"
#include "base/Utf8Path.h"
#include "stream/SourceFormat.h"

namespace oggmix {
namespace {

constexpr const char* kLoadFailedMessage = "ファイルの読み込みに失敗";

// Bytes of the whole stream as 16-bit stereo. A damaged file can claim any sample count, so
// the product saturates instead of overflowing.
int64_t SamplesToStereoBytes(int64_t samples) noexcept {
    constexpr int64_t kBytesPerStereoSample = 2 * 2;
    constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / kBytesPerStereoSample;
    return std::clamp(samples, -kLimit, kLimit) * kBytesPerStereoSample;
}

// Beyond the float range a double becomes an infinity explicitly; the plain conversion would
// be undefined there.
float ToSingle(double seconds) noexcept {
    constexpr float kLargest = std::numeric_limits<float>::max();
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    if (seconds > kLargest) return kInfinity;
    if (seconds < -kLargest) return -kInfinity;
    return static_cast<float>(seconds);
}

int32_t ClampToInt32(long value) noexcept {
    return static_cast<int32_t>(std::clamp<long>(value, std::numeric_limits<int32_t>::min(),
                                                 std::numeric_limits<int32_t>::max()));
}

}  // namespace

void TOggData::Close() {
    {
        ScopedLock guard(FLock);
        FConverter.reset();  // first, so that the rewind below does not restart it
        Stop(false);
        FComments.clear();
        FVendor.clear();
        FChannels = 0;
        FRate = 0;
        FPcmTotal = 0;
        FTotalTime = 0.0f;
        FTotalSize = 0;
        FLastTime = 0.0f;
        SetState(TStreamState::Closed);
        FDecoder->Close();
        std::fill(FRing.begin(), FRing.end(), 0);
        FPositionLost = false;
        FCues.fill(TLoopCue{});
        FCueFrames.fill(CueFrames{});
        // Reset here rather than after the unlock: the gain control is guarded by FLock.
        FAGC->Reset();
    }
    SetAGC(0.0f);
}

void TOggData::SetDecoderBinding(TVorbisFileDLL* Binding) noexcept {
    FDecoder->SetBinding(Binding);
}

bool TOggData::LoadFromFile(const std::string& FileName) {
    // A folder is not a file; whatever cannot be examined counts as missing.
    std::error_code error;
    const std::filesystem::file_status status =
        std::filesystem::status(PathFromUtf8(FileName), error);
    if (!std::filesystem::exists(status) || std::filesystem::is_directory(status)) return false;

    auto stream = std::make_unique<MemoryStream>();
    stream->LoadFromFile(FileName);  // EInOutError leaves this object as it was
    return LoadFromStream(std::move(stream));
}

bool TOggData::LoadFromStream(std::unique_ptr<MemoryStream> Stream) {
    if (!Stream) return false;
    Close();

    // The decoder opens outside the lock: the stream is closed, so the render path keeps away
    // from it meanwhile.
    if (!FDecoder->Open(std::move(Stream))) throw ERangeError(kLoadFailedMessage);
    if (FUse == StreamUse::Direct) ReadyDecoderAtStart();

    ScopedLock guard(FLock);
    ++FLoadNumber;
    SetState(TStreamState::Loaded);
    ReadInfo();
    ParseLoopTags();
    PrepareConverter();
    if (FPlayRecords) ReservePlayRecords();
    return true;
}

void TOggData::ReadyDecoderAtStart() {
    FDecoder->WarmUp();
    if (Binding().PcmSeek(FDecoder->Get(), 0) == 0) return;
    // A decoder that cannot go back is replaced by a fresh one, which sets up on its first
    // render as it always has.
    if (std::unique_ptr<DecoderSession> fresh = FDecoder->OpenAnother()) {
        FDecoder = std::move(fresh);
        FCopySource.store(FDecoder.get(), std::memory_order_release);
    }
}

void TOggData::SetPlayRecords(bool On) {
    ScopedLock guard(FLock);
    FPlayRecords = On;
    FRecorder.Reserve(0, 0);
    if (On) ReservePlayRecords();
}

void TOggData::ReservePlayRecords() {
    const int32_t blockFrames = BytesToWideFrames(FRingSize / 2);
    const bool converts = PlaysConverted(FRate, FChannels) && !RateWithoutResampler(FRate);
    FRecorder.Grow(PlayRecorder::JumpCapacity(blockFrames, FRate),
                   converts ? PlayRecorder::PendingCapacity(FRate) : 0);
}

void TOggData::ReadInfo() {
    const vorbis_comment* comment = Binding().Comment(FDecoder->Get(), -1);
    const vorbis_info* info = Binding().Info(FDecoder->Get(), -1);

    // Comments keep their UTF-8 bytes. Each entry ends at its NUL; the record's lengths are not
    // used.
    if (comment != nullptr) {
        FVendor = comment->vendor != nullptr ? comment->vendor : "";
        if (comment->user_comments != nullptr) {
            for (char** entry = comment->user_comments; *entry != nullptr; ++entry)
                FComments.emplace_back(*entry);
        }
    }
    if (info != nullptr) {
        FChannels = info->channels;
        FRate = ClampToInt32(info->rate);
    }
    FPcmTotal = Binding().PcmTotal(FDecoder->Get(), -1);
    FTotalTime = ToSingle(Binding().TimeTotal(FDecoder->Get(), -1));
    // As 16-bit stereo whatever the stream's own channel count and rate.
    FTotalSize = SamplesToStereoBytes(Binding().PcmTotal(FDecoder->Get(), -1));
}

}  // namespace oggmix
