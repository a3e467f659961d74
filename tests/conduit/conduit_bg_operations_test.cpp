// ConduitBg operations on live connections: refusals and their log lines, the bytes each
// operation sends, characteristic indexes and look-ups.
#include "conduit_bg_test_support.h"

#include <gtest/gtest.h>

namespace {

const BleAddress device = testAddress(0xA1, 0x01);
constexpr int32_t link = 3;

using ConduitBgOperationsTest = ConduitBgTest;

TEST_F(ConduitBgOperationsTest, EveryOperationIsRefusedWithItsLineWhileNotReady) {
    conduit.ready = false;
    conduit.state = ConduitState::NotReady;
    addSession(device, link);
    const uint8_t data[] = {1};

    EXPECT_FALSE(conduit.startScan());
    EXPECT_FALSE(conduit.stopScan());
    EXPECT_FALSE(conduit.connect(device, 6, 6, 100, 0));
    EXPECT_FALSE(conduit.findServices(device));
    EXPECT_FALSE(conduit.findCharsAndDescs(device, {uuid16(0x2A37)}));
    EXPECT_FALSE(conduit.disconnect(device));
    EXPECT_FALSE(conduit.read(device, 0));
    EXPECT_FALSE(conduit.write(device, 0, data, 1, true));
    EXPECT_FALSE(conduit.notify(device, 0));
    EXPECT_FALSE(conduit.indicate(device, 0));
    EXPECT_FALSE(conduit.unsubscribe(device, 0));
    EXPECT_FALSE(conduit.getRssi(device));

    for (const char* operation :
         {"startScan", "stopScan", "connect", "findServices", "findCharsAndDescs", "disconnect",
          "read", "write", "notify", "indicate", "unsubscribe", "getRssi"}) {
        EXPECT_EQ(
            logCount(mark, std::string("BG conduit: ") + operation + " called but not ready\n"), 1)
            << operation;
    }
    EXPECT_EQ(conduit.getType(), ConduitKind::Dongle);
    EXPECT_EQ(conduit.getState(), ConduitState::NotReady);
    EXPECT_TRUE(conduit.gapOps.empty());
    EXPECT_TRUE(takeWritten().empty());
}

TEST_F(ConduitBgOperationsTest, AnAddressWithoutConnectionIsAcceptedAndNothingIsSent) {
    const uint8_t data[] = {1, 2};

    EXPECT_TRUE(conduit.findServices(device));
    EXPECT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A37)}));
    EXPECT_TRUE(conduit.read(device, 0));
    EXPECT_TRUE(conduit.write(device, 0, data, 2, false));
    EXPECT_TRUE(conduit.getRssi(device));
    EXPECT_TRUE(conduit.notify(device, 0));
    EXPECT_TRUE(conduit.indicate(device, 0));
    EXPECT_TRUE(conduit.unsubscribe(device, 0));

    for (const char* operation :
         {"findServices", "findCharsAndDescs", "read", "write", "getRssi"}) {
        EXPECT_EQ(logCount(mark, std::string("BG conduit: in ") + operation +
                                     ", can't find connection associated with address\n"),
                  1)
            << operation;
    }
    EXPECT_EQ(logCount(mark, "BG conduit: in notify"), 0);
    EXPECT_TRUE(takeWritten().empty());
    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_TRUE(conduit.sessions.empty()) << "a look-up must not insert a session";
    EXPECT_TRUE(conduit.connections.empty()) << "a look-up must not insert a connection";
}

TEST_F(ConduitBgOperationsTest, AConnectionWithoutSessionRefusesProceduresAndDropsReads) {
    conduit.connections[device] = link;
    const uint8_t data[] = {1};

    EXPECT_FALSE(conduit.findServices(device));
    EXPECT_FALSE(conduit.findCharsAndDescs(device, {uuid16(0x2A37)}));
    EXPECT_FALSE(conduit.write(device, 0, data, 1, true));
    EXPECT_TRUE(conduit.read(device, 0));
    EXPECT_TRUE(conduit.notify(device, 0));

    for (const char* operation : {"findServices", "findCharsAndDescs", "write", "read", "notify"}) {
        EXPECT_EQ(logCount(mark, std::string("BG conduit: in ") + operation +
                                     ", can't find session associated with connection\n"),
                  1)
            << operation;
    }
    EXPECT_TRUE(takeWritten().empty());
    EXPECT_TRUE(conduit.sessions.empty());
}

