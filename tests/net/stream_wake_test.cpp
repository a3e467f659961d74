// The layer's wake-up: a wait ends because of streamWake, whether the wake came before the
// wait, during it from another thread, or many times over; the layer's passes do not
// spin afterwards; and the channel survives shutdown and start again without leaking.
//
// Waits here end by wake-up; their update timeout is only a safety net, and each test
// tells the two apart through streamWakeCount, not through the clock.
#include "stream_fixture.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Long enough never to end a wait that a wake-up should have ended.
constexpr double safetyNet = 30.0;

class WakeTest : public StreamLayerTest {
protected:
    // One pass that may wait up to the safety net; true when a wake-up ended its wait.
    bool passEndedByWake() {
        const std::uint64_t before = streamWakeCount();
        setUpdateTimeout(safetyNet);
        update();
        return streamWakeCount() == before + 1;
    }

    // One pass that does not wait; true when it consumed a wake-up.
    bool pollFindsWake() {
        const std::uint64_t before = streamWakeCount();
        setUpdateTimeout(0.0);
        update();
        return streamWakeCount() != before;
    }
};

TEST_F(WakeTest, WakeBeforeTheWaitEndsItAtOnceAndIsConsumed) {
    listenOnLoopback();
    EXPECT_FALSE(pollFindsWake());
    streamWake();
    EXPECT_TRUE(passEndedByWake());
    EXPECT_FALSE(pollFindsWake());
}

TEST_F(WakeTest, ManyWakesBeforeTheWaitCountAsOneAndLaterWakesStillWork) {
    for (int i = 0; i < 1000; ++i) {
        streamWake();
    }
    EXPECT_TRUE(passEndedByWake());
    EXPECT_FALSE(pollFindsWake());
    streamWake();
    streamWake();
    EXPECT_TRUE(passEndedByWake());
    EXPECT_FALSE(pollFindsWake());
}

TEST_F(WakeTest, WakeFromAnotherThreadEndsAWaitInProgress) {
    listenOnLoopback();
    for (int round = 0; round < 5; ++round) {
        const std::uint64_t passes = streamPassCount();
        std::thread waker([passes] {
            // Once the pass has begun, give it time to reach its wait; waking earlier would
            // be consumed just the same.
            for (int i = 0; i < 1000 && streamPassCount() == passes; ++i) {
                std::this_thread::sleep_for(1ms);
            }
            std::this_thread::sleep_for(20ms);
            streamWake();
        });
        EXPECT_TRUE(passEndedByWake()) << "round " << round;
        waker.join();
    }
    EXPECT_FALSE(pollFindsWake());
}

TEST_F(WakeTest, WakesFromSeveralThreadsWhileTheLoopRunsAreNeverLost) {
    listenOnLoopback();
    constexpr int threads = 4;
    constexpr int wakesEach = 2000;
    std::atomic<int> done{0};
    std::vector<std::thread> wakers;
    for (int t = 0; t < threads; ++t) {
        wakers.emplace_back([&done] {
            for (int i = 0; i < wakesEach; ++i) {
                streamWake();
            }
            done.fetch_add(1);
        });
    }
    // Every pass is ended by a wake-up until the wakers are through; none is lost.
    int passes = 0;
    while (done.load() < threads && passes < threads * wakesEach) {
        setUpdateTimeout(safetyNet);
        update();
        ++passes;
    }
    for (std::thread& waker : wakers) {
        waker.join();
    }
    // The last wake may or may not have been consumed yet; after it, nothing is left.
    pollFindsWake();
    EXPECT_FALSE(pollFindsWake());
    const std::uint64_t idleStart = streamPassCount();
    streamWake();
    EXPECT_TRUE(passEndedByWake());
    EXPECT_EQ(streamPassCount(), idleStart + 1);
}

TEST_F(WakeTest, WakeWhileTheLayerIsStoppedEndsTheFirstWaitAfterTheStart) {
    shutDown();
    streamWake();
    ASSERT_EQ(streamInit(), 0);
    layerUp = true;
    EXPECT_TRUE(passEndedByWake());
    EXPECT_FALSE(pollFindsWake());
}

TEST_F(WakeTest, RestartsLeakNoHandleAndKeepTheWakeWorking) {
    // One cycle first, so that lazily made platform state is counted in the baseline.
    listenOnLoopback();
    shutDown();
    ASSERT_EQ(streamInit(), 0);
    layerUp = true;
    const int baseline = openHandleCount();
    for (int cycle = 0; cycle < 20; ++cycle) {
        listenOnLoopback();
        {
            TestClient client(port);
            ASSERT_TRUE(client.connected());
            ASSERT_TRUE(acceptCount(static_cast<std::size_t>(cycle) + 1));
        }
        streamWake();
        EXPECT_TRUE(passEndedByWake()) << "cycle " << cycle;
        shutDown();
        ASSERT_EQ(streamInit(), 0);
        layerUp = true;
    }
    EXPECT_EQ(openHandleCount(), baseline);
    streamWake();
    EXPECT_TRUE(passEndedByWake());
}

} // namespace
