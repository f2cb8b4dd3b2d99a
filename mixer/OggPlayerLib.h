#pragma once
// OggPlayerLib.h: the player mixer. Sums the streams in its slots into 16-bit stereo blocks
// in a two-block ring, levels the sum with an envelope limiter, clips it to +-32767, and
// reports the output level, the play position of the mix and the mix spectrum. It is also
// the host's single control surface: per-slot operations forward to the slot's stream.
//
// Threads: RenderNext (and OnGetPosition, OnMix inside it) on the refill thread; everything
//          else on the UI thread. Only the UI thread changes slots.
// Locks:   FLock for a whole block in RenderNext; SetSlot/ClearSlot (Lock = true), Reset,
//          MixPosition, GetLevel, GetMixSpectrum and the limiter setters take it too. The
//          per-slot operations take no mixer lock (the stream locks itself). Lock order:
//          mixer, then stream.
// Memory:  construction allocates; RenderNext, Fill and the limiter: no alloc, no throw.
// Ownership: the streams are not owned; the host takes them out of their slots before it
//          frees them. Every stream must have been created with the mixer's BufferSize.
// Units:   ring offsets in bytes; the limiter's envelope in sample magnitude x 256.
// Range:   sums of the streams and limiter gains saturate at the 32-bit range instead of
//          wrapping; limiter bounds are held within +-8388607 (an envelope that fits 32 bits).

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "base/ThreadSafety.h"
#include "stream/FFTLib.h"
#include "stream/OggDataLib.h"

namespace oggmix {

inline constexpr int32_t kMaxMixerSlots = 32;  // one pass collects at most this many blocks
inline constexpr int32_t kLimiterGroupFrames = 32;

// The limiter's settings until SetLimiter changes them, and what ResetLimiter restores.
struct TLimiterDefaults {
    static constexpr int32_t Min = 32767;    // sample magnitude
    static constexpr int32_t Max = 65534;    // sample magnitude
    static constexpr int32_t Down = 500;     // sample magnitude x 256 per group
    static constexpr int32_t Delay = 44100;  // frames
};

class TOggPlayer {
public:
    // The host reports the sound buffer's play cursor and size in bytes (refill thread,
    // mixer lock held). A size under 2 bytes or a negative cursor gives no delay.
    using TGetPositionEvent = std::function<void(int32_t& Position, int32_t& Size)>;
    // Sees and may change the 32-bit mix (interleaved left, right) before the limiter.
    using TMixEvent = std::function<void(int32_t* Samples, int32_t FrameCount)>;

    // BufferSize: bytes of the output ring (two blocks of 16-bit frames). SlotCount: 1..32.
    TOggPlayer(int32_t BufferSize, int32_t SlotCount);
    virtual ~TOggPlayer();  // Reset; the streams are only dropped from the slots
    TOggPlayer(const TOggPlayer&) = delete;
    TOggPlayer& operator=(const TOggPlayer&) = delete;

    void Lock() noexcept OGGMIX_ACQUIRE(FLock) { FLock.Wait(); }
    void Unlock() noexcept OGGMIX_RELEASE(FLock) { FLock.Release(); }
    // Takes the lock if it is free at once.
    [[nodiscard]] bool TryLock() noexcept OGGMIX_TRY_ACQUIRE(true, FLock) {
        return FLock.TryWait();
    }

    // Empties every slot, silences the ring, restores the limiter defaults (envelope kept).
    void Reset();
    // Puts Stream into Slot, first emptying any slot that holds it. Does not start it.
    // A slot outside 0..SlotCount-1 is ignored. A stream whose BufferSize differs from the
    // mixer's throws ERangeError before anything changes.
    void SetSlot(int32_t Slot, TOggData* Stream, bool Lock);
    void ClearSlot(int32_t Slot, bool Lock) { SetSlot(Slot, nullptr, Lock); }
    // The stream in Slot, or null (also for a slot out of range). UI thread, no lock.
    [[nodiscard]] TOggData* Slots(int32_t Slot) const noexcept;
    [[nodiscard]] int32_t SlotCount() const noexcept { return FSlotCount; }

