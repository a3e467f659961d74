// Request dispatch against a recording conduit, without sockets: every request type
// decoded and passed on, its decoding failure and its refusal ending only the sender's
// session, the shared scan, pending connects, and requests that are not requests.
#include "mux/mux.h"
#include "mux/mux_text.h"
#include "mux_test_support.h"
#include "recording_conduit.h"

#include "gob/gob_requests.h"
#include "mux/connect_parameters.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

class MuxDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        mux.openWithoutServer(&conduit);
        mark = logMark();
        mux.addClient(&first);
        mux.addClient(&second);
    }

    const MuxClient& client(Stream& stream) {
        return mux.clientRecords().at(static_cast<std::size_t>(mux.clientPositions().at(&stream)));
    }

    void send(Stream& stream, const Gob& request) {
        Gob gob = received(request);
        mux.dispatch(&stream, gob);
    }

    // The stream's session ended with `text` in its log line.
    bool endedWith(Stream& stream, const std::string& text) {
        char line[128];
        std::snprintf(line, sizeof line,
                      "mux: client " MUX_STREAM_ID " failed: ", streamId(&stream));
        return client(stream).dropped &&
               logSince(mark).find(line + text + "\n") != std::string::npos;
    }

    std::vector<std::string> calls() { return conduit.calls(); }

    Mux mux;
    RecordingConduit conduit{&mux};
    Stream first;
    Stream second;
    std::size_t mark = 0;
};

Gob startScanGob() {
    Gob gob;
    codeGobStartScan(gob);
    return gob;
}

Gob stopScanGob() {
    Gob gob;
    codeGobStopScan(gob);
    return gob;
}

Gob connectGob(BleAddress address) {
    Gob gob;
    uint32_t intervalMin = 6;
    uint32_t intervalMax = 12;
    uint32_t timeout = 100;
    uint32_t latency = 0;
    codeGobConnect(gob, address, intervalMin, intervalMax, timeout, latency);
    return gob;
}

Gob readGob(BleAddress address, uint8_t index) {
    Gob gob;
    codeGobRead(gob, address, index);
    return gob;
}

// One request type that names an address: a well-formed gob, the call it makes, and the
// texts of its decoding failure (the gob one byte short) and of its refusal.
struct RequestRow {
    const char* operation;
    std::vector<uint8_t> gob;
    std::string call;
    std::string decodeFailure;
    std::string refusal;
};

std::vector<RequestRow> requestRows() {
    BleAddress address = testAddress(1, 0xaa);
    const std::string text = addressText(address);
    uint8_t index = 3;
    std::vector<RequestRow> rows;
    auto add = [&rows](const char* operation, const Gob& gob, std::string call,
                       std::string decodeFailure, std::string refusal) {
        rows.push_back({operation, bytesOf(gob), std::move(call), std::move(decodeFailure),
                        std::move(refusal)});
    };
    add("connect", connectGob(address), "connect " + text + " 6 12 100 0",
        "failed to get connect gob", "conduit connect failed");
    Gob findServices;
    codeGobFindServices(findServices, address);
    add("findServices", findServices, "findServices " + text, "failed to get services gob",
        "conduit find services failed");
    Gob findAttributes;
    std::vector<UuidRecord> uuids(1);
    uuids[0].bytes[0] = 0x2a;
    uuids[0].bytes[1] = 0x37;
    uuids[0].length = 2;
    codeGobFindAttributes(findAttributes, address, uuids);
    add("findCharsAndDescs", findAttributes, "findCharsAndDescs " + text + " 2a37/2",
        "failed to get uuid from attributes gob", "conduit find attributes failed");
    Gob disconnect;
    codeGobDisconnect(disconnect, address);
    add("disconnect", disconnect, "disconnect " + text, "failed to get disconnection gob",
        "conduit disconnect failed");
    add("read", readGob(address, index), "read " + text + " 3", "failed to get read gob",
        "conduit read failed");
    Gob write;
    bool withResponse = true;
    const uint8_t* payload = nullptr;
    uint32_t payloadLength = 0;
    codeGobWrite(write, address, index, withResponse, payload, payloadLength);
    add("write", write, "write " + text + " 3 ack ", "failed to get write gob",
        "conduit write failed");
    Gob notify;
    codeGobNotify(notify, address, index);
    add("notify", notify, "notify " + text + " 3", "failed to get notify gob",
        "conduit notify failed");
    Gob indicate;
    codeGobIndicate(indicate, address, index);
    add("indicate", indicate, "indicate " + text + " 3", "failed to get indicate gob",
        "conduit indicate failed");
    Gob unsubscribe;
    codeGobUnsubscribe(unsubscribe, address, index);
    add("unsubscribe", unsubscribe, "unsubscribe " + text + " 3", "failed to get unsubscribe gob",
        "conduit unsubscribe failed");
    Gob rssi;
    codeGobGetRssi(rssi, address);
    add("getRssi", rssi, "getRssi " + text, "failed to get rssi gob", "conduit rssi failed");
    return rows;
}

