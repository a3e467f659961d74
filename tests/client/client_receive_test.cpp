// Events as the client receives them: every type, frames cut into pieces, and the waits
// that pick out an answer while keeping the other events in order.
#include "client_test_support.h"
#include "linkrelay/uuid_text.h"

#include <gtest/gtest.h>

using linkrelay::AttributeValueEvent;
using linkrelay::CharacteristicFoundEvent;
using linkrelay::ConnectedEvent;
using linkrelay::DisconnectedEvent;
using linkrelay::Event;
using linkrelay::eventName;
using linkrelay::formatUuid;
using linkrelay::parseAddress;
using linkrelay::parseUuid;
using linkrelay::RssiEvent;
using linkrelay::ScanResultEvent;
using linkrelay::ServiceFoundEvent;
using linkrelay::StatusEvent;
using linkrelay::WriteDoneEvent;

namespace {

class ClientReceive : public ::testing::Test, public FakeServiceFixture {
protected:
    Event next() {
        std::optional<Event> event = client.nextEvent(patience);
        if (!event) {
            ADD_FAILURE() << "no event arrived";
            return StatusEvent{};
        }
        return *event;
    }

    template <class T> T nextAs() {
        const Event event = next();
        EXPECT_TRUE(std::holds_alternative<T>(event)) << "got " << eventName(event);
        return std::holds_alternative<T>(event) ? std::get<T>(event) : T{};
    }
};

TEST_F(ClientReceive, EveryEventArrivesDecodedAndInOrder) {
    const UuidRecord heartRate = *parseUuid("2a37");
    server.send(concat({
        scanResultFrame(testDevice, {0x02, 0x01, 0x06}, -61),
        connectedFrame(testDevice),
        serviceFoundFrame(testDevice, 0, *parseUuid("180d")),
        characteristicFoundFrame(testDevice, 2, heartRate),
        writeDoneFrame(testDevice),
        attributeValueFrame(testDevice, 2, {0x10, 0x48}),
        rssiFrame(testDevice, -59),
        disconnectedFrame(testDevice, 1),
    }));

    const auto greeting = nextAs<StatusEvent>();
    EXPECT_TRUE(greeting.ready());
    EXPECT_EQ(greeting.conduitType, 1);
    const auto scan = nextAs<ScanResultEvent>();
    EXPECT_EQ(scan.address, testDevice);
    EXPECT_EQ(scan.rssi, -61);
    EXPECT_EQ(scan.advertising.flags, 0x06);
    EXPECT_EQ(nextAs<ConnectedEvent>().address, testDevice);
    EXPECT_EQ(formatUuid(nextAs<ServiceFoundEvent>().uuid), "180d");
    const auto found = nextAs<CharacteristicFoundEvent>();
    EXPECT_EQ(found.index, 2);
    EXPECT_EQ(found.uuid, heartRate);
    EXPECT_EQ(nextAs<WriteDoneEvent>().address, testDevice);
    EXPECT_EQ(nextAs<AttributeValueEvent>().value, (Bytes{0x10, 0x48}));
    EXPECT_EQ(nextAs<RssiEvent>().rssi, -59);
    EXPECT_EQ(nextAs<DisconnectedEvent>().reason, 1);
    EXPECT_FALSE(client.nextEvent(std::chrono::milliseconds(20)));
}

TEST_F(ClientReceive, FramesSplitAcrossSegmentsAreJoined) {
    // A scan result long enough for the extended prefix, then a value, cut so that the
    // pieces end inside the prefix, inside the content and between the two frames.
    const Bytes advertising(240, 0x00);
    const Bytes both = concat({scanResultFrame(testDevice, advertising, -80),
                               attributeValueFrame(testDevice, 9, {'o', 'k'})});
    ASSERT_EQ(both[0], 0x81);
    const size_t firstEnd = both.size() - 13;
    server.sendPieces({Bytes(both.begin(), both.begin() + 1),
                       Bytes(both.begin() + 1, both.begin() + 100),
                       Bytes(both.begin() + 100, both.begin() + static_cast<long>(firstEnd)),
                       Bytes(both.begin() + static_cast<long>(firstEnd), both.end() - 1),
                       Bytes(both.end() - 1, both.end())});

    nextAs<StatusEvent>();
    const auto scan = nextAs<ScanResultEvent>();
    EXPECT_EQ(scan.data, advertising);
    EXPECT_EQ(scan.rssi, -80);
    const auto value = nextAs<AttributeValueEvent>();
    EXPECT_EQ(value.index, 9);
    EXPECT_EQ(value.value, (Bytes{'o', 'k'}));
}

TEST_F(ClientReceive, WaitsTakeTheirAnswerAndKeepTheRestInOrder) {
    const BleAddress other = *parseAddress("00:00:00:00:00:01");
    server.send(concat({
        attributeValueFrame(testDevice, 1, {0x01}),
        connectedFrame(other),
        rssiFrame(testDevice, -50),
        connectedFrame(testDevice),
    }));

    EXPECT_EQ(client.waitConnected(testDevice, patience).address, testDevice);
    EXPECT_EQ(client.waitRssi(testDevice, patience).rssi, -50);
    nextAs<StatusEvent>();
    EXPECT_EQ(nextAs<AttributeValueEvent>().value, Bytes{0x01});
    EXPECT_EQ(nextAs<ConnectedEvent>().address, other);
}

TEST_F(ClientReceive, EachTypedWaitFindsItsAnswer) {
    server.send(concat({
        serviceFoundFrame(testDevice, 0, *parseUuid("1800")),
        serviceFoundFrame(testDevice, 1, *parseUuid("180d")),
        attributeValueFrame(testDevice, 5, {0x07}),
        characteristicFoundFrame(testDevice, 0, *parseUuid("2a37")),
        characteristicFoundFrame(testDevice, 1, *parseUuid("2a38")),
        attributeValueFrame(testDevice, 0, {0x09}),
        writeDoneFrame(testDevice),
        disconnectedFrame(testDevice, 0),
    }));

    EXPECT_TRUE(client.waitStatus(patience).ready());
    const std::vector<ServiceFoundEvent> services = client.waitServices(testDevice, patience);
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(formatUuid(services[1].uuid), "180d");
    const std::vector<CharacteristicFoundEvent> chars =
        client.waitCharacteristics(testDevice, patience);
    ASSERT_EQ(chars.size(), 2u);
    EXPECT_EQ(chars[0].index, 0);
    EXPECT_EQ(chars[1].index, 1);
    EXPECT_EQ(client.waitValue(testDevice, 0, patience).value, Bytes{0x09});
    EXPECT_EQ(client.waitWriteDone(testDevice, patience).address, testDevice);
    EXPECT_EQ(client.waitDisconnected(testDevice, patience).reason, 0);
    // The value of characteristic 5 answered none of the waits.
    EXPECT_EQ(nextAs<AttributeValueEvent>().index, 5);
}

} // namespace
