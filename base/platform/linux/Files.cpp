// Files.cpp: files and standard output, which need nothing beyond the C library here.
#include <unistd.h>

#include <cstdio>

#include "base/platform/Platform.h"

namespace oggmix::platform {

std::FILE* OpenFile(const std::string& path, const char* mode) noexcept {
    return std::fopen(path.c_str(), mode);
}

bool MoveIntoPlace(const std::string& source, const std::string& target) noexcept {
    return std::rename(source.c_str(), target.c_str()) == 0;
}

void UseBinaryStdout() noexcept {}

int ProcessId() noexcept { return static_cast<int>(getpid()); }

}  // namespace oggmix::platform
