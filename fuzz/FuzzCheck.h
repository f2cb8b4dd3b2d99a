#pragma once
// FuzzCheck.h: a property a fuzz target asserts; a broken one prints what broke and aborts,
// which libFuzzer reports as a finding with the input that caused it.
// Threads: any. Memory: no alloc.

#include <cstdio>
#include <cstdlib>

namespace oggmix::fuzz {

inline void Check(bool holds, const char* what) noexcept {
    if (holds) return;
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

}  // namespace oggmix::fuzz
