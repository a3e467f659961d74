// The client's failures: nothing listening, the service closing the session, timeouts,
// malformed frames and events, and calls without a session.
#include "client_test_support.h"

#include <gtest/gtest.h>

using linkrelay::Client;
using linkrelay::ClientError;
using linkrelay::ClientErrorKind;

namespace {

ClientErrorKind kindOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ClientError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no ClientError thrown";
    return ClientErrorKind::NotOpen;
}

TEST(ClientErrors, NothingListeningIsARefusedConnection) {
    uint16_t freePort = 0;
    {
        const FakeGobServer server;
        freePort = server.port();
    }
    Client client;
    try {
        client.open("127.0.0.1", freePort, patience);
        FAIL() << "open succeeded";
    } catch (const ClientError& error) {
        EXPECT_EQ(error.kind(), ClientErrorKind::Refused);
        EXPECT_NE(std::string(error.what()).find("refused"), std::string::npos);
    }
    EXPECT_FALSE(client.isOpen());
}

TEST(ClientErrors, AnUnknownHostFailsToConnect) {
    Client client;
    EXPECT_EQ(kindOf([&] { client.open("host.invalid", 9089, patience); }),
              ClientErrorKind::ConnectFailed);
}

TEST(ClientErrors, CallsWithoutASessionAreRefused) {
    Client client;
    EXPECT_EQ(kindOf([&] { client.startScan(); }), ClientErrorKind::NotOpen);
    EXPECT_EQ(kindOf([&] { client.nextEvent(std::chrono::milliseconds(1)); }),
              ClientErrorKind::NotOpen);
}

class ClientFailures : public ::testing::Test, public FakeServiceFixture {};

TEST_F(ClientFailures, EventsSentBeforeTheServiceClosesAreDeliveredThenClosedIsReported) {
    server.send(connectedFrame(testDevice));
    server.closeClient();
    EXPECT_TRUE(client.waitStatus(patience).ready());
    EXPECT_EQ(client.waitConnected(testDevice, patience).address, testDevice);
    EXPECT_EQ(kindOf([&] { client.nextEvent(patience); }), ClientErrorKind::Closed);
    EXPECT_EQ(kindOf([&] { client.waitRssi(testDevice, patience); }), ClientErrorKind::Closed);
}

TEST_F(ClientFailures, ABatchEndedByTheServiceClosingKeepsItsEvents) {
    server.send(serviceFoundFrame(testDevice, 0, shortUuid(0x1800)));
    server.closeClient();
    EXPECT_EQ(client.waitServices(testDevice, patience).size(), 1u);
    EXPECT_TRUE(client.waitStatus(patience).ready());
    EXPECT_EQ(kindOf([&] { client.nextEvent(patience); }), ClientErrorKind::Closed);
}

TEST_F(ClientFailures, AnAnswerThatDoesNotComeIsATimeout) {
    EXPECT_TRUE(client.waitStatus(patience).ready());
    EXPECT_FALSE(client.nextEvent(std::chrono::milliseconds(30)));
    try {
        client.waitValue(testDevice, 3, std::chrono::milliseconds(30));
        FAIL() << "the wait returned";
    } catch (const ClientError& error) {
        EXPECT_EQ(error.kind(), ClientErrorKind::Timeout);
        EXPECT_NE(std::string(error.what()).find("C0:11:22:33:44:55"), std::string::npos);
    }
}

TEST_F(ClientFailures, AFrameThatDoesNotDecodeIsSkippedAfterReportingIt) {
    server.send(concat({{0x07, 140, 1, 2, 3, 4, 5, 6}, connectedFrame(testDevice)}));
    EXPECT_TRUE(client.waitStatus(patience).ready());
    EXPECT_EQ(kindOf([&] { client.nextEvent(patience); }), ClientErrorKind::Malformed);
    EXPECT_EQ(client.waitConnected(testDevice, patience).address, testDevice);
}

TEST_F(ClientFailures, ABrokenFramePrefixSpoilsTheRestOfTheStream) {
    server.send(concat({{0x85, 0x01, 0x02}, connectedFrame(testDevice)}));
    EXPECT_TRUE(client.waitStatus(patience).ready());
    EXPECT_EQ(kindOf([&] { client.nextEvent(patience); }), ClientErrorKind::Malformed);
    EXPECT_EQ(kindOf([&] { client.nextEvent(patience); }), ClientErrorKind::Malformed);
}

} // namespace
