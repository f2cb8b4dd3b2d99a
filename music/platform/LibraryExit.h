#pragma once
// LibraryExit.h: whether the C interface's library is being unloaded because the process ends
// with its other threads already stopped (Windows stops them before it unloads a DLL), when a
// player can no longer be closed: waiting for its threads would never end.

namespace oggmix::capi {

[[nodiscard]] bool ThreadsStoppedForExit() noexcept;

}  // namespace oggmix::capi
