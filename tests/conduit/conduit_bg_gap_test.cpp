// The GAP queue: one operation at a time, completion by type (and, for connects and
// disconnects, by address), the connect time limit on an injected clock, and the
// immediate answer for a disconnect without a connection.
#include "conduit_bg_test_support.h"

#include "gob/gob_events.h"

#include <gtest/gtest.h>

namespace {

const BleAddress device = testAddress(0xC1, 0x01);
const BleAddress stranger = testAddress(0xC2, 0x02);

const Bytes gapDiscover{0x00, 0x01, 0x06, 0x02, 0x02};
const Bytes gapEndProcedure{0x00, 0x00, 0x06, 0x04};

// gap_connect_direct to `device` with the four 16-bit values and an address type.
Bytes connectDirect(const BleAddress& address, uint16_t min, uint16_t max, uint16_t timeout,
                    uint16_t latency, uint8_t addressType = 0) {
    return join({{0x00, 0x0F, 0x06, 0x03},
                 Bytes(address.bytes.begin(), address.bytes.end()),
                 {addressType},
                 le16(min),
                 le16(max),
                 le16(timeout),
                 le16(latency)});
}

using ConduitBgGapTest = ConduitBgTest;

TEST_F(ConduitBgGapTest, TwoScanStartsRunOneAfterTheOtherEachCompletedByItsOwnResponse) {
    EXPECT_TRUE(conduit.startScan());
    EXPECT_TRUE(conduit.startScan());
    EXPECT_TRUE(conduit.scanWanted);
    EXPECT_EQ(conduit.gapOps.size(), 2U);
    EXPECT_EQ(line->cancels(), 2) << "each operation kicks the reader";

    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), gapDiscover);
    EXPECT_EQ(logCount(mark, "BG conduit: GAP op starting scan\n"), 1);
    conduit.runGapStep();
    EXPECT_TRUE(takeWritten().empty()) << "the started head waits for its completion";

    EXPECT_TRUE(conduit.completeGapOp(GapOpType::StartScan));
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op start scan\n"), 1);
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), gapDiscover);
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::StartScan));
    EXPECT_TRUE(conduit.gapOps.empty());
    EXPECT_FALSE(conduit.completeGapOp(GapOpType::StartScan));
}

TEST_F(ConduitBgGapTest, StopScanSendsEndProcedureAndIsCompletedOnlyAsStopScan) {
    EXPECT_TRUE(conduit.startScan());
    EXPECT_TRUE(conduit.stopScan());
    EXPECT_FALSE(conduit.scanWanted);
    conduit.runGapStep();
    takeWritten();

    EXPECT_FALSE(conduit.completeGapOp(GapOpType::StopScan)) << "the head is the scan start";
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::StartScan));
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), gapEndProcedure);
    EXPECT_EQ(logCount(mark, "BG conduit: GAP op stopping scan\n"), 1);
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::StopScan));
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op stop scan\n"), 1);
}

TEST_F(ConduitBgGapTest, AConnectWhileScanningIsFollowedByAScanRestart) {
    conduit.scanWanted = true;

    EXPECT_TRUE(conduit.connect(device, 6, 24, 100, 2));
    ASSERT_EQ(conduit.gapOps.size(), 2U);
    EXPECT_EQ(conduit.gapOps.back().type, GapOpType::StartScan);

    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), connectDirect(device, 6, 24, 100, 2));
    EXPECT_NE(logSince(mark).find("BG conduit: GAP op connecting to address: c1 02 03 04 05 01 \n"),
              std::string::npos);
    EXPECT_EQ(conduit.gapOps.front().startTime, conduit.now);

    EXPECT_FALSE(conduit.completeGapOp(GapOpType::StartScan));
    EXPECT_FALSE(conduit.completeGapOp(GapOpType::Connect, &stranger))
        << "another address's connection does not complete this connect";
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::Connect, &device));
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op connection\n"), 1);

    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), gapDiscover);
}

// gap_scan_response from `address` with its address type and one byte of data.
Bytes scanResponse(const BleAddress& address, uint8_t addressType) {
    return event(6, 0,
                 join({{0xC8, 0x00},
                       Bytes(address.bytes.begin(), address.bytes.end()),
                       {addressType, 0xFF, 0x01, 0xAB}}));
}

