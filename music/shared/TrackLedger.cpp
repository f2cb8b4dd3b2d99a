// TrackLedger.cpp: one track's mixed pieces, kept for the game to read where it is heard.
#include "music/shared/TrackLedger.h"

#include <algorithm>

#include "base/PcmFormat.h"

namespace oggmix::music::shared {

TrackLedger::TrackLedger(const TrackView& Initial)
    : FSpans(kSpanCapacity), FJumps(kJumpCapacity), FView(Initial), FScratch(kJumpCapacity) {}

void TrackLedger::Add(int64_t OutStart, int32_t Frames, int32_t RateHz,
                      const PlayRecord& Record) noexcept {
    const int64_t firstJump = FJumps.Count();
    for (const PlayJump& jump : Record.Jumps) FJumps.Append(jump);
    FSpans.Append({OutStart, Record.StartFrame, firstJump, Frames, RateHz, Record.MusicFrames,
                   static_cast<int32_t>(Record.Jumps.size())});
    const int64_t musicUntil = OutStart + Record.MusicFrames;
    if (musicUntil > FMusicUntil.load(std::memory_order_relaxed))
        FMusicUntil.store(musicUntil, std::memory_order_release);
}

double TrackLedger::SourceFrameIn(const PlayRecord& Record, int32_t RateHz,
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

std::optional<double> TrackLedger::SourceFrameAt(int64_t Heard) const {
    // The pieces come in output order: the newest that starts by Heard holds it. What is heard
    // trails what is mixed by the device's latency, so the walk back is short.
    std::optional<Span> holding;
    const int64_t count = FSpans.Count();
    for (int64_t i = count - 1; i >= 0 && i >= count - FSpans.Capacity(); --i) {
        const std::optional<Span> span = FSpans.At(i);
        if (!span) break;  // overwritten: every older one is too
        if (span->OutStart <= Heard) {
            holding = span;
            break;
        }
    }
    // The frame right after the last one mixed is where that piece leads: the device may hear
    // up to everything mixed, and the next piece is not mixed yet.
    if (!holding || Heard > holding->OutStart + holding->Frames) return std::nullopt;
    // Jumps the ring has overwritten since are left out: the piece then maps from its start
    // through the jumps that remain, which only a loop of a few frames can bring about.
    int32_t kept = 0;
    for (int64_t i = holding->FirstJump; i < holding->FirstJump + holding->JumpCount; ++i)
        if (const std::optional<PlayJump> jump = FJumps.At(i))
            FScratch[static_cast<size_t>(kept++)] = *jump;
    PlayRecord record;
    record.StartFrame = holding->StartFrame;
    record.MusicFrames = holding->MusicFrames;
    record.Jumps = std::span<const PlayJump>(FScratch.data(), static_cast<size_t>(kept));
    return SourceFrameIn(record, holding->RateHz, static_cast<int32_t>(Heard - holding->OutStart));
}

}  // namespace oggmix::music::shared
