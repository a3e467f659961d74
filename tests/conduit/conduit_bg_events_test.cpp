// ConduitBg event handlers by byte transcript: BGAPI events go through the reader cycle
// from a scripted line; the posted gobs, the commands sent and the log are checked.
#include "conduit_bg_test_support.h"

#include "conduit/bg/bg_uuid.h"
#include "gob/gob_events.h"

#include <gtest/gtest.h>

namespace {

const BleAddress device = testAddress(0xD1, 0x01);
const BleAddress stranger = testAddress(0xD2, 0x02);
constexpr int32_t link = 2;

constexpr uint8_t readValue = 0;
constexpr uint8_t notification = 1;
constexpr uint8_t readByType = 3;

// A 128-bit UUID in wire order, least significant byte first.
Bytes wireOf(const UuidRecord& uuid) {
    Bytes wire(uuid.bytes.rbegin(), uuid.bytes.rend());
    return wire;
}

using ConduitBgEventsTest = ConduitBgTest;

TEST_F(ConduitBgEventsTest, ACompletedConnectionCompletesTheConnectAndStartsASession) {
    ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0));
    conduit.runGapStep();
    BgSession& stale = addSession(stranger, link); // an old session under the same handle
    stale.state = SessionState::Writing;
    conduit.connections.erase(stranger);

    deliver(connectionStatus(link, 0x05, device));

    const std::string log = logSince(mark);
    EXPECT_NE(log.find("ble_evt_connection_status, flags: 5\n"), std::string::npos);
    EXPECT_NE(log.find("connected\n"), std::string::npos);
    EXPECT_NE(log.find("BG conduit: completed gap op connection\n"), std::string::npos);
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{gobBytes(buildConnectedGob, device)});
    EXPECT_TRUE(conduit.gapOps.empty());
    EXPECT_EQ(conduit.connections.at(device), link);
    const BgSession& session = conduit.sessions.at(link);
    EXPECT_EQ(session.address, device);
    EXPECT_EQ(session.state, SessionState::Idle);
}

TEST_F(ConduitBgEventsTest, AStatusWithoutTheCompletedFlagOnlyLogs) {
    ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0));
    conduit.runGapStep();

    deliver(connectionStatus(link, 0x01, device));

    EXPECT_EQ(logCount(mark, "ble_evt_connection_status, flags: 1\n"), 1);
    EXPECT_EQ(logCount(mark, "connected\n"), 0);
    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_TRUE(conduit.connections.empty());
    EXPECT_EQ(conduit.gapOps.size(), 1U);
}

TEST_F(ConduitBgEventsTest, AConnectionOfAnotherAddressIsAcceptedButLeavesTheConnectWaiting) {
    ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0));
    conduit.runGapStep();

    deliver(connectionStatus(link, 0x05, stranger));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{gobBytes(buildConnectedGob, stranger)});
    EXPECT_TRUE(conduit.sessions.contains(link));
    ASSERT_EQ(conduit.gapOps.size(), 1U);
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::Connect);
}

TEST_F(ConduitBgEventsTest, AnUnaskedConnectionIsDisconnectedWithoutAnyGob) {
    deliver(connectionStatus(link, 0x05, device));

    EXPECT_EQ(logCount(mark, "BG conduit: connected unexpectedly, disconnecting\n"), 1);
    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_TRUE(conduit.sessions.empty());
    EXPECT_EQ(conduit.connections.at(device), link);
    takeWritten();

    conduit.runGapStep();
    EXPECT_EQ(logCount(mark, "BG conduit: asking dongle to disconnect\n"), 1);
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x01, 0x03, 0x00, link}));

    deliver(connectionDisconnected(link, 0x0216));
    EXPECT_TRUE(conduit.connections.empty());
    EXPECT_TRUE(conduit.gapOps.empty());
    EXPECT_TRUE(conduit.posted.empty());
}

