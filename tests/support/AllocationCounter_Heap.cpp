// AllocationCounter_Heap.cpp: counts every heap allocation and free a thread makes, the C
// library's malloc, calloc, realloc and free included, so that what the decoding library
// does is seen as well as operator new and delete. A plain build puts its own malloc family in front of the C
// library's and forwards to it; a sanitizer build, whose runtime owns the heap, counts
// through the runtime's allocation hook.
#include <cstddef>
#include <cstdint>

#include "tests/support/AllocationCounter.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OGGMIX_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OGGMIX_SANITIZER_HEAP 1
#endif
#endif

#ifdef OGGMIX_SANITIZER_HEAP
// The runtime's hook, declared here since not every compiler ships its header.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*Allocated)(const volatile void*,
                                                                           std::size_t),
                                                         void (*Freed)(const volatile void*));
#endif

namespace oggmix::test {
namespace {

// Static TLS of the executable: reading it never allocates, so the hooks may use it.
constinit thread_local int64_t tHeapAllocations = 0;
constinit thread_local int64_t tHeapFrees = 0;

#ifdef OGGMIX_SANITIZER_HEAP
void CountAllocation(const volatile void*, std::size_t) { ++tHeapAllocations; }
void CountFree(const volatile void*) { ++tHeapFrees; }
[[maybe_unused]] const int gHooked =
    __sanitizer_install_malloc_and_free_hooks(CountAllocation, CountFree);
#endif

}  // namespace

int64_t HeapAllocationsOnThisThread() noexcept { return tHeapAllocations; }
int64_t HeapFreesOnThisThread() noexcept { return tHeapFrees; }

}  // namespace oggmix::test

#ifndef OGGMIX_SANITIZER_HEAP
// The C library's own entry points, which its malloc family forwards to.
extern "C" {
void* __libc_malloc(std::size_t bytes);
void* __libc_calloc(std::size_t count, std::size_t bytes);
void* __libc_realloc(void* p, std::size_t bytes);
void* __libc_memalign(std::size_t alignment, std::size_t bytes);
void __libc_free(void* p);

void* malloc(std::size_t bytes) {
    ++oggmix::test::tHeapAllocations;
    return __libc_malloc(bytes);
}
void* calloc(std::size_t count, std::size_t bytes) {
    ++oggmix::test::tHeapAllocations;
    return __libc_calloc(count, bytes);
}
void* realloc(void* p, std::size_t bytes) {
    ++oggmix::test::tHeapAllocations;
    return __libc_realloc(p, bytes);
}
void* aligned_alloc(std::size_t alignment, std::size_t bytes) {
    ++oggmix::test::tHeapAllocations;
    return __libc_memalign(alignment, bytes);
}
void free(void* p) {
    if (p != nullptr) ++oggmix::test::tHeapFrees;
    __libc_free(p);
}
}
#endif
