#pragma once
// PlayRecord.h: what one render of a stream played, in source frames: the frame heard first,
// how much of the render is music, and every jump inside it (loop cues, the wrap at the end,
// the end without looping) at the output frame where it is heard. A host builds positions
// and loop events from these alone, exact for loops of any length.
// Threads: filled on the rendering thread; read by it after the render.
// Memory:  the jumps live in the stream's own storage (TOggData::SetPlayRecords).
// Units:   source frames (64-bit, at the stream's own rate); output frames of the render.

#include <cstdint>
#include <span>

namespace oggmix {

enum class PlayJumpCause : int8_t { LoopCue, Wrap, End };

struct PlayJump {
    int32_t OutputFrame = 0;  // output frame of the render at which the jump is heard: the first
                              // frame played after it (End: the first frame that is no music)
    int64_t FromFrame = 0;    // source frame the music would have gone on with
    int64_t ToFrame = 0;      // source frame heard from OutputFrame on (End: where it rewound to)
    PlayJumpCause Cause = PlayJumpCause::LoopCue;
    int32_t CueIndex = -1;  // LoopCue: 0..15; otherwise -1
};

struct PlayRecord {
    int64_t StartFrame = 0;           // source frame heard at output frame 0 of the render
    int32_t MusicFrames = 0;          // output frames of music; after them the render is silence
    int32_t SilentFrame = -1;         // first output frame at which a fade to silence (the one that
                                      // pauses the stream at its next render) is silent, or -1
    std::span<const PlayJump> Jumps;  // in output order
    int32_t LostJumps = 0;            // jumps beyond the capacity (never with the capacity below)
};

}  // namespace oggmix
