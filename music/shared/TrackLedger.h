#pragma once
// TrackLedger.h: what the device's thread tells the game's thread about one track, for the
// read-outs (where the track is heard, whether it plays) to be answered without the mixer's
// lock: the pieces of the track mixed (each from the stream's play record, with its jumps),
// the last output frame that holds its music, and the track's state as the last pull or call
// left it. Output frames count from the player's start.
//
// Threads: Add and Publish with the mixer's lock held (Add on the device thread; Publish there
//          or on the game thread after a call changed the track); the read-outs on the game
//          thread, lock-free, any time.
// Memory:  construction allocates (rings of kSpanCapacity pieces and kJumpCapacity jumps, and
//          a scratch for one piece's jumps); Add and Publish do not.
// Units:   output frames at 44100 Hz; source frames at the track's own rate.

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "music/shared/SeqLock.h"
#include "music/shared/SeqRing.h"
#include "stream/PlayRecord.h"

namespace oggmix::music::shared {

// Why a track is fading out, and where that fade is heard to end.
enum class TrackEnding : int8_t { None, Pause, Stop };

// The track as the device's thread (or a call) last left it.
struct TrackView {
    TrackEnding Ending = TrackEnding::None;
    bool Rewound = false;       // a stop's rewind to the start is done
    int32_t StreamState = 0;    // the stream's play state: 2 and above plays
    int64_t SilentOut = -1;     // the output frame where the fade-out fell silent, or -1
    int64_t SilentSource = -1;  // the source frame it fell silent on, or -1
    int64_t PositionFrame = 0;  // where the stream stands: the next source frame it renders
};

class TrackLedger {
public:
    static constexpr int32_t kSpanCapacity = 512;   // pieces kept
    static constexpr int32_t kJumpCapacity = 2048;  // jumps kept across those pieces

    explicit TrackLedger(const TrackView& Initial);

    // Device thread: the track's music in the piece of Frames output frames from OutStart on,
    // from a track at RateHz; the record's jumps are copied.
    void Add(int64_t OutStart, int32_t Frames, int32_t RateHz, const PlayRecord& Record) noexcept;
    void Publish(const TrackView& View) noexcept { FView.Publish(View); }

    // Game thread, lock-free:
    [[nodiscard]] TrackView View() const noexcept { return FView.Read(); }
    // The source frame heard at output frame Heard (fractional for converted tracks), or none
    // when no piece kept holds that frame or ends right before it.
    [[nodiscard]] std::optional<double> SourceFrameAt(int64_t Heard) const;
    // Whether a piece holds music at or after output frame Heard.
    [[nodiscard]] bool MusicFrom(int64_t Heard) const noexcept {
        return FMusicUntil.load(std::memory_order_acquire) > Heard;
    }

    // The source frame of Record (of a track at RateHz) at output frame Offset of its piece.
    [[nodiscard]] static double SourceFrameIn(const PlayRecord& Record, int32_t RateHz,
                                              int32_t Offset) noexcept;

private:
    struct Span {
        int64_t OutStart = 0;     // output frame of the piece's first frame
        int64_t StartFrame = 0;   // source frame heard at OutStart
        int64_t FirstJump = 0;    // index of its first jump in the jump ring
        int32_t Frames = 0;       // frames of the piece
        int32_t RateHz = 44100;   // the track's source rate
        int32_t MusicFrames = 0;  // frames of music from OutStart; silence after them
        int32_t JumpCount = 0;
    };

    SeqRing<Span> FSpans;
    SeqRing<PlayJump> FJumps;
    // The output frame after the last one of music mixed: written by the device thread only.
    std::atomic<int64_t> FMusicUntil{0};
    SeqLock<TrackView> FView;
    // Game thread: one piece's jumps, gathered for a look-up.
    mutable std::vector<PlayJump> FScratch;
};

}  // namespace oggmix::music::shared
