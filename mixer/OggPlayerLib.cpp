// OggPlayerLib.cpp: the player mixer: construction, slots, mixing a block, the position and
// level of what is heard, and the per-slot operations that forward to the streams.
#include "mixer/OggPlayerLib.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "base/Clock.h"
#include "base/Exceptions.h"
#include "base/PcmFormat.h"
#include "base/Saturate.h"
#include "stream/RenderKernels.h"

namespace oggmix {
namespace {

constexpr int32_t kLevelFrames = 256;     // frames that GetLevel averages
constexpr float kMaxHeardAgeSec = 10.0f;  // MixPosition clamps older blocks to this

// Milliseconds that a play cursor offset of positionBytes (16-bit stereo at 44100 Hz) stands
// for: positionBytes / 176.4, to the nearest integer with halves to even. Done in integers
// (positionBytes * 5 / 882) so that the halves are exact halves.
int32_t CursorBytesToMs(int32_t positionBytes) noexcept {
    constexpr int64_t kDivisor = 882;
    const int64_t numerator = int64_t{positionBytes} * 5;
    int64_t ms = numerator / kDivisor;
    const int64_t twiceRest = 2 * (numerator % kDivisor);
    if (twiceRest > kDivisor || (twiceRest == kDivisor && ms % 2 != 0)) ++ms;
    return static_cast<int32_t>(ms);
}

// Holds the locks of Streams from construction to destruction: taken in order, given back in
// reverse. Not analysed: the analysis cannot follow locks taken in a loop.
class StreamLocks {
public:
    explicit StreamLocks(std::span<TOggData* const> Streams) noexcept
        OGGMIX_NO_THREAD_SAFETY_ANALYSIS : FStreams(Streams) {
        for (TOggData* stream : FStreams) stream->Lock();
    }
    ~StreamLocks() OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        for (auto stream = FStreams.rbegin(); stream != FStreams.rend(); ++stream)
            (*stream)->Unlock();
    }
    StreamLocks(const StreamLocks&) = delete;
    StreamLocks& operator=(const StreamLocks&) = delete;

private:
    std::span<TOggData* const> FStreams;
};

}  // namespace

TOggPlayer::TOggPlayer(int32_t BufferSize, int32_t SlotCount) : FLock("", 1) {
    // Whole 16-bit frames in each half of the ring, and a stream block of BufferSize / 8
    // wide frames to match.
    if (BufferSize <= 0 || BufferSize % kBytesPerWideFrame != 0)
        throw ERangeError("mixer buffer size must be a positive multiple of 8 bytes");
    if (SlotCount < 1 || SlotCount > kMaxMixerSlots)
        throw ERangeError("mixer slot count must be 1 to 32");
    OnMix = nullptr;
    FSlotCount = SlotCount;
    FSlots.assign(static_cast<size_t>(SlotCount), nullptr);
    FRing.assign(static_cast<size_t>(BufferSize) / sizeof(int16_t), 0);
    FRingSize = BufferSize;
    FMix.assign(static_cast<size_t>(BufferSize) / 2, 0);
    FMixCapacity = static_cast<int32_t>(FMix.size() * sizeof(int32_t));
    // A block of wide frames per slot: BufferSize / 8 frames of two 32-bit values.
    FPieces.assign(static_cast<size_t>(SlotCount) * static_cast<size_t>(BufferSize) / 4, 0);
    Reset();
    FMixSpectrumFFT = std::make_unique<TFFT>(kSpectrumValueCount);
}

TOggPlayer::~TOggPlayer() {
    Reset();
    OnMix = nullptr;
}

void TOggPlayer::Reset() {
    {
        ScopedLock guard(FLock);
        std::fill(FSlots.begin(), FSlots.end(), nullptr);
        FSlotRecords.fill(nullptr);
        std::fill(FRing.begin(), FRing.end(), int16_t{0});
    }
    ResetLimiter();
}

