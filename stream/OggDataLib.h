#pragma once
// OggDataLib.h: one music stream: the whole Ogg Vorbis file in memory, its information and
// loop cues; rendering with transport, cue jumps and end-of-stream handling; and per chunk the
// tone filter, gain control, fade, pan and volume; the spectrum of the sound being heard.
// Also TALOGGSemaphore, the lock of every stream and of the mixer.
//
// Threads: construction, destruction, loads, Close, transport and settings on the UI thread;
//          RenderNext (and everything below it) on the refill thread, through the mixer.
// Locks:   FLock, not re-entrant. A method with a `Lock` argument is also called from inside
//          a locked method: outside callers pass true, internal callers false. Lock order is
//          mixer lock, then stream lock; nothing here takes the mixer's lock.
// Memory:  construction and loads allocate; RenderNext and everything below it: no alloc,
//          no throw, no I/O.
// Units:   ring offsets and the counts of the entry points in bytes; below them the render
//          path counts frames (StereoFrames.h). Times in float seconds, time stamps in
//          milliseconds of timeGetTime, volumes in 1/256 (Q8), fade and pan in 2^40 (Q40).
// Errors:  loading throws ERangeError "ファイルの読み込みに失敗" or returns false; rendering
//          reports nothing: a decoder error or an unsupported format pauses the stream and
//          renders silence.

#include <semaphore.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/MemoryStream.h"
#include "base/PcmFormat.h"
#include "base/ThreadSafety.h"
#include "decoder/OggWuvorbisLib.h"
#include "stream/ConverterJumps.h"
#include "stream/DecoderSession.h"
#include "stream/FFTLib.h"
#include "stream/PlayRecord.h"
#include "stream/PlayRecorder.h"
#include "stream/PreparedPosition.h"
#include "stream/RateConverter.h"
#include "stream/StereoFrames.h"
#include "stream/uAGC.h"

namespace oggmix {

// A lock over an operating-system counting semaphore with count and maximum Count (every user
// passes 1). Not re-entrant: a thread that holds it and waits again blocks for ever.
class OGGMIX_CAPABILITY("mutex") TALOGGSemaphore {
public:
    // Name empty: an unnamed semaphore; otherwise a named one ("/" is prefixed if missing).
    TALOGGSemaphore(const std::string& Name, int32_t Count);
    virtual ~TALOGGSemaphore();
    TALOGGSemaphore(const TALOGGSemaphore&) = delete;
    TALOGGSemaphore& operator=(const TALOGGSemaphore&) = delete;

    void Wait() noexcept OGGMIX_ACQUIRE();  // blocks without time-out
    // Takes the lock if it is free at once; false (not taken) otherwise.
    [[nodiscard]] bool TryWait() noexcept OGGMIX_TRY_ACQUIRE(true);
    void Release() noexcept OGGMIX_RELEASE();  // count + 1, never beyond the maximum

    // For ScopedLock and the standard guards.
    void lock() noexcept OGGMIX_ACQUIRE() { Wait(); }
    void unlock() noexcept OGGMIX_RELEASE() { Release(); }

private:
    sem_t FUnnamed{};
    sem_t* FHandle = nullptr;  // &FUnnamed or the named semaphore
    std::string FName;         // empty for an unnamed semaphore
    int32_t FMaxCount;
};

// A loop cue: when playback reaches LoopEnd it continues at LoopStart, Count times
// (-1 endless, 0 off).
struct TLoopCue {
    float LoopStart = 0.0f;  // seconds
    float LoopEnd = 0.0f;    // seconds
    int32_t Count = 0;
};

inline constexpr int kCueCount = 16;  // loop cues per stream, indices 0..15

// The same cue exact to the frame, in source frames at the stream's own rate: the sample
// numbers of "*loopsample" tags, the frames nearest to the times of "*looptime" tags. The
// render path jumps by these; float seconds cannot tell frames apart beyond about a minute.
struct CueFrames {
    int64_t StartFrame = 0;  // the first frame played after the jump
    int64_t EndFrame = 0;    // the jump comes right before this frame is played
};

// The lifecycle of a stream, in order: a state holds what the ones before it hold (a playing
// stream is loaded). GetState reports its number.
enum class TStreamState : int32_t {
    Closed = 0,   // no stream loaded
    Loaded = 1,   // loaded, not playing: stopped, paused or at its end
    Playing = 2,  // playing, pausing at the end
    Looping = 3,  // playing, starting again at the end
};

inline constexpr int kFilterPointCount = 256;
inline constexpr int kSpectrumValueCount = 256;
inline constexpr int32_t kChunkBytes = 4096;  // output bytes per chunk of a render

// How a host takes a stream's sound.
enum class StreamUse {
    // Through RenderNext's ring (or Render); the ring's sound is there for GetSpectrum.
    Ring,
    // Through Render alone, on a thread that must not allocate: the stream keeps no ring and
    // no spectrum transform (RenderNext renders nothing, GetSpectrum gives zeros), and every
    // decoder it plays from, its load's and each prepared position's, has decoded its first
    // blocks before it is handed over, so that no render sets a decoder up.
    Direct,
};

class TOggData {
public:
    // BufferSize: bytes of one block of wide frames; the render ring holds two.
    explicit TOggData(int32_t BufferSize, StreamUse Use = StreamUse::Ring);
    virtual ~TOggData();  // Close, then free; the object must not sit in a mixer slot
    TOggData(const TOggData&) = delete;
    TOggData& operator=(const TOggData&) = delete;

