// Virtual peripherals described as data: what one advertises and the GATT database it
// serves. The built-in set lives in builtin_peripherals.cpp; a text form for users is
// read by peripheral_text.h.
//
// Threads: plain values.
#pragma once

#include "sim/uuid.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

// A device address in BGAPI wire order: least significant byte first.
using Address = std::array<uint8_t, 6>;

// Parses "AA:BB:CC:DD:EE:FF" (most significant first, as people write it).
std::optional<Address> parseAddress(std::string_view text);
std::string addressText(const Address& address);

// Characteristic properties, as in the characteristic declaration.
namespace property {
constexpr uint8_t read = 0x02;
constexpr uint8_t writeNoResponse = 0x04;
constexpr uint8_t write = 0x08;
constexpr uint8_t notify = 0x10;
constexpr uint8_t indicate = 0x20;
} // namespace property

struct CharacteristicSpec {
    Uuid uuid;
    uint8_t properties = 0;
    Bytes value;
    // While notifications or indications are on, the value is sent every
    // notifyIntervalMs (0: only when it changes), stepping through valueSequence when
    // that is not empty.
    uint32_t notifyIntervalMs = 0;
    std::vector<Bytes> valueSequence;
    // Every write is sent back as notifications of this characteristic.
    bool echoWrites = false;
};

struct ServiceSpec {
    Uuid uuid;
    std::vector<CharacteristicSpec> characteristics;
};

struct PeripheralSpec {
    std::string name;
    Address address{};
    uint8_t addressType = 0; // 0 public, 1 random
    Bytes advData;
    Bytes scanResponseData; // sent to active scans when not empty
    uint32_t advIntervalMs = 100;
    int8_t rssi = -60;
    bool connectable = true;
    bool bondable = false; // pairs when asked; otherwise refuses pairing
    bool inRange = true;
    std::vector<ServiceSpec> services;
};

// The built-in set: a heart-rate monitor (bondable), a battery-powered sensor with a
// random static address, a device with a 128-bit custom service that echoes writes, and
// a beacon that only advertises.
std::vector<PeripheralSpec> builtinPeripherals();

} // namespace sim
