// The event codecs and builders: exact bytes built, the same fields read back, and the
// checks of the status gob and of fields that do not fit.
#include "gob/gob_events.h"
#include "gob_test_util.h"

#include <gtest/gtest.h>

namespace {

const BleAddress address{{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
const std::vector<uint8_t> addressBytes{0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};

std::vector<uint8_t> fieldBytes(const GobByteField& field) {
    return {field.bytes.begin(), field.bytes.begin() + field.length};
}

TEST(GobEvents, StatusRoundTripAndChecks) {
    Gob gob;
    ASSERT_EQ(buildStatusGob(gob, ConduitKind::Dongle, ConduitState::NotReady), 0);
    ASSERT_EQ(contentOf(gob), (std::vector<uint8_t>{128, GOB_PROTOCOL_VERSION, 1, 2}));

    Gob reading = readingCopy(gob);
    int32_t type = -1;
    int32_t state = -1;
    ASSERT_EQ(codeGobStatus(reading, type, state), 0);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(state, 2);

    // Bytes are widened unsigned.
    Gob high = readingCopy(std::vector<uint8_t>{128, 1, 0xFE, 0xFF});
    ASSERT_EQ(codeGobStatus(high, type, state), 0);
    EXPECT_EQ(type, 0xFE);
    EXPECT_EQ(state, 0xFF);

    const std::vector<std::vector<uint8_t>> bad{
        {128, 1, 1, 0, 0}, // 5 bytes
        {128, 1, 1},       // 3 bytes
        {128, 2, 1, 0},    // version 2
        {129, 1, 1, 0},    // another type
    };
    for (const auto& bytes : bad) {
        Gob badGob = readingCopy(bytes);
        EXPECT_EQ(codeGobStatus(badGob, type, state), -1) << testing::PrintToString(bytes);
    }
}

TEST(GobEvents, ScanResultRoundTrip) {
    const std::vector<uint8_t> data{2, 1, 6, 3, 3, 0x0D, 0x18};
    Gob gob;
    ASSERT_EQ(buildScanResultGob(gob, address, data.data(), 7, -60), 0);
    EXPECT_EQ(contentOf(gob), join({{129}, addressBytes, {7}, data, {0xC4}}));

    Gob reading = readingCopy(gob);
    BleAddress read;
    GobByteField dataRead;
    uint8_t rssi = 0;
    ASSERT_EQ(codeGobScanResult(reading, read, dataRead, rssi), 0);
    EXPECT_EQ(read, address);
    EXPECT_EQ(fieldBytes(dataRead), data);
    EXPECT_EQ(static_cast<int8_t>(rssi), -60);

    Gob empty;
    ASSERT_EQ(buildScanResultGob(empty, address, nullptr, 0, 0), 0);
    EXPECT_EQ(empty.size(), 9u);

    // The data length runs past the end.
    Gob cut = readingCopy(join({{129}, addressBytes, {7}, data}));
    EXPECT_EQ(codeGobScanResult(cut, read, dataRead, rssi), -1);
}

TEST(GobEvents, AddressEventsRoundTrip) {
    Gob connected;
    Gob writeDone;
    Gob disconnected;
    Gob rssiGob;
    ASSERT_EQ(buildConnectedGob(connected, address), 0);
    ASSERT_EQ(buildWriteDoneGob(writeDone, address), 0);
    ASSERT_EQ(buildDisconnectedGob(disconnected, address, 2), 0);
    ASSERT_EQ(buildRssiGob(rssiGob, address, -128), 0);
    EXPECT_EQ(contentOf(connected), join({{130}, addressBytes}));
    EXPECT_EQ(contentOf(writeDone), join({{134}, addressBytes}));
    EXPECT_EQ(contentOf(disconnected), join({{133}, addressBytes, {2}}));
    EXPECT_EQ(contentOf(rssiGob), join({{136}, addressBytes, {0x80}}));

    BleAddress read;
    uint8_t byte = 0;
    Gob connectedRead = readingCopy(connected);
    ASSERT_EQ(codeGobConnected(connectedRead, read), 0);
    EXPECT_EQ(read, address);
    Gob writeDoneRead = readingCopy(writeDone);
    ASSERT_EQ(codeGobWriteDone(writeDoneRead, read), 0);
    Gob disconnectedRead = readingCopy(disconnected);
    ASSERT_EQ(codeGobDisconnected(disconnectedRead, read, byte), 0);
    EXPECT_EQ(byte, 2);
    Gob rssiRead = readingCopy(rssiGob);
    ASSERT_EQ(codeGobRssi(rssiRead, read, byte), 0);
    EXPECT_EQ(static_cast<int8_t>(byte), -128);

    // A reader of one event refuses another.
    Gob wrongType = readingCopy(writeDone);
    EXPECT_EQ(codeGobConnected(wrongType, read), -1);
    Gob noReason = readingCopy(join({{133}, addressBytes}));
    EXPECT_EQ(codeGobDisconnected(noReason, read, byte), -1);
}

TEST(GobEvents, ServiceAndCharacteristicFoundRoundTrip) {
    const UuidRecord shortUuid = uuidOf({0x18, 0x0D});
    const std::vector<uint8_t> longBytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const UuidRecord longUuid = uuidOf(longBytes);

    Gob service;
    Gob characteristic;
    ASSERT_EQ(buildServiceFoundGob(service, address, 3, shortUuid), 0);
    ASSERT_EQ(buildCharacteristicFoundGob(characteristic, address, 7, longUuid), 0);
    EXPECT_EQ(contentOf(service), join({{131}, addressBytes, {3, 2, 0x18, 0x0D}}));
    EXPECT_EQ(contentOf(characteristic), join({{132}, addressBytes, {7, 16}, longBytes}));

    BleAddress read;
    uint8_t index = 0;
    UuidRecord uuid;
    Gob serviceRead = readingCopy(service);
    ASSERT_EQ(codeGobServiceFound(serviceRead, read, index, uuid), 0);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(uuid, shortUuid);
    Gob characteristicRead = readingCopy(characteristic);
    UuidRecord uuid2;
    ASSERT_EQ(codeGobCharacteristicFound(characteristicRead, read, index, uuid2), 0);
    EXPECT_EQ(index, 7);
    EXPECT_EQ(uuid2, longUuid);

    // UUID lengths other than 2 or 16 are refused both ways.
    Gob four;
    EXPECT_EQ(buildServiceFoundGob(four, address, 0, uuidOf({1, 2, 3, 4})), -1);
    Gob seventeen = readingCopy(join({{132}, addressBytes, {0, 17}, std::vector<uint8_t>(17, 1)}));
    EXPECT_EQ(codeGobCharacteristicFound(seventeen, read, index, uuid), -1);
}

TEST(GobEvents, AttributeValueRoundTripAndLimit) {
    std::vector<uint8_t> value(255);
    for (size_t i = 0; i < value.size(); ++i) {
        value[i] = static_cast<uint8_t>(i);
    }
    Gob gob;
    ASSERT_EQ(buildAttributeValueGob(gob, address, 9, value.data(), 255), 0);
    EXPECT_EQ(contentOf(gob), join({{135}, addressBytes, {9, 255}, value}));
    EXPECT_TRUE(gob.isBig());

    Gob reading = readingCopy(gob);
    BleAddress read;
    uint8_t index = 0;
    GobByteField valueRead;
    ASSERT_EQ(codeGobAttributeValue(reading, read, index, valueRead), 0);
    EXPECT_EQ(index, 9);
    EXPECT_EQ(fieldBytes(valueRead), value);

    value.push_back(0);
    Gob tooLong;
    EXPECT_EQ(buildAttributeValueGob(tooLong, address, 9, value.data(), 256), -1);
}

} // namespace
