// Events.cpp: auto- and manual-reset events behind HANDLEs (CreateEventA and friends).
#include <chrono>

#include "sound/platform/SoundDevice_Internal.h"

namespace oggmix {

void EventState::Set() noexcept {
    {
        std::lock_guard guard(FMutex);
        FSignalled = true;
    }
    FCondition.notify_all();
}

void EventState::Reset() noexcept {
    std::lock_guard guard(FMutex);
    FSignalled = false;
}

bool EventState::Wait(DWORD timeoutMs) {
    std::unique_lock guard(FMutex);
    const auto signalled = [this] { return FSignalled; };
    if (timeoutMs == INFINITE) {
        FCondition.wait(guard, signalled);
    } else if (!FCondition.wait_for(guard, std::chrono::milliseconds(timeoutMs), signalled)) {
        return false;
    }
    if (!FManualReset) FSignalled = false;
    return true;
}

HANDLE CreateEventA(void*, bool bManualReset, bool bInitialState, const char*) {
    // The handle is owned by the caller until CloseHandle.
    return new EventHandle{std::make_shared<EventState>(bManualReset, bInitialState)};
}

bool SetEvent(HANDLE hEvent) {
    if (hEvent == nullptr) return false;
    static_cast<EventHandle*>(hEvent)->State->Set();
    return true;
}

bool ResetEvent(HANDLE hEvent) {
    if (hEvent == nullptr) return false;
    static_cast<EventHandle*>(hEvent)->State->Reset();
    return true;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (hHandle == nullptr) return WAIT_FAILED;
    return static_cast<EventHandle*>(hHandle)->State->Wait(dwMilliseconds) ? WAIT_OBJECT_0
                                                                           : WAIT_TIMEOUT;
}

bool CloseHandle(HANDLE hObject) {
    if (hObject == nullptr) return false;
    delete static_cast<EventHandle*>(hObject);
    return true;
}

}  // namespace oggmix
