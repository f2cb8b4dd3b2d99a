// OggDataLib_Render.cpp: rendering: blocks into the ring, chunks through the effect stages,
// and decoding through the loop cues to the end of the stream.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/Clock.h"
#include "stream/OggDataLib.h"
#include "stream/SourceDecode.h"
#include "stream/SourceFormat.h"

namespace oggmix {
namespace {

bool Armed(const TLoopCue& cue, int32_t repeats) noexcept {
    return repeats < cue.Count || cue.Count == -1;
}

bool Blocked(uint32_t mask, int32_t index) noexcept { return ((mask >> index) & 1u) != 0; }

// A jump that lands where it is taken would only ever repeat itself.
bool JumpMoves(const CueFrames& frames) noexcept { return frames.StartFrame != frames.EndFrame; }

struct CueSplit {
    int32_t Index = -1;  // no cue
    int32_t Frames = 0;  // output frames before the jump
};

// The armed cue whose end playback reaches first within roomFrames output frames, and how many
// output frames come before it. posFrame is the source frame the decoder delivers next;
// heldFrames output frames of the source frame before it are still to come. A tie goes to
// the lower index. A blocked cue may not jump before a frame has been decoded.
template <class ToOutputFrames>
CueSplit NextSplit(const std::array<TLoopCue, kCueCount>& cues,
                   const std::array<CueFrames, kCueCount>& frames,
                   const std::array<int32_t, kCueCount>& repeats, uint32_t blocked,
                   int64_t posFrame, int32_t heldFrames, int32_t roomFrames,
                   ToOutputFrames toOutputFrames) noexcept {
    CueSplit best;
    for (int32_t i = 0; i < kCueCount; ++i) {
        if (!Armed(cues[i], repeats[i]) || !JumpMoves(frames[i]) || frames[i].EndFrame < posFrame)
            continue;
        const int64_t split = heldFrames + toOutputFrames(frames[i].EndFrame - posFrame);
        if (split > roomFrames || (split == 0 && Blocked(blocked, i))) continue;
        if (best.Index < 0 || split < best.Frames) best = {i, static_cast<int32_t>(split)};
    }
    return best;
}

// The armed cue with the nearest end just past endFrame, where the data ran out: a loop end
// written at the end of the stream that rounding put up to one output frame beyond it jumps
// there. Ends further beyond are never reached.
int32_t CueAtStreamEnd(const std::array<TLoopCue, kCueCount>& cues,
                       const std::array<CueFrames, kCueCount>& frames,
                       const std::array<int32_t, kCueCount>& repeats, uint32_t blocked,
                       int64_t endFrame, int32_t rateHz) noexcept {
    int32_t best = -1;
    for (int32_t i = 0; i < kCueCount; ++i) {
        const int64_t beyond = frames[i].EndFrame - endFrame;  // source frames
        if (!Armed(cues[i], repeats[i]) || Blocked(blocked, i) || !JumpMoves(frames[i]) ||
            beyond < 0 || beyond * kFramesPerSecond > rateHz)
            continue;
        if (best < 0 || frames[i].EndFrame < frames[best].EndFrame) best = i;
    }
    return best;
}

}  // namespace

int32_t TOggData::RenderNext(int32_t Delay) noexcept {
    ScopedLock guard(FLock);
    if (!Playing() || FRing.empty()) {
        FRecorder.Discard();
        return 0;
    }
    FCurrentHalf = FCurrentHalf == 0 ? FRingSize / 2 : 0;
    return Render(FRing.data() + FCurrentHalf / static_cast<int32_t>(sizeof(int32_t)),
                  FRingSize / 2, Delay, true, false);
}

int32_t TOggData::Render(void* Dest, int32_t Count, int32_t Delay, bool Wide, bool Lock) noexcept {
    ScopedLockIf guard(FLock, Lock);
    if (Dest == nullptr || Count <= 0) return 0;
    // Only whole frames are rendered; a trailing part of a frame is zero-filled with the rest.
    const int32_t done =
        Wide ? WideFramesToBytes(RenderFrames(
                   WideFrames32(static_cast<int32_t*>(Dest), BytesToWideFrames(Count)), Delay))
             : FramesToBytes(RenderFrames(
                   StereoFrames16(static_cast<int16_t*>(Dest), BytesToFrames(Count)), Delay));
    std::memset(static_cast<std::byte*>(Dest) + done, 0, static_cast<size_t>(Count - done));
    return done;
}

template <class Output>
int32_t TOggData::RenderFrames(Output Dest, int32_t Delay) noexcept {
    // A finished fade-out to silence pauses the stream where it is. Compared in double, as the
    // fade times are: 0.01f itself lies below a hundredth.
    constexpr double kSilentFade = 0.01;
    if (GetFadeVolume(false) < kSilentFade && GetFadeTarget(false) < kSilentFade) Pause(false);
    if (!Playing()) {
        FRecorder.Discard();
        return 0;
    }

    FTimestamp = timeGetTime() - Delay;
    // A held frame is output before anything the decoder delivers next, so the render starts
    // one frame before the decoder's position.
    const double heldSec = FHasHeldFrame ? 1.0 / kFramesPerSecond : 0.0;
    FRenderStartTime =
        static_cast<float>((FConverter ? ConvertedTimeSec() : DecoderTime()) - heldSec);
    if (FRecorder.On()) FRecorder.Begin(NextOutputSourceFrame());
    FSilentFrom = -1;
    int32_t done = 0;
    while (done < Dest.Frames()) {
        FRecordFrame = done;
        const int32_t n = RenderChunk(Dest.From(done));
        if (n < 1) break;
        done += n;
    }
    if (FFilterGainsUnshown) ShowFilterGains();
    // A render that met the end of the music at once plays nothing but still ends it.
    if (done == 0 && !FRecorder.HasJumps()) {
        FRecorder.Discard();
    } else if (FRecorder.On()) {
        // The fade that pauses the stream at its next render: silent from where its gain
        // reached zero, or, cut off before that, from the end of the music.
        const bool pausesNext =
            GetFadeVolume(false) < kSilentFade && GetFadeTarget(false) < kSilentFade;
        FRecorder.Finish(done, !pausesNext ? -1 : FSilentFrom >= 0 ? FSilentFrom : done);
    }
    return done;
}

template <class Output>
int32_t TOggData::RenderChunk(Output Dest) noexcept {
    // A chunk is kChunkBytes of output, whatever its kind: wide output takes chunks of half
    // as many frames as narrow output.
    constexpr int32_t kChunkFrames = kChunkBytes / Output::kBytesPerFrame;
    static_assert(kChunkFrames * Output::kSamplesPerFrame <=
                  std::tuple_size_v<decltype(FWorkBuffer)>);
    if (!Playing()) return 0;
    // The work buffer is not cleared first: decoding writes every frame it reports, and each
    // stage reads only those.
    const auto work = StereoFrames16(FWorkBuffer).First(std::min(Dest.Frames(), kChunkFrames));
    const int32_t c = FConverter ? ConvertWithCues(work) : DecodeWithCues(work);
    if (c <= 0) return 0;
    const StereoFrames16 chunk = work.First(c);
    ApplyFilter(chunk, true);
    FAGC->Process(chunk.Samples());
    ApplyVolume(Dest, chunk);
    return chunk.Frames();
}

// Decodes the frames of Buffer as a run of segments: each ends where an armed cue
// jumps, where the data ends, or at the end of the chunk. Every segment starts from the
// decoder's real position, in source frames, so jumps are exact to the frame at any length and
// cues after a jump or a wrap see the frames actually played. Without a frame decoded in
// between, a cue jumps at most once and the stream wraps at most once, so cues that jump onto
// each other's ends and empty streams cannot keep the loop turning.
int32_t TOggData::DecodeWithCues(StereoFrames16 Buffer) noexcept {
    const int32_t countFrames = Buffer.Frames();
    // Called within this function, FLock held; the analysis does not follow it into lambdas.
    const auto toOutputFrames = [this](int64_t sourceFrames) OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        return OutputFrames(sourceFrames);
    };
    int32_t doneFrames = 0;
    uint32_t jumpedWithoutData = 0;  // one bit per cue
    bool wrappedWithoutData = false;
    while (doneFrames < countFrames) {
        const int32_t roomFrames = countFrames - doneFrames;
        const int64_t posFrame = DecoderFrame();
        // Playback that has moved past a cue's end re-arms it for the next time it comes
        // before that end again.
        for (int32_t i = 0; i < kCueCount; ++i)
            if (FCueFrames[i].EndFrame < posFrame) FRepeatCount[i] = 0;

        const CueSplit split =
            NextSplit(FCues, FCueFrames, FRepeatCount, jumpedWithoutData, posFrame,
                      FHasHeldFrame ? 1 : 0, roomFrames, toOutputFrames);
        const int32_t wantFrames = split.Index >= 0 ? split.Frames : roomFrames;
        const int32_t n = ReadPcm(Buffer.From(doneFrames).First(wantFrames));
        if (n < 0) return n;
        doneFrames += n;
        if (n > 0) {
            jumpedWithoutData = 0;
            wrappedWithoutData = false;
        }
        if (n == wantFrames) {
            if (split.Index >= 0) {
                JumpToCue(split.Index, doneFrames);
                jumpedWithoutData |= 1u << split.Index;
            }
            continue;
        }

        // The data ended before the split or the end of the chunk.
        const int64_t endFrame = DecoderFrame();
        const int32_t endCue =
            CueAtStreamEnd(FCues, FCueFrames, FRepeatCount, jumpedWithoutData, endFrame, FRate);
        if (endCue >= 0) {
            JumpToCue(endCue, doneFrames);
            jumpedWithoutData |= 1u << endCue;
            continue;
        }
        if (State() == TStreamState::Looping && !wrappedWithoutData) {
            // The wrap passes every end that lies at or beyond the end of the data.
            for (int32_t i = 0; i < kCueCount; ++i)
                if (FCueFrames[i].EndFrame >= endFrame) FRepeatCount[i] = 0;
            JumpDecoderToFrame(0, doneFrames, PlayJumpCause::Wrap, -1);
            wrappedWithoutData = true;
            continue;
        }
        // The end without looping, or a looping stream with nothing to play: paused and
        // rewound, the rest of the block silent; the repeat counters stay.
        Pause(false);
        JumpDecoderToFrame(0, doneFrames, PlayJumpCause::End, -1);
        return doneFrames;
    }
    return doneFrames;
}

