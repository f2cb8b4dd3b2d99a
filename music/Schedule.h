#pragma once
// Schedule.h: the player's one timeline. Every call that changes what is heard becomes one or
// more changes, each on the output frame where it lands (at once: the first frame not yet
// mixed): a track starts, fades out to a stop or a pause, steps a shaped fade, ramps its
// volume, jumps to a prepared position; markers tell an event when mixed. The device thread
// mixes up to the next change, carries out every change due on that frame in the order they
// were added, and mixes on, so each lands on its exact frame.
//
// The changes of one call share a request number, so that a later call can withdraw the
// whole of an earlier one (a stop cancels a transition that has not landed yet, both the
// source's fade and the destination's start).
//
// Threads: Add, Drop and the counts on the game thread; NextFrame, Front and PopFront on the
//          device thread.
// Locks:   every call with the mixer's lock held.
// Memory:  construction allocates; nothing else does (a full schedule refuses more).
// Cost:    Add and PopFront O(log n) (a binary heap ordered by frame, then by the order of
//          adding); Drop O(n).

#include <algorithm>
#include <cstdint>
#include <vector>

#include "oggmix/MusicPlayer.h"
#include "stream/FilterPresets.h"

namespace oggmix::music {

struct ScheduledChange {
    enum class Kind : uint8_t {
        Start,     // Position applied first, if any; plays from where the stream stands: Loop;
                   // the fade ramps to Value over Seconds (from silence unless it sounds)
        FadeOut,   // the fade falls to silence over Seconds (at once below 0.01 s), then the
                   // track stops and is rewound (Pause false) or holds its place (Pause true)
        FadeTo,    // a step of a shaped fade: the fade ramps to Value over Seconds; Falling:
                   // a fade-out's step, the track stops once it falls silent
        VolumeTo,  // the volume ramps to Value over Seconds; the track plays on
        PanTo,     // the pan ramps to Value over Seconds
        FilterTo,  // the tone filter moves to Preset over Seconds
        GainTo,    // the gain control aims at level Value (0: off)
        MasterTo,  // the player's master volume, Value, reaches the track at once
        Jump,      // the stream plays on from the prepared position Position
        Marker,    // tells Event (with this frame) when mixed
    };
    // Volume, pan, filter, gain control and master volume: settings, which the transport
    // leaves be.
    [[nodiscard]] bool Setting() const noexcept {
        return What == Kind::VolumeTo || What == Kind::PanTo || What == Kind::FilterTo ||
               What == Kind::GainTo || What == Kind::MasterTo;
    }
    int64_t Frame = 0;
    Kind What = Kind::Marker;
    uint32_t TrackId = 0;
    uint32_t Request = 0;
    float Value = 0.0f;
    float Seconds = 0.0f;
    bool Loop = true;
    bool Falling = false;
    bool Pause = false;
    int32_t Position = -1;  // a prepared position held for the change, or -1
    const FilterPreset* Preset = nullptr;
    MusicEvent Event{};
};

class Schedule {
public:
    static constexpr int32_t kCapacity = 4096;

    Schedule() { FEntries.reserve(kCapacity); }

    [[nodiscard]] int32_t Room() const noexcept {
        return kCapacity - static_cast<int32_t>(FEntries.size());
    }
    // False when the schedule is full. Changes on one frame keep the order they were added in.
    [[nodiscard]] bool Add(const ScheduledChange& Change);
    // Withdraws every change for which Covers is true; Withdrawn sees each first.
    template <class Pred, class Fn>
    void Drop(Pred&& Covers, Fn&& Withdrawn) {
        std::erase_if(FEntries, [&](const Entry& entry) {
            if (!Covers(entry.Change)) return false;
            Withdrawn(entry.Change);
            return true;
        });
        Reorder();
    }
    // How many changes Covers is true for, and whether any.
    template <class Pred>
    [[nodiscard]] int32_t Count(Pred&& Covers) const {
        return static_cast<int32_t>(std::count_if(
            FEntries.begin(), FEntries.end(), [&](const Entry& e) { return Covers(e.Change); }));
    }
    template <class Pred>
    [[nodiscard]] bool Any(Pred&& Covers) const {
        return std::any_of(FEntries.begin(), FEntries.end(),
                           [&](const Entry& e) { return Covers(e.Change); });
    }
    // The frame of the next change, or INT64_MAX.
    [[nodiscard]] int64_t NextFrame() const noexcept;
    [[nodiscard]] const ScheduledChange& Front() const noexcept { return FEntries.front().Change; }
    void PopFront() noexcept;

private:
    struct Entry {
        ScheduledChange Change;
        uint64_t Order = 0;  // ties on a frame go in the order of adding
    };
    void Reorder() noexcept;

    std::vector<Entry> FEntries;  // a heap, earliest on top; capacity fixed
    uint64_t FAdded = 0;
};

}  // namespace oggmix::music
