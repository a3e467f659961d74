// Event routing and client removal against a recording conduit, without sockets. No
// stream reports ready here, so every gob a client is sent stays in its outbox, where the
// tests read it.
#include "mux/mux.h"
#include "mux_test_support.h"
#include "recording_conduit.h"

#include "gob/gob_events.h"
#include "gob/gob_requests.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class MuxRouting : public ::testing::Test {
protected:
    void SetUp() override {
        mux.openWithoutServer(&conduit);
        for (Stream& stream : streams) {
            mux.addClient(&stream);
        }
        mark = logMark();
    }

    const MuxClient& client(int which) {
        return mux.clientRecords().at(
            static_cast<std::size_t>(mux.clientPositions().at(&streams[which])));
    }

    // What the client was sent, after its first gob (the GobStatus of its arrival).
    std::vector<Bytes> sentTo(int which) {
        std::vector<Bytes> sent;
        for (const Gob& gob : client(which).outbox) {
            sent.push_back(bytesOf(gob));
        }
        sent.erase(sent.begin());
        return sent;
    }

    void request(int which, const Gob& gob) {
        Gob copy = received(gob);
        mux.dispatch(&streams[which], copy);
    }

    void connectThrough(int which, BleAddress address) {
        Gob gob;
        uint32_t intervalMin = 6;
        uint32_t intervalMax = 12;
        uint32_t timeout = 100;
        uint32_t latency = 0;
        codeGobConnect(gob, address, intervalMin, intervalMax, timeout, latency);
        request(which, gob);
    }

    void startScan(int which) {
        Gob gob;
        codeGobStartScan(gob);
        request(which, gob);
    }

    // Posts the gob as the conduit does, then runs the routing of one work step.
    int route(const Gob& gob, MuxMessage& message) {
        conduit.post(gob);
        return mux.routeEvents(message);
    }

    void route(const Gob& gob) {
        MuxMessage message{};
        ASSERT_EQ(route(gob, message), 0) << message.data();
    }

    Mux mux;
    RecordingConduit conduit{&mux};
    Stream streams[3];
    std::size_t mark = 0;
};

Gob connected(BleAddress address) {
    Gob gob;
    buildConnectedGob(gob, address);
    return gob;
}

Gob disconnected(BleAddress address) {
    Gob gob;
    buildDisconnectedGob(gob, address, 1);
    return gob;
}

Gob attributeValue(BleAddress address, uint8_t value) {
    Gob gob;
    buildAttributeValueGob(gob, address, 0, &value, 1);
    return gob;
}

TEST_F(MuxRouting, EveryClientsFirstGobIsTheConduitsStatus) {
    conduit.state = ConduitState::NotReady;
    Stream late;
    mux.addClient(&late);
    const MuxClient& record = mux.clientRecords().back();
    ASSERT_EQ(record.outbox.size(), 1U);
    EXPECT_EQ(bytesOf(record.outbox.front()), (Bytes{GobStatus, 1, 1, 2}));
}

TEST_F(MuxRouting, StatusReachesEveryClient) {
    Gob status;
    buildStatusGob(status, ConduitKind::Dongle, ConduitState::Failed);
    route(status);
    for (int which = 0; which < 3; ++which) {
        EXPECT_EQ(sentTo(which), std::vector<Bytes>{bytesOf(status)});
    }
}

TEST_F(MuxRouting, ScanResultsReachOnlyTheScanningClients) {
    startScan(0);
    startScan(2);
    Gob result;
    const uint8_t data[] = {2, 1, 6};
    buildScanResultGob(result, testAddress(9, 9), data, sizeof data, -60);
    route(result);
    EXPECT_EQ(sentTo(0).size(), 1U);
    EXPECT_TRUE(sentTo(1).empty());
    EXPECT_EQ(sentTo(2).size(), 1U);
}

