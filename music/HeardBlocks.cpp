// HeardBlocks.cpp: block records, the heard moment, positions and due events; and reading a
// block's jump or end out of the track positions around it.
#include "music/HeardBlocks.h"

#include <algorithm>
#include <cmath>

namespace oggmix::music {
namespace {

// The decoder's position is read in single precision; a jump is recognised when the frame it
// lands on is this close to the loop start it names.
constexpr double kLandingToleranceSec = 0.005;

int32_t SecToFrames(double seconds) noexcept {
    return static_cast<int32_t>(std::lround(seconds * kFramesPerSec));
}

bool Before(int64_t seq, int32_t frame, HeardFrame heard) noexcept {
    return seq < heard.Seq || (seq == heard.Seq && frame <= heard.Frame);
}

}  // namespace

HeardBlocks::HeardBlocks(int32_t BlockFrames)
    : FBlockFrames(BlockFrames),
      FRecords(kRecordCapacity),
      FEvents(kEventCapacity, PendingEvent{-1, 0, MusicEvent{MusicEventKind::Ended, {}, -1}}) {
    for (auto& seq : FHalfSeq) seq.store(-1, std::memory_order_relaxed);
}

void HeardBlocks::Add(const BlockRecord& Record) noexcept {
    FRecords[static_cast<size_t>(FNextRecord)] = Record;
    FNextRecord = (FNextRecord + 1) % kRecordCapacity;
}

void HeardBlocks::PushEvent(int64_t Seq, int32_t Frame, const MusicEvent& Event) noexcept {
    if (FEventCount == kEventCapacity) return;
    const int32_t index = (FFirstEvent + FEventCount) % kEventCapacity;
    FEvents[static_cast<size_t>(index)] = {Seq, Frame, Event};
    ++FEventCount;
}

void HeardBlocks::Written(int Half, int64_t Seq) noexcept {
    FHalfSeq[static_cast<size_t>(Half & 1)].store(Seq, std::memory_order_relaxed);
}

HeardFrame HeardBlocks::At(uint32_t PlayBytes) const noexcept {
    const auto halfBytes = static_cast<uint32_t>(FBlockFrames) * 4;
    const uint32_t half = (PlayBytes / halfBytes) & 1;
    return {FHalfSeq[half].load(std::memory_order_relaxed),
            static_cast<int32_t>((PlayBytes % halfBytes) / 4)};
}

std::optional<double> HeardBlocks::PositionOf(uint32_t TrackId, HeardFrame Heard) const {
    const BlockRecord* next = nullptr;  // the first block of the track still to be heard
    for (const BlockRecord& record : FRecords) {
        if (record.TrackId != TrackId || record.Seq < 0) continue;
        if (record.Seq == Heard.Seq) {
            if (Heard.Frame >= record.Frames) return record.EndSec;
            if (record.JumpFrame >= 0 && Heard.Frame >= record.JumpFrame)
                return record.LandSec + (Heard.Frame - record.JumpFrame) / kFramesPerSec;
            return record.StartSec + Heard.Frame / kFramesPerSec;
        }
        if (record.Seq > Heard.Seq && (next == nullptr || record.Seq < next->Seq)) next = &record;
    }
    if (next != nullptr) return next->StartSec;
    return std::nullopt;
}

std::optional<double> HeardBlocks::FadeEndAfter(uint32_t TrackId, int64_t Seq,
                                                double FadeSec) const {
    const BlockRecord* first = nullptr;
    for (const BlockRecord& record : FRecords)
        if (record.TrackId == TrackId && record.Seq > Seq && (!first || record.Seq < first->Seq))
            first = &record;
    if (first == nullptr) return std::nullopt;
    const auto fadeFrames = static_cast<int32_t>(std::lround(FadeSec * kFramesPerSec));
    if (fadeFrames >= first->Frames || (first->JumpFrame >= 0 && first->JumpFrame <= fadeFrames))
        return std::nullopt;
    return first->StartSec + fadeFrames / kFramesPerSec;
}

void HeardBlocks::DropEvents(uint32_t TrackId) noexcept {
    int32_t kept = 0;
    for (int32_t i = 0; i < FEventCount; ++i) {
        const auto from = static_cast<size_t>((FFirstEvent + i) % kEventCapacity);
        const PendingEvent event = FEvents[from];
        if (event.Event.Which.Id == TrackId) continue;
        FEvents[static_cast<size_t>((FFirstEvent + kept) % kEventCapacity)] = event;
        ++kept;
    }
    FEventCount = kept;
}

void HeardBlocks::TakeDueEvents(HeardFrame Heard, std::vector<MusicEvent>& Out) {
    while (FEventCount > 0) {
        const PendingEvent& event = FEvents[static_cast<size_t>(FFirstEvent)];
        if (!Before(event.Seq, event.Frame, Heard)) break;
        Out.push_back(event.Event);
        FFirstEvent = (FFirstEvent + 1) % kEventCapacity;
        --FEventCount;
    }
}

ClassifiedBlock ClassifyBlock(const BlockObservation& Seen, int32_t BlockFrames,
                              Track Which) noexcept {
    ClassifiedBlock result;
    if (Seen.StateBefore < 2) return result;
    const int32_t spanFrames = SecToFrames(Seen.EndSec - Seen.StartSec);
    BlockRecord record;
    record.TrackId = Which.Id;
    record.StartSec = Seen.StartSec;
    record.EndSec = Seen.EndSec;
    record.Frames = BlockFrames;

    if (Seen.StateAfter < 2) {
        // Stopped inside the block: at its end (rewound to the start), by a decoding error, or
        // before a frame because a fade-out had already reached silence.
        if (spanFrames == 0) return result;
        const bool ended = SecToFrames(Seen.EndSec) == 0;
        const double stoppedSec = ended ? Seen.LengthSec : Seen.EndSec;
        const double playedSec = stoppedSec - Seen.StartSec;
        record.Frames = std::clamp(SecToFrames(playedSec), 0, BlockFrames);
        result.Record = record;
        if (ended) {
            result.Event = MusicEvent{MusicEventKind::Ended, Which, -1};
            result.EventFrame = record.Frames;
        }
        return result;
    }
    result.Record = record;
    if (std::abs(spanFrames - BlockFrames) <= 1) return result;

    // A jump back: the loop tag (or the track's end, for a looping track) whose end lies in
    // the block and whose start the block's last frames continue from.
    const double blockEndSec = Seen.StartSec + BlockFrames / kFramesPerSec;
    int32_t bestCue = -2;
    double bestError = kLandingToleranceSec;
    int32_t bestFrame = 0;
    const auto consider = [&](int32_t index, double startSec, double endSec) {
        // A loop end past the track's end jumps where the data ends.
        endSec = std::min(endSec, Seen.LengthSec);
        if (endSec < Seen.StartSec || endSec > blockEndSec) return;
        const int32_t frame = std::clamp(SecToFrames(endSec - Seen.StartSec), 0, BlockFrames);
        const double landSec = Seen.EndSec - (BlockFrames - frame) / kFramesPerSec;
        const double error = std::abs(landSec - startSec);
        if (error < bestError) {
            bestCue = index;
            bestError = error;
            bestFrame = frame;
        }
    };
    for (size_t i = 0; i < Seen.Cues.size(); ++i)
        if (Seen.Cues[i].Armed)
            consider(static_cast<int32_t>(i), Seen.Cues[i].StartSec, Seen.Cues[i].EndSec);
    if (Seen.StateBefore == 3) consider(-1, 0.0, Seen.LengthSec);

    if (bestCue == -2) {
        // More than one jump, or a change made outside the mixer: the block is taken to end
        // where the track is now.
        result.Record->StartSec = std::max(0.0, Seen.EndSec - BlockFrames / kFramesPerSec);
        return result;
    }
    result.Record->JumpFrame = bestFrame;
    result.Record->LandSec = Seen.EndSec - (BlockFrames - bestFrame) / kFramesPerSec;
    result.Event = MusicEvent{MusicEventKind::Looped, Which, bestCue};
    result.EventFrame = bestFrame;
    return result;
}

}  // namespace oggmix::music
