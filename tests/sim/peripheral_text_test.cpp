// Virtual peripherals written as text, and the attribute tables built from them.
#include "sim/gatt_database.h"
#include "sim/peripheral_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PeripheralText, DescribesAdvertisingAndAGattTable) {
    const auto peripherals = sim::parsePeripherals(R"(
# a thermometer
peripheral 11:22:33:44:55:66 Kitchen Thermometer
  address-type random
  bondable
  interval 500
  rssi -70
  adv 02 01 06 03 03 09 18
  service 1809
    characteristic 2A1C indicate value 002c0100ff
    characteristic 2A21 read write value 0a00
  service 0000aaaa-1111-2222-3333-444455556666
    characteristic 0000aaab-1111-2222-3333-444455556666 write-no-response notify echo every 200 sequence 01,02
)");
    ASSERT_EQ(peripherals.size(), 1u);
    const auto& profile = peripherals[0];
    EXPECT_EQ(profile.name, "Kitchen Thermometer");
    EXPECT_EQ(profile.address, (sim::Address{0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(profile.addressType, 1);
    EXPECT_TRUE(profile.bondable);
    EXPECT_EQ(profile.advIntervalMs, 500u);
    EXPECT_EQ(profile.rssi, -70);
    EXPECT_EQ(profile.advData, (sim::Bytes{2, 1, 6, 3, 3, 9, 0x18}));
    ASSERT_EQ(profile.services.size(), 2u);
    const auto& custom = profile.services[1].characteristics.at(0);
    EXPECT_EQ(custom.properties, sim::property::writeNoResponse | sim::property::notify);
    EXPECT_TRUE(custom.echoWrites);
    EXPECT_EQ(custom.notifyIntervalMs, 200u);
    EXPECT_EQ(custom.valueSequence, (std::vector<sim::Bytes>{{1}, {2}}));

    // Service 1 .. 6 (declaration, value, configuration; declaration, value), then the
    // custom service at 7 with its characteristic's configuration right after its value.
    sim::GattDatabase gatt(profile.services);
    ASSERT_EQ(gatt.attributes().size(), 10u);
    EXPECT_EQ(gatt.find(1)->groupEnd, 6);
    EXPECT_EQ(gatt.find(4)->role, sim::AttributeRole::ClientConfiguration);
    EXPECT_EQ(gatt.find(4)->valueHandle, 3);
    EXPECT_EQ(gatt.find(2)->value, (sim::Bytes{0x20, 0x03, 0x00, 0x1C, 0x2A}));
    EXPECT_EQ(gatt.find(7)->value.size(), 16u);
    EXPECT_EQ(gatt.configurationOf(9), gatt.find(10));
    EXPECT_EQ(gatt.configurationOf(6), nullptr);
    EXPECT_TRUE(gatt.find(6)->writable(true));
    EXPECT_FALSE(gatt.find(6)->writable(false));
    EXPECT_FALSE(gatt.find(3)->readable());
}

TEST(PeripheralText, NamesTheLineOfAMistake) {
    const std::pair<const char*, const char*> cases[] = {
        {"interval 5", "line 1: \"interval\" before the first peripheral"},
        {"peripheral 11:22:33\n", "line 1: peripheral needs an address AA:BB:CC:DD:EE:FF"},
        {"peripheral 11:22:33:44:55:66\n  characteristic 2A00 read",
         "line 2: characteristic before the first service"},
        {"peripheral 11:22:33:44:55:66\nservice 180\n", "line 2: bad UUID \"180\""},
        {"peripheral 11:22:33:44:55:66\nadv 0z\n", "line 2: bad hex \"0z\""},
        {"peripheral 11:22:33:44:55:66\nservice 1800\ncharacteristic 2A00 fly",
         "line 3: unknown characteristic word \"fly\""},
    };
    for (const auto& [text, message] : cases) {
        try {
            sim::parsePeripherals(text);
            ADD_FAILURE() << text;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), message);
        }
    }
}

TEST(Uuid, ExpandsShortFormsWithTheBaseUuidAndNothingElse) {
    const auto expanded = sim::Uuid::parse("00002a37-0000-1000-8000-00805f9b34fb");
    ASSERT_TRUE(expanded);
    EXPECT_EQ(*expanded, sim::Uuid::from16(0x2A37));
    EXPECT_EQ(expanded->wire(), (sim::Bytes{0x37, 0x2A}));
    const auto other = sim::Uuid::parse("00002a37-0000-1000-8000-00805f9b34fc");
    ASSERT_TRUE(other);
    EXPECT_NE(*other, sim::Uuid::from16(0x2A37));
    EXPECT_FALSE(other->shortForm());
    EXPECT_EQ(other->wire().size(), 16u);
    EXPECT_EQ(sim::Uuid::fromWire(other->wire()), other);
    EXPECT_FALSE(sim::Uuid::fromWire(sim::Bytes{1, 2, 3}));
}

} // namespace
