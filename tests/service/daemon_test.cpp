// The Daemon's life cycle: matched and unmatched start/stop calls, calls from several
// threads at once, retiring for good, and how quickly a stop ends the workers. Each
// Daemon searches a fake line whose dongle is unplugged, never the machine's ports.
#include "service/daemon.h"

#include "fake_serial_port.h"
#include "thread_count.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

// The Daemon's tests count the process's threads. A sanitizer runtime starts a helper
// thread of its own at the first thread start; one started and joined beforehand keeps
// that out of the counts. The joined thread can stay in the system's list for a moment,
// so the count is let settle before any test takes its own.
class DaemonTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        const int alone = threadCount();
        std::thread([] {}).join();
        threadCountSettledAt(alone);
    }
    void SetUp() override { dongle->unplug(); }

    // A source on the test's line: the conduit thread searches it and finds nothing.
    std::unique_ptr<SerialPortSource> ports() {
        return std::make_unique<FakeSerialPortSource>(dongle);
    }

    std::shared_ptr<FakeSerial> dongle = std::make_shared<FakeSerial>();
};

TEST_F(DaemonTest, StartsAndStopsTwoWorkerThreadsAgainAndAgain) {
    Daemon daemon(ports());
    const int before = threadCount();
    ASSERT_GE(before, 0);
    EXPECT_FALSE(daemon.isRunning());
    for (int round = 0; round < 3; ++round) { // service start, then suspend/resume twice
        daemon.start();
        EXPECT_TRUE(daemon.isRunning());
        EXPECT_FALSE(daemon.stopping());
        EXPECT_EQ(threadCount(), before + 2);
        daemon.stop();
        EXPECT_FALSE(daemon.isRunning());
        EXPECT_TRUE(daemon.stopping());
        EXPECT_EQ(threadCountSettledAt(before), before);
    }
}

TEST_F(DaemonTest, UnmatchedCallsChangeNothing) {
    Daemon daemon(ports());
    const int before = threadCount();
    ASSERT_GE(before, 0);
    daemon.stop(); // a service stop after a suspend without resume
    EXPECT_FALSE(daemon.isRunning());
    daemon.start();
    daemon.start(); // a resume without a suspend
    EXPECT_TRUE(daemon.isRunning());
    EXPECT_EQ(threadCount(), before + 2);
    daemon.stop();
    daemon.stop(); // a second suspend
    EXPECT_FALSE(daemon.isRunning());
    EXPECT_EQ(threadCountSettledAt(before), before);
}

TEST_F(DaemonTest, RetiredDaemonNeverStartsAgain) {
    Daemon daemon(ports());
    daemon.start();
    daemon.retire();
    EXPECT_FALSE(daemon.isRunning());
    daemon.start(); // a resume that comes after the service stopped
    EXPECT_FALSE(daemon.isRunning());

    Daemon neverStarted(ports());
    neverStarted.retire();
    neverStarted.start();
    EXPECT_FALSE(neverStarted.isRunning());
}

TEST_F(DaemonTest, DestroyingARunningDaemonJoinsItsWorkers) {
    const int before = threadCount();
    ASSERT_GE(before, 0);
    {
        Daemon daemon(ports());
        daemon.start();
    }
    EXPECT_EQ(threadCountSettledAt(before), before);
}

// The service thread and the power-listener thread call in at the same time.
TEST_F(DaemonTest, ConcurrentCallsLeaveAConsistentState) {
    constexpr int callers = 4;
    constexpr int callsEach = 10;
    Daemon daemon(ports());
    const int before = threadCount();
    ASSERT_GE(before, 0);
    std::vector<std::thread> threads;
    threads.reserve(callers);
    for (int c = 0; c < callers; ++c) {
        threads.emplace_back([&daemon, c] {
            for (int i = 0; i < callsEach; ++i) {
                if ((i + c) % 2 == 0) {
                    daemon.start();
                } else {
                    daemon.stop();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    daemon.start();
    EXPECT_TRUE(daemon.isRunning());
    // The callers just joined can still be in the system's list for a moment.
    EXPECT_EQ(threadCountSettledAt(before + 2), before + 2);
    daemon.stop();
    EXPECT_FALSE(daemon.isRunning());
}

TEST_F(DaemonTest, RetireRacingWithResumeLeavesNothingRunning) {
    for (int round = 0; round < 10; ++round) {
        Daemon daemon(ports());
        daemon.start();
        std::thread listener([&daemon] {
            daemon.stop();
            daemon.start();
        });
        daemon.retire();
        listener.join();
        EXPECT_FALSE(daemon.isRunning());
    }
}

// A stop while the reader waits out its 1000 ms cycle (after a search that found no
// dongle) ends both workers in about a second; the bound is generous so that a loaded
// machine does not fail it.
TEST_F(DaemonTest, StopEndsTheWorkersWithinAboutASecond) {
    Daemon daemon(ports());
    daemon.start();
    ASSERT_TRUE(harness::waitUntil([&] { return dongle->finds() >= 1; }, std::chrono::seconds(5)));
    const auto begin = std::chrono::steady_clock::now();
    daemon.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

} // namespace
