// The Mux's thread contract: after init (here openWithoutServer), its mux-thread entry
// points abort when another thread calls them, naming the function.
#include "mux/mux.h"
#include "recording_conduit.h"

#include "base/thread_check.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// Runs `call` on a thread of its own and waits for it.
template <typename Call> void onAnotherThread(Call call) {
    std::thread other(call);
    other.join();
}

TEST(MuxThreadContractDeathTest, MuxThreadEntriesAbortOnAnotherThread) {
    if (!LINKRELAY_THREAD_CHECKS) {
        GTEST_SKIP() << "thread checks are compiled out of this build";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Mux mux;
    RecordingConduit conduit{&mux};
    mux.openWithoutServer(&conduit);
    MuxMessage message{};
    EXPECT_DEATH(onAnotherThread([&] { mux.routeEvents(message); }),
                 "Mux::routeEvents.* called off the thread that owns it");
    EXPECT_DEATH(onAnotherThread([&] { mux.work(message); }),
                 "Mux::work.* called off the thread that owns it");
    EXPECT_DEATH(onAnotherThread([&] { mux.close(); }),
                 "Mux::close.* called off the thread that owns it");
    // The owning thread itself goes on, and any thread may post.
    onAnotherThread([&] { mux.postEvent(Gob()); });
    EXPECT_EQ(mux.routeEvents(message), 0);
}

} // namespace
