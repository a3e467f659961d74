// Helpers of the ConduitBg tests.
#include "conduit_bg_test_support.h"

#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"

#include <numeric>

namespace {

[[maybe_unused]] const testing::Environment* const logEnvironment =
    testing::AddGlobalTestEnvironment(new TestLogEnvironment("conduit-bg"));

Bytes message(uint8_t kind, uint8_t messageClass, uint8_t id, const Bytes& payload) {
    Bytes bytes{static_cast<uint8_t>(kind | (payload.size() >> 8)),
                static_cast<uint8_t>(payload.size() & 0xFF), messageClass, id};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

} // namespace

void TestConduit::post(const Gob& gob) {
    posted.emplace_back(gob.storage(), gob.storage() + gob.size());
}

Bytes response(uint8_t messageClass, uint8_t id, const Bytes& payload) {
    return message(0x00, messageClass, id, payload);
}

Bytes event(uint8_t messageClass, uint8_t id, const Bytes& payload) {
    return message(0x80, messageClass, id, payload);
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes counting(size_t count, uint8_t first) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

Bytes slice(const Bytes& bytes, size_t from, size_t count) {
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
    Bytes part(begin, begin + static_cast<std::ptrdiff_t>(count));
    return part;
}

Bytes le16(uint16_t value) {
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
}

BleAddress testAddress(uint8_t first, uint8_t last) {
    return BleAddress{{first, 2, 3, 4, 5, last}};
}

UuidRecord uuid16(uint16_t value) {
    UuidRecord record;
    record.bytes[0] = static_cast<uint8_t>(value >> 8);
    record.bytes[1] = static_cast<uint8_t>(value & 0xFF);
    record.length = 2;
    return record;
}

UuidRecord uuid128(uint8_t fill) {
    UuidRecord record;
    for (size_t i = 0; i < record.bytes.size(); ++i) {
        record.bytes[i] = static_cast<uint8_t>(fill + i);
    }
    record.length = 16;
    return record;
}

ConduitBgTest::ConduitBgTest() {
    line->setInstantEmpty(true);
    serialPort = source.open(line->name());
    bgOutput = writePacket;
    conduit.ready = true;
    conduit.state = ConduitState::Ready;
}

ConduitBgTest::~ConduitBgTest() {
    closeSerialPort(); // also forgets bytes kept from an unfinished read
    bgOutput = nullptr;
    writeQueue.clear();
    activeConduit = nullptr;
}

BgSession& ConduitBgTest::addSession(const BleAddress& address, int32_t connection) {
    conduit.connections[address] = connection;
    BgSession& session = conduit.sessions[connection];
    session.address = address;
    return session;
}

void ConduitBgTest::addCharacteristic(BgSession& session, uint8_t index, int32_t handle,
                                      const UuidRecord& uuid) {
    session.charIndexByHandle[handle] = index;
    session.charHandleByIndex[index] = handle;
    session.charUuidByHandle[handle] = uuid;
}

Bytes ConduitBgTest::takeWritten() {
    Bytes bytes = line->written();
    line->clearWrites();
    return bytes;
}

void ConduitBgTest::deliver(const Bytes& message) {
    line->pushBytes(message);
    // A kick left by an operation ends the first read at once.
    for (int cycle = 0; cycle < 3 && line->pendingSteps() > 0; ++cycle) {
        ASSERT_EQ(conduit.readCycle(100), ConduitBg::CycleEnd::Handled);
    }
    ASSERT_EQ(line->pendingSteps(), 0U);
}

Bytes connectionStatus(int32_t connection, uint8_t flags, const BleAddress& address) {
    return event(3, 0,
                 join({{static_cast<uint8_t>(connection), flags},
                       Bytes(address.bytes.begin(), address.bytes.end()),
                       {0x00},
                       le16(40),
                       le16(100),
                       le16(0),
                       {0xFF}}));
}

Bytes connectionDisconnected(int32_t connection, uint16_t reason) {
    return event(3, 4, join({{static_cast<uint8_t>(connection)}, le16(reason)}));
}

Bytes procedureCompleted(int32_t connection, uint16_t result, uint16_t handle) {
    return event(4, 1, join({{static_cast<uint8_t>(connection)}, le16(result), le16(handle)}));
}

Bytes groupFound(int32_t connection, uint16_t start, uint16_t end, const Bytes& uuid) {
    return event(4, 2,
                 join({{static_cast<uint8_t>(connection)},
                       le16(start),
                       le16(end),
                       {static_cast<uint8_t>(uuid.size())},
                       uuid}));
}

Bytes attributeValue(int32_t connection, uint16_t handle, uint8_t type, const Bytes& value) {
    return event(4, 5,
                 join({{static_cast<uint8_t>(connection)},
                       le16(handle),
                       {type, static_cast<uint8_t>(value.size())},
                       value}));
}

Bytes attclientResponse(uint8_t id, int32_t connection, uint16_t result) {
    return response(4, id, join({{static_cast<uint8_t>(connection)}, le16(result)}));
}
