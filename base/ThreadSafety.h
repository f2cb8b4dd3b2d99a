#pragma once
// ThreadSafety.h: what clang's thread-safety analysis needs to check the locking contracts:
// attributes that make a class a lock, name the fields a lock guards and the functions that
// take, give back or need it, and scoped guards the analysis follows. Other compilers see
// plain code. The clang job of .ci/run builds the annotated libraries with -Wthread-safety.
// Threads: the guards belong to the thread that made them. Memory: no alloc.

#if defined(__clang__)
#define OGGMIX_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define OGGMIX_THREAD_ATTRIBUTE(x)
#endif

#define OGGMIX_CAPABILITY(name) OGGMIX_THREAD_ATTRIBUTE(capability(name))
#define OGGMIX_SCOPED_CAPABILITY OGGMIX_THREAD_ATTRIBUTE(scoped_lockable)
#define OGGMIX_GUARDED_BY(lock) OGGMIX_THREAD_ATTRIBUTE(guarded_by(lock))
#define OGGMIX_PT_GUARDED_BY(lock) OGGMIX_THREAD_ATTRIBUTE(pt_guarded_by(lock))
#define OGGMIX_REQUIRES(...) OGGMIX_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define OGGMIX_ACQUIRE(...) OGGMIX_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define OGGMIX_RELEASE(...) OGGMIX_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define OGGMIX_TRY_ACQUIRE(...) OGGMIX_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define OGGMIX_NO_THREAD_SAFETY_ANALYSIS OGGMIX_THREAD_ATTRIBUTE(no_thread_safety_analysis)

namespace oggmix {

// Holds lock from construction to destruction.
template <class Lockable>
class OGGMIX_SCOPED_CAPABILITY ScopedLock {
public:
    explicit ScopedLock(Lockable& lock) noexcept OGGMIX_ACQUIRE(lock) : FLock(lock) {
        FLock.lock();
    }
    ~ScopedLock() OGGMIX_RELEASE() { FLock.unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    Lockable& FLock;
};

// For methods with a Lock argument: takes lock for its lifetime when take is true; when it is
// false the caller already holds it. Either way the scope runs with the lock held, which is
// what the analysis is told.
template <class Lockable>
class OGGMIX_SCOPED_CAPABILITY ScopedLockIf {
public:
    // Not analysed inside: the analysis cannot follow a lock taken on one path only.
    ScopedLockIf(Lockable& lock, bool take) noexcept
        OGGMIX_ACQUIRE(lock) OGGMIX_NO_THREAD_SAFETY_ANALYSIS : FLock(lock),
                                                                FTaken(take) {
        if (FTaken) FLock.lock();
    }
    ~ScopedLockIf() OGGMIX_RELEASE() OGGMIX_NO_THREAD_SAFETY_ANALYSIS {
        if (FTaken) FLock.unlock();
    }
    ScopedLockIf(const ScopedLockIf&) = delete;
    ScopedLockIf& operator=(const ScopedLockIf&) = delete;

private:
    Lockable& FLock;
    bool FTaken;
};

}  // namespace oggmix