void TOggData::JumpToCue(int32_t Index, int32_t doneFrames) noexcept {
    if (FCues[Index].Count != -1) ++FRepeatCount[Index];
    JumpDecoderToFrame(FCueFrames[Index].StartFrame, doneFrames, PlayJumpCause::LoopCue, Index);
}

void TOggData::JumpDecoderToFrame(int64_t toFrame, int32_t doneFrames, PlayJumpCause cause,
                                  int32_t cueIndex) noexcept {
    if (!FConverter && !FRecorder.On()) {
        SeekDecoderToFrame(toFrame);
        return;
    }
    const int64_t fromFrame = DecoderFrame();
    SeekDecoderToFrame(toFrame);
    const int64_t landedFrame = DecoderFrame();
    if (!FConverter) {
        FRecorder.Jump(FRecordFrame + doneFrames, fromFrame, landedFrame, cause, cueIndex);
        return;
    }
    // Everything decoded before this decode has been taken by the converter. Its output frame
    // k plays fed frame k * FRate / 44100: the first at or past the jump is where it is heard.
    const int64_t atFedFrame = FConverter->FedFrames() + doneFrames;
    FConvJumps.Add(atFedFrame, fromFrame, landedFrame);
    const int64_t heardIndex = (atFedFrame * kFramesPerSecond + FRate - 1) / FRate;
    FRecorder.Fed(heardIndex, fromFrame, landedFrame, cause, cueIndex);
}

