// The bounded table of advertised address types.
#include "conduit/bg/address_types.h"

#include <gtest/gtest.h>

namespace {

BleAddress numbered(uint32_t number) {
    BleAddress address;
    address.bytes = {static_cast<uint8_t>(number),
                     static_cast<uint8_t>(number >> 8),
                     static_cast<uint8_t>(number >> 16),
                     0xC0,
                     0x00,
                     0x01};
    return address;
}

TEST(AddressTypes, GivesTheTypeLastSeenAndPublicForDevicesNeverSeen) {
    AddressTypes table;
    EXPECT_EQ(table.typeOf(numbered(1)), 0);
    table.seen(numbered(1), 1);
    table.seen(numbered(2), 0);
    EXPECT_EQ(table.typeOf(numbered(1)), 1);
    EXPECT_EQ(table.typeOf(numbered(2)), 0);
    EXPECT_EQ(table.typeOf(numbered(3)), 0);
    table.seen(numbered(1), 0); // the device now advertises a public address
    EXPECT_EQ(table.typeOf(numbered(1)), 0);
    EXPECT_EQ(table.size(), 2u);
}

TEST(AddressTypes, HoldsAtMostItsBoundAndDropsTheDeviceSeenLeastRecently) {
    AddressTypes table;
    ASSERT_EQ(AddressTypes::defaultCapacity, 1024u);
    for (uint32_t number = 0; number < 1024; ++number) {
        table.seen(numbered(number), 1);
    }
    EXPECT_EQ(table.size(), 1024u);
    // Number 0 is seen again, so number 1 is now the least recently seen.
    table.seen(numbered(0), 1);
    table.seen(numbered(5000), 1);
    EXPECT_EQ(table.size(), 1024u);
    EXPECT_EQ(table.typeOf(numbered(0)), 1);
    EXPECT_EQ(table.typeOf(numbered(1)), 0) << "dropped: connected as public";
    EXPECT_EQ(table.typeOf(numbered(2)), 1);
    EXPECT_EQ(table.typeOf(numbered(5000)), 1);

    // Three times the bound: only the last 1,024 remain.
    for (uint32_t number = 10000; number < 10000 + 3 * 1024; ++number) {
        table.seen(numbered(number), 1);
        ASSERT_LE(table.size(), 1024u);
    }
    EXPECT_EQ(table.typeOf(numbered(10000 + 2 * 1024 - 1)), 0);
    EXPECT_EQ(table.typeOf(numbered(10000 + 2 * 1024)), 1);
    EXPECT_EQ(table.typeOf(numbered(5000)), 0);
}

TEST(AddressTypes, ATableOfNoRoomRemembersNothing) {
    AddressTypes table(0);
    table.seen(numbered(1), 1);
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.typeOf(numbered(1)), 0);
}

} // namespace