TEST_F(ConduitBgGapTest, AConnectNamesTheAddressTypeLastSeenInAScanElsePublic) {
    deliver(scanResponse(device, 1));
    // The scan result is the gob it always was: the type is not part of it.
    EXPECT_EQ(conduit.posted,
              (std::vector<Bytes>{gobBytes(buildScanResultGob, device, Bytes{0xAB}.data(),
                                           uint32_t{1}, int8_t{-56})}));

    EXPECT_TRUE(conduit.connect(device, 6, 24, 100, 0));
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), connectDirect(device, 6, 24, 100, 0, 1));
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::Connect, &device));

    EXPECT_TRUE(conduit.connect(stranger, 6, 24, 100, 0));
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), connectDirect(stranger, 6, 24, 100, 0, 0)) << "never seen: public";
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::Connect, &stranger));

    deliver(scanResponse(device, 0)); // it advertises a public address now
    EXPECT_TRUE(conduit.connect(device, 6, 24, 100, 0));
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), connectDirect(device, 6, 24, 100, 0, 0));
    EXPECT_EQ(logCount(mark, "BG conduit: GAP op connecting to address: c1 02 03 04 05 01 \n"), 2)
        << "the log lines are as before";
}

TEST_F(ConduitBgGapTest, TheServiceRemembersTheTypesOf1024DevicesDroppingTheLeastRecentlySeen) {
    // Devices 0 to 1,024, each advertising a random address; 0 is seen again just
    // before the last one arrives, so 1 is then the one seen least recently.
    const auto numbered = [](int n) {
        return testAddress(static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8));
    };
    for (int n = 0; n < 1024; ++n) {
        deliver(scanResponse(numbered(n), 1));
    }
    deliver(scanResponse(numbered(0), 1));
    deliver(scanResponse(numbered(1024), 1));
    EXPECT_EQ(conduit.posted.size(), 1026U) << "every scan response still reaches clients";

    struct Case {
        int device;
        uint8_t expectedType;
    };
    for (const Case& c : {Case{0, 1}, Case{1, 0}, Case{2, 1}, Case{1023, 1}, Case{1024, 1}}) {
        SCOPED_TRACE(c.device);
        const BleAddress address = numbered(c.device);
        ASSERT_TRUE(conduit.connect(address, 6, 24, 100, 0));
        conduit.runGapStep();
        EXPECT_EQ(takeWritten(), connectDirect(address, 6, 24, 100, 0, c.expectedType));
        ASSERT_TRUE(conduit.completeGapOp(GapOpType::Connect, &address));
    }
}

TEST_F(ConduitBgGapTest, ConnectsAreAbandonedAfterSixIntervalsAndASecondInWholeSeconds) {
    struct Case {
        uint16_t intervalMax;
        uint64_t limitMs;
        int64_t abandonedAfter; // whole seconds
    };
    for (const Case& c :
         {Case{6, 1042, 2}, Case{24, 1180, 2}, Case{80, 1600, 2}, Case{800, 7000, 8}}) {
        SCOPED_TRACE(c.intervalMax);
        EXPECT_EQ(connectTimeLimitMs(c.intervalMax), c.limitMs);
        conduit.gapOps.clear();
        const int64_t sent = conduit.now;
        ASSERT_TRUE(conduit.connect(device, 6, c.intervalMax, 100, 0));
        ASSERT_TRUE(conduit.stopScan());
        conduit.runGapStep();
        takeWritten();

        conduit.now = sent + c.abandonedAfter - 1;
        conduit.runGapStep();
        EXPECT_EQ(conduit.gapOps.front().type, GapOpType::Connect);
        EXPECT_TRUE(takeWritten().empty());

        const std::size_t before = logMark();
        conduit.now = sent + c.abandonedAfter;
        conduit.runGapStep();
        EXPECT_EQ(logCount(before, "BG conduit: aborted gap op connect\n"), 1);
        // The dongle is taken out of its connecting state before anything else starts.
        EXPECT_EQ(takeWritten(), gapEndProcedure);
        EXPECT_EQ(conduit.gapOps.front().type, GapOpType::EndConnect);
        conduit.runGapStep();
        EXPECT_TRUE(takeWritten().empty());
        EXPECT_TRUE(conduit.posted.empty()) << "an abandoned connect posts nothing";

        EXPECT_TRUE(conduit.completeGapOp(GapOpType::EndConnect));
        conduit.runGapStep(); // the scan stop behind it starts now
        EXPECT_EQ(logCount(before, "BG conduit: GAP op stopping scan\n"), 1);
        conduit.posted.clear();
    }
}

TEST_F(ConduitBgGapTest, AHugeIntervalIsLimitedByThe16BitValueSent) {
    constexpr uint32_t requested = 0x0001FFFF; // goes out as 0xFFFF
    ASSERT_TRUE(conduit.connect(device, 6, requested, 100, 0));
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), connectDirect(device, 6, 0xFFFF, 100, 0));
    EXPECT_EQ(connectTimeLimitMs(requested), 492508U);

    const int64_t sent = conduit.now;
    conduit.now = sent + 492;
    conduit.runGapStep();
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::Connect);
    conduit.now = sent + 493;
    conduit.runGapStep();
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::EndConnect);
}

