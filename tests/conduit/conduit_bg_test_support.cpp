// Helpers of the ConduitBg tests.
#include "conduit_bg_test_support.h"

#include "conduit/bgapi_pack.h"
#include "conduit/serial_io.h"
#include "log/log.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

class TestLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::random_device random;
        const auto folder = std::filesystem::temp_directory_path() /
                            ("linkrelay-conduit-bg-test-" + std::to_string(random()));
        std::filesystem::create_directories(folder);
        logOpenIn(folder.string());
    }
    void TearDown() override {
        const std::filesystem::path file = logFilePath();
        logClose();
        std::error_code ignored;
        std::filesystem::remove_all(file.parent_path(), ignored);
    }
};

[[maybe_unused]] ::testing::Environment* const logEnvironment =
    ::testing::AddGlobalTestEnvironment(new TestLogEnvironment);

std::string wholeLog() {
    std::ifstream file(logFilePath(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

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

std::size_t logMark() {
    return wholeLog().size();
}

std::string logSince(std::size_t mark) {
    const std::string log = wholeLog();
    return mark < log.size() ? log.substr(mark) : std::string();
}

int logCount(std::size_t mark, const std::string& text) {
    const std::string log = logSince(mark);
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos;
         at = log.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

ConduitBgTest::ConduitBgTest() {
    line->setInstantEmpty(true);
    serialPort = source.open(line->name());
    bgOutput = writePacket;
    conduit.ready = true;
    conduit.state = conduitStateReady;
}

ConduitBgTest::~ConduitBgTest() {
    serialPort.reset();
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
