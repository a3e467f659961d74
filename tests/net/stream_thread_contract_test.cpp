// The stream layer's thread contract: after streamInit, its functions abort when a thread
// other than the one that started the layer calls them, naming the function.
#include "stream_fixture.h"

#include "base/thread_check.h"

#include <thread>

namespace {

template <typename Call> void onAnotherThread(Call call) {
    std::thread other(call);
    other.join();
}

TEST(StreamThreadContractDeathTest, LayerFunctionsAbortOnAnotherThread) {
    if (!LINKRELAY_THREAD_CHECKS) {
        GTEST_SKIP() << "thread checks are compiled out of this build";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_EQ(streamInit(), 0);
    setUpdateTimeout(0.001);
    EXPECT_DEATH(onAnotherThread([] { streamUpdate(); }),
                 "streamUpdate.* called off the thread that owns it");
    EXPECT_DEATH(onAnotherThread([] { newStream(); }),
                 "newStream.* called off the thread that owns it");
    streamUpdate(); // the owning thread goes on
    streamShutdown();
}

} // namespace
