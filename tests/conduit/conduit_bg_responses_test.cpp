// ConduitBg response handlers and the write procedures end to end, by byte transcript:
// responses and completions go through the reader cycle from a scripted line.
#include "conduit_bg_test_support.h"

#include "gob/gob_events.h"

#include <gtest/gtest.h>

namespace {

const BleAddress device = testAddress(0xE1, 0x01);
constexpr int32_t link = 1;
constexpr int32_t valueHandle = 0x0025;

constexpr uint8_t writeCommandId = 6;
constexpr uint8_t attributeWriteId = 5;
constexpr uint8_t prepareWriteId = 9;
constexpr uint8_t readByTypeId = 2;

Bytes prepareWrite(uint16_t offset, const Bytes& piece) {
    return join({{0x00, static_cast<uint8_t>(6 + piece.size()), 0x04, 0x09, link},
                 le16(valueHandle),
                 le16(offset),
                 {static_cast<uint8_t>(piece.size())},
                 piece});
}

Bytes writeCommand(uint16_t handle, const Bytes& data) {
    return join({{0x00, static_cast<uint8_t>(4 + data.size()), 0x04, 0x06, link},
                 le16(handle),
                 {static_cast<uint8_t>(data.size())},
                 data});
}

Bytes executeWrite(uint8_t commit) {
    return {0x00, 0x02, 0x04, 0x0A, link, commit};
}

class ConduitBgResponsesTest : public ConduitBgTest {
protected:
    ConduitBgResponsesTest() {
        BgSession& session = addSession(device, link);
        addCharacteristic(session, 0, valueHandle, uuid16(0x2A37));
    }
    BgSession& session() { return conduit.sessions.at(link); }
    Bytes writeDone() { return gobBytes(buildWriteDoneGob, device); }
};

TEST_F(ConduitBgResponsesTest, AWriteIsDoneWhenItsProcedureCompletesOnAKnownHandle) {
    const Bytes value{0x01, 0x00};
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 2, true));
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x06, 0x04, 0x05, 0x01, 0x25, 0x00, 0x02, 0x01, 0x00}));

    deliver(attclientResponse(attributeWriteId, link, 0));
    deliver(procedureCompleted(link, 0, valueHandle));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone()});
    EXPECT_EQ(session().state, SessionState::Idle);
}

TEST_F(ConduitBgResponsesTest, ALongWriteGoesInPiecesOf18ThenExecutes) {
    const Bytes value = counting(40, 1);
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 40, true));
    EXPECT_EQ(takeWritten(), prepareWrite(0, slice(value, 0, 18)));

    deliver(attclientResponse(prepareWriteId, link, 0));
    deliver(procedureCompleted(link, 0, valueHandle));
    EXPECT_EQ(takeWritten(), prepareWrite(18, slice(value, 18, 18)));
    deliver(procedureCompleted(link, 0, valueHandle));
    EXPECT_EQ(takeWritten(), prepareWrite(36, slice(value, 36, 4)));
    deliver(procedureCompleted(link, 0, valueHandle));
    EXPECT_EQ(takeWritten(), executeWrite(1));
    EXPECT_EQ(session().state, SessionState::Executing);
    EXPECT_TRUE(conduit.posted.empty());

    deliver(procedureCompleted(link, 0, valueHandle));
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone()});
    EXPECT_EQ(session().state, SessionState::Idle);
}

TEST_F(ConduitBgResponsesTest, AnUnacknowledgedWriteIsCarriedOnByItsResponses) {
    const Bytes value = counting(45, 1);
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 45, false));
    EXPECT_EQ(takeWritten(), writeCommand(valueHandle, slice(value, 0, 20)));

    deliver(attclientResponse(writeCommandId, link, 0));
    EXPECT_EQ(takeWritten(), writeCommand(valueHandle, slice(value, 20, 20)));
    deliver(attclientResponse(writeCommandId, link, 0));
    EXPECT_EQ(takeWritten(), writeCommand(valueHandle, slice(value, 40, 5)));
    EXPECT_TRUE(conduit.posted.empty());
    deliver(attclientResponse(writeCommandId, link, 0));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone()});
    EXPECT_EQ(session().state, SessionState::Idle);
}

TEST_F(ConduitBgResponsesTest, NoMemoryResendsTheSameChunkAfter20Ms) {
    const Bytes value = counting(25, 1);
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 25, false));
    const Bytes first = takeWritten();

    deliver(attclientResponse(writeCommandId, link, 0x0182));

    EXPECT_EQ(logCount(mark, "0x0182\n"), 1);
    EXPECT_EQ(conduit.sleeps, std::vector<uint32_t>{20});
    EXPECT_EQ(takeWritten(), first);
    EXPECT_EQ(writeQueue.size(), 1U);

    deliver(attclientResponse(writeCommandId, link, 0x0181)); // given up, the chain goes on
    EXPECT_EQ(logCount(mark, "bluegiga error 181 in ble_rsp_attclient_write_command\n"), 1);
    EXPECT_EQ(takeWritten(), writeCommand(valueHandle, slice(value, 20, 5)));
}

TEST_F(ConduitBgResponsesTest, AWriteCommandResponseWithNothingQueuedOnlyEndsTheWrite) {
    session().state = SessionState::WritingNoResponse;

    deliver(attclientResponse(writeCommandId, link, 0));

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone()});
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_TRUE(takeWritten().empty());
}

