// The real Mux on its own thread (runMuxLoop) over loopback TCP on port 9089, driven by
// test clients, with a recording conduit behind it: greetings, sessions ended by bad
// requests without disturbing others, restart after the listening stream is lost, the
// output bound, a taken port, stops, split frames, many clients at once, and the mux
// thread sleeping until there is work (woken by posted events and stops, idle after).
#include "mux_tcp_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST_F(MuxOverTcp, EveryClientIsGreetedWithTheStatusOfProtocolVersionOne) {
    conduit.state = ConduitState::NotReady;
    startMux();
    auto first = arrive();
    auto second = arrive();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->gobs().front(), (GobBytes{GobStatus, 1, 1, 2}));
    EXPECT_EQ(second->gobs().front(), (GobBytes{GobStatus, 1, 1, 2}));
    stopMux();
    EXPECT_TRUE(first->waitClosed(5000ms));
    EXPECT_TRUE(logHasInOrder(mark, {"mux: initing\n", "mux: inited, linkrelay built with commit: ",
                                     "mux: closing\n", "mux: closed\n"}));
    EXPECT_EQ(logCount(mark, "mux: closing\n"), 1);
}

TEST_F(MuxOverTcp, StopReleasesWhatTheClientsHeld) {
    startMux();
    const BleAddress device = testAddress(7, 1);
    auto holder = holderOf(device);
    ASSERT_TRUE(holder->sendGob(startScanRequest()));
    ASSERT_TRUE(conduitWasCalled("startScan"));
    holder->receiveGobs(2, 5000ms);
    stopMux();
    EXPECT_TRUE(conduitWasCalled("disconnect " + addressText(device)));
    EXPECT_TRUE(conduitWasCalled("stopScan"));
    EXPECT_TRUE(logHasInOrder(mark, {"mux: closing\n", "mux: stopping scan because of close\n"}));
}

// Ends `failing`'s session with `badBytes`, with `other` looking on.
void expectOnlyTheSenderIsDropped(RecordingConduit& conduit, std::size_t mark,
                                  TcpTestClient& failing, BleAddress failingDevice,
                                  TcpTestClient& other, BleAddress otherDevice,
                                  const GobBytes& badBytes, const std::string& text) {
    ASSERT_EQ(failing.receiveGobs(2, 5000ms).size(), 2U);
    ASSERT_EQ(other.receiveGobs(2, 5000ms).size(), 2U);
    ASSERT_TRUE(failing.sendBytes(badBytes));
    EXPECT_TRUE(failing.waitClosed(5000ms));
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto calls = conduit.calls();
            return std::find(calls.begin(), calls.end(),
                             "disconnect " + addressText(failingDevice)) != calls.end();
        },
        5000ms));
    const auto calls = conduit.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "disconnect " + addressText(otherDevice)), 0);

    conduit.post(valueEvent(otherDevice, 3));
    const auto& gobs = other.receiveGobs(3, 5000ms);
    ASSERT_EQ(gobs.size(), 3U);
    EXPECT_EQ(gobs[2], asBytes(valueEvent(otherDevice, 3)));
    EXPECT_FALSE(other.closed());
    EXPECT_NE(logSince(mark).find("failed: " + text + "\n"), std::string::npos);
    EXPECT_EQ(logCount(mark, "mux: closing\n"), 0) << "the Mux did not restart";
}

TEST_F(MuxOverTcp, RefusedRequestEndsOnlyTheSendersSession) {
    startMux();
    const BleAddress mine = testAddress(1, 1);
    const BleAddress theirs = testAddress(1, 2);
    auto failing = holderOf(mine);
    auto other = holderOf(theirs);
    conduit.refuse("read");
    expectOnlyTheSenderIsDropped(conduit, mark, *failing, mine, *other, theirs,
                                 framed(readRequest(mine)), "conduit read failed");
}

TEST_F(MuxOverTcp, MalformedGobEndsOnlyTheSendersSession) {
    startMux();
    const BleAddress mine = testAddress(2, 1);
    const BleAddress theirs = testAddress(2, 2);
    auto failing = holderOf(mine);
    auto other = holderOf(theirs);
    // A frame of length zero: no gob at all.
    expectOnlyTheSenderIsDropped(conduit, mark, *failing, mine, *other, theirs, GobBytes{0},
                                 "invalid gob received");
}

TEST_F(MuxOverTcp, LossOfTheListeningStreamRestartsTheMux) {
    startMux();
    auto client = arrive();
    ASSERT_TRUE(client);
    EXPECT_TRUE(loseTheListeningStreamThrough(*client));
    auto again = arrive();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->gobs().front()[0], GobStatus);
    EXPECT_TRUE(logHasInOrder(
        mark, {"mux: server closed\n", "mux work error: server closed\n", "mux: closing\n",
               "mux: stopping scan because of close\n", "mux: tried to remove nonexistant QAP\n",
               "mux: closed\n", "mux: initing\n", "mux: inited, linkrelay built with commit: "}));
}

