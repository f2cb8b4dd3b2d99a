// Schedule.cpp: the changes waiting for their frame, in frame order.
#include "music/Schedule.h"

#include <algorithm>
#include <limits>

namespace oggmix::music {

bool Schedule::Add(const ScheduledChange& Change) {
    if (static_cast<int32_t>(FChanges.size()) >= kCapacity) return false;
    const auto at = std::upper_bound(
        FChanges.begin(), FChanges.end(), Change.Frame,
        [](int64_t frame, const ScheduledChange& change) { return frame < change.Frame; });
    FChanges.insert(at, Change);  // within the reserved room: no allocation
    return true;
}

void Schedule::Drop(uint32_t TrackId) noexcept {
    std::erase_if(FChanges, [&](const ScheduledChange& c) { return c.TrackId == TrackId; });
}

bool Schedule::Has(uint32_t TrackId) const noexcept {
    return std::any_of(FChanges.begin(), FChanges.end(),
                       [&](const ScheduledChange& c) { return c.TrackId == TrackId; });
}

int64_t Schedule::NextFrame() const noexcept {
    return FChanges.empty() ? std::numeric_limits<int64_t>::max() : FChanges.front().Frame;
}

void Schedule::PopFront() noexcept { FChanges.erase(FChanges.begin()); }

}  // namespace oggmix::music