void TOggPlayer::SetSlot(int32_t Slot, TOggData* Stream, bool Lock) {
    if (Slot < 0 || Slot >= FSlotCount) return;
    // The mix reads a whole mixer block from every stream: a smaller stream block would be
    // read past its end.
    if (Stream != nullptr && Stream->BufferSize() != FRingSize)
        throw ERangeError("the stream's buffer size differs from the mixer's");
    ScopedLockIf guard(FLock, Lock);
    for (size_t other = 0; Stream != nullptr && other < FSlots.size(); ++other) {
        if (FSlots[other] != Stream) continue;
        FSlots[other] = nullptr;
        FSlotRecords[other] = nullptr;
    }
    FSlots[static_cast<size_t>(Slot)] = Stream;
    FSlotRecords[static_cast<size_t>(Slot)] = nullptr;
}

const PlayRecord* TOggPlayer::SlotRecord(int32_t Slot) const noexcept {
    if (Slot < 0 || Slot >= FSlotCount) return nullptr;
    return FSlotRecords[static_cast<size_t>(Slot)];
}

TOggData* TOggPlayer::Slots(int32_t Slot) const noexcept {
    if (Slot < 0 || Slot >= FSlotCount) return nullptr;
    return FSlots[static_cast<size_t>(Slot)];
}

void TOggPlayer::RenderNext() noexcept {
    ScopedLock guard(FLock);
    FCurrentHalf = FCurrentHalf == 0 ? FRingSize / 2 : 0;
    Fill(reinterpret_cast<std::byte*>(FRing.data()) + FCurrentHalf, FRingSize / 2, false);
}

int32_t TOggPlayer::Fill(void* Dest, int32_t ByteCount, bool Lock) noexcept {
    ScopedLockIf guard(FLock, Lock);
    // Every source block holds one mixer block; more cannot be mixed.
    ByteCount = std::clamp(ByteCount, 0, FRingSize / 2);

    // The peak meter decays by an eighth per call; 64-bit so that any peak can decay.
    FPeak.store(static_cast<int32_t>(int64_t{FPeak.load(std::memory_order_relaxed)} * 7 / 8),
                std::memory_order_relaxed);

    int32_t delayMs = 0;
    FTimestamp = timeGetTime();
    if (OnGetPosition) {
        int32_t positionBytes = 0;
        int32_t sizeBytes = 0;
        OnGetPosition(positionBytes, sizeBytes);
        // A buffer of under 2 bytes has no halves and a negative cursor no meaning: no delay.
        if (sizeBytes / 2 > 0 && positionBytes >= 0) {
            delayMs = CursorBytesToMs(positionBytes % (sizeBytes / 2));
            FTimestamp -= delayMs;
        }
    }

    // The blocks are the streams' own rings, which the UI thread may zero (stop, close,
    // reload) once a render is over: each is summed under its stream's lock.
    MixSlots(Dest, BytesToFrames(ByteCount), true, [delayMs](size_t, TOggData& Stream) {
        return Stream.RenderNext(delayMs) > 0 ? Stream.GetBlock() : nullptr;
    });
    return ByteCount;
}

template <class RenderSlot>
void TOggPlayer::MixSlots(void* Dest, int32_t FrameCount, bool LockWhileSumming,
                          RenderSlot&& Render) noexcept {
    const RenderKernels& kernels = Kernels();
    const int32_t valueCount = 2 * FrameCount;
    int32_t sourceCount = 0;
    bool wrapped = false;
    for (size_t slot = 0; slot < FSlots.size(); ++slot) {
        TOggData* stream = FSlots[slot];
        FSlotRecords[slot] = nullptr;
        if (stream == nullptr) continue;
        const int32_t* block = Render(slot, *stream);
        // A stream that met its end at once renders nothing, but its record says so.
        FSlotRecords[slot] = stream->LastPlayRecord();
        if (block == nullptr) continue;
        FSourceStreams[static_cast<size_t>(sourceCount)] = stream;
        FSources[static_cast<size_t>(sourceCount++)] = block;
        // Summed at once, while the block is still in the cache. Integer sums do not depend
        // on their order; only a sum that wrapped on the way needs the exact pass below.
        const StreamLocks held{std::span(&stream, LockWhileSumming ? 1 : 0)};
        if (sourceCount == 1)
            std::copy_n(block, valueCount, FMix.begin());
        else
            wrapped = kernels.MixAdd(FMix.data(), block, valueCount) || wrapped;
    }
    FinishMix(Dest, sourceCount, wrapped, FrameCount);
}

