#pragma once
// EventInbox.h: the game's side of the events the device's thread tells. Each look drains the
// ring; events told ahead go out once the pull that told them is over, in frame order; those
// told when heard wait here until the device has played their frame. Events of a track or
// group unloaded since are dropped.
//
// Threads: the game thread only. Locks: none; the ring is the only thing shared.
// Memory:  allocates (the game's side may).

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "music/shared/ToldEvent.h"

namespace oggmix::music {

class EventInbox {
public:
    explicit EventInbox(shared::EventRing& From) : FFrom(From) {}

    // Appends to Out the events heard by output frame Heard, in order, then those told ahead
    // of frames before Mixed (read before this look: the device's thread publishes it after a
    // pull's events), in frame order (those of one frame in the order told). Loaded says
    // whether an id still names a track or a group.
    void TakeDue(int64_t Heard, int64_t Mixed, std::vector<MusicEvent>& Out,
                 const std::function<bool(uint32_t)>& Loaded);

private:
    shared::EventRing& FFrom;
    std::deque<shared::ToldEvent> FWaiting;  // told when heard, not heard yet
    std::vector<MusicEvent> FAhead;
};

}  // namespace oggmix::music