    void Lock() noexcept OGGMIX_ACQUIRE(FLock) { FLock.Wait(); }
    void Unlock() noexcept OGGMIX_RELEASE(FLock) { FLock.Release(); }

    // ---- Loading, information and loop tags (OggDataLib_Load.cpp, OggDataLib_Tags.cpp) ----

    // Ends the current stream and empties the object; fade, pan, volumes and the filter curve
    // stay. Takes FLock; then resets the gain control and switches it off.
    void Close();
    // False when no such file exists or it is a folder (the object is not touched). Otherwise
    // as LoadFromStream; a file that cannot be read throws EInOutError (object untouched).
    [[nodiscard]] bool LoadFromFile(const std::string& FileName);
    // Takes ownership of Stream. False for null (object untouched). Closes, opens the decoder
    // over Stream and reads information and loop tags: true, stopped at position 0. Data that
    // is not Ogg Vorbis throws ERangeError "ファイルの読み込みに失敗" and leaves the object
    // closed.
    [[nodiscard]] bool LoadFromStream(std::unique_ptr<MemoryStream> Stream);
    // The lines (split at CR LF) of the value of the first comment named Name (any case).
    [[nodiscard]] std::vector<std::string> GetComments(const std::string& Name) const;
    // Splits Text at Separator; a UTF-8 lead byte and the continuation bytes after it are one
    // character. Blanks are dropped when SkipBlanks; "//" ends the text when StopAtComment;
    // at least MinFields.
    [[nodiscard]] static std::vector<std::string> SplitFields(const std::string& Text,
                                                              const std::string& Separator,
                                                              int32_t MinFields, bool StopAtComment,
                                                              bool SkipBlanks);
    [[nodiscard]] static bool IsLeadByte(uint8_t b) noexcept;  // UTF-8 leads 0xC2..0xF4

    // Read-outs of the loaded stream (zero and empty while closed). UI thread.
    [[nodiscard]] float TotalTime() const noexcept { return FTotalTime; }    // seconds
    [[nodiscard]] int64_t TotalSize() const noexcept { return FTotalSize; }  // bytes, 16-bit stereo
    [[nodiscard]] int32_t Channels() const noexcept { return FChannels; }
    [[nodiscard]] int32_t Rate() const noexcept { return FRate; }  // Hz
    [[nodiscard]] const std::string& Vendor() const noexcept { return FVendor; }
    [[nodiscard]] const std::vector<std::string>& Comments() const noexcept { return FComments; }
    [[nodiscard]] int64_t PcmTotal() const noexcept { return FPcmTotal; }  // samples per channel
    [[nodiscard]] const std::array<TLoopCue, kCueCount>& Cues() const noexcept { return FCues; }
    [[nodiscard]] const std::array<CueFrames, kCueCount>& CuePositions() const noexcept {
        return FCueFrames;
    }
    // Off by default. On: a stream without "*looptime"/"*loopsample" cues takes cue 0 from the
    // LOOPSTART with LOOPLENGTH (or LOOPEND) comments that other tools write: sample numbers,
    // or times [[HH:]MM:]SS[.fff] (a colon or a point says which); endless; an end beyond the
    // data loops where the data ends. Kept across loads; a loaded stream's cues are read again
    // at once, with its repeat counters cleared. Takes FLock.
    void SetLoopStartTags(bool On);
    [[nodiscard]] bool LoopStartTags() const noexcept { return FLoopStartTags; }

