// The packer: the exact bytes of every command the service sends, the 11-bit length with
// array data, and the arguments it refuses.
#include "conduit/bgapi/bgapi_pack.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Written {
    Bytes packet; // header and fixed payload, written first
    Bytes data;   // array data, written separately
};

std::vector<Written> written;

void capture(uint8_t length, const uint8_t* packet, uint16_t dataLength, const uint8_t* data) {
    Written entry{Bytes(packet, packet + length), {}};
    if (dataLength != 0) {
        entry.data.assign(data, data + dataLength);
    }
    written.push_back(entry);
}

class BgapiPack : public testing::Test {
protected:
    void SetUp() override {
        written.clear();
        bgOutput = capture;
    }
    void TearDown() override { bgOutput = nullptr; }

    // The one packet written since SetUp.
    static const Written& only() {
        EXPECT_EQ(written.size(), 1U);
        static const Written none;
        return written.empty() ? none : written.front();
    }
};

TEST_F(BgapiPack, CommandsWithoutParametersAreTheHeaderAlone) {
    ASSERT_TRUE(sendCommand(BgMessage::CmdSystemHello));
    ASSERT_TRUE(sendCommand(BgMessage::CmdGapEndProcedure));
    ASSERT_EQ(written.size(), 2U);
    EXPECT_EQ(written[0].packet, (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(written[1].packet, (Bytes{0x00, 0x00, 0x06, 0x04}));
    EXPECT_TRUE(written[0].data.empty());
    EXPECT_TRUE(written[1].data.empty());
}

TEST_F(BgapiPack, SystemAndConnectionCommands) {
    const uint32_t connection = 0x0107; // held widened; only the low byte goes out
    ASSERT_TRUE(sendCommand(BgMessage::CmdSystemReset, 0));
    ASSERT_TRUE(sendCommand(BgMessage::CmdConnectionDisconnect, connection));
    ASSERT_TRUE(sendCommand(BgMessage::CmdConnectionGetRssi, 3));
    ASSERT_EQ(written.size(), 3U);
    EXPECT_EQ(written[0].packet, (Bytes{0x00, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(written[1].packet, (Bytes{0x00, 0x01, 0x03, 0x00, 0x07}));
    EXPECT_EQ(written[2].packet, (Bytes{0x00, 0x01, 0x03, 0x01, 0x03}));
}

TEST_F(BgapiPack, GapCommands) {
    ASSERT_TRUE(sendCommand(BgMessage::CmdGapDiscover, 2));
    ASSERT_TRUE(sendCommand(BgMessage::CmdGapSetScanParameters, 2000, 2000, 1));
    ASSERT_EQ(written.size(), 2U);
    EXPECT_EQ(written[0].packet, (Bytes{0x00, 0x01, 0x06, 0x02, 0x02}));
    EXPECT_EQ(written[1].packet, (Bytes{0x00, 0x05, 0x06, 0x07, 0xD0, 0x07, 0xD0, 0x07, 0x01}));
}

TEST_F(BgapiPack, ConnectDirectCarriesTheAddressAsGivenThenFourLittleEndianWords) {
    const uint8_t address[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    ASSERT_TRUE(
        sendCommand(BgMessage::CmdGapConnectDirect, address, 0, 0x0010, 0x0020, 0x0C80, 0x0102));
    const Written& packet = only();
    EXPECT_EQ(packet.packet, (Bytes{0x00, 0x0F, 0x06, 0x03,                   // header
                                    0x11, 0x22, 0x33, 0x44, 0x55, 0x66,       // address
                                    0x00,                                     // public
                                    0x10, 0x00, 0x20, 0x00, 0x80, 0x0C, 0x02, // intervals,
                                    0x01}));                                  // timeout, latency
    EXPECT_EQ(packet.packet.size(), 4U + 15U);
    EXPECT_TRUE(packet.data.empty());
}

TEST_F(BgapiPack, WriteCommandSendsItsDataAfterThePacket) {
    const uint8_t data[2] = {0x01, 0x00};
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientWriteCommand, 0, 0x0025, 2, data));
    const Written& packet = only();
    EXPECT_EQ(packet.packet, (Bytes{0x00, 0x06, 0x04, 0x06, 0x00, 0x25, 0x00, 0x02}));
    EXPECT_EQ(packet.data, (Bytes{0x01, 0x00}));
}

TEST_F(BgapiPack, ReadByTypeWithA128BitUuid) {
    Bytes uuid(16);
    for (size_t i = 0; i < uuid.size(); ++i) {
        uuid[i] = static_cast<uint8_t>(0xA0 + i);
    }
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientReadByType, 1, 1, 0xFFFF, 16, uuid.data()));
    const Written& packet = only();
    EXPECT_EQ(packet.packet, (Bytes{0x00, 22, 0x04, 0x02, 0x01, 0x01, 0x00, 0xFF, 0xFF, 16}));
    EXPECT_EQ(packet.data, uuid);
}

TEST_F(BgapiPack, AttributeCommands) {
    const uint8_t primaryService[2] = {0x00, 0x28};
    const uint8_t value[3] = {0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(
        sendCommand(BgMessage::CmdAttclientReadByGroupType, 2, 1, 0xFFFF, 2, primaryService));
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientReadByHandle, 2, 0x0123));
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientAttributeWrite, 2, 0x0030, 3, value));
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientPrepareWrite, 2, 0x0030, 18, 3, value));
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientExecuteWrite, 2, 1));
    ASSERT_EQ(written.size(), 5U);
    EXPECT_EQ(written[0].packet, (Bytes{0x00, 0x08, 0x04, 0x01, 0x02, 0x01, 0x00, 0xFF, 0xFF, 2}));
    EXPECT_EQ(written[0].data, (Bytes{0x00, 0x28}));
    EXPECT_EQ(written[1].packet, (Bytes{0x00, 0x03, 0x04, 0x04, 0x02, 0x23, 0x01}));
    EXPECT_EQ(written[2].packet, (Bytes{0x00, 0x07, 0x04, 0x05, 0x02, 0x30, 0x00, 3}));
    EXPECT_EQ(written[2].data, (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(written[3].packet, (Bytes{0x00, 0x09, 0x04, 0x09, 0x02, 0x30, 0x00, 18, 0x00, 3}));
    EXPECT_EQ(written[3].data, (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(written[4].packet, (Bytes{0x00, 0x02, 0x04, 0x0A, 0x02, 0x01}));
}

TEST_F(BgapiPack, EmptyArrayWritesItsZeroLengthAndNoData) {
    ASSERT_TRUE(sendCommand(BgMessage::CmdAttclientWriteCommand, 1, 0x0010, 0, nullptr));
    const Written& packet = only();
    EXPECT_EQ(packet.packet, (Bytes{0x00, 0x04, 0x04, 0x06, 0x01, 0x10, 0x00, 0x00}));
    EXPECT_TRUE(packet.data.empty());
}

TEST_F(BgapiPack, ArrayDataBeyond255BytesCarryIntoTheHeaderFirstByte) {
    const Bytes data(255, 0x5A);
    ASSERT_TRUE(sendCommand(BgMessage::CmdSystemEndpointTx, 4, 255, data.data()));
    const Written& packet = only();
    // 2 fixed bytes + 255 data bytes = 257 = 0x101.
    EXPECT_EQ(packet.packet, (Bytes{0x01, 0x01, 0x00, 0x09, 0x04, 0xFF}));
    EXPECT_EQ(packet.data, data);
}

TEST_F(BgapiPack, SignedAndWideIntegersKeepTheirLowBytes) {
    ASSERT_TRUE(sendCommand(BgMessage::CmdSystemReadMemory, 0x89ABCDEF, -1));
    EXPECT_EQ(only().packet, (Bytes{0x00, 0x05, 0x00, 0x07, 0xEF, 0xCD, 0xAB, 0x89, 0xFF}));
}

TEST_F(BgapiPack, RefusesArgumentsThatDoNotFitAndSendsNothing) {
    const uint8_t data[2] = {1, 2};
    const uint8_t address[6] = {};
    const Bytes tooLong(256, 0);
    EXPECT_FALSE(sendCommand(BgMessage::CmdConnectionDisconnect)) << "too few";
    EXPECT_FALSE(sendCommand(BgMessage::CmdSystemHello, 1)) << "too many";
    EXPECT_FALSE(sendCommand(BgMessage::CmdConnectionDisconnect, data)) << "pointer for integer";
    EXPECT_FALSE(sendCommand(BgMessage::CmdGapConnectDirect, 0, 0, 6, 6, 100, 0))
        << "integer for address";
    EXPECT_FALSE(sendCommand(BgMessage::CmdGapConnectDirect, nullptr, 0, 6, 6, 100, 0))
        << "null address";
    EXPECT_FALSE(sendCommand(BgMessage::CmdAttclientWriteCommand, 0, 0x25, data, 2))
        << "pointer before length";
    EXPECT_FALSE(sendCommand(BgMessage::CmdAttclientWriteCommand, 0, 0x25, 2, nullptr))
        << "null data with a length";
    EXPECT_FALSE(sendCommand(BgMessage::CmdAttclientWriteCommand, 0, 0x25, 256, tooLong.data()))
        << "longer than a 1-byte length field";
    EXPECT_FALSE(sendCommand(BgMessage::RspSystemHello)) << "a response is not a command";
    EXPECT_FALSE(sendCommand(BgMessage::EvtConnectionStatus, 0, 0, address, 0, 0, 0, 0, 0))
        << "an event is not a command";
    EXPECT_TRUE(written.empty());
}

TEST(BgapiPackWithoutOutput, SendsNothingAndStillAcceptsTheCommand) {
    ASSERT_EQ(bgOutput, nullptr);
    EXPECT_TRUE(sendCommand(BgMessage::CmdSystemHello));
}

} // namespace
