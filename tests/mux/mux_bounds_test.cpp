// The bounds the GobServer puts on clients, with the real Mux over loopback TCP: a fast
// sender does not starve a slow one, a frame left unfinished ends its client's session,
// and connections beyond the client limit are closed at accept, logged once an episode.
#include "mux_tcp_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Where `call` is in the conduit's record, or the record's size.
std::size_t positionOf(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<std::size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

TEST_F(MuxOverTcp, FastSenderDoesNotStarveASlowOneAndBothAreServedInFull) {
    startMux();
    const BleAddress busy = testAddress(8, 1);
    const BleAddress quiet = testAddress(8, 2);
    auto fast = arrive();
    auto slow = arrive();
    ASSERT_TRUE(fast && slow);
    // Each request costs the mux thread a little, so that the fast sender's pile up.
    conduit.setOnCall([] { std::this_thread::sleep_for(20us); });
    constexpr std::size_t burst = 20000;
    GobBytes bytes;
    for (std::size_t i = 0; i < burst; ++i) {
        const GobBytes frame = framed(readRequest(busy));
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    std::thread sender([&] { EXPECT_TRUE(fast->sendBytes(bytes)); });
    ASSERT_TRUE(waitUntil([&] { return conduit.calls().size() >= 200; }, 20000ms));
    const std::size_t before = conduit.calls().size();
    ASSERT_TRUE(slow->sendGob(readRequest(quiet)));
    sender.join();
    ASSERT_TRUE(waitUntil([&] { return conduit.calls().size() == burst + 1; }, 60000ms));
    const std::vector<std::string> calls = conduit.calls();
    const std::size_t served = positionOf(calls, "read " + addressText(quiet) + " 0");
    ASSERT_LT(served, calls.size());
    // A few steps of at most 64 of the fast sender's gobs each, not the thousands that
    // wait in its socket.
    EXPECT_LT(served - before, 1000U) << "the slow request waited behind " << served - before;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "read " + addressText(busy) + " 0"),
              static_cast<std::ptrdiff_t>(burst));
    EXPECT_FALSE(fast->closed());
    EXPECT_FALSE(slow->closed());
}

TEST_F(MuxOverTcp, FrameLeftUnfinishedEndsOnlyThatSession) {
    serverSetLimits(gobServerClientLimit, 0.3);
    startMux();
    auto stalled = arrive();
    auto steady = arrive();
    ASSERT_TRUE(stalled && steady);
    const BleAddress device = testAddress(9, 1);
    const GobBytes frame = framed(connectRequest(device));
    ASSERT_TRUE(stalled->sendBytes(GobBytes(frame.begin(), frame.begin() + 3)));
    EXPECT_TRUE(stalled->waitClosed(10000ms));
    EXPECT_EQ(logCount(mark, " failed: frame not completed in time\n"), 1);
    // Whole frames, one after another, stay within their time however long the session.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(steady->sendGob(readRequest(device)));
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_TRUE(waitUntil([&] { return conduit.calls().size() == 3; }, 5000ms));
    // The session goes on: an event posted now still reaches it.
    Gob event;
    buildDisconnectedGob(event, testAddress(9, 2), 0x13);
    conduit.post(event);
    const auto& gobs = steady->receiveGobs(2, 5000ms);
    ASSERT_EQ(gobs.size(), 2U);
    EXPECT_EQ(gobs.back(), asBytes(event));
    EXPECT_FALSE(steady->closed());
    EXPECT_EQ(positionOf(conduit.calls(), "connect " + addressText(device) + " 6 12 100 0"),
              conduit.calls().size())
        << "the unfinished frame was never dispatched";
}

TEST_F(MuxOverTcp, ConnectionsBeyondTheClientLimitAreClosedAtAcceptLoggedOnceAnEpisode) {
    serverSetLimits(3, gobServerFrameSeconds);
    startMux();
    std::vector<std::unique_ptr<TcpTestClient>> served;
    for (int i = 0; i < 3; ++i) {
        served.push_back(arrive());
        ASSERT_TRUE(served.back()) << "client " << i;
    }
    const std::string limitLine = "mux: client limit of 3 reached, closing new connections\n";
    for (int i = 0; i < 3; ++i) {
        auto refused = TcpTestClient::connectTo(gobDefaultPort);
        ASSERT_TRUE(refused);
        EXPECT_TRUE(refused->waitClosed(5000ms)) << "refused " << i;
        EXPECT_TRUE(refused->gobs().empty());
    }
    EXPECT_EQ(logCount(mark, limitLine), 1);
    Gob event;
    buildDisconnectedGob(event, testAddress(9, 9), 0x13);
    conduit.post(event);
    for (auto& client : served) {
        EXPECT_EQ(client->receiveGobs(2, 5000ms).size(), 2U);
    }
    // One leaves: the next one is served, and the limit reached again is a new episode.
    served.pop_back();
    ASSERT_TRUE(waitUntil([&] { return logCount(mark, "mux: remove ") == 1; }, 5000ms));
    auto next = arrive();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->gobs().size(), 1U);
    auto refused = TcpTestClient::connectTo(gobDefaultPort);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->waitClosed(5000ms));
    EXPECT_EQ(logCount(mark, limitLine), 2);
}

} // namespace
