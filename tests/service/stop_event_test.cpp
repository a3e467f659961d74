// The service's stop event: auto-reset, and a signal from another thread ends a wait.
#include "service/stop_event.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(StopEvent, StartsUnsignalledAndASignalIsConsumedByOneWait) {
    StopEvent event;
    ASSERT_TRUE(event.valid());
    EXPECT_EQ(event.wait(0), StopEvent::Wait::TimedOut);
    event.signal();
    event.signal(); // two signals before a wait are one
    EXPECT_EQ(event.wait(0), StopEvent::Wait::Signalled);
    EXPECT_EQ(event.wait(0), StopEvent::Wait::TimedOut);
}

TEST(StopEvent, SignalFromAnotherThreadEndsTheWaitingSlices) {
    StopEvent event;
    std::thread handler([&event] { event.signal(); });
    int slices = 0;
    StopEvent::Wait result = StopEvent::Wait::TimedOut;
    while (result == StopEvent::Wait::TimedOut && slices < 100) {
        result = event.wait(100);
        ++slices;
    }
    handler.join();
    EXPECT_EQ(result, StopEvent::Wait::Signalled);
}

} // namespace