TEST_F(MuxRouting, ConnectedReachesEveryClientThatAskedAndMakesItAHolder) {
    const BleAddress device = testAddress(1, 1);
    connectThrough(0, device);
    connectThrough(1, device);
    route(connected(device));
    route(attributeValue(device, 42));
    for (int which : {0, 1}) {
        EXPECT_EQ(sentTo(which), (std::vector<Bytes>{bytesOf(connected(device)),
                                                     bytesOf(attributeValue(device, 42))}));
        EXPECT_TRUE(client(which).pendingConnects.empty());
        EXPECT_EQ(client(which).connected, std::set<BleAddress>{device});
    }
    EXPECT_TRUE(sentTo(2).empty());
    EXPECT_EQ(logCount(mark, "mux: sending connection gob\n"), 3);
    EXPECT_EQ(logCount(mark, "mux: sending standard gob\n"), 3);
}

TEST_F(MuxRouting, ConnectionForNoClientIsDisconnectedAfterRouting) {
    const BleAddress device = testAddress(1, 2);
    route(connected(device));
    for (int which = 0; which < 3; ++which) {
        EXPECT_TRUE(sentTo(which).empty());
    }
    EXPECT_TRUE(conduit.calls().empty()) << "not while eventLock is held";
    mux.releaseOrphans();
    EXPECT_EQ(conduit.calls(), std::vector<std::string>{"disconnect " + addressText(device)});
    mux.releaseOrphans();
    EXPECT_EQ(conduit.calls().size(), 1U);
}

TEST_F(MuxRouting, DisconnectedReachesEveryClientAndEndsOwnership) {
    const BleAddress device = testAddress(1, 3);
    connectThrough(1, device);
    route(connected(device));
    route(disconnected(device));
    route(attributeValue(device, 1));
    EXPECT_TRUE(client(1).connected.empty());
    EXPECT_EQ(sentTo(0), std::vector<Bytes>{bytesOf(disconnected(device))});
    EXPECT_EQ(sentTo(1),
              (std::vector<Bytes>{bytesOf(connected(device)), bytesOf(disconnected(device))}));
    EXPECT_EQ(sentTo(2), std::vector<Bytes>{bytesOf(disconnected(device))});
    EXPECT_EQ(logCount(mark, "mux: sending disconnection gob\n"), 3);
}

TEST_F(MuxRouting, StandardGobsReachOnlyTheHolders) {
    const BleAddress device = testAddress(1, 4);
    connectThrough(2, device);
    route(connected(device));
    UuidRecord uuid;
    uuid.bytes[0] = 0x18;
    uuid.bytes[1] = 0x0d;
    uuid.length = 2;
    std::vector<Gob> standard(5);
    buildServiceFoundGob(standard[0], device, 0, uuid);
    buildCharacteristicFoundGob(standard[1], device, 0, uuid);
    buildWriteDoneGob(standard[2], device);
    standard[3] = attributeValue(device, 7);
    buildRssiGob(standard[4], device, -50);
    std::vector<Bytes> expected{bytesOf(connected(device))};
    for (const Gob& gob : standard) {
        route(gob);
        route(attributeValue(testAddress(1, 99), 0)); // a device nobody holds
        expected.push_back(bytesOf(gob));
    }
    EXPECT_EQ(sentTo(2), expected);
    EXPECT_TRUE(sentTo(0).empty());
    EXPECT_TRUE(sentTo(1).empty());
}

