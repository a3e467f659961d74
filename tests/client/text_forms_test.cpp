// Addresses, UUIDs and hex values in their text forms, and how they map to wire bytes.
#include "linkrelay/address_text.h"
#include "linkrelay/bytes_text.h"
#include "linkrelay/uuid_text.h"

#include <gtest/gtest.h>

using linkrelay::formatAddress;
using linkrelay::formatHexBytes;
using linkrelay::formatUuid;
using linkrelay::fullUuid;
using linkrelay::isPrintableText;
using linkrelay::parseAddress;
using linkrelay::parseHexBytes;
using linkrelay::parseUuid;
using linkrelay::sameUuid;

namespace {

TEST(AddressText, TextIsMostSignificantFirstWhileTheWireIsReversed) {
    const std::optional<BleAddress> address = parseAddress("c0:11:22:33:44:5F");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->bytes, (std::array<uint8_t, 6>{0x5F, 0x44, 0x33, 0x22, 0x11, 0xC0}));
    EXPECT_EQ(formatAddress(*address), "C0:11:22:33:44:5F");

    BleAddress wire;
    wire.bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0xA6};
    EXPECT_EQ(formatAddress(wire), "A6:05:04:03:02:01");
    EXPECT_EQ(parseAddress(formatAddress(wire)), wire);
}

TEST(AddressText, RejectsEverythingButSixColonSeparatedPairs) {
    for (const char* text :
         {"", "C0:11:22:33:44", "C0:11:22:33:44:5F:00", "C0-11-22-33-44-5F", "C0:11:22:33:44:5G",
          "C011:22:33:44:5F:", " C0:11:22:33:44:5F", "C0:11:22:33:44:5"}) {
        EXPECT_FALSE(parseAddress(text)) << text;
    }
}

TEST(UuidText, ShortAndLongFormsParseToRecordsMostSignificantFirst) {
    const std::optional<UuidRecord> shortForm = parseUuid("180D");
    ASSERT_TRUE(shortForm);
    EXPECT_EQ(shortForm->length, 2);
    EXPECT_EQ(shortForm->bytes[0], 0x18);
    EXPECT_EQ(shortForm->bytes[1], 0x0D);
    EXPECT_EQ(parseUuid("0x180d"), shortForm);

    const std::optional<UuidRecord> longForm = parseUuid("6E400001-B5A3-F393-E0A9-E50E24DCCA9E");
    ASSERT_TRUE(longForm);
    EXPECT_EQ(longForm->length, 16);
    EXPECT_EQ(longForm->bytes[0], 0x6E);
    EXPECT_EQ(longForm->bytes[15], 0x9E);
    EXPECT_EQ(parseUuid("6e400001b5a3f393e0a9e50e24dcca9e"), longForm);
    EXPECT_EQ(formatUuid(*longForm), "6e400001-b5a3-f393-e0a9-e50e24dcca9e");
    EXPECT_EQ(formatUuid(*shortForm), "180d");
}

TEST(UuidText, ShortUuidsStandForTheirPlaceInTheBaseUuid) {
    const UuidRecord shortForm = *parseUuid("180d");
    const UuidRecord longForm = *parseUuid("0000180d-0000-1000-8000-00805f9b34fb");
    EXPECT_EQ(fullUuid(shortForm), longForm);
    EXPECT_TRUE(sameUuid(shortForm, longForm));
    EXPECT_TRUE(sameUuid(longForm, shortForm));
    EXPECT_FALSE(sameUuid(shortForm, *parseUuid("180f")));
    EXPECT_FALSE(sameUuid(shortForm, *parseUuid("0000180d-0000-1000-8000-00805f9b34fc")));
}

TEST(UuidText, RejectsMalformedText) {
    for (const char* text :
         {"", "18d", "180d0", "0x", "180g", "0000180d00001000800000805f9b34f",
          "0000180d-0000-1000-8000-00805f9b34fbb", "0000180d0-000-1000-8000-00805f9b34fb",
          "0000180d-0000-1000-8000-00805f9b34fg"}) {
        EXPECT_FALSE(parseUuid(text)) << text;
    }
}

TEST(BytesText, HexRoundTripsAndPrintableTextIsRecognised) {
    const std::optional<std::vector<uint8_t>> bytes = parseHexBytes("0x00A1ff");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes, (std::vector<uint8_t>{0x00, 0xA1, 0xFF}));
    EXPECT_EQ(formatHexBytes(*bytes), "00a1ff");
    EXPECT_EQ(parseHexBytes(""), std::vector<uint8_t>{});
    EXPECT_FALSE(parseHexBytes("0x1"));
    EXPECT_FALSE(parseHexBytes("zz"));

    const std::string hello = "Hi there~";
    EXPECT_TRUE(isPrintableText(std::vector<uint8_t>(hello.begin(), hello.end())));
    EXPECT_FALSE(isPrintableText(std::vector<uint8_t>{'a', 0x00}));
    EXPECT_FALSE(isPrintableText(std::vector<uint8_t>{'a', 0x80}));
    EXPECT_FALSE(isPrintableText(std::vector<uint8_t>{}));
}

} // namespace