TEST_F(ConduitBgOperationsTest, ABusySessionQueuesProceduresButStillReads) {
    BgSession& session = addSession(device, link);
    addCharacteristic(session, 0, 0x0010, uuid16(0x2A37));
    session.state = SessionState::WritingNoResponse;
    const uint8_t data[] = {1};

    EXPECT_TRUE(conduit.findServices(device));
    EXPECT_TRUE(conduit.findCharsAndDescs(device, {uuid16(0x2A38)}));
    EXPECT_TRUE(conduit.write(device, 0, data, 1, true));
    EXPECT_EQ(logCount(mark, "BG conduit: in findServices, session busy\n"), 1);
    EXPECT_EQ(logCount(mark, "BG conduit: in findCharsAndDescs, session busy (6)\n"), 1);
    EXPECT_EQ(logCount(mark, "BG conduit: in write, session busy\n"), 1);
    EXPECT_EQ(logCount(mark, "BG conduit: request waits for the session, 3 waiting\n"), 1);
    EXPECT_TRUE(takeWritten().empty());
    EXPECT_EQ(session.state, SessionState::WritingNoResponse);
    EXPECT_EQ(session.waiting.size(), 3U);

    session.state = SessionState::FindingChars;
    EXPECT_TRUE(conduit.read(device, 0));
    // attclient_read_by_handle: connection 3, handle 0x0010.
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x03, 0x04, 0x04, 0x03, 0x10, 0x00}));
    EXPECT_EQ(session.state, SessionState::FindingChars);
}

// Waiting requests start one at a time, in arrival order, each when the procedure before
// it has ended, after a success or a failure alike.
TEST_F(ConduitBgOperationsTest, WaitingRequestsStartInArrivalOrderWhenTheSessionIsIdle) {
    BgSession& session = addSession(device, link);
    addCharacteristic(session, 0, 0x0010, uuid16(0x2A37));
    ASSERT_TRUE(conduit.findServices(device));
    takeWritten();
    const uint8_t data[] = {0xAB};
    ASSERT_TRUE(conduit.write(device, 0, data, 1, true));
    ASSERT_TRUE(conduit.findServices(device));
    EXPECT_TRUE(takeWritten().empty());

    conduit.startWaitingRequests();
    EXPECT_TRUE(takeWritten().empty()) << "nothing starts while the session is busy";

    deliver(procedureCompleted(link, 0, 0xFFFF)); // the discovery ends
    EXPECT_EQ(session.state, SessionState::Writing);
    // attclient_attribute_write: connection 3, handle 0x0010, one byte.
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x05, 0x04, 0x05, 0x03, 0x10, 0x00, 0x01, 0xAB}));
    ASSERT_EQ(session.waiting.size(), 1U);

    deliver(attclientResponse(5, link, 0x0181)); // the write fails
    EXPECT_EQ(session.state, SessionState::FindingServices);
    EXPECT_TRUE(session.waiting.empty());
    // attclient_read_by_group_type over all handles for primary services.
    EXPECT_EQ(takeWritten(),
              (Bytes{0x00, 0x08, 0x04, 0x01, 0x03, 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x28}));
}

TEST_F(ConduitBgOperationsTest, ThirtyTwoWaitAtMostAndALeavingClientsAreRemoved) {
    BgSession& session = addSession(device, link);
    session.state = SessionState::FindingServices;
    for (uint64_t i = 0; i < maxWaitingPerDevice; ++i) {
        conduit.requester = 1 + i % 2;
        ASSERT_TRUE(conduit.findServices(device)) << i;
    }
    EXPECT_FALSE(conduit.findServices(device));
    EXPECT_EQ(logCount(mark, "BG conduit: 32 requests wait for this session already, request "
                             "refused\n"),
              1);

    conduit.forgetRequester(1);
    ASSERT_EQ(session.waiting.size(), 16U);
    for (const WaitingRequest& request : session.waiting) {
        EXPECT_EQ(request.requester, 2U);
    }
}

TEST_F(ConduitBgOperationsTest, UnknownIndexesRefuseWritesAndDropReadsAndSubscriptions) {
    BgSession& session = addSession(device, link);
    addCharacteristic(session, 0, 0x0010, uuid16(0x2A37));
    const uint8_t data[] = {1};

    EXPECT_FALSE(conduit.write(device, 7, data, 1, true));
    EXPECT_EQ(logCount(mark, "BG conduit: in write, missing characteristic\n"), 1);
    EXPECT_TRUE(conduit.read(device, 7));
    EXPECT_TRUE(conduit.notify(device, 7));
    EXPECT_TRUE(conduit.indicate(device, 7));
    EXPECT_TRUE(conduit.unsubscribe(device, 7));
    for (const char* operation : {"read", "notify", "indicate", "unsubscribe"}) {
        EXPECT_EQ(logCount(mark, std::string("BG conduit: in ") + operation +
                                     ", missing characteristic\n"),
                  1)
            << operation;
    }
    EXPECT_TRUE(takeWritten().empty());
    EXPECT_TRUE(writeQueue.empty());
    EXPECT_EQ(session.charHandleByIndex.size(), 1U) << "a look-up must not insert an index";
    EXPECT_EQ(session.state, SessionState::Idle);
}

