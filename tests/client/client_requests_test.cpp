// Every request's bytes on the wire, as the service receives them.
#include "client_test_support.h"
#include "linkrelay/uuid_text.h"

#include <gtest/gtest.h>

using linkrelay::ConnectionParameters;
using linkrelay::parseUuid;

namespace {

class ClientRequests : public ::testing::Test, public FakeServiceFixture {
protected:
    // The bytes received once `count` requests have arrived.
    Bytes receivedAfter(size_t count) {
        EXPECT_TRUE(server.waitRequests(count, patience));
        return server.receivedBytes();
    }
};

TEST_F(ClientRequests, EachRequestIsOneFrameWithTheAddressInWireOrder) {
    client.startScan();
    client.stopScan();
    client.connect(testDevice, {6, 12, 100, 2});
    client.findServices(testDevice);
    client.findAttributes(testDevice,
                          {*parseUuid("180d"), *parseUuid("6e400002-b5a3-f393-e0a9-e50e24dcca9e")});
    client.disconnect(testDevice);
    client.read(testDevice, 3);
    client.write(testDevice, 4, Bytes{0xAA, 0xBB}, true);
    client.write(testDevice, 4, Bytes{}, false);
    client.notify(testDevice, 5);
    client.indicate(testDevice, 6);
    client.unsubscribe(testDevice, 7);
    client.getRssi(testDevice);

    const Bytes& a = testDeviceWire;
    const Bytes expected = concat({
        {0x01, 0x00},
        {0x01, 0x01},
        {0x17, 0x02},
        a,
        {6, 0, 0, 0, 12, 0, 0, 0, 100, 0, 0, 0, 2, 0, 0, 0},
        {0x07, 0x03},
        a,
        {0x1C, 0x04},
        a,
        {0x00, 0x02, 0x18, 0x0D, 0x10, 0x6E, 0x40, 0x00, 0x02, 0xB5, 0xA3,
         0xF3, 0x93, 0xE0, 0xA9, 0xE5, 0x0E, 0x24, 0xDC, 0xCA, 0x9E},
        {0x07, 0x05},
        a,
        {0x08, 0x06},
        a,
        {0x03},
        {0x0B, 0x07},
        a,
        {0x04, 0x01, 0xAA, 0xBB},
        {0x09, 0x07},
        a,
        {0x04, 0x00},
        {0x08, 0x08},
        a,
        {0x05},
        {0x08, 0x09},
        a,
        {0x06},
        {0x08, 0x0A},
        a,
        {0x07},
        {0x07, 0x0B},
        a,
    });
    EXPECT_EQ(receivedAfter(13), expected);
}

TEST_F(ClientRequests, ConnectSendsTheDefaultParametersWhenNoneAreGiven) {
    client.connect(testDevice);
    const ConnectionParameters defaults;
    const Bytes received = receivedAfter(1);
    ASSERT_EQ(received.size(), 24u);
    EXPECT_EQ(received[8], defaults.connIntervalMin);
    EXPECT_EQ(received[12], defaults.connIntervalMax);
    EXPECT_EQ(received[16], defaults.supervisionTimeout);
    EXPECT_EQ(received[20], defaults.slaveLatency);
}

TEST_F(ClientRequests, LongWriteUsesTheExtendedLengthPrefix) {
    const Bytes payload(200, 0x5A);
    client.write(testDevice, 1, payload, true);
    const Bytes received = receivedAfter(1);
    ASSERT_EQ(received.size(), 2u + 209u);
    EXPECT_EQ(received[0], 0x81);
    EXPECT_EQ(received[1], 209);
    EXPECT_EQ(Bytes(received.begin() + 11, received.end()), payload);
}

TEST_F(ClientRequests, AnUnusableUuidListIsRefusedBeforeAnythingIsSent) {
    EXPECT_THROW(client.findAttributes(testDevice, {}), std::invalid_argument);
    UuidRecord fourBytes;
    fourBytes.length = 4;
    EXPECT_THROW(client.findAttributes(testDevice, {fourBytes}), std::invalid_argument);
    client.getRssi(testDevice);
    EXPECT_EQ(receivedAfter(1), concat({{0x07, 0x0B}, testDeviceWire}));
}

} // namespace
