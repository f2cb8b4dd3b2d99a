#pragma once
// HeardBlocks.h: which music each mixer block holds and which block the listener hears, so
// that a track's position is that of the sound being heard, across loop jumps and seeks.
// Per block and track the mixer thread writes a record: the track position of the block's
// first frame, and where a jump back or the track's end fell inside it. The sound device's
// play cursor names the ring half being heard; each half knows the block last written to it.
// Events found in a block wait here until the listener reaches their frame.
//
// Threads: BeginBlock/Add/PushEvent on the mixer thread; Written on the mixer thread; At,
//          PositionOf and TakeDueEvents on the game thread.
// Locks:   everything but Written and At: the mixer's lock held (it orders the two threads);
//          the half table is atomic (relaxed: each entry stands alone).
// Memory:  construction allocates; the mixer thread's calls do not.
// Units:   positions in seconds of the track, frames at 44100 Hz.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/PcmFormat.h"
#include "oggmix/MusicPlayer.h"

namespace oggmix::music {

inline constexpr double kFramesPerSec = kFramesPerSecond;

struct BlockRecord {
    int64_t Seq = -1;  // the mixer block
    uint32_t TrackId = 0;
    double StartSec = 0.0;   // position of the block's first frame
    int32_t Frames = 0;      // frames of music in the block; fewer when the track ended in it
    int32_t JumpFrame = -1;  // first frame after a jump back, or -1
    double LandSec = 0.0;    // position of that frame
    double EndSec = 0.0;     // where the track goes on after the block
};

// A moment of listening: a block and a frame in it. Seq -1: nothing written has been heard.
struct HeardFrame {
    int64_t Seq = -1;
    int32_t Frame = 0;
};

class HeardBlocks {
public:
    static constexpr int kRecordCapacity = 256;  // 8 slots x 32 blocks: far more than in flight
    static constexpr int kEventCapacity = 256;   // events heard but not yet polled

    explicit HeardBlocks(int32_t BlockFrames);

    // Mixer thread, mixer lock held.
    [[nodiscard]] int64_t BeginBlock() noexcept { return ++FSeq; }
    [[nodiscard]] int64_t CurrentSeq() const noexcept { return FSeq; }
    void Add(const BlockRecord& Record) noexcept;
    // An event at Frame of block Seq; dropped when kEventCapacity wait already.
    void PushEvent(int64_t Seq, int32_t Frame, const MusicEvent& Event) noexcept;
    // Mixer thread: block Seq now fills ring half Half (0 or 1).
    void Written(int Half, int64_t Seq) noexcept;

    // Game thread: the moment heard with the play cursor at PlayBytes of a two-block ring.
    [[nodiscard]] HeardFrame At(uint32_t PlayBytes) const noexcept;
    // Mixer lock held: TrackId's position at Heard, or none when no block of the track is in
    // flight (the track's own position then holds).
    [[nodiscard]] std::optional<double> PositionOf(uint32_t TrackId, HeardFrame Heard) const;
    // Mixer lock held: the position at which a fade of FadeSec, begun with the first block of
    // TrackId after block Seq, reached silence; none when that block is no longer known or
    // the fade did not end inside it, before any jump.
    [[nodiscard]] std::optional<double> FadeEndAfter(uint32_t TrackId, int64_t Seq,
                                                     double FadeSec) const;
    // Mixer lock held: forgets the events of a track that is going away.
    void DropEvents(uint32_t TrackId) noexcept;
    // Mixer lock held: moves the events heard by Heard to Out, in order.
    void TakeDueEvents(HeardFrame Heard, std::vector<MusicEvent>& Out);

private:
    struct PendingEvent {
        int64_t Seq;
        int32_t Frame;
        MusicEvent Event;
    };

    int32_t FBlockFrames;
    int64_t FSeq = -1;
    std::vector<BlockRecord> FRecords;  // a ring; the oldest is overwritten
    int32_t FNextRecord = 0;
    std::vector<PendingEvent> FEvents;  // a ring of FEventCount from FFirstEvent
    int32_t FFirstEvent = 0;
    int32_t FEventCount = 0;
    std::array<std::atomic<int64_t>, 2> FHalfSeq{};
};

// What the mixer thread saw of one track around one block.
struct BlockObservation {
    double StartSec = 0.0;    // the track's position before the block
    double EndSec = 0.0;      // and after it
    int32_t StateBefore = 0;  // TOggData::GetState: 2 playing, 3 playing and looping
    int32_t StateAfter = 0;
    double LengthSec = 0.0;
    struct Cue {
        double StartSec;
        double EndSec;
        bool Armed;  // a count other than 0
    };
    std::array<Cue, 16> Cues{};
};

// The record of a block of BlockFrames frames, and the event heard in it, if any: a block
// whose span is not its length jumped back once (the loop tag or the track's end that explains
// it), or ended the track.
struct ClassifiedBlock {
    std::optional<BlockRecord> Record;  // none: the track played nothing in the block
    std::optional<MusicEvent> Event;
    int32_t EventFrame = 0;
};
[[nodiscard]] ClassifiedBlock ClassifyBlock(const BlockObservation& Seen, int32_t BlockFrames,
                                            Track Which) noexcept;

}  // namespace oggmix::music