int64_t TOggData::NextOutputSourceFrame() noexcept {
    if (FConverter) return std::llround(ConvertedFrame());
    // A held frame is the second half of the source frame before the decoder's position.
    return DecoderFrame() - (FHasHeldFrame ? 1 : 0);
}

int64_t TOggData::OutputFrames(int64_t sourceFrames) const noexcept {
    // A 22050 Hz source frame is output twice; ahead of a converter frames stay at the source's
    // rate; DecodeBlock refuses every other rate.
    return FRate == kFramesPerSecond / 2 && !FConverter ? 2 * sourceFrames : sourceFrames;
}

bool TOggData::SeekDecoder(double Seconds) noexcept {
    const double beforeSec = DecoderTime();
    const int64_t beforeFrame = DecoderFrame();
    return SettleSeek(Binding().TimeSeek(FDecoder->Get(), Seconds), beforeSec, beforeFrame);
}

bool TOggData::SeekDecoderToFrame(int64_t Frame) noexcept {
    const double beforeSec = DecoderTime();
    const int64_t beforeFrame = DecoderFrame();
    return SettleSeek(Binding().PcmSeek(FDecoder->Get(), Frame), beforeSec, beforeFrame);
}

bool TOggData::SettleSeek(int32_t Result, double BeforeSec, int64_t BeforeFrame) noexcept {
    FLastTime = 0.0f;
    // A refused seek (a position outside the stream) leaves the decoder where it was, and
    // playback goes on from there; one that fails part-way leaves it somewhere, without a
    // position until it decodes. Either way the position before the seek stands until then.
    if (Result != 0) {
        FPositionLost = true;
        FLostAtSec = BeforeSec;
        FLostAtFrame = BeforeFrame;
        return false;
    }
    FPositionLost = false;
    FHasHeldFrame = false;
    return true;
}

