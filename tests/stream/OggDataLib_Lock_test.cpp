// TALOGGSemaphore: one holder at a time, counts, and named semaphores seen from outside.
#include <fcntl.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "stream/OggDataLib.h"

namespace oggmix {
namespace {

std::string UniqueName(const char* what) {
    return std::string("oggmix-test-") + what + "-" + std::to_string(getpid());
}

// The count of a named semaphore, read through a handle of our own.
int ValueOf(const std::string& name) {
    sem_t* handle = sem_open(("/" + name).c_str(), 0);
    if (handle == SEM_FAILED) return -1;
    int value = -1;
    sem_getvalue(handle, &value);
    sem_close(handle);
    return value;
}

TEST(ALOGGSemaphore, OneThreadHoldsTheLockAtATime) {
    TALOGGSemaphore lock("", 1);
    constexpr int kThreads = 4;
    constexpr int kRounds = 5000;
    // Deliberately not atomic: only the lock keeps the read-modify-write whole. A broken lock
    // loses increments here, and ThreadSanitizer reports the race.
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                std::lock_guard guard(lock);
                const long seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, long{kThreads} * kRounds);
}

TEST(ALOGGSemaphore, NamedSemaphoreStartsAtItsCountAndNeverExceedsIt) {
    const std::string name = UniqueName("count");
    TALOGGSemaphore lock(name, 1);
    EXPECT_EQ(ValueOf(name), 1);
    lock.Wait();
    EXPECT_EQ(ValueOf(name), 0);
    lock.Release();
    EXPECT_EQ(ValueOf(name), 1);
    lock.Release();  // beyond the maximum: refused
    EXPECT_EQ(ValueOf(name), 1);
}

TEST(ALOGGSemaphore, ACountAboveOneAdmitsThatManyHolders) {
    const std::string name = UniqueName("three");
    TALOGGSemaphore lock("/" + name, 3);  // a leading slash is accepted as well
    lock.Wait();
    lock.Wait();
    lock.Wait();
    EXPECT_EQ(ValueOf(name), 0);
    lock.Release();
    lock.Release();
    lock.Release();
    lock.Release();
    EXPECT_EQ(ValueOf(name), 3);
}

TEST(ALOGGSemaphore, DestructionRemovesTheName) {
    const std::string name = UniqueName("gone");
    {
        TALOGGSemaphore lock(name, 1);
        ASSERT_EQ(ValueOf(name), 1);
    }
    EXPECT_EQ(ValueOf(name), -1);
}

TEST(ALOGGSemaphore, ACountBelowOneIsRefused) {
    EXPECT_THROW(TALOGGSemaphore("", 0), ERangeError);
    EXPECT_THROW(TALOGGSemaphore("", -1), ERangeError);
}

// Whether thread tid of this process is asleep (state S in its stat line): blocked in a wait.
bool IsAsleep(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t nameEnd = line.rfind(')');  // the state follows the parenthesised name
    return nameEnd != std::string::npos && line.size() > nameEnd + 2 && line[nameEnd + 2] == 'S';
}

TEST(OggDataLock, LockAndUnlockGuardTheStreamAcrossThreads) {
    TOggData data(65536);
    data.Lock();
    // Close takes the lock, so it waits until this thread lets go.
    std::atomic<pid_t> closerTid{0};
    std::atomic<bool> closed{false};
    std::thread other([&] {
        closerTid = gettid();
        data.Close();
        closed = true;
    });
    // No timing: wait until the other thread either finished Close, which it must not, or
    // went to sleep in it, waiting for the lock.
    while (closerTid.load() == 0) std::this_thread::yield();
    while (!closed.load() && !IsAsleep(closerTid.load())) std::this_thread::yield();
    EXPECT_FALSE(closed.load());
    data.Unlock();
    other.join();
    EXPECT_TRUE(closed.load());
}

}  // namespace
}  // namespace oggmix
