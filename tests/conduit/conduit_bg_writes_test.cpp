// ConduitBg writes: the three write procedures and the write queue, with writers kept
// apart. Responses to write commands are stood in for by advanceWriteQueue, which their
// handler calls.
#include "conduit_bg_test_support.h"

#include "gob/gob_events.h"

#include <gtest/gtest.h>

namespace {

const BleAddress device = testAddress(0xB1, 0x01);
const BleAddress other = testAddress(0xB2, 0x02);
constexpr int32_t link = 3;
constexpr int32_t otherLink = 4;
constexpr int32_t valueHandle = 0x0010;

// attclient_write_command on `connection` to `handle` carrying `data`.
Bytes writeCommand(int32_t connection, uint16_t handle, const Bytes& data) {
    return join({{0x00, static_cast<uint8_t>(4 + data.size()), 0x04, 0x06,
                  static_cast<uint8_t>(connection)},
                 le16(handle),
                 {static_cast<uint8_t>(data.size())},
                 data});
}

class ConduitBgWritesTest : public ConduitBgTest {
protected:
    ConduitBgWritesTest() {
        BgSession& first = addSession(device, link);
        addCharacteristic(first, 0, valueHandle, uuid16(0x2A37));
        BgSession& second = addSession(other, otherLink);
        addCharacteristic(second, 0, 0x0030, uuid16(0x2A38));
    }

    BgSession& session() { return conduit.sessions.at(link); }
    Bytes writeDone(const BleAddress& address) { return gobBytes(buildWriteDoneGob, address); }
};

TEST_F(ConduitBgWritesTest, AWriteWithResponseOfUpTo20BytesIsOneAttributeWrite) {
    const Bytes value = counting(20, 1);

    EXPECT_TRUE(conduit.write(device, 0, value.data(), 20, true));

    EXPECT_EQ(session().state, SessionState::Writing);
    EXPECT_EQ(takeWritten(), join({{0x00, 0x18, 0x04, 0x05, 0x03, 0x10, 0x00, 0x14}, value}));
}

TEST_F(ConduitBgWritesTest, AnEmptyWriteIsOneCommandWithoutData) {
    EXPECT_TRUE(conduit.write(device, 0, nullptr, 0, true));
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x04, 0x04, 0x05, 0x03, 0x10, 0x00, 0x00}));
}

TEST_F(ConduitBgWritesTest, ALongerWriteWithResponseGoesInPreparedPiecesOf18Bytes) {
    const Bytes value = counting(21, 1);

    EXPECT_TRUE(conduit.write(device, 0, value.data(), 21, true));

    EXPECT_EQ(session().state, SessionState::LongWriting);
    EXPECT_EQ(session().writeOffset, 18U);
    // attclient_prepare_write: connection, handle, offset 0, 18 bytes.
    EXPECT_EQ(takeWritten(), join({{0x00, 0x18, 0x04, 0x09, 0x03, 0x10, 0x00, 0x00, 0x00, 0x12},
                                   slice(value, 0, 18)}));

    conduit.sendNextPrepareWrite(link, valueHandle, session());
    EXPECT_EQ(takeWritten(), join({{0x00, 0x09, 0x04, 0x09, 0x03, 0x10, 0x00, 0x12, 0x00, 0x03},
                                   slice(value, 18, 3)}));
    EXPECT_EQ(session().writeBytesLeft(), 0U);
}

TEST_F(ConduitBgWritesTest, ALongWriteBeyondTheOffsetFieldIsRefused) {
    const Bytes value(0x10000, 0xAB);
    EXPECT_FALSE(conduit.write(device, 0, value.data(), static_cast<uint32_t>(value.size()), true));
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_TRUE(takeWritten().empty());
}