    // The decoding binding of this stream's every decoder call; null (the default) is the
    // process-wide VorbisFileDLL. Call while closed; the binding must outlive the stream's
    // load. UI thread.
    void SetDecoderBinding(TVorbisFileDLL* Binding) noexcept;

    // ---- Conversion of other formats (OggDataLib_Convert.cpp). Off by default. ----

    // On: a stream of 8000..192000 Hz with 1..8 channels renders as 44100 Hz stereo (3..8
    // channels mixed down, other rates than 44100 and 22050 Hz resampled); 44100 and 22050 Hz
    // streams of one or two channels render as they do with it off. Off: formats other than
    // those render silence and pause the stream. Kept across loads; takes effect at once,
    // from the position being rendered. Takes FLock; allocates.
    void SetConversion(bool On);
    // No lock: the thread that switches it reads it.
    [[nodiscard]] bool Conversion() const noexcept OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return FConversion;
    }
    // Whether the loaded stream renders music with the current setting (false while closed).
    // No lock, like Conversion.
    [[nodiscard]] bool Renders() const noexcept OGGMIX_NO_THREAD_SAFETY_ANALYSIS;

    // ---- Transport (OggDataLib_Transport.cpp) ----
    // With the conversion at work, Seek and Stop restart the converter with the music before
    // the new position, and so does Play after the music has ended: they allocate.

    void Play(bool Loop, bool Lock);  // continues from the decoder position
    void Pause(bool Lock);            // keeps the position; clears the loop flag
    void Stop(bool Lock);             // pauses, rewinds to 0, clears repeat counters, zeroes ring
    // Clamped to 0..TotalTime (the end lands on the last frame); play state and repeat
    // counters kept.
    void Seek(float Seconds, bool Lock);
    // 0 closed, 1 loaded and not playing, 2 playing, 3 playing and looping.
    [[nodiscard]] int32_t GetState(bool Lock);
    // Seconds of music next out: the decoder position, less what a converter still holds.
    // 0 without a source.
    [[nodiscard]] float GetTime(bool Lock);
    [[nodiscard]] float GetPlayTime();  // position being heard, seconds; takes FLock
    [[nodiscard]] bool Seekable();      // loaded and the decoder can seek; no lock

    // ---- Positions prepared off the lock (OggDataLib_Position.cpp) ----
    // For hosts whose rendering thread must never wait on a converter's restart.

    // No FLock, any thread, but not while the stream loads, closes, switches its conversion
    // or applies a position. Builds the state for playing on from SourceFrame (clamped to the
    // stream's frames; the end lands on the last) without touching the stream's decoder or
    // render state. Null while closed or when the decoder cannot go there. Allocates.
    [[nodiscard]] std::unique_ptr<PreparedPosition> PreparePosition(int64_t SourceFrame)
        OGGMIX_NO_THREAD_SAFETY_ANALYSIS;
    // Takes FLock (when Lock) for a swap in constant time: the stream plays on from the
    // prepared frame exactly as after SeekFrame to it; play state and repeat counters kept.
    // Null, or a position made for another load, does nothing. Returns what was swapped out,
    // for the caller to free outside its own locks; dropped, it is freed after FLock is given
    // back (with Lock false: before the caller gives it back).
    std::unique_ptr<PreparedPosition> ApplyPosition(std::unique_ptr<PreparedPosition> Prepared,
                                                    bool Lock) noexcept;
    // Stop with a prepared start (PreparePosition(0)): pauses, applies it, clears the repeat
    // counters and zeroes the ring, all in constant time but the ring's zeroing.
    // Returns what was swapped out, as ApplyPosition does.
    std::unique_ptr<PreparedPosition> StopAt(std::unique_ptr<PreparedPosition> Start,
                                             bool Lock) noexcept;
    // Exact seek to a source frame (clamped as PreparePosition does); play state and repeat
    // counters kept. With a converter it restarts it under the lock: allocates.
    void SeekFrame(int64_t SourceFrame, bool Lock);
    // The source frame next out, exact (what GetTime gives in seconds); 0 while closed. While
    // NeedsRestart, the frame the restart plays from.
    [[nodiscard]] int64_t PositionFrame(bool Lock);
    // True when Play would restart the converter (the music ended inside it): prepare
    // PreparePosition(PositionFrame(true)) and apply it first, and Play restarts nothing.
    [[nodiscard]] bool NeedsRestart(bool Lock);