TEST_F(ConduitBgOperationsTest, FindServicesAsksForPrimaryServicesOverAllHandles) {
    BgSession& session = addSession(device, link);

    EXPECT_TRUE(conduit.findServices(device));

    EXPECT_EQ(session.state, SessionState::FindingServices);
    // attclient_read_by_group_type: connection, start 1, end 0xFFFF, group type 0x2800.
    EXPECT_EQ(takeWritten(),
              (Bytes{0x00, 0x08, 0x04, 0x01, 0x03, 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x28}));
    EXPECT_EQ(line->cancels(), 1) << "the reader is kicked";
}

TEST_F(ConduitBgOperationsTest, CharacteristicLookUpsGoFromTheLastUuidAndIn128BitForm) {
    BgSession& session = addSession(device, link);
    const UuidRecord first = uuid128(0x10);
    const UuidRecord last = uuid16(0x2A37);

    EXPECT_TRUE(conduit.findCharsAndDescs(device, {first, last}));

    EXPECT_EQ(session.state, SessionState::FindingChars);
    ASSERT_EQ(session.pendingUuids.size(), 2U);
    // attclient_read_by_type: header length 6 + 16, the fixed part ending in the length
    // 16, then 0x2A37 in the base UUID, least significant byte first.
    const Bytes expandedLast{0xFB, 0x34, 0x9B, 0x5F, 0x80, 0x00, 0x00, 0x80,
                             0x00, 0x10, 0x00, 0x00, 0x37, 0x2A, 0x00, 0x00};
    EXPECT_EQ(line->writes(),
              (std::vector<Bytes>{{0x00, 0x16, 0x04, 0x02, 0x03, 0x01, 0x00, 0xFF, 0xFF, 0x10},
                                  expandedLast}));

    session.pendingUuids.pop_back();
    line->clearWrites();
    EXPECT_TRUE(conduit.lookUpNextCharacteristic(session, link));
    Bytes reversedFirst(first.bytes.rbegin(), first.bytes.rend());
    EXPECT_EQ(line->writes().at(1), reversedFirst);

    session.pendingUuids.clear();
    line->clearWrites();
    EXPECT_FALSE(conduit.lookUpNextCharacteristic(session, link));
    EXPECT_TRUE(line->writes().empty());
}

TEST_F(ConduitBgOperationsTest, IndexesCountOnAcrossDiscoveriesAndKnownHandlesKeepTheirs) {
    BgSession& session = addSession(device, link);
    session.pendingUuids = {uuid16(0x2A00)};
    for (const int32_t handle : {0x10, 0x20, 0x30}) {
        conduit.characteristicFound(session, handle);
    }
    EXPECT_EQ(session.foundHandles, (std::vector<int32_t>{0x10, 0x20, 0x30}));
    session.becomeIdle();

    session.pendingUuids = {uuid16(0x2A01)};
    conduit.characteristicFound(session, 0x40);
    conduit.characteristicFound(session, 0x20); // found again by a second discovery
    conduit.characteristicFound(session, 0x50);
    conduit.characteristicFound(session, 0x50); // reported twice within one look-up

    EXPECT_EQ(session.foundHandles, (std::vector<int32_t>{0x40, 0x20, 0x50}));
    EXPECT_EQ(session.charIndex(0x10), 0);
    EXPECT_EQ(session.charIndex(0x20), 1);
    EXPECT_EQ(session.charIndex(0x30), 2);
    EXPECT_EQ(session.charIndex(0x40), 3);
    EXPECT_EQ(session.charIndex(0x50), 4);
    EXPECT_EQ(session.charHandle(4), 0x50);
    EXPECT_EQ(session.charUuidByHandle.at(0x20), uuid16(0x2A00))
        << "keeps the UUID it was found by";
    EXPECT_EQ(session.charUuidByHandle.at(0x40), uuid16(0x2A01));
    EXPECT_EQ(session.pendingUuids.size(), 1U) << "a find does not consume the UUID";
}

TEST_F(ConduitBgOperationsTest, FindsWithoutPendingUuidOrBeyondTheIndexSpaceAreSkipped) {
    BgSession& session = addSession(device, link);
    conduit.characteristicFound(session, 0x10);
    EXPECT_TRUE(session.charIndexByHandle.empty());
    EXPECT_TRUE(session.foundHandles.empty());

    session.pendingUuids = {uuid16(0x2A00)};
    for (int32_t handle = 1; handle <= 257; ++handle) {
        conduit.characteristicFound(session, handle);
    }
    EXPECT_EQ(session.charIndexByHandle.size(), maxIndexesPerSession);
    EXPECT_EQ(session.charIndex(256), 255);
    EXPECT_FALSE(session.charIndex(257).has_value());
    EXPECT_EQ(session.charHandle(0), 1) << "index 0 is never reused";
    EXPECT_EQ(logCount(mark, "BG conduit: no characteristic index left, handle 257 skipped\n"), 1);
}

TEST_F(ConduitBgOperationsTest, GetRssiAsksForTheConnection) {
    addSession(device, link);
    EXPECT_TRUE(conduit.getRssi(device));
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x01, 0x03, 0x01, 0x03}));
}

} // namespace