    // Mixes ByteCount bytes (at most BufferSize / 2) of 16-bit frames into Dest, overwriting
    // it; returns ByteCount. A larger request is cut to BufferSize / 2 and that is returned.
    int32_t Fill(void* Dest, int32_t ByteCount, bool Lock) noexcept;
    // Renders the next block into the other half of the ring. Takes FLock.
    void RenderNext() noexcept;
    // Mixes the next Dest.size() / 2 frames (at most a block) into Dest as 16-bit frames: each
    // slot's stream renders exactly that many frames, not a block as RenderNext has it, so a
    // host can change streams between any two frames. Summing, OnMix and the limiter as in
    // Fill; the ring is not touched. Returns the frames mixed. Takes FLock when Lock.
    int32_t MixFrames(std::span<int16_t> Dest, bool Lock) noexcept;
    // Bytes of one block of 16-bit frames: BufferSize / 2.
    [[nodiscard]] int32_t BlockBytes() const noexcept { return FRingSize / 2; }
    // The block rendered last, 16-bit frames; valid until the next RenderNext. No lock: the
    // thread that renders reads it after its render.
    [[nodiscard]] const int16_t* GetBlock() const noexcept OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return FRing.data() + FCurrentHalf / static_cast<int32_t>(sizeof(int16_t));
    }
    // The play record of the slot's stream from the last mix (RenderNext, Fill or MixFrames); null for
    // an empty slot, a stream that rendered nothing in that mix, or one without records
    // (TOggData::SetPlayRecords). Valid inside OnMix and after the mix until the next one or a
    // change of that slot. No lock: the thread that mixes reads it.
    [[nodiscard]] const PlayRecord* SlotRecord(int32_t Slot) const noexcept
        OGGMIX_NO_THREAD_SAFETY_ANALYSIS;
    // Byte offset in the ring of the frame being heard, or -1 when no recent block exists.
    [[nodiscard]] int32_t MixPosition();
    // Mean absolute level of the 256 frames being heard: 0 left, 1 right, else both; 0..1.
    [[nodiscard]] float GetLevel(int32_t Channel);
    // 256 weighted magnitudes of the mix being heard; Values untouched without a position.
    void GetMixSpectrum(std::span<float, kSpectrumValueCount> Values);
    void GetMixSpectrum(float* Values);  // Values: 256 floats

    // Per-slot operations: forwarded to the slot's stream; an empty slot (or a slot number
    // out of range) does nothing and returns the value shown.
    void Play(int32_t Slot, bool Loop);
    void Pause(int32_t Slot);
    void Stop(int32_t Slot);
    void Seek(int32_t Slot, float Seconds);
    [[nodiscard]] float GetTime(int32_t Slot);      // 0
    [[nodiscard]] float GetPlayTime(int32_t Slot);  // 0
    void Fade(int32_t Slot, float Volume, float Seconds);
    void SetVolume(int32_t Slot, float Volume);
    // Values untouched for an empty slot; the pointer form takes 256 floats.
    void GetSpectrum(int32_t Slot, std::span<float, kSpectrumValueCount> Values);
    void GetSpectrum(int32_t Slot, float* Values);
    [[nodiscard]] float GetFilterGain(int32_t Slot, int32_t Point);  // 1.0
    void SetFilterCurve4(int32_t Slot, float V0, float V1, float V2, float V3, float Seconds);
    void SetFilterCurve8(int32_t Slot, float V0, float V1, float V2, float V3, float V4, float V5,
                         float V6, float V7, float Seconds);

    // All-slot operations, slot by slot from 0.
    void PlayAll(bool Loop);
    void StopAll();
    void SetMasterVolume(float Volume);  // on every occupied slot's stream

    // ---- Limiter (OggPlayerLib_Limiter.cpp) ----

    // Min, Max: bounds of the envelope (sample magnitude); Down: fall per group (x 256);
    // Delay: hold in frames; Level: restarts the envelope there (at least Min), -1 keeps it.
    // Takes FLock.
    void SetLimiter(int32_t Min, int32_t Max, int32_t Down, int32_t Delay, int32_t Level);
    void ResetLimiter();  // SetLimiter with TLimiterDefaults, the level kept
    // The envelope in sample magnitude; no lock.
    [[nodiscard]] int32_t GetLimiterLevel() const noexcept;
    // Read without a lock by the display; a value one block old is fine.
    [[nodiscard]] int32_t MaxLevel() const noexcept {
        return FMaxLevel.load(std::memory_order_relaxed);
    }
    [[nodiscard]] int32_t MinLevel() const noexcept {
        return FMinLevel.load(std::memory_order_relaxed);
    }
    [[nodiscard]] int32_t Peak() const noexcept { return FPeak.load(std::memory_order_relaxed); }
    [[nodiscard]] int32_t Down() const noexcept { return FDown.load(std::memory_order_relaxed); }
    [[nodiscard]] int32_t Delay() const noexcept { return FDelay.load(std::memory_order_relaxed); }

