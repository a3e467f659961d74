// The locks of the program, annotated for Clang's thread-safety analysis
// (thread_annotations.h): Mutex, RecursiveMutex, which also knows the thread that holds
// it, LockGuard, which holds either for a scope, and LockRelease, which lets a held one go
// for a scope.
//
// Threads: each lock may be taken and released on any thread; RecursiveMutex's holder is
// written only by the thread that holds the lock and read atomically by anyone.
#pragma once

#include "base/thread_annotations.h"

#include <atomic>
#include <mutex>
#include <thread>

class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { mutex.lock(); }
    void unlock() RELEASE() { mutex.unlock(); }

private:
    std::mutex mutex;
};

// The analysis sees each lock() as an acquisition and reports one made while the lock is
// already held in the same function; taking it again in a callee is not seen.
class CAPABILITY("mutex") RecursiveMutex {
public:
    void lock() ACQUIRE() {
        mutex.lock();
        if (depth++ == 0) {
            holder.store(std::this_thread::get_id());
        }
    }
    // The standard library's name, so that std::unique_lock and std::scoped_lock accept it.
    bool try_lock() TRY_ACQUIRE(true) { // NOLINT(readability-identifier-naming)
        if (!mutex.try_lock()) {
            return false;
        }
        if (depth++ == 0) {
            holder.store(std::this_thread::get_id());
        }
        return true;
    }
    void unlock() RELEASE() {
        if (--depth == 0) {
            holder.store(std::thread::id());
        }
        mutex.unlock();
    }
    // True when the calling thread holds the lock.
    bool heldByCaller() const { return holder.load() == std::this_thread::get_id(); }

private:
    std::recursive_mutex mutex;
    std::atomic<std::thread::id> holder{}; // the holding thread, or none
    int depth = 0;                         // nested holds; under `mutex`
};

template <typename Lock> class SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(Lock& lock) ACQUIRE(lock) : held(lock) { held.lock(); }
    ~LockGuard() RELEASE() { held.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& held;
};

// Releases a held lock for a scope and takes it again at the end. A recursive lock held
// more than once by the caller stays held.
template <typename Lock> class SCOPED_CAPABILITY LockRelease {
public:
    explicit LockRelease(Lock& lock) RELEASE(lock) : held(lock) { held.unlock(); }
    ~LockRelease() RELEASE() { held.lock(); }
    LockRelease(const LockRelease&) = delete;
    LockRelease& operator=(const LockRelease&) = delete;

private:
    Lock& held;
};
