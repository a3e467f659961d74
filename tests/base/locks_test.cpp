// RecursiveMutex knows its holder through nested holds and across threads; LockRelease
// lets it go for a scope; ThreadOwner accepts any thread until it is claimed, then only
// the claimer, until another claims it.
#include "base/locks.h"
#include "base/thread_check.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// `probe` run on a thread of its own.
template <typename Probe> bool onAnotherThread(Probe probe) {
    bool result = false;
    std::thread other([&] { result = probe(); });
    other.join();
    return result;
}

TEST(RecursiveMutex, HolderIsKnownThroughNestedHoldsAndOnlyToItsThread) {
    RecursiveMutex mutex;
    EXPECT_FALSE(mutex.heldByCaller());
    {
        const LockGuard outer(mutex);
        {
            const LockGuard inner(mutex);
            EXPECT_TRUE(mutex.heldByCaller());
        }
        EXPECT_TRUE(mutex.heldByCaller()); // the inner release keeps the outer hold
        EXPECT_FALSE(onAnotherThread([&mutex] { return mutex.heldByCaller(); }));
        EXPECT_FALSE(onAnotherThread([&mutex] { return mutex.try_lock(); }));
        ASSERT_TRUE(mutex.try_lock()); // the holder may take it again
        EXPECT_TRUE(mutex.heldByCaller());
        mutex.unlock();
    }
    EXPECT_FALSE(mutex.heldByCaller());
    EXPECT_TRUE(onAnotherThread([&mutex] {
        const LockGuard held(mutex);
        return mutex.heldByCaller();
    }));
    EXPECT_FALSE(mutex.heldByCaller());
}

TEST(LockRelease, LetsOtherThreadsInForItsScopeThenHoldsAgain) {
    RecursiveMutex mutex;
    const LockGuard held(mutex);
    {
        const LockRelease released(mutex);
        EXPECT_FALSE(mutex.heldByCaller());
        EXPECT_TRUE(onAnotherThread([&mutex] {
            const LockGuard other(mutex);
            return mutex.heldByCaller();
        }));
    }
    EXPECT_TRUE(mutex.heldByCaller());
    EXPECT_FALSE(onAnotherThread([&mutex] { return mutex.try_lock(); }));
}

TEST(ThreadOwner, UnclaimedAcceptsEveryThreadThenOnlyTheLastClaimer) {
    ThreadOwner owner;
    EXPECT_TRUE(owner.isCurrent());
    EXPECT_TRUE(onAnotherThread([&owner] { return owner.isCurrent(); }));

    owner.claim();
    EXPECT_TRUE(owner.isCurrent());
    EXPECT_FALSE(onAnotherThread([&owner] { return owner.isCurrent(); }));

    EXPECT_TRUE(onAnotherThread([&owner] {
        owner.claim(); // a restarted subsystem on a new thread
        return owner.isCurrent();
    }));
    EXPECT_FALSE(owner.isCurrent());
}

} // namespace
