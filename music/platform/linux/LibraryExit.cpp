// LibraryExit.cpp: a shared library's exit handlers run while the process's threads still do.
#include "music/platform/LibraryExit.h"

namespace oggmix::capi {

bool ThreadsStoppedForExit() noexcept { return false; }

}  // namespace oggmix::capi