TEST_F(ConduitBgEventsTest, DisconnectionReasonsAreMappedAndTheSessionEnds) {
    const std::pair<uint16_t, uint8_t> reasons[] = {{0x0000, 0}, {0x0216, 0}, {0x0213, 1},
                                                    {0x0208, 2}, {0x0222, 3}, {0x0123, 4}};
    for (const auto& [reason, code] : reasons) {
        SCOPED_TRACE(reason);
        addSession(device, link);
        conduit.posted.clear();

        deliver(connectionDisconnected(link, reason));

        EXPECT_EQ(conduit.posted, std::vector<Bytes>{gobBytes(buildDisconnectedGob, device, code)});
        EXPECT_TRUE(conduit.sessions.empty());
        EXPECT_TRUE(conduit.connections.empty());
    }
    EXPECT_EQ(logCount(mark, "ble_evt_connection_disconnected\n"), 6);
}

TEST_F(ConduitBgEventsTest, ADisconnectionCompletesOnlyTheDisconnectOfItsOwnConnection) {
    addSession(device, link);
    addSession(stranger, link + 1);
    ASSERT_TRUE(conduit.disconnect(device));
    conduit.runGapStep();

    deliver(connectionDisconnected(link + 1, 0x0213));
    EXPECT_EQ(conduit.gapOps.size(), 1U);
    deliver(connectionDisconnected(link, 0x0216));
    EXPECT_TRUE(conduit.gapOps.empty());
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op disconnect\n"), 1);
}

TEST_F(ConduitBgEventsTest, ADisconnectionDropsTheConnectionsWaitingWriteCommands) {
    BgSession& session = addSession(device, link);
    addCharacteristic(session, 0, 0x10, uuid16(0x2A37));
    BgSession& other = addSession(stranger, link + 1);
    addCharacteristic(other, 0, 0x30, uuid16(0x2A37));
    ASSERT_TRUE(conduit.notify(stranger, 0));
    ASSERT_TRUE(conduit.notify(device, 0));
    ASSERT_TRUE(conduit.indicate(stranger, 0));
    ASSERT_EQ(writeQueue.size(), 3U);

    deliver(connectionDisconnected(link, 0x0213));

    ASSERT_EQ(writeQueue.size(), 2U) << "the sent head stays until its response";
    EXPECT_EQ(writeQueue.front().connection, link + 1);
    EXPECT_EQ(writeQueue.back().connection, link + 1);
}

TEST_F(ConduitBgEventsTest, ServicesAreReportedInStartHandleOrderWithStableIndexes) {
    addSession(device, link);
    const UuidRecord custom = uuid128(0x40);
    ASSERT_TRUE(conduit.findServices(device));

    deliver(groupFound(link, 12, 39, wireOf(custom)));
    deliver(groupFound(link, 1, 11, {0x00, 0x18}));
    deliver(groupFound(link, 40, 0xFFFF, {0x0F, 0x18}));
    deliver(procedureCompleted(link, 0, 1));

    const std::vector<Bytes> expected{
        gobBytes(buildServiceFoundGob, device, uint8_t{1}, uuid16(0x1800)),
        gobBytes(buildServiceFoundGob, device, uint8_t{0}, custom),
        gobBytes(buildServiceFoundGob, device, uint8_t{2}, uuid16(0x180F))};
    EXPECT_EQ(conduit.posted, expected);
    EXPECT_EQ(conduit.sessions.at(link).state, SessionState::Idle);
    EXPECT_EQ(logCount(mark, "ble_evt_attclient_group_found\n"), 3);

    conduit.posted.clear();
    ASSERT_TRUE(conduit.findServices(device));
    deliver(groupFound(link, 1, 11, {0x00, 0x18}));
    deliver(groupFound(link, 12, 39, wireOf(custom)));
    deliver(groupFound(link, 40, 0xFFFF, {0x0F, 0x18}));
    deliver(procedureCompleted(link, 0, 1));
    EXPECT_EQ(conduit.posted, expected) << "a service found again keeps its index";
}

TEST_F(ConduitBgEventsTest, AServiceWithAnOddUuidLengthIsIgnored) {
    addSession(device, link);
    ASSERT_TRUE(conduit.findServices(device));

    deliver(groupFound(link, 1, 11, Bytes(17, 0xAA)));
    deliver(groupFound(link, 12, 20, Bytes(4, 0xBB)));
    deliver(procedureCompleted(link, 0, 1));

    EXPECT_EQ(logCount(mark, "with a 17-byte UUID ignored\n"), 1);
    EXPECT_EQ(logCount(mark, "with a 4-byte UUID ignored\n"), 1);
    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_TRUE(conduit.sessions.at(link).serviceIndexByHandle.empty());
}