void TOggPlayer::FinishMix(void* Dest, int32_t SourceCount, bool Wrapped,
                           int32_t FrameCount) noexcept {
    if (SourceCount == 0 || Wrapped) MixSources(SourceCount, FrameCount);
    if (OnMix) OnMix(FMix.data(), FrameCount);
    for (int32_t first = 0; first < FrameCount; first += kLimiterGroupFrames)
        LimitGroup(first, std::min(kLimiterGroupFrames, FrameCount - first));
    Kernels().ClipToNarrow(Dest, FMix.data(), 2 * FrameCount);
}

void TOggPlayer::MixSources(int32_t SourceCount, int32_t FrameCount) noexcept {
    const int32_t sampleCount = 2 * FrameCount;
    if (SourceCount == 0) {
        std::fill_n(FMix.begin(), sampleCount, 0);
        return;
    }
    // The UI thread may stop, close or reload a source after its render, and each of those
    // zeroes its ring: every source's lock is held while its block is read. Holding several
    // cannot deadlock: nothing else holds more than one stream lock, and the mixer's lock is
    // taken first here as everywhere.
    const StreamLocks held{std::span(FSourceStreams).first(static_cast<size_t>(SourceCount))};
    // Each sum is taken in 64 bits and saturated once: exact whenever the sum fits in 32 bits,
    // whatever the order of the sources, and never wrapping round to the other sign.
    for (int32_t i = 0; i < sampleCount; ++i) {
        int64_t sum = 0;
        for (int32_t source = 0; source < SourceCount; ++source)
            sum += FSources[static_cast<size_t>(source)][i];
        FMix[static_cast<size_t>(i)] = SaturateToInt32(sum);
    }
}

int32_t TOggPlayer::MixFrames(std::span<int16_t> Dest, bool Lock) noexcept {
    ScopedLockIf guard(FLock, Lock);
    const int32_t blockFrames = BytesToFrames(FRingSize / 2);
    const int32_t frames = std::clamp(static_cast<int32_t>(Dest.size() / 2), 0, blockFrames);
    FPeak.store(static_cast<int32_t>(int64_t{FPeak.load(std::memory_order_relaxed)} * 7 / 8),
                std::memory_order_relaxed);
    FTimestamp = timeGetTime();
    // Each stream renders into a piece of the mixer's own: no stream lock is needed to sum it.
    int32_t* const pieces = FPieces.data();
    MixSlots(Dest.data(), frames, false, [&](size_t Slot, TOggData& Stream) -> const int32_t* {
        int32_t* piece = pieces + Slot * static_cast<size_t>(2 * blockFrames);
        return Stream.Render(piece, WideFramesToBytes(frames), 0, true, true) > 0 ? piece : nullptr;
    });
    return frames;
}

int32_t TOggPlayer::HeardOffset() const noexcept {
    // Single-precision seconds, as every time of the engine; the difference in 64 bits.
    float elapsedSec = static_cast<float>(static_cast<double>(timeGetTime() - FTimestamp) * 0.001);
    if (elapsedSec > kMaxHeardAgeSec) elapsedSec = kMaxHeardAgeSec;
    if (!(elapsedSec >= 0.0f)) elapsedSec = 0.0f;
    // A float times 176400 is exact in double; the low two bits go to land on a whole frame.
    int32_t pos = RoundHalfEven(static_cast<double>(elapsedSec) * kBytesPerSecond);
    pos &= ~(kBytesPerFrame - 1);
    if (pos >= FRingSize || pos < 0) return -1;
    // The block being heard is the one before the block rendered last.
    if (FCurrentHalf == 0) pos += FRingSize / 2;
    return pos % FRingSize;
}

int32_t TOggPlayer::MixPosition() {
    ScopedLock guard(FLock);
    return HeardOffset();
}