TEST_F(ConduitBgWritesTest, AnUnacknowledgedWriteIsAChainOfCommandsEachSentWhenTheLastIsAnswered) {
    const Bytes value = counting(45, 1);

    EXPECT_TRUE(conduit.write(device, 0, value.data(), 45, false));
    EXPECT_EQ(session().state, SessionState::WritingNoResponse);
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(value, 0, 20)));

    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(value, 20, 20)));
    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(value, 40, 5)));
    EXPECT_TRUE(conduit.posted.empty());

    conduit.advanceWriteQueue();
    EXPECT_TRUE(takeWritten().empty());
    EXPECT_TRUE(writeQueue.empty());
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone(device)});
}

TEST_F(ConduitBgWritesTest, SubscriptionsWriteTheConfigurationAfterTheValueOneAtATime) {
    EXPECT_TRUE(conduit.notify(device, 0));
    EXPECT_TRUE(conduit.indicate(device, 0));
    EXPECT_TRUE(conduit.unsubscribe(other, 0));

    // Only the first goes out; the others wait for its response.
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle + 1, {0x01, 0x00}));
    EXPECT_EQ(writeQueue.size(), 3U);

    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle + 1, {0x02, 0x00}));
    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(otherLink, 0x0031, {0x00, 0x00}));
    conduit.advanceWriteQueue();

    EXPECT_TRUE(takeWritten().empty());
    EXPECT_EQ(conduit.posted,
              (std::vector<Bytes>{writeDone(device), writeDone(device), writeDone(other)}));
    EXPECT_EQ(session().state, SessionState::Idle);
}

TEST_F(ConduitBgWritesTest, ASubscriptionDuringAnUnacknowledgedWriteNeitherResendsNorRedirectsIt) {
    const Bytes value = counting(45, 1);
    ASSERT_TRUE(conduit.write(device, 0, value.data(), 45, false));
    ASSERT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(value, 0, 20)));

    ASSERT_TRUE(conduit.notify(device, 0));
    EXPECT_TRUE(takeWritten().empty()) << "the chain's piece still waits for its response";

    conduit.advanceWriteQueue(); // the first piece is answered: the subscription is next
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle + 1, {0x01, 0x00}));
    conduit.advanceWriteQueue(); // the subscription is answered: it ends only itself
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone(device)});
    EXPECT_EQ(session().state, SessionState::WritingNoResponse);
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(value, 20, 20)));

    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(value, 40, 5)));
    conduit.advanceWriteQueue();
    EXPECT_EQ(conduit.posted, (std::vector<Bytes>{writeDone(device), writeDone(device)}));
    EXPECT_EQ(session().state, SessionState::Idle);
    EXPECT_TRUE(writeQueue.empty());
}

TEST_F(ConduitBgWritesTest, ASubscriptionAcknowledgementLeavesAnotherProcedureRunning) {
    session().state = SessionState::FindingChars;
    session().pendingUuids = {uuid16(0x2A39)};

    ASSERT_TRUE(conduit.notify(device, 0));
    conduit.advanceWriteQueue();

    EXPECT_EQ(conduit.posted, std::vector<Bytes>{writeDone(device)});
    EXPECT_EQ(session().state, SessionState::FindingChars);
    EXPECT_EQ(session().pendingUuids.size(), 1U);
}

TEST_F(ConduitBgWritesTest, ChainsOfTwoConnectionsTakeTurnsOnTheQueue) {
    const Bytes first = counting(25, 1);
    const Bytes second = counting(22, 0x80);
    ASSERT_TRUE(conduit.write(device, 0, first.data(), 25, false));
    ASSERT_TRUE(conduit.write(other, 0, second.data(), 22, false));
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(first, 0, 20)));

    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(otherLink, 0x0030, slice(second, 0, 20)));
    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(link, valueHandle, slice(first, 20, 5)));
    conduit.advanceWriteQueue();
    EXPECT_EQ(takeWritten(), writeCommand(otherLink, 0x0030, slice(second, 20, 2)));
    conduit.advanceWriteQueue();

    EXPECT_EQ(conduit.posted, (std::vector<Bytes>{writeDone(device), writeDone(other)}));
    EXPECT_TRUE(writeQueue.empty());
}

} // namespace
