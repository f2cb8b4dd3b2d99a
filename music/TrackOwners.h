#pragma once
// TrackOwners.h: which player made each live track or group handle, for the whole process, so
// that a handle given to the wrong player is refused naming both. Players are numbered from 1
// in the order they open.
// Threads: any; one mutex, taken on load, unload, close and a refused handle, never on the
//          device's thread. Memory: RecordOwner allocates (and, out of memory, records nothing:
//          the refusal is then the plain one).

#include <cstdint>

namespace oggmix::music {

[[nodiscard]] uint32_t NewPlayerNumber() noexcept;
void RecordOwner(uint32_t TrackId, uint32_t Player) noexcept;
void ForgetOwner(uint32_t TrackId) noexcept;
void ForgetPlayer(uint32_t Player) noexcept;  // every handle the player made
// The player that made the handle, or 0 when no open player did.
[[nodiscard]] uint32_t OwnerOf(uint32_t TrackId) noexcept;

}  // namespace oggmix::music
