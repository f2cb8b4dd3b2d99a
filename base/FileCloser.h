#pragma once
// FileCloser.h: a C file closed when its owner goes. Writers that must know whether the last
// bytes reached the disk close with std::fclose(file.release()) themselves and check it.
// Threads: the owner's. Memory: no alloc.

#include <cstdio>
#include <memory>

namespace oggmix {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace oggmix
