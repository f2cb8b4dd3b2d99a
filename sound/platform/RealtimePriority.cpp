// RealtimePriority.cpp: SCHED_RR at a low priority for the calling thread, if allowed.
#include "sound/platform/RealtimePriority.h"

#include <pthread.h>
#include <sched.h>

namespace oggmix {

bool RaiseThreadToRealtime() noexcept {
    // Below the sound server's threads (which ask for 5 and up) and far below the kernel's.
    constexpr int kPriority = 3;
    sched_param param{};
    param.sched_priority = kPriority;
    return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
}

}  // namespace oggmix
