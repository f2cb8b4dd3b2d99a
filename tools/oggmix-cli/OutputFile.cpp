// OutputFile.cpp: temporary names beside their targets, and the signal handler that removes
// them.
#include "tools/oggmix-cli/OutputFile.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "base/Exceptions.h"

namespace oggmix::cli {
namespace {

namespace fs = std::filesystem;

// The handler deletes a path prepared beforehand rather than noting the signal for the render
// loop to act on: a render blocked in a write (a full disk, a slow NFS server) or in decoding
// a long file would otherwise not end when asked. So it may touch only what is safe there:
// unlink and raise are async-signal-safe, and the one thing it shares with the main thread is
// a lock-free flag. A slot's path is written before its flag is set and never changed again
// (slots are not reused), so the handler, on whatever thread the signal lands, reads a whole,
// unchanging name.
struct DoomedFile {
    std::atomic<bool> Armed{false};
    std::array<char, PATH_MAX> Path{};
};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kDoomedSlots = 4;  // render writes two files: the WAV and the event list
std::array<DoomedFile, kDoomedSlots> gDoomed;
int gUsedSlots = 0;  // main thread only
constexpr std::array kEndingSignals{SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporaryFilesAndEnd(int signal) {
    for (DoomedFile& file : gDoomed)
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
    action.sa_handler = RemoveTemporaryFilesAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals) sigaddset(&action.sa_mask, signal);
    for (const int signal : kEndingSignals) {
        struct sigaction previous {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

// Records path for the handler; the slot's index.
int Arm(const std::string& path) {
    if (gUsedSlots == kDoomedSlots || path.size() >= PATH_MAX)
        throw EInOutError(path + ": cannot be written under a temporary name");
    const int slot = gUsedSlots++;
    DoomedFile& file = gDoomed[static_cast<size_t>(slot)];
    path.copy(file.Path.data(), path.size());
    file.Path[path.size()] = '\0';
    InstallHandlerOnce();
    file.Armed.store(true, std::memory_order_release);
    return slot;
}

void Disarm(int slot) { gDoomed[static_cast<size_t>(slot)].Armed.store(false); }

}  // namespace

OutputFile::OutputFile(const std::string& target) : FTarget(target), FPath(target) {
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (fs::is_directory(status)) throw EInOutError(target + ": is a directory");
    if (fs::exists(status) && !fs::is_regular_file(status)) return;  // in place
    if (fs::exists(status) && fs::is_symlink(fs::symlink_status(target, error))) {
        const fs::path named = fs::canonical(target, error);
        if (!error) FTarget = named.string();
    }
    FPath = FTarget + ".partial" + std::to_string(getpid());
    FSlot = Arm(FPath);
}

OutputFile::~OutputFile() {
    if (FSlot < 0) return;
    // Removed before the handler forgets it: a signal in between finds nothing left to remove.
    if (!FPlaced) unlink(FPath.c_str());
    Disarm(FSlot);
}

bool OutputFile::Place() {
    if (FSlot < 0) return true;
    std::error_code error;
    const fs::file_status replaced = fs::status(FTarget, error);
    if (fs::is_regular_file(replaced)) fs::permissions(FPath, replaced.permissions(), error);
    FPlaced = std::rename(FPath.c_str(), FTarget.c_str()) == 0;
    // Renamed before the handler forgets it, for the same reason as in the destructor.
    if (FPlaced) Disarm(FSlot);
    return FPlaced;
}

}  // namespace oggmix::cli
