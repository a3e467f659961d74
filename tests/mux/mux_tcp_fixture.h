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

#include "gob/gob_events.h"
#include "gob/gob_requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitized = true;
#elif defined(__has_feature)
inline constexpr bool sanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool sanitized = false;
#endif

// Polls `done` every 5 ms until it holds or `limit` passes.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

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

// The process's resident memory in bytes, from /proc.
inline long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
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

    void stopMux() {
        stop = true;
        mux.wake();
        if (muxThread.joinable()) {
            muxThread.join();
        }
    }

    // A client that is in the Mux's registry: it has received its GobStatus.
    std::unique_ptr<TcpTestClient> arrive(int receiveBuffer = 0) {
        std::unique_ptr<TcpTestClient> client;
        waitFor(
            [&] {
                return (client = TcpTestClient::connectTo(gobDefaultPort, receiveBuffer)) !=
                       nullptr;
            },
            5000ms);
        if (client) {
            client->receiveGobs(1, 5000ms);
        }
        return client;
    }

    bool conduitWasCalled(const std::string& call) {
        return waitFor(
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

    Mux mux;
    RecordingConduit conduit{&mux};
    std::atomic<bool> stop{false};
    std::thread muxThread;
    std::size_t mark = 0;
};