TEST_F(MuxRouting, GobsTooShortForTheirAddressFailTheStepWithTheirText) {
    const struct {
        Bytes gob;
        const char* text;
    } rows[] = {
        {{GobConnected, 1, 2, 3, 4, 5}, "couldn't get address from connection gob"},
        {{GobDisconnected, 1, 2, 3, 4, 5}, "couldn't get address from disconnection gob"},
        {{GobServiceFound, 1, 2, 3, 4, 5}, "couldn't get address from standard gob"},
        {{GobCharacteristicFound, 1, 2, 3, 4, 5}, "couldn't get address from standard gob"},
        {{GobWriteDone}, "couldn't get address from standard gob"},
        {{GobAttributeValue, 1, 2, 3}, "couldn't get address from standard gob"},
        {{GobRssi, 1, 2, 3, 4, 5}, "couldn't get address from standard gob"},
    };
    for (const auto& row : rows) {
        Mux fresh;
        RecordingConduit backend{&fresh};
        fresh.openWithoutServer(&backend);
        Stream stream;
        fresh.addClient(&stream);
        backend.post(gobOf(row.gob));
        MuxMessage message{};
        EXPECT_EQ(fresh.routeEvents(message), -1);
        EXPECT_STREQ(message.data(), row.text);
    }
}

TEST_F(MuxRouting, WithoutClientsEventsAreDiscardedUnseen) {
    Mux empty;
    RecordingConduit backend{&empty};
    empty.openWithoutServer(&backend);
    backend.post(gobOf({GobWriteDone, 1}));
    MuxMessage message{};
    EXPECT_EQ(empty.routeEvents(message), 0);
    EXPECT_EQ(logSince(mark), "");
}

TEST_F(MuxRouting, EventsOfOtherTypesAreLoggedAndDropped) {
    route(gobOf({GobRead, 1, 2, 3, 4, 5, 6, 0}));
    EXPECT_EQ(logCount(mark, "mux: invalid gob received\n"), 3);
    EXPECT_TRUE(sentTo(0).empty());
}

TEST_F(MuxRouting, EventsArriveInPostingOrder) {
    std::vector<Bytes> expected;
    for (uint8_t i = 0; i < 20; ++i) {
        Gob status;
        buildStatusGob(status, ConduitKind::Dongle, static_cast<ConduitState>(i % 3));
        conduit.post(status);
        expected.push_back(bytesOf(status));
    }
    MuxMessage message{};
    ASSERT_EQ(mux.routeEvents(message), 0);
    EXPECT_EQ(sentTo(1), expected);
}

TEST_F(MuxRouting, EventsPostedBeforeTheMuxIsUpAreDropped) {
    Mux down;
    RecordingConduit backend{&down};
    backend.post(gobOf({GobStatus, 1, 1, 0}));
    down.openWithoutServer(&backend);
    Stream stream;
    down.addClient(&stream);
    MuxMessage message{};
    ASSERT_EQ(down.routeEvents(message), 0);
    EXPECT_EQ(down.clientRecords().front().outbox.size(), 1U) << "only its own status";
}

TEST_F(MuxRouting, ClientWhoseOutputPassesTheBoundIsDropped) {
    const BleAddress device = testAddress(1, 6);
    connectThrough(0, device);
    route(connected(device));
    Gob big;
    const std::vector<uint8_t> value(255, 0x55);
    buildAttributeValueGob(big, device, 0, value.data(), 255);
    const std::size_t needed = muxClientOutputBound / big.size() + 1;
    for (std::size_t i = 0; i < needed; ++i) {
        conduit.post(big);
    }
    MuxMessage message{};
    ASSERT_EQ(mux.routeEvents(message), 0);
    EXPECT_TRUE(client(0).dropped);
    EXPECT_TRUE(client(0).outbox.empty());
    EXPECT_EQ(client(0).outboxBytes, 0U);
    EXPECT_FALSE(client(1).dropped);
    EXPECT_NE(logSince(mark).find("failed: unsent output above 8 MiB\n"), std::string::npos);
}

class MuxRemoval : public MuxRouting {};

