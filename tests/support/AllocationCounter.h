#pragma once
// AllocationCounter.h: counts heap allocations made through operator new, so that a test can
// prove that a path (a render, a filter chunk) allocates nothing.
// A program that calls anything declared here gets the global operator new and delete of
// AllocationCounter.cpp, which forward to malloc and free and count per thread.
// Threads: any; each thread counts its own allocations. Memory: no alloc.

#include <cstdint>

namespace oggmix::test {

// Allocations through operator new made by the calling thread since it started.
[[nodiscard]] int64_t AllocationsOnThisThread() noexcept;

// Heap allocations of any kind made by the calling thread since it started: malloc, calloc,
// realloc and aligned_alloc, from C code too, and so every operator new. Counted by
// AllocationCounter_Heap.cpp (the oggmix_heapcounter target), which puts its own malloc
// family in front of the C library's; a program must link it to call this.
[[nodiscard]] int64_t HeapAllocationsOnThisThread() noexcept;
// Blocks given back to the heap by the calling thread since it started (free, and so every
// operator delete, of anything but null); counted alongside.
[[nodiscard]] int64_t HeapFreesOnThisThread() noexcept;

// Counts the calling thread's allocations from construction on.
class AllocationScope {
public:
    AllocationScope() noexcept : FStart(AllocationsOnThisThread()) {}
    [[nodiscard]] int64_t Count() const noexcept { return AllocationsOnThisThread() - FStart; }

private:
    int64_t FStart;
};

}  // namespace oggmix::test
