// TemporaryFiles.cpp: a console control handler that removes guarded files; the console's
// default handler then ends the program.
#include <windows.h>

#include <array>
#include <atomic>
#include <string>

#include "base/platform/Platform.h"
#include "base/platform/windows/Wide.h"

namespace oggmix::platform {
namespace {

// The handler runs on a thread of its own while the program goes on: it reads a path written
// before its flag was set and never changed again (slots are not reused).
struct GuardedFile {
    std::atomic<bool> Armed{false};
    std::array<wchar_t, 32768> Path{};  // the longest path the wide API takes
};

constexpr int kSlots = 4;
std::array<GuardedFile, kSlots> gGuarded;
int gUsedSlots = 0;  // main thread only

BOOL WINAPI RemoveGuardedFiles(DWORD) {
    for (GuardedFile& file : gGuarded)
        if (file.Armed.load(std::memory_order_acquire)) DeleteFileW(file.Path.data());
    return FALSE;  // on to the next handler, and at last the default one, which ends the program
}

}  // namespace

int GuardTemporaryFile(const std::string& path) noexcept {
    std::wstring wide;
    try {
        wide = Widen(path);
    } catch (...) {
        return -1;
    }
    if (gUsedSlots == kSlots || wide.size() >= gGuarded[0].Path.size()) return -1;
    const int slot = gUsedSlots++;
    GuardedFile& file = gGuarded[static_cast<size_t>(slot)];
    wide.copy(file.Path.data(), wide.size());
    file.Path[wide.size()] = L'\0';
    static const bool installed = SetConsoleCtrlHandler(RemoveGuardedFiles, TRUE) != 0;
    (void)installed;
    file.Armed.store(true, std::memory_order_release);
    return slot;
}

void UnguardTemporaryFile(int handle) noexcept {
    if (handle >= 0 && handle < kSlots) gGuarded[static_cast<size_t>(handle)].Armed.store(false);
}

bool RemoveFile(const std::string& path) noexcept {
    try {
        return DeleteFileW(Widen(path).c_str()) != 0;
    } catch (...) {
        return false;
    }
}

}  // namespace oggmix::platform