TEST_F(MuxRemoval, DisconnectsTheClientsDevicesInAddressOrder) {
    conduit.postDisconnected = true;
    for (const BleAddress& device : {testAddress(2, 0), testAddress(1, 9)}) {
        connectThrough(0, device);
        route(connected(device));
    }
    mux.removeClient(&streams[0]);
    EXPECT_EQ(conduit.calls(),
              (std::vector<std::string>{"connect " + addressText(testAddress(2, 0)) + " 6 12 100 0",
                                        "connect " + addressText(testAddress(1, 9)) + " 6 12 100 0",
                                        "disconnect " + addressText(testAddress(1, 9)),
                                        "disconnect " + addressText(testAddress(2, 0))}));
    EXPECT_TRUE(logHasInOrder(mark, {"mux: current connections\n", "mux: remove "}));
    // The conduit's answers reach the remaining clients.
    MuxMessage message{};
    ASSERT_EQ(mux.routeEvents(message), 0);
    EXPECT_EQ(sentTo(1).size(), 2U);
    EXPECT_EQ(sentTo(2).size(), 2U);
}

TEST_F(MuxRemoval, StopsTheScanOnlyWhenTheLastScannerLeaves) {
    startScan(0);
    startScan(1);
    mux.removeClient(&streams[0]);
    EXPECT_EQ(conduit.calls(), std::vector<std::string>{"startScan"});
    mux.removeClient(&streams[1]);
    EXPECT_EQ(conduit.calls(), (std::vector<std::string>{"startScan", "stopScan"}));
    EXPECT_EQ(logCount(mark, "mux: stopping scan because of remove\n"), 1);
}

TEST_F(MuxRemoval, MovesTheLastRecordIntoTheFreedPlace) {
    const BleAddress device = testAddress(3, 3);
    connectThrough(2, device);
    route(connected(device));
    mux.removeClient(&streams[0]);
    ASSERT_EQ(mux.clientRecords().size(), 2U);
    EXPECT_EQ(mux.clientRecords()[0].stream, &streams[2]);
    EXPECT_EQ(mux.clientPositions().at(&streams[2]), 0);
    EXPECT_EQ(mux.clientPositions().at(&streams[1]), 1);
    EXPECT_EQ(mux.clientPositions().count(&streams[0]), 0U);
    route(attributeValue(device, 5));
    EXPECT_EQ(sentTo(2).back(), bytesOf(attributeValue(device, 5)));
}

TEST_F(MuxRemoval, PendingConnectOfARemovedClientConnectsForNobody) {
    const BleAddress device = testAddress(4, 4);
    connectThrough(0, device);
    const uint64_t id = client(0).id;
    mux.removeClient(&streams[0]);
    EXPECT_EQ(conduit.calls().size(), 1U) << "pending connects are not disconnected";
    EXPECT_EQ(conduit.forgotten(), std::vector<uint64_t>{id}) << "its queued work is removed";
    route(connected(device));
    mux.releaseOrphans();
    EXPECT_EQ(conduit.calls().back(), "disconnect " + addressText(device));
    route(disconnected(device));
    EXPECT_EQ(sentTo(1), std::vector<Bytes>{bytesOf(disconnected(device))});
}

TEST_F(MuxRemoval, UnknownStreamIsLoggedAndChangesNothing) {
    Stream stranger;
    mux.removeClient(&stranger);
    EXPECT_NE(logSince(mark).find("mux: tried to remove nonexistant QAP\n"), std::string::npos);
    EXPECT_EQ(mux.clientRecords().size(), 3U);
    EXPECT_TRUE(conduit.calls().empty());
}

TEST_F(MuxRemoval, ClientListIsLoggedBeforeEachArrival) {
    Mux fresh;
    RecordingConduit backend{&fresh};
    fresh.openWithoutServer(&backend);
    Stream a;
    Stream b;
    const std::size_t start = logMark();
    fresh.addClient(&a);
    fresh.addClient(&b);
    char first[64];
    char second[64];
    std::snprintf(first, sizeof first, "mux: add %" PRIxPTR "\n", reinterpret_cast<uintptr_t>(&a));
    std::snprintf(second, sizeof second, "%" PRIxPTR " \n", reinterpret_cast<uintptr_t>(&a));
    EXPECT_TRUE(logHasInOrder(start, {"mux: no current connections\n", first,
                                      "mux: current connections\n", second, "mux: add "}));
}

} // namespace
