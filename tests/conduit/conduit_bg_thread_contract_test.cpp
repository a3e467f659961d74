// ConduitBg's thread contracts: once init has run on a thread, the reader's entry points
// abort on any other thread; an operation aborts when its caller does not hold the
// conduit lock. Each abort names the function.
#include "conduit_bg_test_support.h"

#include "base/thread_check.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

template <typename Call> void onAnotherThread(Call call) {
    std::thread other(call);
    other.join();
}

class ConduitBgThreadContractDeathTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LINKRELAY_THREAD_CHECKS) {
            GTEST_SKIP() << "thread checks are compiled out of this build";
        }
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        line->setInstantEmpty(true);
    }
    void TearDown() override {
        closeSerialPort();
        bgOutput = nullptr;
        activeConduit = nullptr;
    }

    std::shared_ptr<FakeSerial> line = std::make_shared<FakeSerial>();
    FakeSerialPortSource source{line};
    TestConduit conduit{source};
};

TEST_F(ConduitBgThreadContractDeathTest, ReaderEntriesAbortOffTheReaderThread) {
    line->unplug();
    EXPECT_FALSE(conduit.init()); // the reader thread is the one that ran init
    EXPECT_DEATH(onAnotherThread([this] { conduit.readCycle(0); }),
                 "ConduitBg::readCycle.* called off the thread that owns it");
    EXPECT_DEATH(onAnotherThread([this] { conduit.close(); }),
                 "ConduitBg::close.* called off the thread that owns it");
    EXPECT_EQ(conduit.readCycle(0),
              ConduitBg::CycleEnd::Reopen); // the reader thread goes on: no port
}

TEST_F(ConduitBgThreadContractDeathTest, OperationsAbortWithoutTheConduitLock) {
    const BleAddress address{};
    EXPECT_DEATH(onAnotherThread([&] { conduit.read(address, 0); }),
                 "ConduitBg::read.* called without holding lock");
    EXPECT_DEATH(conduit.startScan(), "ConduitBg::startScan.* called without holding lock");
    const LockGuard held(conduit.lock);
    EXPECT_FALSE(conduit.startScan()); // not ready: refused, but allowed
}

} // namespace
