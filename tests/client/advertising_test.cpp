// Decoding of advertising data: every structure kind read, padding and broken data.
#include "linkrelay/advertising.h"
#include "linkrelay/uuid_text.h"

#include <gtest/gtest.h>

using linkrelay::AdvertisingData;
using linkrelay::decodeAdvertising;
using linkrelay::formatUuid;

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Advertising, DecodesEveryKnownStructure) {
    const Bytes data = {
        0x02, 0x01, 0x06,                   // flags
        0x05, 0x03, 0x0D, 0x18, 0x0F, 0x18, // complete 16-bit: 180d, 180f
        0x11, 0x07, 0x9E, 0xCA, 0xDC, 0x24, 0x0E, 0xE5, 0xA9,
        0xE0, 0x93, 0xF3, 0xA3, 0xB5, 0x01, 0x00, 0x40, 0x6E, // complete 128-bit, wire order
        0x05, 0x09, 'T',  'e',  'm',  'p',                    // complete name
        0x02, 0x0A, 0xF4,                                     // TX power -12
        0x05, 0xFF, 0x4C, 0x00, 0xAA, 0xBB,                   // manufacturer 0x004c
        0x03, 0x16, 0x0D, 0x18,                               // service data: passed over
    };
    const AdvertisingData ad = decodeAdvertising(data);
    EXPECT_FALSE(ad.malformed);
    EXPECT_EQ(ad.flags, 0x06);
    ASSERT_EQ(ad.serviceUuids.size(), 3u);
    EXPECT_EQ(formatUuid(ad.serviceUuids[0]), "180d");
    EXPECT_EQ(formatUuid(ad.serviceUuids[1]), "180f");
    EXPECT_EQ(formatUuid(ad.serviceUuids[2]), "6e400001-b5a3-f393-e0a9-e50e24dcca9e");
    EXPECT_EQ(ad.name(), "Temp");
    EXPECT_EQ(ad.txPower, -12);
    ASSERT_EQ(ad.manufacturerData.size(), 1u);
    EXPECT_EQ(ad.manufacturerData[0].companyId, 0x004C);
    EXPECT_EQ(ad.manufacturerData[0].bytes, (Bytes{0xAA, 0xBB}));
}

TEST(Advertising, CompleteNameWinsOverShortNameAndIncompleteListsCount) {
    const Bytes data = {0x03, 0x08, 'T',  'm', 0x03, 0x02, 0x0A,
                        0x18, 0x05, 0x09, 'T', 'e',  'm',  'p'};
    const AdvertisingData ad = decodeAdvertising(data);
    EXPECT_EQ(ad.shortName, "Tm");
    EXPECT_EQ(ad.completeName, "Temp");
    EXPECT_EQ(ad.name(), "Temp");
    ASSERT_EQ(ad.serviceUuids.size(), 1u);
    EXPECT_EQ(formatUuid(ad.serviceUuids[0]), "180a");

    const AdvertisingData shortOnly = decodeAdvertising(Bytes{0x03, 0x08, 'T', 'm'});
    EXPECT_EQ(shortOnly.name(), "Tm");
    EXPECT_FALSE(decodeAdvertising(Bytes{}).name());
}

TEST(Advertising, ZeroLengthEndsTheSignificantPart) {
    const AdvertisingData ad = decodeAdvertising(Bytes{0x02, 0x01, 0x05, 0x00, 0x02, 0x0A, 0x00});
    EXPECT_FALSE(ad.malformed);
    EXPECT_EQ(ad.flags, 0x05);
    EXPECT_FALSE(ad.txPower);
}

TEST(Advertising, BrokenStructuresAreReportedAndEarlierFieldsKept) {
    const AdvertisingData cut = decodeAdvertising(Bytes{0x02, 0x01, 0x06, 0x05, 0x09, 'a'});
    EXPECT_TRUE(cut.malformed);
    EXPECT_EQ(cut.flags, 0x06);
    EXPECT_FALSE(cut.name());

    // An odd byte count in a 16-bit list, a two-byte TX power, a one-byte manufacturer.
    for (const Bytes& bad : {Bytes{0x04, 0x03, 0x0D, 0x18, 0x0F}, Bytes{0x03, 0x0A, 0x01, 0x02},
                             Bytes{0x02, 0xFF, 0x4C}, Bytes{0x01, 0x01}}) {
        const AdvertisingData ad = decodeAdvertising(bad);
        EXPECT_TRUE(ad.malformed);
        EXPECT_TRUE(ad.serviceUuids.empty());
        EXPECT_FALSE(ad.txPower);
        EXPECT_TRUE(ad.manufacturerData.empty());
        EXPECT_FALSE(ad.flags);
    }
}

} // namespace