TEST_F(ConduitBgGapTest, OnlyAStartedConnectHasATimeLimit) {
    ASSERT_TRUE(conduit.startScan());
    conduit.runGapStep();
    conduit.now += 1'000'000;
    conduit.runGapStep();
    EXPECT_EQ(conduit.gapOps.size(), 1U);
    EXPECT_TRUE(conduit.gapOps.front().started);

    conduit.now = 10; // a clock that went back abandons nothing either
    ASSERT_TRUE(conduit.completeGapOp(GapOpType::StartScan));
    ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0));
    conduit.runGapStep();
    conduit.now = 5;
    conduit.runGapStep();
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::Connect);
}

TEST_F(ConduitBgGapTest, ADisconnectWithoutConnectionIsAnsweredAtOnceOutsideTheQueue) {
    ASSERT_TRUE(conduit.startScan());
    ASSERT_TRUE(conduit.disconnect(stranger));

    EXPECT_EQ(logCount(mark, "BG conduit: Zuna was not connected to this QAP\n"), 1);
    EXPECT_EQ(conduit.posted,
              std::vector<Bytes>{gobBytes(buildDisconnectedGob, stranger, uint8_t{0})});
    ASSERT_EQ(conduit.gapOps.size(), 1U) << "nothing waits behind the scan";
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), gapDiscover);

    // A thousand of them never reach the queue: the next operation is not delayed.
    ASSERT_TRUE(conduit.completeGapOp(GapOpType::StartScan));
    conduit.posted.clear();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(conduit.disconnect(stranger));
    }
    EXPECT_EQ(conduit.posted.size(), 1000U);
    EXPECT_TRUE(conduit.gapOps.empty());
    ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0));
    conduit.runGapStep();
    EXPECT_EQ(takeWritten(), connectDirect(device, 6, 6, 100, 0));
}

TEST_F(ConduitBgGapTest, ADisconnectBehindAConnectOfItsAddressWaitsForIt) {
    ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0));
    ASSERT_TRUE(conduit.disconnect(device));
    EXPECT_TRUE(conduit.posted.empty());
    ASSERT_EQ(conduit.gapOps.size(), 2U);
    EXPECT_EQ(conduit.gapOps.back().type, GapOpType::Disconnect);
}

// Each client may have 8 operations queued; the service's own are not counted, and a
// client's connects and disconnects go when it leaves, except one already started.
TEST_F(ConduitBgGapTest, EachClientHasAtMostEightQueuedAndLosesThemWhenItLeaves) {
    conduit.connections[stranger] = 7;
    conduit.requester = 1;
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(conduit.connect(device, 6, 6, 100, 0)) << i;
    }
    EXPECT_FALSE(conduit.disconnect(stranger));
    EXPECT_FALSE(conduit.startScan());
    EXPECT_EQ(
        logCount(mark, "BG conduit: 8 GAP operations queued for this client, request refused\n"),
        2);
    conduit.requester = 2;
    ASSERT_TRUE(conduit.disconnect(stranger)) << "another client has room of its own";
    conduit.requester = 0;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(conduit.disconnect(stranger)) << "the service is not counted";
    }
    conduit.runGapStep(); // client 1's first connect starts
    takeWritten();

    conduit.forgetRequester(1);
    ASSERT_EQ(conduit.gapOps.size(), 12U);
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::Connect) << "the started one stays";
    EXPECT_TRUE(conduit.gapOps.front().started);
    EXPECT_EQ(gapOpsOf(conduit.gapOps, 1), 1U);
    EXPECT_EQ(gapOpsOf(conduit.gapOps, 2), 1U);

    // Scan starts and stops carry the scan every scanning client shares: they stay.
    conduit.requester = 3;
    ASSERT_TRUE(conduit.startScan());
    ASSERT_TRUE(conduit.disconnect(stranger));
    conduit.requester = 0;
    conduit.forgetRequester(3);
    EXPECT_EQ(gapOpsOf(conduit.gapOps, 3), 1U);
    EXPECT_EQ(conduit.gapOps.back().type, GapOpType::StartScan);
}

TEST_F(ConduitBgGapTest, ADisconnectOfAConnectionAsksTheDongle) {
    conduit.connections[device] = 5;
    ASSERT_TRUE(conduit.disconnect(device));

    conduit.runGapStep();

    EXPECT_EQ(logCount(mark, "BG conduit: asking dongle to disconnect\n"), 1);
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x01, 0x03, 0x00, 0x05}));
    EXPECT_FALSE(conduit.completeGapOp(GapOpType::Disconnect, &stranger));
    EXPECT_TRUE(conduit.completeGapOp(GapOpType::Disconnect, &device));
    EXPECT_EQ(logCount(mark, "BG conduit: completed gap op disconnect\n"), 1);
}

} // namespace
