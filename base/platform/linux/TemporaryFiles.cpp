// TemporaryFiles.cpp: a signal handler that removes guarded files, then ends the program.
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>

#include "base/platform/Platform.h"

namespace oggmix::platform {
namespace {

// The handler deletes paths prepared beforehand rather than noting the signal for a loop to
// act on: a program blocked in a write (a full disk, a slow NFS server) or in a long decode
// would otherwise not end when asked. So it may touch only what is safe there: unlink and
// raise are async-signal-safe, and the one thing it shares with the main thread is a
// lock-free flag. A slot's path is written before its flag is set and never changed again
// (slots are not reused), so the handler, on whatever thread the signal lands, reads a whole,
// unchanging name.
struct GuardedFile {
    std::atomic<bool> Armed{false};
    std::array<char, PATH_MAX> Path{};
};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kSlots = 4;
std::array<GuardedFile, kSlots> gGuarded;
int gUsedSlots = 0;  // main thread only
constexpr std::array kEndingSignals{SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveGuardedFilesAndEnd(int signal) {
    for (GuardedFile& file : gGuarded)
        if (file.Armed.load(std::memory_order_acquire)) unlink(file.Path.data());
    // SA_RESETHAND has restored the default action; the signal is blocked until the handler
    // returns, and then ends the process with the status its sender expects.
    raise(signal);
}

void InstallHandlerOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = RemoveGuardedFilesAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
    for (const int signal : kEndingSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int GuardTemporaryFile(const std::string& path) noexcept {
    if (gUsedSlots == kSlots || path.size() >= PATH_MAX) return -1;
    const int slot = gUsedSlots++;
    GuardedFile& file = gGuarded[static_cast<size_t>(slot)];
    path.copy(file.Path.data(), path.size());
    file.Path[path.size()] = '\0';
    InstallHandlerOnce();
    file.Armed.store(true, std::memory_order_release);
    return slot;
}

void UnguardTemporaryFile(int handle) noexcept {
    if (handle >= 0 && handle < kSlots) gGuarded[static_cast<size_t>(handle)].Armed.store(false);
}

bool RemoveFile(const std::string& path) noexcept { return unlink(path.c_str()) == 0; }

}  // namespace oggmix::platform
