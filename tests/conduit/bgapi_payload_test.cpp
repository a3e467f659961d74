// checkPayload: received bytes against a message's fixed part and trailing array.
#include "conduit/bgapi/bgapi_payload.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

BgPayloadFit check(BgMessage message, const Bytes& payload) {
    return checkPayload(bgMessage(message), payload.data(), payload.size());
}

TEST(BgapiPayload, MessagesWithoutAnArrayNeedTheirFixedPart) {
    // connection_disconnected: connection, reason (3 bytes).
    EXPECT_EQ(check(BgMessage::EvtConnectionDisconnected, {1, 0x16, 0x02}), BgPayloadFit::Whole);
    EXPECT_EQ(check(BgMessage::EvtConnectionDisconnected, {1, 0x16}),
              BgPayloadFit::FixedPartMissing);
    EXPECT_EQ(check(BgMessage::EvtConnectionDisconnected, {}), BgPayloadFit::FixedPartMissing);
    EXPECT_EQ(check(BgMessage::EvtConnectionDisconnected, {1, 0x16, 0x02, 0xEE}),
              BgPayloadFit::Whole);
    EXPECT_EQ(check(BgMessage::RspSystemHello, {}), BgPayloadFit::Whole);
}

TEST(BgapiPayload, TrailingArrayMustEndWithinTheReceivedBytes) {
    // attclient_attribute_value: connection, atthandle, type, value length, value.
    const Bytes fits = {0, 0x25, 0x00, 1, 3, 0xA, 0xB, 0xC};
    EXPECT_EQ(check(BgMessage::EvtAttclientAttributeValue, fits), BgPayloadFit::Whole);
    const Bytes oneShort(fits.begin(), fits.end() - 1);
    EXPECT_EQ(check(BgMessage::EvtAttclientAttributeValue, oneShort), BgPayloadFit::ArrayPastEnd);
    const Bytes lengthOnly = {0, 0x25, 0x00, 1, 255};
    EXPECT_EQ(check(BgMessage::EvtAttclientAttributeValue, lengthOnly), BgPayloadFit::ArrayPastEnd);
    const Bytes empty = {0, 0x25, 0x00, 1, 0};
    EXPECT_EQ(check(BgMessage::EvtAttclientAttributeValue, empty), BgPayloadFit::Whole);
    const Bytes noLengthByte = {0, 0x25, 0x00, 1};
    EXPECT_EQ(check(BgMessage::EvtAttclientAttributeValue, noLengthByte),
              BgPayloadFit::FixedPartMissing);
}

TEST(BgapiPayload, FindsTheLengthFieldBehindAnAddress) {
    // gap_scan_response: rssi, packet type, sender (6), address type, bond, data length.
    Bytes scan = {0xC4, 0, 1, 2, 3, 4, 5, 6, 0, 0xFF, 2, 0x02, 0x01};
    EXPECT_EQ(check(BgMessage::EvtGapScanResponse, scan), BgPayloadFit::Whole);
    scan[10] = 3;
    EXPECT_EQ(check(BgMessage::EvtGapScanResponse, scan), BgPayloadFit::ArrayPastEnd);
}

TEST(BgapiPayload, TwoByteArrayLengthIsLittleEndian) {
    // No message of the dongle's set carries a 2-byte-length array; a row made for the test.
    const MessageDef row{{0x80, 3, 0, 0}, 0xB2, BgMessage::EvtSystemBoot, "two_byte_array"};
    const Bytes payload = {7, 0x02, 0x01};
    EXPECT_EQ(checkPayload(row, payload.data(), payload.size()), BgPayloadFit::ArrayPastEnd);
    Bytes whole = {7, 0x03, 0x00, 1, 2, 3};
    EXPECT_EQ(checkPayload(row, whole.data(), whole.size()), BgPayloadFit::Whole);
    whole[2] = 0x01; // 0x0103 bytes announced
    EXPECT_EQ(checkPayload(row, whole.data(), whole.size()), BgPayloadFit::ArrayPastEnd);
}

} // namespace