TEST_F(MuxOverTcp, ClientThatStopsReadingIsDroppedPastTheOutputBound) {
    startMux();
    const BleAddress device = testAddress(3, 1);
    auto stalled = holderOf(device, 4096);
    const std::string released = "disconnect " + addressText(device);
    auto wasReleased = [&] {
        const auto calls = conduit.calls();
        return std::find(calls.begin(), calls.end(), released) != calls.end();
    };
    const Gob value = valueEvent(device, 255);
    const std::size_t before = heapBytesInUse();
    constexpr int batch = 500;
    // Far more than the bound would be held for the client without it.
    const int batches = sanitized ? 200 : 800;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    int posted = 0;
    for (; posted < batches && std::chrono::steady_clock::now() < deadline; ++posted) {
        for (int i = 0; i < batch; ++i) {
            conduit.post(value);
        }
        std::this_thread::sleep_for(5ms);
        if (sanitized && wasReleased()) {
            break;
        }
    }
    EXPECT_TRUE(waitUntil(wasReleased, 10000ms)) << "posted " << posted * batch << " events";
    EXPECT_NE(logSince(mark).find("failed: unsent output above 8 MiB\n"), std::string::npos);
    if (!sanitized) {
        // What was held for the client is given back once its session has ended.
        EXPECT_TRUE(waitUntil([&] { return heapBytesInUse() < before + 48 * 1024 * 1024; }, 5000ms))
            << heapBytesInUse() - before << " bytes more than before";
    }
}

TEST_F(MuxOverTcp, TakenPortIsRetriedAboutOnceASecondUntilItIsFree) {
    PortHolder holder(gobDefaultPort);
    if (!holder.holding()) {
        GTEST_SKIP() << "port 9089 is in use by another program";
    }
    // Each failed init asks for a pause; the third is held until the port is free.
    std::mutex pausesLock;
    std::vector<int> pauses;
    std::atomic<bool> portReleased{false};
    startMux([&](int milliseconds) {
        std::size_t count = 0;
        {
            const std::lock_guard<std::mutex> guard(pausesLock);
            pauses.push_back(milliseconds);
            count = pauses.size();
        }
        if (count >= 3) {
            waitUntil([&] { return portReleased.load() || stop.load(); }, 10000ms);
        }
    });
    const auto pausesAsked = [&] {
        const std::lock_guard<std::mutex> guard(pausesLock);
        return pauses;
    };
    ASSERT_TRUE(waitUntil([&] { return pausesAsked().size() == 3; }, 5000ms));
    EXPECT_EQ(pausesAsked(), (std::vector<int>{muxInitRetryMs, muxInitRetryMs, muxInitRetryMs}));
    EXPECT_EQ(muxInitRetryMs, 1000);
    // Each line names the address and the system's reason.
    const std::string initError = "mux init error: failed to create server: 0.0.0.0:9089: could "
                                  "not bind socket (" +
                                  std::string(std::strerror(EADDRINUSE)) + ")\n";
    EXPECT_EQ(logCount(mark, initError), 3);
    EXPECT_EQ(logCount(mark, "mux: tried to remove nonexistant QAP\n"), 0);
    holder.release();
    portReleased = true;
    auto client = arrive();
    ASSERT_TRUE(client);
    EXPECT_EQ(client->gobs().size(), 1U);
}

TEST_F(MuxOverTcp, StopDuringFailingInitsEndsTheLoopPromptly) {
    PortHolder holder(gobDefaultPort);
    if (!holder.holding()) {
        GTEST_SKIP() << "port 9089 is in use by another program";
    }
    startMux();
    ASSERT_TRUE(waitUntil([&] { return logCount(mark, "mux init error: ") >= 1; }, 5000ms));
    const auto asked = std::chrono::steady_clock::now();
    stopMux();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);
    EXPECT_EQ(logCount(mark, "mux: closing\n"), 0);
}

TEST_F(MuxOverTcp, FrameSentOneByteAtATimeIsDispatchedOnce) {
    startMux();
    auto client = arrive();
    ASSERT_TRUE(client);
    const BleAddress device = testAddress(4, 1);
    ASSERT_TRUE(client->sendBytes(framed(connectRequest(device)), true));
    const std::string call = "connect " + addressText(device) + " 6 12 100 0";
    ASSERT_TRUE(conduitWasCalled(call));
    // A later request of the same client is dispatched after anything the frame led to.
    ASSERT_TRUE(client->sendGob(startScanRequest()));
    ASSERT_TRUE(conduitWasCalled("startScan"));
    EXPECT_EQ(conduit.calls(), (std::vector<std::string>{call, "startScan"}));
    EXPECT_FALSE(client->closed());
}