double TOggData::DecoderTime() noexcept {
    return FPositionLost ? FLostAtSec : Binding().TimeTell(FDecoder->Get());
}

int64_t TOggData::DecoderFrame() noexcept {
    return FPositionLost ? FLostAtFrame : Binding().PcmTell(FDecoder->Get());
}

// Decodes every frame of Dest unless the data ends (fewer) or the decoder fails.
// >=0 frames decoded; <0 error, and the stream is paused.
int32_t TOggData::ReadPcm(StereoFrames16 Dest) noexcept {
    int32_t done = 0;
    while (done < Dest.Frames()) {
        const int32_t n = DecodeBlock(Dest.From(done));
        if (n < 0) {
            // Deliberate: a decoding error or an unsupported format pauses the stream and the
            // chunk stays silent; the host sees state 1.
            Pause(false);
            return n;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

// One read, converted to 16-bit stereo at 44100 Hz (with a converter: at the source's rate,
// for the converter to take on). 3 to 8 channels are mixed down first. Requests to the decoder
// are whole source frames, and the second output frame of a 22050 Hz source frame that does
// not fit waits in FHeldFrame. >0 frames, 0 end of data, <0 error.
int32_t TOggData::DecodeBlock(StereoFrames16 Dest) noexcept {
    static_assert(BytesToFrames(kChunkBytes) * kMaxConvertedChannels * kBytesPerSample <=
                  static_cast<int32_t>(sizeof(FDecodeBuffer)));
    // Ahead of the converter the source's own rate passes unchanged.
    const int32_t repeat = FConverter                      ? 1
                           : FRate == kFramesPerSecond     ? 1
                           : FRate == kFramesPerSecond / 2 ? 2
                                                           : 0;
    const int32_t maxChannels = FConversion ? kMaxConvertedChannels : 2;
    if (repeat == 0 || FChannels < 1 || FChannels > maxChannels) return -1;

    int32_t written = 0;  // frames
    if (FHasHeldFrame) {
        Dest.Left(0) = FHeldFrame[0];
        Dest.Right(0) = FHeldFrame[1];
        FHasHeldFrame = false;
        written = 1;
        if (written == Dest.Frames()) return written;
    }
    HeldFrame held;
    const SourceRead read = DecodeSourceFrames({Binding(), FDecoder->Get(), FRate, FChannels},
                                               repeat, FDecodeBuffer, Dest.From(written), held);
    if (read.Frames < 0) return read.Frames;
    if (read.SamplesArrived) FPositionLost = false;
    if (held.Held) {
        FHeldFrame = held.Samples;
        FHasHeldFrame = true;
    }
    return written + read.Frames;
}

}  // namespace oggmix
