// OggDataLib_Convert.cpp: the conversion of other rates and channel counts: the switch, the
// converter's restarts with music before the position, and rendering through it.
#include <algorithm>

#include "stream/ConverterPriming.h"
#include "stream/OggDataLib.h"
#include "stream/SourceFormat.h"

namespace oggmix {

void TOggData::SetConversion(bool On) {
    ScopedLock guard(FLock);
    if (On == FConversion) return;
    // The output goes on from what was last heard, not from where the decoder ran ahead to.
    const float heardSec = GetTime(false);
    FConversion = On;
    FConverter.reset();
    if (Loaded() && Seekable()) SeekDecoder(heardSec);
    PrepareConverter();
}

bool TOggData::Renders() const noexcept {
    if (!Loaded()) return false;
    return PlaysAsIs(FRate, FChannels) || (FConversion && PlaysConverted(FRate, FChannels));
}

double TOggData::ConvertedTimeSec() noexcept {
    // While a jump is inside the converter, what comes out is the music that led up to it.
    if (const auto frame = FConvJumps.MusicFrameAt(FConverter->OutputFedFrames()))
        return *frame / FRate;
    // Otherwise the output lies behind the decoder by the music fed and not yet output,
    // including what was decoded but not yet taken by the converter.
    const int32_t waitingFrames = FConvInputFrames - FConvInputUsed;
    return DecoderTime() - (FConverter->LagSec() + static_cast<double>(waitingFrames) / FRate);
}

double TOggData::ConvertedFrame() noexcept {
    if (const auto frame = FConvJumps.MusicFrameAt(FConverter->OutputFedFrames())) return *frame;
    // What was fed and not yet output, and what waits to be fed, lie behind the decoder.
    const double aheadFrames = static_cast<double>(FConverter->FedFrames()) -
                               FConverter->OutputFedFrames() + FConvInputFrames - FConvInputUsed;
    return static_cast<double>(DecoderFrame()) - aheadFrames;
}

void TOggData::ResetConverterFeed() noexcept {
    FConvInputFrames = 0;
    FConvInputUsed = 0;
    FConvJumps.Clear();
    FRecorder.ClearPending();
    FConvEnding = false;
    FConvStale = false;
}

bool TOggData::Converts() const noexcept {
    return Loaded() && FConversion && !RateWithoutResampler(FRate) &&
           PlaysConverted(FRate, FChannels);
}

void TOggData::PrepareConverter() {
    ResetConverterFeed();
    if (!Converts()) {
        FConverter.reset();
        return;
    }
    try {
        if (!FConverter) FConverter = std::make_unique<RateConverter>(FRate, FChannels);
    } catch (const std::exception&) {
        // Without a converter the format stays unsupported: the stream renders silence.
        return;
    }

    // The filter's history is the music just before the position, so the first frames out
    // are already right; at the start of the stream it is the silence before it.
    const int64_t targetFrame = DecoderFrame();
    const int64_t startFrame = std::max<int64_t>(0, targetFrame - FConverter->PrimeFrames());
    int64_t historyFrames = 0;
    if (startFrame < targetFrame && SeekDecoderToFrame(startFrame))
        historyFrames = targetFrame - DecoderFrame();
    // Called with FLock held; the analysis does not follow it into the lambda.
    const auto read = [this](StereoFrames16 frames)
                          OGGMIX_NO_THREAD_SAFETY_ANALYSIS { return DecodeBlock(frames); };
    if (!RestartWithHistory(*FConverter, historyFrames, StereoFrames16(FConvInput), FWorkBuffer,
                            read)) {
        // The history could not be read: start afresh at the position without it.
        SeekDecoderToFrame(targetFrame);
        FConverter->Restart(0);
    }
}

// Pulls output from the converter and feeds it the music the cues choose, in the source's
// own rate; a loop jump or a wrap only changes what comes next, so the converter runs on
// through it without a seam. At the end of the music the converter is emptied before the
// stream pauses.
int32_t TOggData::ConvertWithCues(StereoFrames16 Dest) noexcept {
    int32_t doneFrames = 0;
    while (doneFrames < Dest.Frames()) {
        const std::span<int16_t> output = Dest.From(doneFrames).Samples();
        if (FConvInputUsed == FConvInputFrames && !FConvEnding) {
            FConvJumps.Passed(FConverter->OutputFedFrames());  // room for the jumps to come
            const int32_t got = DecodeWithCues(StereoFrames16(FConvInput));
            // Deliberate: a decoding error has paused the stream; what is out stays.
            if (got < 0) return doneFrames > 0 ? doneFrames : got;
            FConvInputFrames = got;
            FConvInputUsed = 0;
            if (!Playing()) {
                // The music ended (and the decoder is rewound); its last frames are still in
                // the converter, so the stream plays on until they are out.
                SetState(TStreamState::Playing);
                FConvEnding = true;
            }
        }
        if (FConvInputUsed < FConvInputFrames) {
            const auto input =
                std::span<const int16_t>(FConvInput)
                    .subspan(2 * static_cast<size_t>(FConvInputUsed),
                             2 * static_cast<size_t>(FConvInputFrames - FConvInputUsed));
            const int64_t firstIndex = FConverter->NextOutputFrame();
            const ConverterStep step = FConverter->Process(input, output);
            FRecorder.Heard(firstIndex, step.ProducedFrames, FRecordFrame + doneFrames);
            FConvInputUsed += step.ConsumedFrames;
            doneFrames += step.ProducedFrames;
            if (step.ConsumedFrames == 0 && step.ProducedFrames == 0) break;
            continue;
        }
        const int64_t firstIndex = FConverter->NextOutputFrame();
        const int32_t n = FConverter->Finish(output);
        if (n == 0) {
            // The end is heard where the music has all come out.
            FRecorder.HeardAll(FRecordFrame + doneFrames);
            FConvEnding = false;
            FConvStale = true;
            Pause(false);
            break;
        }
        FRecorder.Heard(firstIndex, n, FRecordFrame + doneFrames);
        doneFrames += n;
    }
    return doneFrames;
}

}  // namespace oggmix
