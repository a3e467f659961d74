// Records shared by the files that implement SimDevice (sim_device*.cpp); not part of
// the library's interface.
//
// Threads: as SimDevice: one thread at a time.
#pragma once

#include "sim/sim_device.h"

#include <set>

namespace sim {

struct SimDevice::Timer {
    SimTime at{0};
    uint64_t seq = 0;
    std::function<void(SimTime)> action;
};

struct SimDevice::Connection {
    uint8_t handle = 0;
    VirtualPeripheral* peripheral = nullptr;
    uint16_t interval = 0; // 1.25 ms units
    uint16_t timeout = 0;  // 10 ms units
    uint16_t latency = 0;
    uint64_t id = 0; // tells a later link on the same handle apart
    std::vector<PreparedWrite> prepared;
    bool awaitingConfirm = false;
    std::set<uint16_t> periodic; // value handles whose periodic notification runs
    SimTime busyUntil{0};        // ATT round trips on one link run one after another
    bool encrypted = false;
    uint8_t bond = 0xFF; // the bond index the link is encrypted with, 0xFF none

    SimTime intervalTime() const { return SimTime((interval * 5 + 3) / 4); }
};

// BGAPI result codes the device uses.
namespace result {
constexpr uint16_t ok = 0;
constexpr uint16_t invalidParameter = 0x0180;
constexpr uint16_t wrongState = 0x0181;
constexpr uint16_t outOfMemory = 0x0182;
constexpr uint16_t notImplemented = 0x0183;
constexpr uint16_t notRecognized = 0x0184;
constexpr uint16_t notConnected = 0x0186;
constexpr uint16_t authenticationFailure = 0x0205;
constexpr uint16_t connectionLimit = 0x0209;
constexpr uint16_t localHostTerminated = 0x0216;
constexpr uint16_t supervisionTimeout = 0x0208;
constexpr uint16_t invalidHandle = 0x0401;
constexpr uint16_t readNotPermitted = 0x0402;
constexpr uint16_t writeNotPermitted = 0x0403;
constexpr uint16_t invalidOffset = 0x0407;
constexpr uint16_t attributeNotFound = 0x040A;
constexpr uint16_t invalidValueLength = 0x040D;
constexpr uint16_t unsupportedGroupType = 0x0410;
} // namespace result

// ATT payload limits at the default MTU of 23.
constexpr size_t maxWriteLength = 20;
constexpr size_t maxPrepareLength = 18;
constexpr size_t maxReadLength = 22;
constexpr size_t maxReadByTypeLength = 19;
constexpr size_t maxNotifyLength = 20;
constexpr size_t maxAttributeLength = 512;
// An ATT response PDU at the default MTU of 23, without its opcode.
constexpr size_t attResponseRoom = 22;

// connection_status flags.
namespace linkFlag {
constexpr int connected = 0x01;
constexpr int encrypted = 0x02;
constexpr int completed = 0x04;
constexpr int parametersChanged = 0x08;
} // namespace linkFlag

// Bonds the module keeps in flash.
constexpr size_t maxBonds = 8;

inline Value number(int64_t value) {
    return {value};
}

inline Value bytes(Bytes value) {
    return {std::move(value)};
}

inline Value bytes(const Address& address) {
    return {Bytes(address.begin(), address.end())};
}

} // namespace sim