    // Set by the host before rendering starts; unset events are skipped.
    TGetPositionEvent OnGetPosition;
    TMixEvent OnMix;

private:
    void LimitGroup(int32_t First, int32_t Count) noexcept OGGMIX_REQUIRES(FLock);
    // One mix of FrameCount frames into Dest: every slot's stream rendered by Render(slot,
    // stream), which returns its wide frames or null when it rendered nothing, summed into
    // FMix (under the stream's lock when LockWhileSumming), then FinishMix.
    template <class RenderSlot>
    void MixSlots(void* Dest, int32_t FrameCount, bool LockWhileSumming,
                  RenderSlot&& Render) noexcept OGGMIX_REQUIRES(FLock);
    // The rest of a mix once the sources are summed (an exact pass where a sum wrapped): OnMix,
    // the limiter, and the clipped 16-bit frames into Dest.
    void FinishMix(void* Dest, int32_t SourceCount, bool Wrapped, int32_t FrameCount) noexcept
        OGGMIX_REQUIRES(FLock);
    // Sums the collected blocks into FMix, saturating at the 32-bit range, with every source's
    // lock held.
    void MixSources(int32_t SourceCount, int32_t FrameCount) noexcept OGGMIX_REQUIRES(FLock);
    // MixPosition's result.
    [[nodiscard]] int32_t HeardOffset() const noexcept OGGMIX_REQUIRES(FLock);

    TALOGGSemaphore FLock;

    // Guarded by FLock.
    int64_t FTimestamp OGGMIX_GUARDED_BY(FLock) = 0;      // ms: when the block now heard started
    std::vector<int16_t> FRing OGGMIX_GUARDED_BY(FLock);  // two blocks of 16-bit frames
    int32_t FRingSize = 0;                                // bytes; fixed at construction
    std::vector<int32_t> FMix OGGMIX_GUARDED_BY(FLock);   // the accumulator, left, right
    int32_t FMixCapacity = 0;                             // bytes; fixed at construction
    int32_t FCurrentHalf OGGMIX_GUARDED_BY(FLock) = 0;    // bytes: 0 or FRingSize / 2
    // The blocks collected by one Fill, and the streams they belong to.
    std::array<const int32_t*, kMaxMixerSlots> FSources OGGMIX_GUARDED_BY(FLock){};
    std::array<TOggData*, kMaxMixerSlots> FSourceStreams OGGMIX_GUARDED_BY(FLock){};
    // Per slot the record of its stream's render in the last mix, or null.
    std::array<const PlayRecord*, kMaxMixerSlots> FSlotRecords OGGMIX_GUARDED_BY(FLock){};
    // MixFrames renders each slot's stream here: a block of wide frames per slot.
    std::vector<int32_t> FPieces OGGMIX_GUARDED_BY(FLock);

    // Limiter. Written under FLock; the display reads them without it, hence atomics
    // (relaxed: each value stands alone).
    std::atomic<int32_t> FMaxLevel{TLimiterDefaults::Max};
    std::atomic<int32_t> FMinLevel{TLimiterDefaults::Min};
    std::atomic<int32_t> FLevel{0};  // sample magnitude x 256
    std::atomic<int32_t> FDown{TLimiterDefaults::Down};
    std::atomic<int32_t> FDelay{TLimiterDefaults::Delay};
    int32_t FHoldCount OGGMIX_GUARDED_BY(FLock) = 0;  // groups since the envelope last rose
    std::atomic<int32_t> FPeak{0};                    // sample magnitude

    // Slots: written by the UI thread under FLock, read by the refill thread under it and by
    // the UI thread without it.
    std::vector<TOggData*> FSlots;
    std::unique_ptr<TFFT> FMixSpectrumFFT OGGMIX_PT_GUARDED_BY(FLock);
    int32_t FSlotCount = 0;
};

}  // namespace oggmix
