// ConduitBg with its reader loop on a thread of its own, as the service runs it: an
// operation on another thread wakes the reader from a waiting read, and a stop ends the
// loop with the port closed.
#include "conduit_bg_test_support.h"

#include "conduit/bgapi/bgapi_pack.h"
#include "gob/gob_events.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

const Bytes setScanParameters{0x00, 0x05, 0x06, 0x07, 0xD0, 0x07, 0xD0, 0x07, 0x01};
const Bytes gapDiscover{0x00, 0x01, 0x06, 0x02, 0x02};

TEST(ConduitBgThreadTest, AnOperationWakesTheWaitingReaderAndAStopClosesThePort) {
    const auto line = std::make_shared<FakeSerial>();
    line->setOnWrite([&line](const Bytes& written) {
        if (written == setScanParameters) {
            line->pushBytes(response(6, 7, {0x00, 0x00}));
        }
    });
    FakeSerialPortSource source(line);
    TestConduit conduit(source);
    std::atomic<bool> stop{false};
    std::thread reader([&] { conduit.runReaderLoop([&stop] { return stop.load(); }); });

    ASSERT_TRUE(harness::waitUntil([&] { return conduit.ready.load(); }, 5s));
    {
        const LockGuard guard(conduit.lock);
        ASSERT_TRUE(conduit.startScan());
    }
    // The reader waits up to a second per read; the kick ends its wait.
    const bool discovered = harness::waitUntil(
        [&line] {
            const std::vector<Bytes> writes = line->writes();
            return std::find(writes.begin(), writes.end(), gapDiscover) != writes.end();
        },
        5s);
    stop = true;
    reader.join();

    EXPECT_TRUE(discovered);
    EXPECT_GE(line->cancels(), 1);
    EXPECT_FALSE(line->isOpen());
    EXPECT_FALSE(conduit.ready.load());
    EXPECT_EQ(conduit.posted.front(),
              gobBytes(buildStatusGob, ConduitKind::Dongle, ConduitState::Ready));
    EXPECT_EQ(conduit.getState(), ConduitState::NotReady);
    bgOutput = nullptr;
}

} // namespace
