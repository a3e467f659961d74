// Helpers of the ConduitBg tests: a conduit whose events, clock and sleeps are recorded
// or scripted, a fixture that puts it on a scripted serial line, BGAPI message builders,
// and the log captured in a file (test_log.h).
//
// Threads: everything runs on the test's thread, except in the reader-loop tests, which
// say so themselves.
#pragma once

#include "conduit/bg/conduit_bg.h"
#include "fake_serial_port.h"
#include "gob/gob.h"
#include "test_log.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A ConduitBg whose posted events are kept, whose clock is `now` and whose sleeps are
// recorded without sleeping.
class TestConduit : public ConduitBg {
public:
    explicit TestConduit(SerialPortSource& ports) : ConduitBg(nullptr, ports) {}

    // The bytes of every posted gob, in order.
    std::vector<Bytes> posted;
    int64_t now = 1000;
    std::vector<uint32_t> sleeps;

protected:
    void post(const Gob& gob) override;
    int64_t clockSeconds() override { return now; }
    void sleepMs(uint32_t milliseconds) override { sleeps.push_back(milliseconds); }
};

// The bytes of the gob that `build` makes from `fields`.
template <typename Build, typename... Fields> Bytes gobBytes(Build build, const Fields&... fields) {
    Gob gob;
    EXPECT_EQ(build(gob, fields...), 0);
    return Bytes(gob.storage(), gob.storage() + gob.size());
}

// A BGAPI response or event with this class, id and payload.
Bytes response(uint8_t messageClass, uint8_t id, const Bytes& payload);
Bytes event(uint8_t messageClass, uint8_t id, const Bytes& payload);
// Joins byte vectors.
Bytes join(std::initializer_list<Bytes> parts);
// `count` bytes counting up from `first`.
Bytes counting(size_t count, uint8_t first);
// `count` bytes of `bytes` from `from` on.
Bytes slice(const Bytes& bytes, size_t from, size_t count);
// A 16-bit value, low byte first.
Bytes le16(uint16_t value);

// An address whose six bytes are `first`, 2, 3, 4, 5, `last`.
BleAddress testAddress(uint8_t first, uint8_t last);
// UUID records, most significant byte first.
UuidRecord uuid16(uint16_t value);
UuidRecord uuid128(uint8_t fill);

// The dongle's messages that the conduit handles, with their payloads in wire order.
Bytes connectionStatus(int32_t connection, uint8_t flags, const BleAddress& address);
Bytes connectionDisconnected(int32_t connection, uint16_t reason);
Bytes procedureCompleted(int32_t connection, uint16_t result, uint16_t handle);
// `uuid` as BGAPI sends it, least significant byte first.
Bytes groupFound(int32_t connection, uint16_t start, uint16_t end, const Bytes& uuid);
Bytes attributeValue(int32_t connection, uint16_t handle, uint8_t type, const Bytes& value);
// A response of class 4 (attclient) with its connection and result.
Bytes attclientResponse(uint8_t id, int32_t connection, uint16_t result);

// A ready conduit with an open port on a scripted line; commands go to the line.
class ConduitBgTest : public ::testing::Test {
protected:
    ConduitBgTest();
    ~ConduitBgTest() override;

    // A connection with a fresh session.
    BgSession& addSession(const BleAddress& address, int32_t connection);
    // A characteristic known on `session` under `index`.
    static void addCharacteristic(BgSession& session, uint8_t index, int32_t handle,
                                  const UuidRecord& uuid);
    // Every byte written to the port since the last call.
    Bytes takeWritten();
    // Scripts `message` on the line and runs reader cycles until it has been read.
    void deliver(const Bytes& message);

    std::shared_ptr<FakeSerial> line = std::make_shared<FakeSerial>();
    FakeSerialPortSource source{line};
    TestConduit conduit{source};
    std::size_t mark = logMark();
};
