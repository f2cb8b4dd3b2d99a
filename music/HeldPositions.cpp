// HeldPositions.cpp: a fixed set of places for prepared positions.
#include "music/HeldPositions.h"

#include <algorithm>

namespace oggmix::music {

int32_t HeldPositions::Room() const noexcept {
    return static_cast<int32_t>(std::count_if(
        FItems.begin(), FItems.end(), [](const Item& item) { return item.State == Use::Free; }));
}

int32_t HeldPositions::Hold(std::unique_ptr<PreparedPosition> Position) {
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (FItems[i].State != Use::Free) continue;
        FItems[i] = {std::move(Position), Use::Held};
        return static_cast<int32_t>(i);
    }
    return -1;
}

std::unique_ptr<PreparedPosition> HeldPositions::Take(int32_t Index) noexcept {
    return std::move(FItems[static_cast<size_t>(Index)].Position);
}

void HeldPositions::Spend(int32_t Index, std::unique_ptr<PreparedPosition> Old) noexcept {
    FItems[static_cast<size_t>(Index)] = {std::move(Old), Use::Spent};
    FSpentCount.fetch_add(1, std::memory_order_relaxed);
}

void HeldPositions::Release(int32_t Index, Freed& Out) {
    Item& item = FItems[static_cast<size_t>(Index)];
    if (item.Position) Out.push_back(std::move(item.Position));
    item.State = Use::Free;
}

void HeldPositions::Collect(Freed& Out) {
    FSpentCount.store(0, std::memory_order_relaxed);
    for (Item& item : FItems) {
        if (item.State != Use::Spent) continue;
        if (item.Position) Out.push_back(std::move(item.Position));
        item.State = Use::Free;
    }
}

}  // namespace oggmix::music
