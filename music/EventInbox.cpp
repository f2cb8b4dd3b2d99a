// EventInbox.cpp: events from the device's thread, handed to the game when due.
#include "music/EventInbox.h"

#include <algorithm>

namespace oggmix::music {

void EventInbox::TakeDue(int64_t Heard, int64_t Mixed, std::vector<MusicEvent>& Out,
                         const std::function<bool(uint32_t)>& Loaded) {
    const auto known = [&](const MusicEvent& event) {
        return event.Which.Id == 0 || Loaded(event.Which.Id);
    };
    shared::ToldEvent told;
    while (FFrom.Pop(told)) {
        if (!told.WhenHeard) {
            FAhead.push_back(told.Event);
            continue;
        }
        // The game has not polled for a long time: the oldest goes, as the ring would.
        if (FWaiting.size() == static_cast<size_t>(shared::kEventCapacity)) FWaiting.pop_front();
        FWaiting.push_back(told);
    }
    while (!FWaiting.empty() && FWaiting.front().AtFrame <= Heard) {
        if (known(FWaiting.front().Event)) Out.push_back(FWaiting.front().Event);
        FWaiting.pop_front();
    }
    // Events of a pull still under way wait for its end: once its frames are published as
    // mixed, all of its events are in, and they go out together, in order.
    const auto ahead = static_cast<std::ptrdiff_t>(Out.size());
    const auto later = std::stable_partition(FAhead.begin(), FAhead.end(),
                                             [&](const MusicEvent& e) { return e.Frame < Mixed; });
    for (auto event = FAhead.begin(); event != later; ++event)
        if (known(*event)) Out.push_back(*event);
    FAhead.erase(FAhead.begin(), later);
    // Each mixed piece tells its tracks' events one track after another: in frame order for
    // the game, those of one frame in the order told.
    std::stable_sort(Out.begin() + ahead, Out.end(),
                     [](const MusicEvent& a, const MusicEvent& b) { return a.Frame < b.Frame; });
}

}  // namespace oggmix::music