    // ---- Rendering (OggDataLib_Render.cpp). Refill thread. ----

    // Renders the next block of wide frames into the other half of the ring. Delay: ms that
    // the block now heard has been playing. >0 bytes rendered; 0 closed, paused, stopped or
    // without a ring (StreamUse::Direct) (ring untouched). Takes FLock.
    int32_t RenderNext(int32_t Delay) noexcept;
    // The block rendered last (BufferSize / 8 wide frames); valid until the next RenderNext.
    // No lock: the thread that renders reads it after its render.
    [[nodiscard]] const int32_t* GetBlock() const noexcept OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return FRing.data() + FCurrentHalf / static_cast<int32_t>(sizeof(int32_t));
    }
    // Bytes of one block of wide frames, as given to the constructor.
    [[nodiscard]] int32_t BufferSize() const noexcept { return FRingSize / 2; }
    // Renders Count bytes of wide (8 bytes/frame) or narrow (4 bytes/frame, clipped) frames to
    // Dest; returns the bytes rendered (whole frames), the rest of Count is zero-filled.
    // Cues jump right before their end frame. An end within one output frame past the end of
    // the data jumps where the data ends; one further beyond is never reached. A jump that
    // would not move playback by a whole frame is not taken.
    int32_t Render(void* Dest, int32_t Count, int32_t Delay, bool Wide, bool Lock) noexcept;

    // Off by default. On: every render records what it played (PlayRecord.h), with room for
    // every jump of a block however short the loop. Kept across loads; a load of a higher rate
    // than any before moves the records. So switch it, and load, while no one reads the last
    // record (not while a mixer that holds the stream mixes). Takes FLock; allocates.
    void SetPlayRecords(bool On);
    // The record of the last render (RenderNext or Render); null when records are off or that
    // render rendered nothing. Valid until the next render. No lock: read by the rendering
    // thread after its render, or with Lock() held.
    [[nodiscard]] const PlayRecord* LastPlayRecord() const noexcept
        OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return FRecorder.Last();
    }

    // ---- Volume, fades and pan (OggDataLib_Volume.cpp) ----

    void Fade(float Volume, float Seconds);  // ramps over Seconds of played audio; takes FLock
    [[nodiscard]] float GetFadeVolume(bool Lock);
    [[nodiscard]] float GetFadeTarget(bool Lock);
    void SetPan(float Pan, float Seconds);  // -1 left .. +1 right; takes FLock
    void SetMasterVolume(float Volume);     // takes FLock
    void SetVolume(float Volume);           // takes FLock; stops a volume ramp
    // Ramps the volume (clamped to 0..2) frame by frame over Seconds of played audio to where
    // SetVolume(Volume) sets it; below 0.01 s that at once. Unlike a fade, no volume pauses
    // the stream. Takes FLock.
    void SetVolume(float Volume, float Seconds);
    // Scales Count bytes of 16-bit frames from Source into Dest as wide or clipped narrow
    // frames, advancing the ramps per frame. Returns Count * 2 (wide) or Count.
    int32_t ApplyVolume(void* Dest, const int16_t* Source, int32_t Count, bool Wide) noexcept
        OGGMIX_REQUIRES(FLock);
    // The same in frames: the frames of Source into as many first frames of Dest.
    void ApplyVolume(WideFrames32 Dest, ConstStereoFrames16 Source) noexcept OGGMIX_REQUIRES(FLock);
    void ApplyVolume(StereoFrames16 Dest, ConstStereoFrames16 Source) noexcept
        OGGMIX_REQUIRES(FLock);

    // ---- Tone filter (OggDataLib_Filter.cpp) ----

    void SetFilterPoint(int32_t Index, float Value, float Time);  // takes FLock
    void SetFilterPointNow(int32_t Index, float Value);           // takes FLock
    // Spreads 4 or 8 control values (lowest frequency first) over the 256 points with a cubic
    // Hermite curve; every point ramps over Time seconds. Takes FLock.
    void SetFilterCurve4(float V0, float V1, float V2, float V3, float Time);
    void SetFilterCurve8(float V0, float V1, float V2, float V3, float V4, float V5, float V6,
                         float V7, float Time);
    [[nodiscard]] float GetFilterGain(int32_t Index) const noexcept;  // no lock
    // UI thread, no lock: that thread alone writes the targets.
    [[nodiscard]] float GetFilterTarget(int32_t Index) const noexcept
        OGGMIX_NO_THREAD_SAFETY_ANALYSIS;
    [[nodiscard]] bool FilterActive() const noexcept OGGMIX_REQUIRES(FLock);
    // Filters ByteCount / 4 frames in place while the curve is active. The gains the display
    // reads follow the curve at once, or, with ShowLater, only when the render ends (a render
    // filters many chunks under one hold of FLock).
    void ApplyFilter(int16_t* Samples, int32_t ByteCount, bool ShowLater = false) noexcept
        OGGMIX_REQUIRES(FLock);
    void ApplyFilter(StereoFrames16 Frames, bool ShowLater = false) noexcept OGGMIX_REQUIRES(FLock);
    [[nodiscard]] static float CurveValue(const float* Values, float X, int32_t Count) noexcept;
    [[nodiscard]] static float HermiteValue(float P0, float P1, float P2, float P3, float t,
                                            float F1, float F2) noexcept;

    // ---- Gain control (OggDataLib_AGC.cpp) ----

    // Stores the settings in the gain control and restarts it from InitialGain. Takes FLock.
    void SetAGCParams(int32_t Target, int32_t QuietLevel, float InitialGain, float AdjustRate);
    // Level 0 switches the control off; 1.0 aims at 30000. Takes FLock.
    void SetAGC(float Level);
    // The gain control's settings and state, for display and tests. No lock: read it between
    // renders, or with Lock() held.
    [[nodiscard]] const TAGC& AGC() const noexcept OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return *FAGC;
    }

    // ---- Spectrum (OggDataLib_Spectrum.cpp). UI thread. ----

    // Byte offset in the ring of the frame being heard, or -1. Takes FLock.
    [[nodiscard]] int32_t SpectrumPosition();
    // 256 weighted magnitudes of the frames being heard; zeros when no position is available.
    void GetSpectrum(std::span<float, kSpectrumValueCount> Values);
    void GetSpectrum(float* Values);  // Values: 256 floats

