// The recording test conduit.
#include "recording_conduit.h"

#include "gob/gob_events.h"
#include "mux/mux.h"

#include <cstdio>
#include <utility>

std::string addressText(const BleAddress& address) {
    std::string text;
    for (const uint8_t byte : address.bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

namespace {

std::string withIndex(const char* operation, const BleAddress& address, uint8_t index) {
    return std::string(operation) + " " + addressText(address) + " " + std::to_string(index);
}

} // namespace

std::vector<std::string> RecordingConduit::calls() {
    const LockGuard guard(lock);
    return recorded;
}

std::vector<uint64_t> RecordingConduit::requesters() {
    const LockGuard guard(lock);
    return callers;
}

std::vector<uint64_t> RecordingConduit::forgotten() {
    const LockGuard guard(lock);
    return forgot;
}

void RecordingConduit::forgetRequester(uint64_t client) {
    const LockGuard guard(lock);
    forgot.push_back(client);
}

void RecordingConduit::refuse(const std::string& operation) {
    const LockGuard guard(lock);
    refused.insert(operation);
}

void RecordingConduit::setOnCall(std::function<void()> action) {
    const LockGuard guard(lock);
    onCall = std::move(action);
}

void RecordingConduit::post(const Gob& gob) {
    const LockGuard guard(lock);
    mux->postEvent(gob);
}

bool RecordingConduit::record(const std::string& operation, const std::string& line) {
    const LockGuard guard(lock);
    recorded.push_back(line);
    callers.push_back(requester);
    if (onCall) {
        onCall();
    }
    return refused.count(operation) == 0;
}

bool RecordingConduit::startScan() {
    return record("startScan", "startScan");
}

bool RecordingConduit::stopScan() {
    return record("stopScan", "stopScan");
}

bool RecordingConduit::connect(const BleAddress& address, uint32_t connIntervalMin,
                               uint32_t connIntervalMax, uint32_t supervisionTimeout,
                               uint32_t slaveLatency) {
    return record("connect",
                  "connect " + addressText(address) + " " + std::to_string(connIntervalMin) + " " +
                      std::to_string(connIntervalMax) + " " + std::to_string(supervisionTimeout) +
                      " " + std::to_string(slaveLatency));
}

bool RecordingConduit::findServices(const BleAddress& address) {
    return record("findServices", "findServices " + addressText(address));
}

bool RecordingConduit::findCharsAndDescs(const BleAddress& address,
                                         const std::vector<UuidRecord>& uuids) {
    std::string line = "findCharsAndDescs " + addressText(address);
    for (const UuidRecord& uuid : uuids) {
        line += " ";
        for (uint8_t i = 0; i < uuid.length && i < uuid.bytes.size(); ++i) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", uuid.bytes[i]);
            line += digits;
        }
        line += "/" + std::to_string(uuid.length);
    }
    return record("findCharsAndDescs", line);
}

bool RecordingConduit::disconnect(const BleAddress& address) {
    const bool accepted = record("disconnect", "disconnect " + addressText(address));
    if (accepted && postDisconnected) {
        Gob gob;
        buildDisconnectedGob(gob, address, 0);
        post(gob);
    }
    return accepted;
}

bool RecordingConduit::read(const BleAddress& address, uint8_t index) {
    return record("read", withIndex("read", address, index));
}

bool RecordingConduit::write(const BleAddress& address, uint8_t index, const uint8_t* data,
                             uint32_t length, bool withResponse) {
    std::string line = withIndex("write", address, index) + (withResponse ? " ack " : " noack ");
    line += std::string(reinterpret_cast<const char*>(data), length);
    return record("write", line);
}

bool RecordingConduit::notify(const BleAddress& address, uint8_t index) {
    return record("notify", withIndex("notify", address, index));
}

bool RecordingConduit::indicate(const BleAddress& address, uint8_t index) {
    return record("indicate", withIndex("indicate", address, index));
}

bool RecordingConduit::unsubscribe(const BleAddress& address, uint8_t index) {
    return record("unsubscribe", withIndex("unsubscribe", address, index));
}

bool RecordingConduit::getRssi(const BleAddress& address) {
    return record("getRssi", "getRssi " + addressText(address));
}
