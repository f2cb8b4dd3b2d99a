// Files.cpp: files by UTF-16 path, never in text mode, and an atomic replace.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "base/platform/Platform.h"
#include "base/platform/windows/Wide.h"

namespace oggmix::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) noexcept {
    try {
        std::wstring wideMode = Widen(mode);
        if (wideMode.find(L'b') == std::wstring::npos) wideMode += L'b';
        return _wfopen(Widen(path).c_str(), wideMode.c_str());
    } catch (...) {
        return nullptr;
    }
}

bool MoveIntoPlace(const std::string& source, const std::string& target) noexcept {
    try {
        return MoveFileExW(Widen(source).c_str(), Widen(target).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    } catch (...) {
        return false;
    }
}

void UseBinaryStdout() noexcept { (void)_setmode(_fileno(stdout), _O_BINARY); }

int ProcessId() noexcept { return static_cast<int>(GetCurrentProcessId()); }

}  // namespace oggmix::platform
