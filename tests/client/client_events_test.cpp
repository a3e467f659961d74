// Event gobs decoded into typed events, and gobs that are not valid events.
#include "event_frames.h"
#include "gob/gob_events.h"
#include "linkrelay/address_text.h"
#include "linkrelay/client_events.h"
#include "linkrelay/uuid_text.h"

#include <gtest/gtest.h>

using linkrelay::AttributeValueEvent;
using linkrelay::CharacteristicFoundEvent;
using linkrelay::ConnectedEvent;
using linkrelay::decodeEvent;
using linkrelay::DisconnectedEvent;
using linkrelay::disconnectReasonName;
using linkrelay::Event;
using linkrelay::eventAddress;
using linkrelay::formatUuid;
using linkrelay::parseAddress;
using linkrelay::parseUuid;
using linkrelay::RssiEvent;
using linkrelay::ScanResultEvent;
using linkrelay::ServiceFoundEvent;
using linkrelay::StatusEvent;
using linkrelay::WriteDoneEvent;

namespace {

const BleAddress device = *parseAddress("C0:11:22:33:44:55");

// The content of a framed gob (its one-byte prefix removed) as a gob for reading.
Gob readable(const Bytes& frame) {
    return Gob::forReading(frame.data() + 1, static_cast<uint32_t>(frame.size() - 1), false);
}

template <class T> T decodedAs(const Bytes& frame) {
    Gob gob = readable(frame);
    const std::optional<Event> event = decodeEvent(gob);
    EXPECT_TRUE(event);
    EXPECT_TRUE(event && std::holds_alternative<T>(*event));
    return event && std::holds_alternative<T>(*event) ? std::get<T>(*event) : T{};
}

TEST(ClientEvents, EveryEventTypeDecodesToItsValue) {
    const auto status = decodedAs<StatusEvent>(statusFrame(1, 2));
    EXPECT_EQ(status.conduitType, 1);
    EXPECT_EQ(status.conduitState, 2);
    EXPECT_FALSE(status.ready());

    const auto scan =
        decodedAs<ScanResultEvent>(scanResultFrame(device, {0x03, 0x09, 'H', 'R'}, -70));
    EXPECT_EQ(scan.address, device);
    EXPECT_EQ(scan.rssi, -70);
    EXPECT_EQ(scan.data, (Bytes{0x03, 0x09, 'H', 'R'}));
    EXPECT_EQ(scan.advertising.name(), "HR");

    EXPECT_EQ(decodedAs<ConnectedEvent>(connectedFrame(device)).address, device);

    const auto service =
        decodedAs<ServiceFoundEvent>(serviceFoundFrame(device, 3, *parseUuid("180d")));
    EXPECT_EQ(service.serviceIndex, 3);
    EXPECT_EQ(formatUuid(service.uuid), "180d");

    const UuidRecord longUuid = *parseUuid("6e400002-b5a3-f393-e0a9-e50e24dcca9e");
    const auto found =
        decodedAs<CharacteristicFoundEvent>(characteristicFoundFrame(device, 7, longUuid));
    EXPECT_EQ(found.index, 7);
    EXPECT_EQ(found.uuid, longUuid);

    const auto gone = decodedAs<DisconnectedEvent>(disconnectedFrame(device, 2));
    EXPECT_EQ(gone.reason, 2);
    EXPECT_EQ(disconnectReasonName(gone.reason), "supervision timeout");

    EXPECT_EQ(decodedAs<WriteDoneEvent>(writeDoneFrame(device)).address, device);

    const auto value = decodedAs<AttributeValueEvent>(attributeValueFrame(device, 4, {0x00, 0xFF}));
    EXPECT_EQ(value.index, 4);
    EXPECT_EQ(value.value, (Bytes{0x00, 0xFF}));

    EXPECT_EQ(decodedAs<RssiEvent>(rssiFrame(device, -128)).rssi, -128);
}

TEST(ClientEvents, GobsThatAreNotValidEventsDecodeToNothing) {
    const std::vector<Bytes> contents = {
        {},                                                    // empty
        {GobRead, 1, 2, 3, 4, 5, 6, 0},                        // a request type
        {140, 1, 2, 3, 4, 5, 6},                               // an unknown type
        {GobStatus, 2, 1, 0},                                  // status of another protocol version
        {GobStatus, 1, 1, 0, 0},                               // status of 5 bytes
        {GobConnected, 1, 2, 3, 4, 5},                         // address cut short
        {GobAttributeValue, 1, 2, 3, 4, 5, 6, 0, 3, 0xAA},     // value shorter than its length
        {GobServiceFound, 1, 2, 3, 4, 5, 6, 0, 4, 1, 2, 3, 4}, // UUID of 4 bytes
    };
    for (const Bytes& content : contents) {
        Gob gob = Gob::forReading(content.data(), static_cast<uint32_t>(content.size()), false);
        EXPECT_FALSE(decodeEvent(gob)) << "type " << (content.empty() ? -1 : content[0]);
    }
}

TEST(ClientEvents, AddressOfEveryEventButStatus) {
    Gob status = readable(statusFrame(1, 0));
    EXPECT_FALSE(eventAddress(*decodeEvent(status)));
    Gob rssi = readable(rssiFrame(device, -40));
    EXPECT_EQ(eventAddress(*decodeEvent(rssi)), device);
}

} // namespace
