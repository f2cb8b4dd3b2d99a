#pragma once
// Schedule.h: changes that the game asked for on an output frame still to be mixed: a track
// starts, is cut, fades, changes its volume; markers whose events are told when mixed. The
// device thread mixes up to the next change, carries out every change due on that frame, and
// mixes on, so each lands on its exact frame.
//
// Threads: Add and Drop on the game thread, Due and PopFront on the device thread.
// Locks:   every call with the mixer's lock held.
// Memory:  construction allocates; nothing else does (a full schedule refuses more).

#include <cstdint>
#include <vector>

#include "oggmix/MusicPlayer.h"

namespace oggmix::music {

struct ScheduledChange {
    enum class Kind : uint8_t {
        Start,     // plays from where the stream stands: Loop; fades in over Seconds from 0
        Cut,       // falls silent on the frame and is rewound afterwards
        FadeTo,    // the fade ramps to Value over Seconds; Falling: a fade-out, the track stops
        VolumeTo,  // the volume ramps to Value over Seconds; the track plays on
        Marker,    // tells Event (with this frame) when mixed
    };
    int64_t Frame = 0;
    Kind What = Kind::Marker;
    uint32_t TrackId = 0;
    float Value = 0.0f;
    float Seconds = 0.0f;
    bool Loop = true;
    bool Falling = false;
    MusicEvent Event{};
};

class Schedule {
public:
    static constexpr int32_t kCapacity = 4096;

    Schedule() { FChanges.reserve(kCapacity); }

    // False when the schedule is full. Changes on one frame keep the order they were added in.
    [[nodiscard]] bool Add(const ScheduledChange& Change);
    // Forgets the changes of a track that is going away.
    void Drop(uint32_t TrackId) noexcept;
    [[nodiscard]] bool Has(uint32_t TrackId) const noexcept;
    // The frame of the next change, or INT64_MAX.
    [[nodiscard]] int64_t NextFrame() const noexcept;
    [[nodiscard]] const ScheduledChange& Front() const noexcept { return FChanges.front(); }
    void PopFront() noexcept;

private:
    std::vector<ScheduledChange> FChanges;  // sorted by frame; capacity fixed
};

}  // namespace oggmix::music