TEST_F(ConduitBgResponsesTest, FailedProceduresLeaveTheSessionUsable) {
    const Bytes value{0x05};
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 1, true));
    deliver(attclientResponse(attributeWriteId, link, 0x0181));
    EXPECT_EQ(logCount(mark, "bluegiga error 181 in ble_rsp_attclient_attribute_write\n"), 1);
    EXPECT_EQ(session().state, SessionState::Idle);

    ASSERT_TRUE(conduit.write(device, 0, value.data(), 1, true));
    deliver(procedureCompleted(link, 0x0403, valueHandle)); // the device refused the write
    EXPECT_EQ(session().state, SessionState::Idle);

    ASSERT_TRUE(conduit.findServices(device));
    deliver(procedureCompleted(link, 0x0181, 0x0001));
    EXPECT_EQ(session().state, SessionState::Idle);

    ASSERT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A38)}));
    deliver(attclientResponse(readByTypeId, link, 0x0186));
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_TRUE(session().pendingUuids.empty());

    EXPECT_TRUE(conduit.posted.empty()) << "a failure posts nothing";
    EXPECT_TRUE(conduit.write(device, 0, value.data(), 1, true));
}

TEST_F(ConduitBgResponsesTest, AFailedLongWriteIsCancelledOnTheDevice) {
    const Bytes value = counting(30, 1);
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 30, true));
    takeWritten();

    deliver(procedureCompleted(link, 0x0407, valueHandle));

    EXPECT_EQ(takeWritten(), executeWrite(0));
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_TRUE(session().writeBuffer.empty());
    EXPECT_TRUE(conduit.posted.empty());
}

TEST_F(ConduitBgResponsesTest, ErrorsOfAttclientResponsesAreLoggedByName) {
    deliver(attclientResponse(1, link, 0x0181));
    deliver(attclientResponse(4, link, 0x0182));
    deliver(attclientResponse(10, link, 0x0183));
    for (const char* text : {"bluegiga error 181 in ble_rsp_attclient_read_by_group_type\n",
                             "bluegiga error 182 in ble_rsp_attclient_read_by_handle\n",
                             "bluegiga error 183 in ble_rsp_attclient_execute_write\n"}) {
        EXPECT_EQ(logCount(mark, text), 1) << text;
    }
    EXPECT_EQ(session().state, SessionState::Idle);
}

TEST_F(ConduitBgResponsesTest, TheRssiResponseBecomesAGobRssi) {
    deliver(response(3, 1, {link, 0xC4}));
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{gobBytes(buildRssiGob, device, int8_t{-60})});
}

TEST_F(ConduitBgResponsesTest, GapResponsesCompleteTheirOperationsWhateverTheResult) {
    ASSERT_TRUE(conduit.startScan());
    ASSERT_TRUE(conduit.stopScan());
    conduit.runGapStep();

    deliver(response(6, 2, le16(0x0181))); // gap_discover
    EXPECT_EQ(logCount(mark, "bluegiga error 181 in ble_rsp_gap_discover\n"), 1);
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op start scan\n"), 1);
    conduit.runGapStep();
    deliver(response(6, 4, le16(0x0181))); // gap_end_procedure
    EXPECT_EQ(logCount(mark, "bluegiga error 181 in ble_rsp_gap_end_procedure\n"), 1);
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op stop scan\n"), 1);
    EXPECT_TRUE(conduit.gapOps.empty());
}

TEST_F(ConduitBgResponsesTest, ARefusedConnectEndsAtOnceAndTheQueueMovesOn) {
    ASSERT_TRUE(conduit.connect(testAddress(0xE2, 0x02), 6, 0xFFFF, 100, 0));
    ASSERT_TRUE(conduit.startScan());
    conduit.runGapStep();
    takeWritten();
    deliver(response(6, 3, join({le16(0x0180), {0x00}})));
    EXPECT_EQ(logCount(mark, "bluegiga error 180 in ble_rsp_gap_connect_direct\n"), 1);
    ASSERT_EQ(conduit.gapOps.size(), 1U);
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::StartScan);
    EXPECT_TRUE(conduit.posted.empty()) << "the requester gets nothing";
    conduit.runGapStep();
    // gap_discover, observation.
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x01, 0x06, 0x02, 0x02}));
}

TEST_F(ConduitBgResponsesTest, ARefusedDisconnectNoLongerHoldsTheQueue) {
    ASSERT_TRUE(conduit.disconnect(device));
    ASSERT_TRUE(conduit.startScan());
    conduit.runGapStep();

    deliver(response(3, 0, join({{link}, le16(0x0186)})));

    EXPECT_EQ(logCount(mark, "bluegiga error 186 in ble_rsp_connection_disconnect\n"), 1);
    ASSERT_EQ(conduit.gapOps.size(), 1U);
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::StartScan);
}

TEST_F(ConduitBgResponsesTest, AnAcceptedDisconnectWaitsForItsEvent) {
    ASSERT_TRUE(conduit.disconnect(device));
    conduit.runGapStep();
    deliver(response(3, 0, join({{link}, le16(0)})));
    EXPECT_EQ(logCount(mark, "in ble_rsp_connection_disconnect, successful\n"), 1);
    EXPECT_EQ(conduit.gapOps.size(), 1U);
}

TEST_F(ConduitBgResponsesTest, AnEndProcedureResponseCompletesAnAbandonedConnect) {
    ASSERT_TRUE(conduit.connect(testAddress(0xE2, 0x02), 6, 6, 100, 0));
    ASSERT_TRUE(conduit.startScan());
    conduit.runGapStep();
    conduit.now += 2;
    conduit.runGapStep();
    ASSERT_EQ(conduit.gapOps.front().type, GapOpType::EndConnect);

    deliver(response(6, 4, le16(0)));

    ASSERT_EQ(conduit.gapOps.size(), 1U);
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::StartScan);
}

} // namespace
