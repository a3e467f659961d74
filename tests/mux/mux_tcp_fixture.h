// The fixture of the tests of the real Mux over TCP: the Mux on its own thread
// (runMuxLoop) on port 9089 with a recording conduit behind it, test clients, and the
// requests and events the tests send and post.
//
// Threads: the Mux runs on its thread; everything else on the test's.
#pragma once

#include "mux/gob_server.h"
#include "mux/mux.h"
#include "mux/run_mux.h"
#include "mux_test_support.h"
#include "recording_conduit.h"
#include "tcp_test_client.h"
#include "wait_until.h"

#include "gob/gob_events.h"
#include "gob/gob_requests.h"
#include "net/stream_internal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using harness::waitUntil;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitized = true;
#elif defined(__has_feature)
inline constexpr bool sanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool sanitized = false;
#endif

// The number of descriptors the process holds open, from /proc.
inline int openDescriptors() {
    int count = 0;
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        ++count;
    }
    return count;
}

// The bytes the process's heap holds for live allocations (glibc's count, whatever the
// allocator has handed back to the system or kept).
inline std::size_t heapBytesInUse() {
    const struct mallinfo2 heap = mallinfo2();
    return heap.uordblks + heap.hblkhd;
}

inline GobBytes asBytes(const Gob& gob) {
    return {gob.storage(), gob.storage() + gob.size()};
}

inline GobBytes connectRequest(BleAddress address) {
    Gob gob;
    uint32_t intervalMin = 6;
    uint32_t intervalMax = 12;
    uint32_t timeout = 100;
    uint32_t latency = 0;
    codeGobConnect(gob, address, intervalMin, intervalMax, timeout, latency);
    return asBytes(gob);
}

inline GobBytes readRequest(BleAddress address) {
    Gob gob;
    uint8_t index = 0;
    codeGobRead(gob, address, index);
    return asBytes(gob);
}

inline GobBytes startScanRequest() {
    Gob gob;
    codeGobStartScan(gob);
    return asBytes(gob);
}

inline Gob connectedEvent(BleAddress address) {
    Gob gob;
    buildConnectedGob(gob, address);
    return gob;
}

inline Gob valueEvent(BleAddress address, std::size_t size) {
    Gob gob;
    const std::vector<uint8_t> value(size, 0xa5);
    buildAttributeValueGob(gob, address, 0, value.data(), static_cast<uint32_t>(size));
    return gob;
}

class MuxOverTcp : public ::testing::Test {
protected:
    void SetUp() override { mark = logMark(); }
    void TearDown() override {
        stopMux();
        serverSetLimits(gobServerClientLimit, gobServerFrameSeconds);
    }

    void startMux() {
        muxThread =
            std::thread([this] { runMuxLoop(mux, conduit, [this] { return stop.load(); }); });
    }

    // The Mux with `pause` after each failed init in place of the Mux's own rest.
    void startMux(InitRetryPause pause) {
        muxThread = std::thread([this, pause = std::move(pause)] {
            runMuxLoop(
                mux, conduit, [this] { return stop.load(); }, pause);
        });
    }

    void stopMux() {
        stop = true;
        mux.wake();
        if (muxThread.joinable()) {
            muxThread.join();
        }
    }

    // A client that is in the Mux's registry: it has received its GobStatus.
    std::unique_ptr<TcpTestClient> arrive(int receiveBuffer = 0) {
        auto client = TcpTestClient::connectTo(gobDefaultPort, receiveBuffer);
        if (client) {
            client->receiveGobs(1, 5000ms);
        }
        return client;
    }

    bool conduitWasCalled(const std::string& call) {
        return waitUntil(
            [&] {
                const auto calls = conduit.calls();
                return std::find(calls.begin(), calls.end(), call) != calls.end();
            },
            5000ms);
    }

    // A client that holds `device`: it asked to connect and the connection was reported.
    std::unique_ptr<TcpTestClient> holderOf(BleAddress device, int receiveBuffer = 0) {
        auto client = arrive(receiveBuffer);
        EXPECT_TRUE(client->sendGob(connectRequest(device)));
        EXPECT_TRUE(conduitWasCalled("connect " + addressText(device) + " 6 12 100 0"));
        conduit.post(connectedEvent(device));
        return client;
    }

    // `client` asks for a scan, and inside that conduit call, on the mux thread, the
    // listening stream goes away: the Mux's work fails and the loop starts it again.
    // True when the client's session ended.
    bool loseTheListeningStreamThrough(TcpTestClient& client) {
        conduit.setOnCall([] {
            for (Stream* stream = streamLayer().head.get(); stream != nullptr;
                 stream = stream->next.get()) {
                if (stream->state == StreamState::Listening) {
                    streamClose(stream);
                }
            }
        });
        const bool ended = client.sendGob(startScanRequest()) && client.waitClosed(5000ms);
        conduit.setOnCall(nullptr);
        return ended;
    }

    // Wakes the mux thread once, lets it take the wake, then counts the passes it begins
    // over an idle window. A thread that rests begins at most one there: the pass after
    // the one the wake ended, when it had not begun yet as the count started. A thread
    // that steps on a clock begins one per step, so it is over that one within its first
    // steps; the window then ends early, and lasts its whole length only for a thread
    // that rests.
    std::uint64_t passesOverAnIdleWindowAfterOneWake() {
        const std::uint64_t wakes = streamWakeCount();
        mux.wake();
        EXPECT_TRUE(waitUntil([&] { return streamWakeCount() > wakes; }, 5000ms));
        const std::uint64_t start = streamPassCount();
        waitUntil([&] { return streamPassCount() - start > restingPasses; }, idleWindow);
        return streamPassCount() - start;
    }

    // The most passes a resting thread begins over the idle window after a wake, and the
    // window: long enough that a thread waking on any short clock makes many passes in it.
    static constexpr std::uint64_t restingPasses = 1;
    static constexpr std::chrono::milliseconds idleWindow{400};

    Mux mux;
    RecordingConduit conduit{&mux};
    std::atomic<bool> stop{false};
    std::thread muxThread;
    std::size_t mark = 0;
};