class ConduitBgLookUpTest : public ConduitBgTest {
protected:
    ConduitBgLookUpTest() { addSession(device, link); }
    BgSession& session() { return conduit.sessions.at(link); }
    Bytes found(uint8_t index, const UuidRecord& uuid) {
        return gobBytes(buildCharacteristicFoundGob, device, index, uuid);
    }
};

TEST_F(ConduitBgLookUpTest, EachCompletedLookUpConsumesOneUuidAndFailuresRecordNothing) {
    const UuidRecord first = uuid16(0x2A37);
    const UuidRecord last = uuid128(0x60);
    ASSERT_TRUE(conduit.findCharsAndDescs(device, {first, last}));
    takeWritten();

    deliver(attributeValue(link, 0x20, readByType, {0x01, 0x02}));
    EXPECT_EQ(logCount(mark, "ble_evt_attclient_attribute_value, attribute found\n"), 1);
    deliver(procedureCompleted(link, 0, 0x20));
    ASSERT_EQ(session().pendingUuids, std::vector<UuidRecord>{first});
    const std::array<uint8_t, 16> firstType = uuidTypeField(first);
    EXPECT_EQ(line->writes().at(1), Bytes(firstType.begin(), firstType.end()));

    // The device lacks the first UUID: the look-up ends in an error naming no attribute.
    deliver(procedureCompleted(link, 0x040A, 0x0001));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{found(0, last)});
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_TRUE(session().pendingUuids.empty());
    EXPECT_FALSE(session().charIndex(0x0001).has_value());
}

TEST_F(ConduitBgLookUpTest, AnUnreadableCharacteristicIsFoundAtTheHandleOfTheError) {
    ASSERT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A39)}));

    deliver(procedureCompleted(link, 0x0402, 0x0033));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{found(0, uuid16(0x2A39))});
    EXPECT_EQ(session().charHandle(0), 0x0033);
}

TEST_F(ConduitBgLookUpTest, ARepeatedDiscoveryIsAnsweredWithTheKnownIndexes) {
    ASSERT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A37), uuid16(0x2A38)}));
    deliver(attributeValue(link, 0x30, readByType, {}));
    deliver(procedureCompleted(link, 0, 0x30));
    deliver(attributeValue(link, 0x20, readByType, {}));
    deliver(procedureCompleted(link, 0, 0x20));
    ASSERT_EQ(conduit.posted,
              (std::vector<Bytes>{found(0, uuid16(0x2A38)), found(1, uuid16(0x2A37))}));
    conduit.posted.clear();

    // A second client asks again for one of them, naming it twice.
    ASSERT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A37), uuid16(0x2A37)}));
    deliver(attributeValue(link, 0x20, readByType, {}));
    deliver(procedureCompleted(link, 0, 0x20));
    deliver(attributeValue(link, 0x20, readByType, {}));
    deliver(procedureCompleted(link, 0, 0x20));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{found(1, uuid16(0x2A37))});
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_EQ(session().charIndexByHandle.size(), 2U);
}

TEST_F(ConduitBgLookUpTest, AUuidMatchingTwoCharacteristicsRecordsBothUnderIt) {
    const UuidRecord shared = uuid16(0x2A37);
    const UuidRecord next = uuid16(0x2A38);
    ASSERT_TRUE(conduit.findCharsAndDescs(device, {next, shared}));

    deliver(attributeValue(link, 0x20, readByType, {}));
    deliver(attributeValue(link, 0x24, readByType, {}));
    deliver(procedureCompleted(link, 0, 0x24));
    deliver(attributeValue(link, 0x30, readByType, {}));
    deliver(procedureCompleted(link, 0, 0x30));

    EXPECT_EQ(conduit.posted,
              (std::vector<Bytes>{found(0, shared), found(1, shared), found(2, next)}));
}

