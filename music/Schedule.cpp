// Schedule.cpp: the changes waiting for their frame, a heap ordered by frame and order of adding.
#include "music/Schedule.h"

#include <algorithm>
#include <limits>

namespace oggmix::music {
namespace {

// std::push_heap keeps the greatest on top: the latest entry is the "least" here.
template <class Entry>
bool Later(const Entry& a, const Entry& b) {
    return a.Change.Frame != b.Change.Frame ? a.Change.Frame > b.Change.Frame : a.Order > b.Order;
}

}  // namespace

bool Schedule::Add(const ScheduledChange& Change) {
    if (Room() <= 0) return false;
    FEntries.push_back({Change, FAdded++});  // within the reserved room: no allocation
    std::push_heap(FEntries.begin(), FEntries.end(), Later<Entry>);
    return true;
}

int64_t Schedule::NextFrame() const noexcept {
    return FEntries.empty() ? std::numeric_limits<int64_t>::max() : FEntries.front().Change.Frame;
}

void Schedule::PopFront() noexcept {
    std::pop_heap(FEntries.begin(), FEntries.end(), Later<Entry>);
    FEntries.pop_back();
}

void Schedule::Reorder() noexcept {
    std::make_heap(FEntries.begin(), FEntries.end(), Later<Entry>);
}

}  // namespace oggmix::music
