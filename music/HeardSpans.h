#pragma once
// HeardSpans.h: what the player has mixed, told in output frames, so that a track's position is
// the frame being heard and its events reach the game when they are heard. Per mixed block and
// track the mixer thread writes a span from the stream's play record: the source frame at the
// block's first output frame, each jump inside the block and where the music stops. Output
// frames count from the player's start: block n holds frames n * BlockFrames onwards.
//
// Threads: Add and PushEvent on the mixer (device) thread; the rest on the game thread.
// Locks:   every call with the mixer's lock held; it orders the two threads.
// Memory:  construction allocates; the mixer thread's calls do not.
// Units:   output frames at 44100 Hz; source frames at the track's own rate.

#include <cstdint>
#include <optional>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "stream/PlayRecord.h"

namespace oggmix::music {

// One track's music in one piece, from the stream's play record.
struct TrackSpan {
    uint32_t TrackId = 0;
    int64_t OutStart = 0;     // output frame of the piece's first frame
    int32_t Frames = 0;       // frames of the piece
    int32_t RateHz = 44100;   // the track's source rate
    int64_t StartFrame = 0;   // source frame heard at OutStart
    int32_t MusicFrames = 0;  // frames of music from OutStart; silence after them
    int32_t JumpCount = 0;
    int64_t FirstJump = 0;  // index of its first jump in the ledger's pool
};

class HeardSpans {
public:
    static constexpr int32_t kSpanCapacity = 4096;    // spans kept: 8 tracks x 512 pieces
    static constexpr int32_t kJumpCapacity = 65536;   // jumps kept across those spans
    static constexpr int32_t kEventCapacity = 65536;  // events mixed but not yet polled

    HeardSpans();

    // The span of TrackId's music in the piece of Frames output frames from OutStart on; the
    // record's jumps are copied. Oldest spans are forgotten first.
    void Add(uint32_t TrackId, int64_t OutStart, int32_t Frames, int32_t RateHz,
             const PlayRecord& Record) noexcept;
    // An event heard from output frame AtFrame on; the oldest is dropped when full.
    void PushEvent(int64_t AtFrame, const MusicEvent& Event) noexcept;
    // An event told as soon as mixed, ahead of its frame (Event.Frame).
    void PushAhead(const MusicEvent& Event) noexcept;

    // The source frame of TrackId heard at output frame Heard (fractional for converted
    // tracks), or none when no piece of the track mixed holds that frame or ends right
    // before it.
    [[nodiscard]] std::optional<double> SourceFrameAt(uint32_t TrackId, int64_t Heard) const;
    // Whether any span of TrackId holds music at or after output frame Heard.
    [[nodiscard]] bool MusicFrom(uint32_t TrackId, int64_t Heard) const;
    // Moves the events heard by output frame Heard to Out, in order, then those told ahead.
    void TakeDueEvents(int64_t Heard, std::vector<MusicEvent>& Out);
    // Forgets a track that is going away: its spans and its events not yet polled.
    void Drop(uint32_t TrackId) noexcept;

    // The source frame of Record (of a track at RateHz) at output frame Offset of its piece.
    [[nodiscard]] static double SourceFrameIn(const PlayRecord& Record, int32_t RateHz,
                                              int32_t Offset) noexcept;

private:
    struct PendingEvent {
        int64_t AtFrame = 0;
        MusicEvent Event{};
    };
    // A ring of events waiting: appended at the back, taken from the front, the oldest
    // dropped when full.
    class EventRing {
    public:
        explicit EventRing(int32_t capacity) : FItems(static_cast<size_t>(capacity)) {}
        void Push(const PendingEvent& event) noexcept;
        [[nodiscard]] bool Empty() const noexcept { return FCount == 0; }
        [[nodiscard]] const PendingEvent& Front() const noexcept {
            return FItems[static_cast<size_t>(FFirst)];
        }
        void PopFront() noexcept;
        void Drop(uint32_t TrackId) noexcept;

    private:
        std::vector<PendingEvent> FItems;
        int32_t FFirst = 0;
        int32_t FCount = 0;
    };
    [[nodiscard]] const PlayJump& JumpAt(int64_t index) const noexcept {
        return FJumps[static_cast<size_t>(index % kJumpCapacity)];
    }

    // The span's jumps still in the pool, oldest first.
    [[nodiscard]] PlayRecord RecordOf(const TrackSpan& Span) const noexcept;

    std::vector<TrackSpan> FSpans;  // a ring; FNextSpan is the oldest once it has wrapped
    int32_t FNextSpan = 0;
    // One span's jumps, contiguous, for a look-up on the game thread.
    mutable std::vector<PlayJump> FScratch;
    std::vector<PlayJump> FJumps;  // a ring indexed by FJumpCount modulo its size
    int64_t FJumpCount = 0;        // jumps ever added
    EventRing FHeardEvents;        // told when heard
    EventRing FAhead;              // told when mixed
};

}  // namespace oggmix::music