TEST_F(ConduitBgLookUpTest, ValuesOtherThanLookUpResultsAreDeliveredDuringALookUp) {
    addCharacteristic(session(), 0, 0x10, uuid16(0x2A37));
    ASSERT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A38)}));

    deliver(attributeValue(link, 0x10, notification, {0x07}));
    deliver(attributeValue(link, 0x10, readByType, {0x08}));   // known: reported again, nothing new
    deliver(attributeValue(link, 0x44, notification, {0x09})); // unknown handle: dropped

    EXPECT_EQ(conduit.posted,
              std::vector<Bytes>{gobBytes(buildAttributeValueGob, device, uint8_t{0},
                                          Bytes{0x07}.data(), uint32_t{1})});
    EXPECT_EQ(session().foundHandles, std::vector<int32_t>{0x10});
    EXPECT_EQ(session().charIndexByHandle.size(), 1U);
}

TEST_F(ConduitBgLookUpTest, ANotificationDuringAWriteIsDeliveredAndLeavesTheWriteRunning) {
    addCharacteristic(session(), 0, 0x10, uuid16(0x2A37));
    const uint8_t data[] = {1, 2};
    ASSERT_TRUE(conduit.write(device, 0, data, 2, true));

    deliver(attributeValue(link, 0x10, notification, {0xAA, 0xBB}));
    deliver(attributeValue(link, 0x10, readValue, {0xCC}));

    EXPECT_EQ(conduit.posted.size(), 2U);
    EXPECT_EQ(conduit.posted.front(), gobBytes(buildAttributeValueGob, device, uint8_t{0},
                                               Bytes{0xAA, 0xBB}.data(), uint32_t{2}));
    EXPECT_EQ(session().state, SessionState::Writing);
}

TEST_F(ConduitBgEventsTest, EventsForAConnectionWithoutSessionAreDropped) {
    conduit.connections[device] = link;
    deliver(attributeValue(link, 0x10, notification, {1}));
    deliver(groupFound(link, 1, 5, {0x00, 0x18}));
    deliver(procedureCompleted(link, 0x0181, 0));
    deliver(response(3, 1, {link, 0xC4})); // connection_get_rssi

    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_EQ(logCount(mark, "bluegiga error 181 in ble_evt_attclient_procedure_completed\n"), 1);
    EXPECT_EQ(logCount(mark, "no session\n"), 1);
}

TEST_F(ConduitBgEventsTest, ACompletionWhileIdleIsLoggedWithTheAddress) {
    addSession(device, link);
    deliver(procedureCompleted(link, 0, 0x10));
    EXPECT_EQ(logCount(mark, "unexpected ble_evt_attclient_procedure_completed on address "
                             "d1 02 03 04 05 01 \n"),
              1);
    EXPECT_TRUE(conduit.posted.empty());
}

TEST_F(ConduitBgEventsTest, EveryScanResponseBecomesAScanResult) {
    const Bytes data{0x02, 0x01, 0x06};
    deliver(event(6, 0,
                  join({{0xC8, 0x00},
                        Bytes(device.bytes.begin(), device.bytes.end()),
                        {0x00, 0xFF, static_cast<uint8_t>(data.size())},
                        data})));
    // A data length beyond what arrived is cut to what arrived.
    deliver(event(6, 0,
                  join({{0xB0, 0x04},
                        Bytes(stranger.bytes.begin(), stranger.bytes.end()),
                        {0x01, 0xFF, 0x09, 0xAB}})));

    EXPECT_EQ(
        conduit.posted,
        (std::vector<Bytes>{
            gobBytes(buildScanResultGob, device, data.data(), uint32_t{3}, int8_t{-56}),
            gobBytes(buildScanResultGob, stranger, Bytes{0xAB}.data(), uint32_t{1}, int8_t{-80})}));
}

TEST_F(ConduitBgEventsTest, PayloadsShorterThanTheirMessageAreDroppedUnread) {
    addSession(device, link);
    conduit.silentMs = 3000;

    deliver(event(3, 0, {link, 0x05, 0xD1}));                   // connection_status cut short
    deliver(event(4, 5, {link, 0x10, 0x00, 0x01, 0x09, 0xAA})); // value length past the end

    EXPECT_EQ(logCount(mark, "BG conduit: connection_status dropped, 3 bytes are less than "
                             "its fixed part\n"),
              1);
    EXPECT_EQ(logCount(mark, "BG conduit: attclient_attribute_value dropped, its data run past "
                             "the 6 bytes received\n"),
              1);
    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_EQ(conduit.silentMs, 0U) << "a dropped message still shows the dongle is alive";
}

} // namespace
