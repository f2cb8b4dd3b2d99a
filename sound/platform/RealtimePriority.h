#pragma once
// RealtimePriority.h: lets the calling thread run ahead of ordinary work (a parallel build, a
// busy game) when the system allows it: real-time round-robin scheduling at a low priority,
// so that it still yields to the sound server's own threads. Where that is not permitted
// (no CAP_SYS_NICE or RLIMIT_RTPRIO) the thread stays as it was.
// Threads: affects the calling thread only. Used by threads that feed the sound device.

namespace oggmix {

// True when the thread now runs under real-time scheduling.
bool RaiseThreadToRealtime() noexcept;

}  // namespace oggmix