private:
    void SetFilterPointLocked(int32_t Index, float Value, float Time) noexcept
        OGGMIX_REQUIRES(FLock);
    [[nodiscard]] bool FilterActiveNow() noexcept  // FilterActive, remembered
        OGGMIX_REQUIRES(FLock);
    void ShowFilterGains() noexcept OGGMIX_REQUIRES(FLock);
    void SetFilterCurve(const float* Values, int32_t Count, float Time);  // takes FLock
    void ReadInfo() OGGMIX_REQUIRES(FLock);
    void ParseLoopTags() OGGMIX_REQUIRES(FLock);
    // Cue 0 from LOOPSTART and LOOPLENGTH or LOOPEND.
    void ParseLoopStartTags() OGGMIX_REQUIRES(FLock);
    // The render path below Render, in frames; Output is WideFrames32 or StereoFrames16.
    // Each returns the frames it rendered or decoded (the rest of Dest stays as it was), and
    // the decoding steps a negative decoder error, which has paused the stream.
    template <class Output>
    int32_t RenderFrames(Output Dest, int32_t Delay) noexcept OGGMIX_REQUIRES(FLock);
    template <class Output>
    int32_t RenderChunk(Output Dest) noexcept OGGMIX_REQUIRES(FLock);  // at most kChunkBytes
    int32_t DecodeWithCues(StereoFrames16 Buffer) noexcept OGGMIX_REQUIRES(FLock);
    // The frames of Dest through the converter, which DecodeWithCues feeds at the source rate.
    // >=0 frames; <0 error, as DecodeWithCues.
    int32_t ConvertWithCues(StereoFrames16 Dest) noexcept OGGMIX_REQUIRES(FLock);
    // Makes, drops or restarts the converter for the loaded stream and the setting; a restart
    // primes it with the music before the decoder's position. Allocates.
    void PrepareConverter() OGGMIX_REQUIRES(FLock);
    // Whether the loaded stream, with the switch as it is, plays through a converter.
    [[nodiscard]] bool Converts() const noexcept OGGMIX_REQUIRES(FLock);
    // Empties the converter's input and forgets the jumps inside it.
    void ResetConverterFeed() noexcept OGGMIX_REQUIRES(FLock);
    // Swaps Prepared's state in (and the stream's out into it).
    void AdoptPosition(PreparedPosition& Prepared) noexcept OGGMIX_REQUIRES(FLock);
    [[nodiscard]] int64_t ClampedFrame(int64_t SourceFrame) const noexcept;
    // The music time in seconds of the next frame the converter outputs, and the same in
    // source frames.
    [[nodiscard]] double ConvertedTimeSec() noexcept OGGMIX_REQUIRES(FLock);
    [[nodiscard]] double ConvertedFrame() noexcept OGGMIX_REQUIRES(FLock);
    int32_t ReadPcm(StereoFrames16 Dest) noexcept OGGMIX_REQUIRES(FLock);
    int32_t DecodeBlock(StereoFrames16 Dest) noexcept OGGMIX_REQUIRES(FLock);
    // The volume stage for either kind of output.
    template <class Output>
    void ScaleFrames(Output Dest, ConstStereoFrames16 Source) noexcept OGGMIX_REQUIRES(FLock);
    // The jumps of the music: a cue's, and one to toFrame (the wrap, the rewind at the end),
    // each after doneFrames frames of the current decode. With a converter the jump is noted
    // for the positions of its output.
    // Either is recorded with its cause (cueIndex: the cue's, or -1).
    void JumpToCue(int32_t Index, int32_t doneFrames) noexcept OGGMIX_REQUIRES(FLock);
    void JumpDecoderToFrame(int64_t toFrame, int32_t doneFrames, PlayJumpCause cause,
                            int32_t cueIndex) noexcept OGGMIX_REQUIRES(FLock);
    // Gives the play records room enough for the loaded stream. Allocates.
    void ReservePlayRecords() OGGMIX_REQUIRES(FLock);
    // The source frame the next output frame plays.
    [[nodiscard]] int64_t NextOutputSourceFrame() noexcept OGGMIX_REQUIRES(FLock);
    // Output frames that source frames make (the format conversion below the cue logic).
    [[nodiscard]] int64_t OutputFrames(int64_t sourceFrames) const noexcept OGGMIX_REQUIRES(FLock);
    // The lifecycle state: read anywhere (FState is atomic), set with FLock held.
    [[nodiscard]] TStreamState State() const noexcept OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return FState.load(std::memory_order_relaxed);
    }
    void SetState(TStreamState State) noexcept OGGMIX_REQUIRES(FLock) {
        FState.store(State, std::memory_order_relaxed);
    }
    [[nodiscard]] bool Loaded() const noexcept { return State() >= TStreamState::Loaded; }
    // The freshly opened decoder warmed up and back at the start (StreamUse::Direct).
    void ReadyDecoderAtStart();
    // The binding of the loaded stream's decoder.
    [[nodiscard]] TVorbisFileDLL& Binding() const noexcept { return *FDecoder->Binding(); }
    [[nodiscard]] bool Playing() const noexcept { return State() >= TStreamState::Playing; }
    // Move the decoder to Seconds or to a source frame; on success drop the held frame. Reset
    // FLastTime either way. False when the decoder refused.
    bool SeekDecoder(double Seconds) noexcept OGGMIX_REQUIRES(FLock);
    bool SeekDecoderToFrame(int64_t Frame) noexcept OGGMIX_REQUIRES(FLock);
    bool SettleSeek(int32_t Result, double BeforeSec, int64_t BeforeFrame) noexcept
        OGGMIX_REQUIRES(FLock);
    // The decoder's time in seconds (TimeTell); while a failed seek has left the decoder
    // without a position, the time from before that seek.
    [[nodiscard]] double DecoderTime() noexcept OGGMIX_REQUIRES(FLock);
    // The same as the source frame the decoder delivers next (PcmTell).
    [[nodiscard]] int64_t DecoderFrame() noexcept OGGMIX_REQUIRES(FLock);

    TALOGGSemaphore FLock;
    const StreamUse FUse;

    // Written under FLock; read without it too (Seekable, Renders): each value stands alone,
    // and only the UI thread moves it to or from Closed.
    std::atomic<TStreamState> FState OGGMIX_GUARDED_BY(FLock){TStreamState::Closed};
    // Guarded by FLock (the read-outs are also read by the UI thread, which alone writes them).
    // The decoder opens outside the lock while the stream is closed, which keeps the render
    // path away from it.
    // The compressed file and its decoder; a prepared position swaps in another.
    std::unique_ptr<DecoderSession> FDecoder = std::make_unique<DecoderSession>();
    // The session PreparePosition copies the file from: FDecoder's, kept apart so that a host
    // may prepare a position while its rendering thread swaps another one in (the session
    // swapped out stays with the host until it frees it, on the thread that prepares).
    std::atomic<const DecoderSession*> FCopySource{FDecoder.get()};
    uint64_t FLoadNumber = 0;    // counts the loads, to tell prepared positions apart
    std::vector<int32_t> FRing;  // two blocks of wide frames; empty for StreamUse::Direct
    int32_t FRingSize = 0;       // bytes, with or without the ring
    std::array<int32_t, kCueCount> FRepeatCount{};
    // Decoder output before format conversion: a chunk's frames of up to eight channels.
    std::array<int16_t, 8192> FDecodeBuffer{};
    std::array<int16_t, 4096> FWorkBuffer{};  // one converted chunk through the effect stages
    float FTotalTime = 0.0f;
    int64_t FTotalSize = 0;
    int32_t FChannels = 0;
    int32_t FRate = 0;
    std::string FVendor;
    std::vector<std::string> FComments;
    int64_t FPcmTotal = 0;
    std::array<TLoopCue, kCueCount> FCues{};
    std::array<CueFrames, kCueCount> FCueFrames{};
    bool FLoopStartTags = false;  // a setting: survives Close

    // Transport and timing. Guarded by FLock.
    int32_t FCurrentHalf OGGMIX_GUARDED_BY(FLock) = 0;  // bytes: 0 or FRingSize / 2
    // ms: when the block now heard started to play
    int64_t FTimestamp OGGMIX_GUARDED_BY(FLock) = 0;
    // seconds: decoder position at the last render's start
    float FRenderStartTime OGGMIX_GUARDED_BY(FLock) = 0.0f;
    float FLastTime OGGMIX_GUARDED_BY(FLock) = 0.0f;  // seconds: last GetPlayTime result
    // A 22050 Hz source frame becomes two output frames; when a request ends between them,
    // the second waits here for the next request. Dropped by every seek.
    std::array<int16_t, 2> FHeldFrame OGGMIX_GUARDED_BY(FLock){};
    bool FHasHeldFrame OGGMIX_GUARDED_BY(FLock) = false;
    // A seek that fails part-way leaves libvorbisfile without a position until it decodes
    // again, and asked for its time meanwhile it reads outside its own tables: until samples
    // arrive, the time from before the seek stands in.
    bool FPositionLost OGGMIX_GUARDED_BY(FLock) = false;
    double FLostAtSec OGGMIX_GUARDED_BY(FLock) = 0.0;
    int64_t FLostAtFrame OGGMIX_GUARDED_BY(FLock) = 0;

    // Conversion. Guarded by FLock. The converter exists while a loaded stream needs its rate
    // changed with the switch on; it takes stereo frames at the source rate from FConvInput.
    bool FConversion OGGMIX_GUARDED_BY(FLock) = false;
    std::unique_ptr<RateConverter> FConverter OGGMIX_GUARDED_BY(FLock);
    std::array<int16_t, 2048> FConvInput OGGMIX_GUARDED_BY(FLock){};
    int32_t FConvInputFrames OGGMIX_GUARDED_BY(FLock) = 0;  // frames held in FConvInput
    int32_t FConvInputUsed OGGMIX_GUARDED_BY(FLock) = 0;    // frames of them already converted
    // The jumps in the music fed to the converter that its output has not yet passed.
    ConverterJumps FConvJumps OGGMIX_GUARDED_BY(FLock);
    // The music has ended and its last frames are still coming out of the converter; the
    // stream pauses once they are out.
    bool FConvEnding OGGMIX_GUARDED_BY(FLock) = false;
    // The converter holds the end of the music and must restart before playing on.
    bool FConvStale OGGMIX_GUARDED_BY(FLock) = false;

    // Play records. Guarded by FLock. While a render runs, FRecordFrame is the output frame of
    // the render at which the chunk being rendered starts, and FSilentFrom the output frame
    // from which the fade has been silent (-1: it is not).
    bool FPlayRecords OGGMIX_GUARDED_BY(FLock) = false;  // a setting: survives Close
    PlayRecorder FRecorder OGGMIX_GUARDED_BY(FLock);
    int32_t FRecordFrame OGGMIX_GUARDED_BY(FLock) = 0;
    int32_t FSilentFrom OGGMIX_GUARDED_BY(FLock) = -1;

    // Fade, pan and volumes. Guarded by FLock.
    int64_t FFadeVolume OGGMIX_GUARDED_BY(FLock) = 0;      // Q40
    int64_t FFadeTarget OGGMIX_GUARDED_BY(FLock) = 0;      // Q40
    int64_t FFadeStep OGGMIX_GUARDED_BY(FLock) = 0;        // Q40 per frame
    int64_t FPan OGGMIX_GUARDED_BY(FLock) = 0;             // Q40, -1.0 .. +1.0
    int64_t FPanTarget OGGMIX_GUARDED_BY(FLock) = 0;       // Q40
    int64_t FPanStep OGGMIX_GUARDED_BY(FLock) = 0;         // Q40 per frame
    int32_t FMasterVolume OGGMIX_GUARDED_BY(FLock) = 256;  // Q8
    int32_t FVolume OGGMIX_GUARDED_BY(FLock) = 256;        // Q8
    // The volume ramp: FVolume follows its value in 1/256.
    int64_t FVolumeRampQ40 OGGMIX_GUARDED_BY(FLock) = int64_t{256} << 32;
    int64_t FVolumeTargetQ40 OGGMIX_GUARDED_BY(FLock) = int64_t{256} << 32;
    int64_t FVolumeStepQ40 OGGMIX_GUARDED_BY(FLock) = 0;  // per frame

    // Tone filter. The curve, guarded by FLock, is kept in transform-bin order (point 2k is
    // bin k, point 2k + 1 is bin 255 - k), so that the render path moves it and applies it a
    // vector at a time: per point its gain applied now, the gain it moves to, and the change
    // of gain per frame (0 at rest).
    alignas(64) std::array<float, kFilterPointCount> FFilterGain OGGMIX_GUARDED_BY(FLock){};
    alignas(64) std::array<float, kFilterPointCount> FFilterTarget OGGMIX_GUARDED_BY(FLock){};
    alignas(64) std::array<float, kFilterPointCount> FFilterStep OGGMIX_GUARDED_BY(FLock){};
    // The gains again, for the display, which reads them without the lock; brought up to
    // date after every render (relaxed: each value stands alone). Bin order too.
    std::array<std::atomic<float>, kFilterPointCount> FFilterGainShown{};
    // The curve has moved since the display's gains were last brought up to date.
    bool FFilterGainsUnshown = false;
    // Passes of the curve in a row in which no point had a step: after two, a pass changes
    // nothing and is skipped. Any setter resets it. Guarded by FLock.
    int32_t FFilterStillPasses OGGMIX_GUARDED_BY(FLock) = 0;
    // FilterActive as of the last change of the curve; FilterActiveNow recomputes it then.
    bool FFilterActiveKnown = false;
    bool FFilterActive = false;
    // One transform frame of the filter: left in Re, right in Im.
    alignas(64) std::array<float, 256> FFilterFrameRe{};
    alignas(64) std::array<float, 256> FFilterFrameIm{};
    std::array<float, 64> FFilterHistoryL{};
    std::array<float, 64> FFilterHistoryR{};
    std::unique_ptr<TFFT> FFilterFFT;
    // Spectrum requests only; null without a ring.
    std::unique_ptr<TFFT> FSpectrumFFT OGGMIX_PT_GUARDED_BY(FLock);

    std::unique_ptr<TAGC> FAGC OGGMIX_PT_GUARDED_BY(FLock);
};

}  // namespace oggmix