class MuxDispatchRow : public MuxDispatch, public ::testing::WithParamInterface<RequestRow> {};

TEST_P(MuxDispatchRow, DecodedRequestReachesTheConduitUnchanged) {
    send(first, gobOf(GetParam().gob));
    EXPECT_EQ(calls(), std::vector<std::string>{GetParam().call});
    EXPECT_FALSE(client(first).dropped);
    char logged[32];
    std::snprintf(logged, sizeof logged, "mux: received gob: %.2x %.2x ", GetParam().gob[0],
                  GetParam().gob[1]);
    EXPECT_NE(logSince(mark).find(logged), std::string::npos);
}

TEST_P(MuxDispatchRow, UndecodableRequestEndsOnlyTheSendersSessionWithoutACall) {
    send(first, cutShort(gobOf(GetParam().gob), 1));
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(endedWith(first, GetParam().decodeFailure));
    EXPECT_FALSE(client(second).dropped);
}

TEST_P(MuxDispatchRow, RefusedRequestEndsOnlyTheSendersSession) {
    conduit.refuse(GetParam().operation);
    send(first, gobOf(GetParam().gob));
    EXPECT_EQ(calls(), std::vector<std::string>{GetParam().call});
    EXPECT_TRUE(endedWith(first, GetParam().refusal));
    EXPECT_FALSE(client(second).dropped);
    // Nothing more is taken from a client whose session has ended.
    send(first, gobOf(GetParam().gob));
    EXPECT_EQ(calls().size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(EveryAddressRequest, MuxDispatchRow, ::testing::ValuesIn(requestRows()),
                         [](const auto& info) { return std::string(info.param.operation); });

TEST_F(MuxDispatch, ScanIsSharedFirstStartsItLastStopsIt) {
    send(first, startScanGob());
    send(second, startScanGob());
    send(first, startScanGob()); // already scanning: no call
    EXPECT_EQ(calls(), std::vector<std::string>{"startScan"});
    EXPECT_TRUE(client(first).scanning);
    EXPECT_TRUE(client(second).scanning);

    send(first, stopScanGob());
    EXPECT_EQ(calls().size(), 1U) << "another client still scans";
    EXPECT_FALSE(client(first).scanning);
    send(second, stopScanGob());
    EXPECT_EQ(calls(), (std::vector<std::string>{"startScan", "stopScan"}));
    EXPECT_FALSE(client(second).scanning);
}

TEST_F(MuxDispatch, StopScanFromAClientThatNeverScannedIsNothing) {
    send(first, stopScanGob());
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(client(first).dropped);
}

TEST_F(MuxDispatch, RefusedScanStartLeavesTheFlagClearAndEndsTheSession) {
    conduit.refuse("startScan");
    send(first, startScanGob());
    EXPECT_FALSE(client(first).scanning);
    EXPECT_TRUE(endedWith(first, "conduit start scan failed"));
    EXPECT_FALSE(client(second).dropped);
}

TEST_F(MuxDispatch, RefusedScanStopEndsTheSession) {
    send(first, startScanGob());
    conduit.refuse("stopScan");
    send(first, stopScanGob());
    EXPECT_TRUE(endedWith(first, "conduit stop scan failed"));
}

TEST_F(MuxDispatch, ConnectLeavesTheAddressPendingAlsoWhenRefused) {
    send(first, connectGob(testAddress(1, 1)));
    conduit.refuse("connect");
    send(second, connectGob(testAddress(1, 2)));
    EXPECT_EQ(client(first).pendingConnects, std::set<BleAddress>{testAddress(1, 1)});
    EXPECT_EQ(client(second).pendingConnects, std::set<BleAddress>{testAddress(1, 2)});
    EXPECT_TRUE(client(first).connected.empty());
    EXPECT_TRUE(endedWith(second, "conduit connect failed"));
}

Gob connectGobWith(uint32_t intervalMin, uint32_t intervalMax, uint32_t timeout, uint32_t latency) {
    Gob gob;
    BleAddress address = testAddress(1, 3);
    codeGobConnect(gob, address, intervalMin, intervalMax, timeout, latency);
    return gob;
}

// Intervals 6 to 3200 (1.25 ms), latency 0 to 499, timeout 10 to 3200 (10 ms) and longer
// in milliseconds than (1 + latency) × interval max × 2.
TEST(ConnectParameters, BluetoothsRangesAndTheTimeoutRule) {
    EXPECT_TRUE(connectParametersValid(6, 6, 10, 0));
    EXPECT_TRUE(connectParametersValid(3200, 3200, 3200, 0)); // 32 s > 8 s
    EXPECT_TRUE(connectParametersValid(6, 6, 3200, 499));     // 32 s > 7.5 s
    EXPECT_TRUE(connectParametersValid(24, 40, 200, 0));      // the client's defaults
    EXPECT_TRUE(connectParametersValid(6, 40, 101, 9));       // 1010 ms > 1000 ms
    EXPECT_FALSE(connectParametersValid(6, 40, 100, 9));      // 1000 ms is not longer
    EXPECT_FALSE(connectParametersValid(5, 6, 100, 0));
    EXPECT_FALSE(connectParametersValid(6, 5, 100, 0));
    EXPECT_FALSE(connectParametersValid(6, 3201, 3200, 0));
    EXPECT_FALSE(connectParametersValid(6, 0xFFFF, 3200, 0));
    EXPECT_FALSE(connectParametersValid(3201, 3200, 3200, 0));
    EXPECT_FALSE(connectParametersValid(6, 6, 9, 0));
    EXPECT_FALSE(connectParametersValid(6, 6, 3201, 0));
    EXPECT_FALSE(connectParametersValid(6, 6, 3200, 500));
}

TEST_F(MuxDispatch, ConnectValuesOutsideBluetoothsRangesEndTheSessionWithoutACall) {
    send(first, connectGobWith(6, 0xFFFF, 3200, 0));
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(endedWith(first, "connect parameters out of range"));
    EXPECT_TRUE(client(first).pendingConnects.empty());
    EXPECT_FALSE(client(second).dropped);
    send(second, connectGobWith(6, 12, 100, 0));
    EXPECT_EQ(calls().size(), 1U);
}

TEST_F(MuxDispatch, EachCallIsMadeForItsSenderAndOwnCallsForNobody) {
    const uint64_t firstId = client(first).id;
    const uint64_t secondId = client(second).id;
    EXPECT_NE(firstId, 0U);
    EXPECT_NE(firstId, secondId);
    send(first, readGob(testAddress(1, 1), 0));
    send(second, readGob(testAddress(1, 1), 0));
    EXPECT_EQ(conduit.requesters(), (std::vector<uint64_t>{firstId, secondId}));
    EXPECT_EQ(conduit.requester, 0U) << "reset after each request";
}

TEST_F(MuxDispatch, FindAttributesPassesEveryUuidInGobOrder) {
    BleAddress address = testAddress(1, 7);
    std::vector<UuidRecord> uuids(2);
    uuids[0].bytes[0] = 0x2a;
    uuids[0].bytes[1] = 0x19;
    uuids[0].length = 2;
    for (uint8_t i = 0; i < 16; ++i) {
        uuids[1].bytes[i] = static_cast<uint8_t>(0xf0 + i);
    }
    uuids[1].length = 16;
    Gob gob;
    codeGobFindAttributes(gob, address, uuids);
    send(first, gob);
    EXPECT_EQ(calls(), std::vector<std::string>{"findCharsAndDescs " + addressText(address) +
                                                " 2a19/2 f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff/16"});
}

TEST_F(MuxDispatch, FindAttributesCutInsideTheAddressNamesTheAddress) {
    send(first, gobOf({GobFindAttributes, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(endedWith(first, "failed to get address from attributes gob"));
    EXPECT_TRUE(calls().empty());
}

TEST_F(MuxDispatch, WritePassesPayloadAndResponseFlag) {
    BleAddress address = testAddress(1, 9);
    uint8_t index = 4;
    bool withResponse = false;
    const std::string value = "hello";
    const auto* payload = reinterpret_cast<const uint8_t*>(value.data());
    auto length = static_cast<uint32_t>(value.size());
    Gob gob;
    codeGobWrite(gob, address, index, withResponse, payload, length);
    send(first, gob);
    EXPECT_EQ(calls(),
              std::vector<std::string>{"write " + addressText(address) + " 4 noack hello"});
}

TEST_F(MuxDispatch, TypesBeyondTheRequestsAndEmptyGobsAreInvalid) {
    Stream third;
    mux.addClient(&third);
    send(first, gobOf({12}));
    send(second, gobOf({200, 1, 2}));
    send(third, gobOf({}));
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(endedWith(first, "invalid gob received"));
    EXPECT_TRUE(endedWith(second, "invalid gob received"));
    EXPECT_TRUE(endedWith(third, "invalid gob received"));
}

TEST_F(MuxDispatch, MalformedFrameEndsTheSessionLikeAnInvalidGob) {
    mux.badFrame(&first);
    EXPECT_TRUE(endedWith(first, "invalid gob received"));
    EXPECT_FALSE(client(second).dropped);
}

TEST_F(MuxDispatch, RequestsForAnotherClientsDeviceArePassedOn) {
    send(first, connectGob(testAddress(1, 5)));
    send(second, readGob(testAddress(1, 5), 0));
    EXPECT_EQ(calls().back(), "read " + addressText(testAddress(1, 5)) + " 0");
    EXPECT_FALSE(client(second).dropped);
}

TEST_F(MuxDispatch, BigGobIsLoggedWithoutItsBytes) {
    const std::vector<uint8_t> bytes{GobStopScan};
    Gob gob = Gob::forReading(bytes.data(), 1, true);
    mux.dispatch(&first, gob);
    EXPECT_NE(logSince(mark).find("mux: received big gob\n"), std::string::npos);
    EXPECT_EQ(logSince(mark).find("mux: received gob: "), std::string::npos);
}

TEST_F(MuxDispatch, DispatchHoldsTheConduitLock) {
    bool heldDuringCall = false;
    conduit.setOnCall([this, &heldDuringCall] {
        // Another thread cannot take the lock while the operation runs.
        std::thread probe([this, &heldDuringCall] {
            heldDuringCall = !conduit.lock.try_lock();
            if (!heldDuringCall) {
                conduit.lock.unlock();
            }
        });
        probe.join();
    });
    send(first, startScanGob());
    EXPECT_TRUE(heldDuringCall);
}

} // namespace
