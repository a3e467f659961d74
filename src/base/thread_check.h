// Executable thread contracts: the thread that owns a subsystem is recorded where the
// subsystem starts (ThreadOwner::claim), and every entry point confined to that thread
// checks it (ASSERT_OWNING_THREAD). A function that needs a lock held checks that the
// calling thread holds it (ASSERT_HELD, RecursiveMutex in locks.h).
//
// The checks are compiled in when LINKRELAY_THREAD_CHECKS is 1 (debug builds and the ci,
// asan and tsan presets; the CMake option of the same name) and are empty otherwise. A
// broken contract prints the function's name and the rule to stderr and aborts.
//
// Threads: ThreadOwner is safe to use from any thread (an atomic thread id).
#pragma once

#include <atomic>
#include <thread>

#ifndef LINKRELAY_THREAD_CHECKS
#define LINKRELAY_THREAD_CHECKS 0
#endif

// Prints "linkrelay: <function> <rule>" to stderr and aborts.
[[noreturn]] void threadContractBroken(const char* function, const char* rule);

class ThreadOwner {
public:
    // The calling thread becomes the owner (again, when the subsystem starts anew).
    void claim() { owner.store(std::this_thread::get_id()); }
    // True when the calling thread is the owner, or when no owner was ever recorded (the
    // subsystem has not started: nothing runs on it yet).
    bool isCurrent() const {
        const std::thread::id recorded = owner.load();
        return recorded == std::thread::id() || recorded == std::this_thread::get_id();
    }

private:
    std::atomic<std::thread::id> owner{};
};

#if LINKRELAY_THREAD_CHECKS
#define ASSERT_OWNING_THREAD(threadOwner)                                                          \
    ((threadOwner).isCurrent()                                                                     \
         ? (void)0                                                                                 \
         : threadContractBroken(__PRETTY_FUNCTION__, "called off the thread that owns it"))
#define ASSERT_HELD(mutex)                                                                         \
    ((mutex).heldByCaller()                                                                        \
         ? (void)0                                                                                 \
         : threadContractBroken(__PRETTY_FUNCTION__, "called without holding " #mutex))
#else
#define ASSERT_OWNING_THREAD(threadOwner) ((void)0)
#define ASSERT_HELD(mutex) ((void)0)
#endif
