// The generated payload views: each field read at its offset in known packets, arrays
// yielding their data, and no read past the bytes received.
#include "conduit/bgapi/bgapi_payload.h"
#include "conduit/bgapi/bgapi_views.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::span<const uint8_t> span) {
    return Bytes(span.begin(), span.end());
}

std::array<uint8_t, 6> addressOf(const Bytes& bytes) {
    std::array<uint8_t, 6> address{};
    std::copy(bytes.begin(), bytes.end(), address.begin());
    return address;
}

TEST(BgapiViews, ConnectionStatusFieldsAreReadAtTheirOffsets) {
    const Bytes payload = {0x02, 0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                           0x01, 0x28, 0x00, 0x64, 0x00, 0x03, 0x00, 0xFF};
    const BgConnectionStatusEvent event{payload.data(), payload.size()};
    EXPECT_EQ(event.connection(), 0x02);
    EXPECT_EQ(event.flags(), 0x05);
    EXPECT_EQ(event.address(), addressOf({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_EQ(event.addressType(), 0x01);
    EXPECT_EQ(event.connInterval(), 0x0028);
    EXPECT_EQ(event.timeout(), 0x0064);
    EXPECT_EQ(event.latency(), 0x0003);
    EXPECT_EQ(event.bonding(), 0xFF);
}

TEST(BgapiViews, SignedAndWideFieldsAreLittleEndian) {
    const Bytes completed = {0x01, 0x05, 0x04, 0x2A, 0x00};
    const BgAttclientProcedureCompletedEvent procedure{completed.data(), completed.size()};
    EXPECT_EQ(procedure.connection(), 1);
    EXPECT_EQ(procedure.result(), 0x0405);
    EXPECT_EQ(procedure.chrhandle(), 0x002A);

    const Bytes rssi = {0x03, 0xC4};
    EXPECT_EQ((BgConnectionGetRssiResponse{rssi.data(), rssi.size()}.rssi()), -60);

    const Bytes passkey = {0x07, 0x40, 0xE2, 0x01, 0x00};
    EXPECT_EQ((BgSmPasskeyDisplayEvent{passkey.data(), passkey.size()}.passkey()), 123456U);

    const Bytes adc = {0x02, 0xFE, 0xFF};
    EXPECT_EQ((BgHardwareAdcResultEvent{adc.data(), adc.size()}.value()), -2);
}

TEST(BgapiViews, ArraysYieldTheirDataAfterTheLengthField) {
    const Bytes attributeValue = {0x00, 0x25, 0x00, 0x01, 0x03, 0x0A, 0x0B, 0x0C};
    const BgAttclientAttributeValueEvent value{attributeValue.data(), attributeValue.size()};
    EXPECT_EQ(value.atthandle(), 0x0025);
    EXPECT_EQ(value.type(), 0x01);
    EXPECT_EQ(bytesOf(value.value()), (Bytes{0x0A, 0x0B, 0x0C}));

    const Bytes groupFound = {0x00, 0x01, 0x00, 0x05, 0x00, 0x02, 0x00, 0x18};
    const BgAttclientGroupFoundEvent group{groupFound.data(), groupFound.size()};
    EXPECT_EQ(group.start(), 0x0001);
    EXPECT_EQ(group.end(), 0x0005);
    EXPECT_EQ(bytesOf(group.uuid()), (Bytes{0x00, 0x18}));

    // flash_ps_key: key, then a value array.
    const Bytes psKey = {0x10, 0x80, 0x00};
    EXPECT_TRUE((BgFlashPsKeyEvent{psKey.data(), psKey.size()}.value().empty()));
}

TEST(BgapiViews, ScanResponseDataAreCutToTheBytesReceived) {
    const Bytes whole = {0xB0, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05,
                         0x06, 0x01, 0xFF, 0x03, 0x02, 0x01, 0x06};
    const BgGapScanResponseEvent event{whole.data(), whole.size()};
    EXPECT_EQ(event.rssi(), -80);
    EXPECT_EQ(event.packetType(), 0x00);
    EXPECT_EQ(event.sender(), addressOf({0x01, 0x02, 0x03, 0x04, 0x05, 0x06}));
    EXPECT_EQ(event.addressType(), 0x01);
    EXPECT_EQ(event.bond(), 0xFF);
    EXPECT_EQ(bytesOf(event.data()), (Bytes{0x02, 0x01, 0x06}));

    const Bytes cut(whole.begin(), whole.end() - 2);
    EXPECT_EQ(bytesOf(BgGapScanResponseEvent{cut.data(), cut.size()}.data()), (Bytes{0x02}));
    const Bytes fixedOnly(whole.begin(), whole.begin() + 11);
    EXPECT_TRUE((BgGapScanResponseEvent{fixedOnly.data(), fixedOnly.size()}.data().empty()));
}

// Each payload sits at the end of its own allocation, so that a read past it is a fault
// under the address sanitizer; the fields beyond the bytes received read as 0.
TEST(BgapiViews, FieldsBeyondTheBytesReceivedReadAsZero) {
    const Bytes partial = {0x02, 0x05, 0x11, 0x22, 0x33};
    const auto held = std::make_unique<uint8_t[]>(partial.size());
    std::copy(partial.begin(), partial.end(), held.get());
    const BgConnectionStatusEvent event{held.get(), partial.size()};
    EXPECT_EQ(event.flags(), 0x05);
    EXPECT_EQ(event.address(), addressOf({0x11, 0x22, 0x33, 0x00, 0x00, 0x00}));
    EXPECT_EQ(event.connInterval(), 0);
    EXPECT_EQ(event.bonding(), 0);

    const BgAttclientAttributeValueEvent empty{nullptr, 0};
    EXPECT_EQ(empty.atthandle(), 0);
    EXPECT_TRUE(empty.value().empty());
}

// The reader hands a view only payloads that checkPayload finds whole; for those, every
// field the view reads lies within the bytes received, and the array is not cut.
TEST(BgapiViews, AWholePayloadHoldsEveryFieldOfItsView) {
    const Bytes exact = {0x00, 0x25, 0x00, 0x01, 0x02, 0x0A, 0x0B};
    const MessageDef& def = bgMessage(BgMessage::EvtAttclientAttributeValue);
    ASSERT_EQ(checkPayload(def, exact.data(), exact.size()), BgPayloadFit::Whole);
    const BgAttclientAttributeValueEvent value{exact.data(), exact.size()};
    EXPECT_EQ(value.value().size(), exact[def.fixedLength() - 1]);
    EXPECT_EQ(value.value().data(), exact.data() + def.fixedLength());
}

} // namespace
