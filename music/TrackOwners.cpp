// TrackOwners.cpp: the process-wide record of handles and their players.
#include "music/TrackOwners.h"

#include <atomic>
#include <mutex>
#include <new>
#include <unordered_map>

namespace oggmix::music {
namespace {

std::atomic<uint32_t> gNextPlayer{1};

struct Record {
    std::mutex Lock;
    std::unordered_map<uint32_t, uint32_t> OwnerOf;  // track or group id -> player
};

Record& Owners() {
    static Record record;
    return record;
}

}  // namespace

uint32_t NewPlayerNumber() noexcept { return gNextPlayer.fetch_add(1); }

void RecordOwner(uint32_t TrackId, uint32_t Player) noexcept {
    Record& record = Owners();
    const std::lock_guard guard(record.Lock);
    try {
        record.OwnerOf[TrackId] = Player;
    } catch (const std::bad_alloc&) {
        // Only a message is less precise for it.
    }
}

void ForgetOwner(uint32_t TrackId) noexcept {
    Record& record = Owners();
    const std::lock_guard guard(record.Lock);
    record.OwnerOf.erase(TrackId);
}

void ForgetPlayer(uint32_t Player) noexcept {
    Record& record = Owners();
    const std::lock_guard guard(record.Lock);
    std::erase_if(record.OwnerOf, [Player](const auto& entry) { return entry.second == Player; });
}

uint32_t OwnerOf(uint32_t TrackId) noexcept {
    Record& record = Owners();
    const std::lock_guard guard(record.Lock);
    const auto found = record.OwnerOf.find(TrackId);
    return found == record.OwnerOf.end() ? 0 : found->second;
}

}  // namespace oggmix::music
