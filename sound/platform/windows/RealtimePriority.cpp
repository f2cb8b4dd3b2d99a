// RealtimePriority.cpp: the calling thread joins the multimedia class scheduler's "Pro Audio"
// task, which Windows runs ahead of ordinary work.
#include "sound/platform/RealtimePriority.h"

#include <windows.h>
// After windows.h, which it needs.
#include <avrt.h>

namespace oggmix {

bool RaiseThreadToRealtime() noexcept {
    DWORD taskIndex = 0;
    return AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex) != nullptr;
}

}  // namespace oggmix
