// HeardSpans.cpp: the ledger of mixed blocks: positions by output frame, and events waiting to
// be heard.
#include "music/HeardSpans.h"

#include <algorithm>

#include "base/PcmFormat.h"

namespace oggmix::music {

HeardSpans::HeardSpans()
    : FSpans(kSpanCapacity),
      FScratch(kJumpCapacity),
      FJumps(kJumpCapacity),
      FHeardEvents(kEventCapacity),
      FAhead(kEventCapacity) {}

void HeardSpans::Add(uint32_t TrackId, int64_t OutStart, int32_t Frames, int32_t RateHz,
                     const PlayRecord& Record) noexcept {
    TrackSpan& span = FSpans[static_cast<size_t>(FNextSpan)];
    FNextSpan = (FNextSpan + 1) % kSpanCapacity;
    span = {TrackId,
            OutStart,
            Frames,
            RateHz,
            Record.StartFrame,
            Record.MusicFrames,
            static_cast<int32_t>(Record.Jumps.size()),
            FJumpCount};
    for (const PlayJump& jump : Record.Jumps)
        FJumps[static_cast<size_t>(FJumpCount++ % kJumpCapacity)] = jump;
}

void HeardSpans::EventRing::Push(const PendingEvent& event) noexcept {
    const auto capacity = static_cast<int32_t>(FItems.size());
    // The game has not polled for a long time: the oldest goes.
    if (FCount == capacity) PopFront();
    FItems[static_cast<size_t>((FFirst + FCount) % capacity)] = event;
    ++FCount;
}

void HeardSpans::EventRing::PopFront() noexcept {
    FFirst = (FFirst + 1) % static_cast<int32_t>(FItems.size());
    --FCount;
}

void HeardSpans::EventRing::Drop(uint32_t TrackId) noexcept {
    // Kept in order: the events of other tracks close up.
    const auto capacity = static_cast<int32_t>(FItems.size());
    int32_t kept = 0;
    for (int32_t i = 0; i < FCount; ++i) {
        const PendingEvent event = FItems[static_cast<size_t>((FFirst + i) % capacity)];
        if (event.Event.Which.Id == TrackId) continue;
        FItems[static_cast<size_t>((FFirst + kept++) % capacity)] = event;
    }
    FCount = kept;
}

void HeardSpans::PushEvent(int64_t AtFrame, const MusicEvent& Event) noexcept {
    FHeardEvents.Push({AtFrame, Event});
}

void HeardSpans::PushAhead(const MusicEvent& Event) noexcept { FAhead.Push({Event.Frame, Event}); }

PlayRecord HeardSpans::RecordOf(const TrackSpan& Span) const noexcept {
    // Jumps the pool has overwritten since are left out: the span then maps from its start
    // through the jumps that remain, which only a loop of a few frames can bring about.
    const int64_t first = std::max(Span.FirstJump, FJumpCount - kJumpCapacity);
    const int64_t last = Span.FirstJump + Span.JumpCount;
    int32_t count = 0;
    for (int64_t i = first; i < last; ++i) FScratch[static_cast<size_t>(count++)] = JumpAt(i);
    PlayRecord record;
    record.StartFrame = Span.StartFrame;
    record.MusicFrames = Span.MusicFrames;
    record.Jumps = std::span<const PlayJump>(FScratch.data(), static_cast<size_t>(count));
    return record;
}

double HeardSpans::SourceFrameIn(const PlayRecord& Record, int32_t RateHz,
                                 int32_t Offset) noexcept {
    int32_t fromOut = 0;
    auto fromSource = static_cast<double>(Record.StartFrame);
    // The last jump heard at or before Offset sets where the music went on from.
    const auto after = std::upper_bound(
        Record.Jumps.begin(), Record.Jumps.end(), Offset,
        [](int32_t offset, const PlayJump& jump) { return offset < jump.OutputFrame; });
    if (after != Record.Jumps.begin()) {
        const PlayJump& jump = *(after - 1);
        fromOut = jump.OutputFrame;
        fromSource = static_cast<double>(jump.ToFrame);
        if (jump.Cause == PlayJumpCause::End) return fromSource;
    }
    const int32_t heldOut = std::min(Offset, std::max(Record.MusicFrames, fromOut)) - fromOut;
    return fromSource + static_cast<double>(heldOut) * RateHz / kFramesPerSecond;
}

std::optional<double> HeardSpans::SourceFrameAt(uint32_t TrackId, int64_t Heard) const {
    const TrackSpan* holding = nullptr;
    for (const TrackSpan& span : FSpans)
        if (span.TrackId == TrackId && span.OutStart <= Heard &&
            (holding == nullptr || span.OutStart > holding->OutStart))
            holding = &span;
    // The frame right after the last one mixed is where that piece leads: the device may hear
    // up to everything mixed, and the next piece is not mixed yet.
    if (holding == nullptr || Heard > holding->OutStart + holding->Frames) return std::nullopt;
    return SourceFrameIn(RecordOf(*holding), holding->RateHz,
                         static_cast<int32_t>(Heard - holding->OutStart));
}

bool HeardSpans::MusicFrom(uint32_t TrackId, int64_t Heard) const {
    for (const TrackSpan& span : FSpans)
        if (span.TrackId == TrackId && span.OutStart + span.MusicFrames > Heard) return true;
    return false;
}

void HeardSpans::TakeDueEvents(int64_t Heard, std::vector<MusicEvent>& Out) {
    while (!FHeardEvents.Empty() && FHeardEvents.Front().AtFrame <= Heard) {
        Out.push_back(FHeardEvents.Front().Event);
        FHeardEvents.PopFront();
    }
    // Each mixed piece tells its tracks' events one track after another: in frame order for
    // the game, those of one frame in the order told.
    const auto ahead = static_cast<std::ptrdiff_t>(Out.size());
    while (!FAhead.Empty()) {
        Out.push_back(FAhead.Front().Event);
        FAhead.PopFront();
    }
    std::stable_sort(Out.begin() + ahead, Out.end(),
                     [](const MusicEvent& a, const MusicEvent& b) { return a.Frame < b.Frame; });
}

void HeardSpans::Drop(uint32_t TrackId) noexcept {
    for (TrackSpan& span : FSpans)
        if (span.TrackId == TrackId) span = TrackSpan{};
    FHeardEvents.Drop(TrackId);
    FAhead.Drop(TrackId);
}

}  // namespace oggmix::music