TEST_F(MuxOverTcp, TwoHundredClientsEachGetTheirStatusAndEventsInPostingOrder) {
    startMux();
    std::vector<std::unique_ptr<TcpTestClient>> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back(arrive());
        ASSERT_TRUE(clients.back()) << "client " << i;
        ASSERT_EQ(clients.back()->gobs().size(), 1U) << "client " << i;
    }
    std::vector<GobBytes> expected{clients.front()->gobs().front()};
    for (uint8_t i = 0; i < 50; ++i) {
        Gob gob;
        buildDisconnectedGob(gob, testAddress(5, i), i % 5);
        conduit.post(gob);
        expected.push_back(asBytes(gob));
    }
    for (std::size_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(clients[i]->receiveGobs(expected.size(), 10000ms), expected) << "client " << i;
    }
}

TEST_F(MuxOverTcp, PostedEventReachesAClientThatSendsNothing) {
    startMux();
    auto client = arrive();
    ASSERT_TRUE(client);
    // Nothing else happens on any socket: only the post can end the mux thread's wait.
    Gob gob;
    buildDisconnectedGob(gob, testAddress(6, 1), 0x13);
    conduit.post(gob);
    const auto gobs = client->receiveGobs(2, 10000ms);
    ASSERT_EQ(gobs.size(), 2U);
    EXPECT_EQ(gobs[1], asBytes(gob));
}

// A value event whose payload names the posting thread and its sequence number.
Gob numberedValue(BleAddress device, uint8_t thread, int sequence) {
    const std::vector<uint8_t> payload{thread, static_cast<uint8_t>(sequence >> 8),
                                       static_cast<uint8_t>(sequence & 0xff)};
    Gob gob;
    buildAttributeValueGob(gob, device, 0, payload.data(), 3);
    return gob;
}

TEST_F(MuxOverTcp, PostsFromSeveralThreadsWhileTheMuxIsBusyArriveInOrderThenTheLoopRests) {
    startMux();
    const BleAddress device = testAddress(6, 2);
    auto holder = holderOf(device);
    ASSERT_EQ(holder->receiveGobs(2, 5000ms).size(), 2U);
    // Every request keeps the mux thread busy inside the conduit for a while.
    conduit.setOnCall([] { std::this_thread::sleep_for(2ms); });
    constexpr int reads = 40;
    for (int i = 0; i < reads; ++i) {
        ASSERT_TRUE(holder->sendGob(readRequest(device)));
    }
    constexpr uint8_t threads = 4;
    constexpr int postsEach = 300;
    std::vector<std::thread> posters;
    for (uint8_t t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < postsEach; ++i) {
                conduit.post(numberedValue(device, t, i));
            }
        });
    }
    for (std::thread& poster : posters) {
        poster.join();
    }
    const auto gobs = holder->receiveGobs(2 + threads * postsEach, 30000ms);
    ASSERT_EQ(gobs.size(), 2U + threads * postsEach);
    std::vector<int> next(threads, 0);
    for (std::size_t i = 2; i < gobs.size(); ++i) {
        const GobBytes& gob = gobs[i];
        ASSERT_GE(gob.size(), 3U) << "gob " << i;
        const uint8_t thread = gob[gob.size() - 3];
        ASSERT_LT(thread, threads) << "gob " << i;
        ASSERT_EQ(gob, asBytes(numberedValue(device, thread, next[thread]))) << "gob " << i;
        ++next[thread];
    }
    conduit.setOnCall(nullptr);
    const std::string readCall = "read " + addressText(device) + " 0";
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto calls = conduit.calls();
            return std::count(calls.begin(), calls.end(), readCall) == reads;
        },
        5000ms));
    // All delivered, every request taken and nothing left to do: the mux thread rests.
    EXPECT_LE(passesOverAnIdleWindowAfterOneWake(), restingPasses);
}

TEST_F(MuxOverTcp, StopWhileTheMuxWaitsWithNoClientsEndsTheLoop) {
    startMux();
    ASSERT_TRUE(waitUntil([&] { return logCount(mark, "mux: inited") == 1; }, 5000ms));
    // The loop rests in its wait, with nothing to wake it.
    EXPECT_LE(passesOverAnIdleWindowAfterOneWake(), restingPasses);
    auto stopped = std::async(std::launch::async, [this] { stopMux(); });
    EXPECT_EQ(stopped.wait_for(10s), std::future_status::ready);
    stopped.wait();
    EXPECT_TRUE(logHasInOrder(mark, {"mux: closing\n", "mux: closed\n"}));
}

TEST_F(MuxOverTcp, RestartsOfTheMuxLeakNoDescriptor) {
    const int before = openDescriptors();
    startMux();
    for (int restart = 1; restart <= 3; ++restart) {
        auto client = arrive();
        ASSERT_TRUE(client) << "restart " << restart;
        EXPECT_TRUE(loseTheListeningStreamThrough(*client));
        ASSERT_TRUE(
            waitUntil([&] { return logCount(mark, "mux: inited") == restart + 1; }, 5000ms));
    }
    auto last = arrive();
    ASSERT_TRUE(last);
    last.reset();
    stopMux();
    EXPECT_EQ(openDescriptors(), before);
}

} // namespace
