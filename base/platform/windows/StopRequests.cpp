// StopRequests.cpp: Ctrl-C, Ctrl-Break and closing the console set the watched flag.
#include <windows.h>

#include "base/platform/Platform.h"

namespace oggmix::platform {
namespace {

std::atomic<bool>* gRequested = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    gRequested->store(true, std::memory_order_relaxed);
    return TRUE;
}

}  // namespace

StopRequestWatch::StopRequestWatch(std::atomic<bool>& requested) {
    requested.store(false, std::memory_order_relaxed);
    gRequested = &requested;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequestWatch::~StopRequestWatch() { SetConsoleCtrlHandler(OnConsoleEvent, FALSE); }

}  // namespace oggmix::platform
