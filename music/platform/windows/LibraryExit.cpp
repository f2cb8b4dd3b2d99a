// LibraryExit.cpp: DllMain hears of the process's end before the C run time's exit handlers
// run, and Windows has stopped every other thread by then.
#include <windows.h>

#include <atomic>

#include "music/platform/LibraryExit.h"

namespace oggmix::capi {
namespace {

std::atomic<bool> gThreadsStopped{false};

}  // namespace

bool ThreadsStoppedForExit() noexcept { return gThreadsStopped.load(); }

}  // namespace oggmix::capi

// A process detach with reserved set is the process ending; without, FreeLibrary.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        oggmix::capi::gThreadsStopped.store(true);
    return TRUE;
}
