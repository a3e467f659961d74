// The whole system against careless and hostile clients: a connect the dongle would
// refuse, a flood of disconnects for unknown addresses, two requests for one busy device,
// a dongle that stops reading its port, and a FindAttributes past the UUID cap. Each
// checks that the other clients are still served and the service still stops.
#include "conduit_e2e_fixture.h"

#include "gob_socket.h"

using linkrelay::Client;
using linkrelay::ConnectionParameters;
using linkrelay::ScanResultEvent;
using linkrelay::StatusEvent;

namespace e2e {
namespace {

// The 0xFFFF connect never reaches the dongle: its sender's session ends, and another
// client's scan runs at once. A connect the dongle itself refuses (a connect during a
// scan, on a dongle that refuses those) ends its GAP operation at once too.
TEST_F(ConduitE2e, RefusedConnectsDoNotHoldOtherClientsScansAndConnects) {
    ASSERT_NO_FATAL_FAILURE(startReady({"--refuse-connect-while-scanning"}));
    {
        auto careless = openClient();
        ConnectionParameters huge;
        huge.connIntervalMax = 0xFFFF;
        huge.supervisionTimeout = 3200;
        careless->connect(address(pulseHr), huge);
        ASSERT_TRUE(waitLines("mux: client ", 1, 5s));
        EXPECT_EQ(countLines("BG conduit: GAP op connecting to address: "), 0);
    }
    EXPECT_GE(countLines("mux: client "), 1);
    EXPECT_NE(logText().find("failed: connect parameters out of range"), std::string::npos);

    auto scanner = openClient();
    scanner->startScan();
    waitKind<ScanResultEvent>(*scanner, 5s, "a scan result within a few seconds");

    auto other = openClient();
    other->connect(address(echoPad)); // refused with 0x0181 while the scan runs
    ASSERT_TRUE(waitLines("bluegiga error 181 in ble_rsp_gap_connect_direct", 1, 5s));
    ASSERT_TRUE(waitLines("BG conduit: completed gap op connection", 1, 5s))
        << "the refused connect ends at once";
    scanner->stopScan();
    // The two clients' gobs may be read in either order within one pass: the connect goes
    // out only once the scan has stopped, as a dongle that refuses it while scanning needs.
    ASSERT_TRUE(waitLines("BG conduit: completed gap op stop scan", 1, 5s));
    while (scanner->nextEvent(0ms)) {
    }
    other->connect(address(pulseHr));
    other->waitConnected(address(pulseHr), 10s);
}

// Disconnects of addresses without a connection are answered at once, outside the GAP
// queue: a thousand of them do not delay another client's connect.
TEST_F(ConduitE2e, AThousandUnknownDisconnectsDoNotDelayAnotherClientsConnect) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto flooder = openClient();
    auto patient = openClient();
    for (int i = 0; i < 1000; ++i) {
        const auto low = static_cast<uint8_t>(i);
        const auto high = static_cast<uint8_t>(i >> 8);
        flooder->disconnect(BleAddress{{0x0A, 0x0B, 0x0C, 0x0D, high, low}});
    }
    const auto sent = std::chrono::steady_clock::now();
    patient->connect(address(pulseHr));
    patient->waitConnected(address(pulseHr), 10s);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);
    EXPECT_TRUE(waitLines("BG conduit: Zuna was not connected to this QAP", 1000, 10s));
    EXPECT_EQ(countLines("BG conduit: GAP op disconnecting address: "), 0);
}

// A request that finds its device busy waits for its turn: both are answered, in order,
// and the sender's session goes on.
TEST_F(ConduitE2e, ASecondRequestToABusyDeviceCompletesAfterTheFirst) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress echo = address(echoPad);
    client->connect(echo);
    client->waitConnected(echo, 10s);

    client->findServices(echo);
    client->findAttributes(echo, {uuid(echoChar)}); // sent without waiting
    EXPECT_FALSE(client->waitServices(echo, 10s).empty());
    ASSERT_EQ(client->waitCharacteristics(echo, 10s).size(), 1U);
    EXPECT_GE(countLines("BG conduit: request waits for the session, 1 waiting"), 1);

    const std::vector<uint8_t> value{0x01, 0x02};
    client->write(echo, 0, value, true);
    client->write(echo, 0, value, true); // waits for the first write
    client->waitWriteDone(echo, 10s);
    client->waitWriteDone(echo, 10s);
    EXPECT_EQ(dongle->recorded("attclient_attribute_write").size(), 2U);
    EXPECT_EQ(countLines("mux: client "), 0) << "no session ended";
}

// A dongle that stops reading its port: the first write that cannot complete fails the
// port, the clients are told, new clients are still greeted and SIGTERM still stops the
// service within the unit's 30 s.
TEST_F(ConduitE2e, AWedgedPortFailsThePortAndTheServiceStaysResponsive) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress echo = address(echoPad);
    ASSERT_NO_FATAL_FAILURE(connectToEchoChar(*client));

    EXPECT_EQ(dongle->control("wedge on"), "ok\n");
    // Far more command bytes than the pty holds.
    for (int i = 0; i < 20000; ++i) {
        client->read(echo, 0);
    }
    ASSERT_TRUE(waitLines("writing to serial port failed", 1, 20s));
    ASSERT_TRUE(
        waitLines("BG conduit: the serial port does not take writes, giving it up", 1, 10s));
    EXPECT_EQ(countLines("writing to serial port failed"), 1) << "later writes do not wait";

    StatusEvent status;
    const auto arrived = std::chrono::steady_clock::now();
    auto newcomer = openClient(&status);
    EXPECT_TRUE(newcomer->isOpen());
    EXPECT_LT(std::chrono::steady_clock::now() - arrived, 4s)
        << "greeted without waiting for the reopening's reset write";
    EXPECT_NE(status.conduitState, 0);

    const auto stopping = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(stopService(30s));
    std::cerr << "stopped in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - stopping)
                     .count()
              << " ms\n";
}

// More than 256 UUID entries in one FindAttributes end the sender's session at decoding.
TEST_F(ConduitE2e, AFindAttributesWithMoreThan256UuidsEndsItsSendersSession) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto bystander = openClient();
    GobSocket raw;
    ASSERT_TRUE(raw.open(Client::defaultPort, 5s));
    std::vector<uint8_t> gob{GobFindAttributes};
    const BleAddress echo = address(echoPad);
    gob.insert(gob.end(), echo.bytes.begin(), echo.bytes.end());
    gob.push_back(0);
    for (int i = 0; i < 257; ++i) {
        gob.insert(gob.end(), {2, static_cast<uint8_t>(i), 0x2A});
    }
    ASSERT_TRUE(raw.sendContent(gob));
    EXPECT_TRUE(raw.waitClosed(5s));
    EXPECT_TRUE(waitLines("mux: client ", 1, 5s));
    EXPECT_NE(logText().find("failed: failed to get uuid from attributes gob"), std::string::npos);
    EXPECT_EQ(countLines("BG conduit: in findCharsAndDescs"), 0);
    bystander->connect(echo);
    bystander->waitConnected(echo, 10s);
}

} // namespace
} // namespace e2e