float TOggPlayer::GetLevel(int32_t Channel) {
    // Position and samples under one lock, so that no block is rendered in between.
    ScopedLock guard(FLock);
    const int32_t pos = HeardOffset();
    if (pos < 0) return 0.0f;
    const ConstStereoFrames16 ring(FRing);
    int32_t frame = BytesToFrames(pos);  // a whole frame
    int32_t sumL = 0;
    int32_t sumR = 0;
    for (int32_t i = 0; i < kLevelFrames; ++i) {
        frame %= ring.Frames();
        sumL += std::abs(int32_t{ring.Left(frame)});
        sumR += std::abs(int32_t{ring.Right(frame)});
        ++frame;
    }
    sumL /= kLevelFrames;
    sumR /= kLevelFrames;
    switch (Channel) {
        case 0: return static_cast<float>(sumL) / 32768.0f;
        case 1: return static_cast<float>(sumR) / 32768.0f;
        default: return static_cast<float>(sumL + sumR) / 65536.0f;
    }
}

void TOggPlayer::Play(int32_t Slot, bool Loop) {
    if (TOggData* stream = Slots(Slot)) stream->Play(Loop, true);
}

void TOggPlayer::Pause(int32_t Slot) {
    if (TOggData* stream = Slots(Slot)) stream->Pause(true);
}

void TOggPlayer::Stop(int32_t Slot) {
    if (TOggData* stream = Slots(Slot)) stream->Stop(true);
}

void TOggPlayer::Seek(int32_t Slot, float Seconds) {
    if (TOggData* stream = Slots(Slot)) stream->Seek(Seconds, true);
}

float TOggPlayer::GetTime(int32_t Slot) {
    TOggData* stream = Slots(Slot);
    return stream != nullptr ? stream->GetTime(true) : 0.0f;
}

float TOggPlayer::GetPlayTime(int32_t Slot) {
    TOggData* stream = Slots(Slot);
    return stream != nullptr ? stream->GetPlayTime() : 0.0f;
}

void TOggPlayer::Fade(int32_t Slot, float Volume, float Seconds) {
    if (TOggData* stream = Slots(Slot)) stream->Fade(Volume, Seconds);
}

void TOggPlayer::SetVolume(int32_t Slot, float Volume) {
    if (TOggData* stream = Slots(Slot)) stream->SetVolume(Volume);
}

void TOggPlayer::GetSpectrum(int32_t Slot, std::span<float, kSpectrumValueCount> Values) {
    if (TOggData* stream = Slots(Slot)) stream->GetSpectrum(Values);
}

void TOggPlayer::GetSpectrum(int32_t Slot, float* Values) {
    GetSpectrum(Slot, std::span<float, kSpectrumValueCount>(Values, kSpectrumValueCount));
}

float TOggPlayer::GetFilterGain(int32_t Slot, int32_t Point) {
    TOggData* stream = Slots(Slot);
    return stream != nullptr ? stream->GetFilterGain(Point) : 1.0f;
}

void TOggPlayer::SetFilterCurve4(int32_t Slot, float V0, float V1, float V2, float V3,
                                 float Seconds) {
    if (TOggData* stream = Slots(Slot)) stream->SetFilterCurve4(V0, V1, V2, V3, Seconds);
}

void TOggPlayer::SetFilterCurve8(int32_t Slot, float V0, float V1, float V2, float V3, float V4,
                                 float V5, float V6, float V7, float Seconds) {
    if (TOggData* stream = Slots(Slot))
        stream->SetFilterCurve8(V0, V1, V2, V3, V4, V5, V6, V7, Seconds);
}

void TOggPlayer::PlayAll(bool Loop) {
    for (int32_t slot = 0; slot < FSlotCount; ++slot) Play(slot, Loop);
}

void TOggPlayer::StopAll() {
    for (int32_t slot = 0; slot < FSlotCount; ++slot) Stop(slot);
}

void TOggPlayer::SetMasterVolume(float Volume) {
    for (int32_t slot = 0; slot < FSlotCount; ++slot) {
        if (TOggData* stream = Slots(slot)) stream->SetMasterVolume(Volume);
    }
}

}  // namespace oggmix
