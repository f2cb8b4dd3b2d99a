#pragma once
// voxa_Internal.h: helpers shared by the facet files of the voxa unit. Private to sound/.

#include "sound/voxa.h"

namespace oggmix {

// For destructors, which cannot pass an exception on: the remaining count goes through
// CheckResult (log, halt), and an exception it raises is dropped so that the remaining
// references are still released.
void CheckReleaseQuietly(ULONG remaining, const char* message) noexcept;

}  // namespace oggmix
