// UUIDs between the conduit's UuidRecord (most significant byte first) and BGAPI, which
// sends UUIDs least significant byte first.
//
// Threads: pure functions.
#pragma once

#include "gob/ble_types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// The 16-byte type field of attclient_read_by_type for `uuid`, least significant byte
// first. A 16-bit UUID goes out as its expansion with the Bluetooth base UUID
// (0000xxxx-0000-1000-8000-00805F9B34FB), the form in which a device matches it.
std::array<uint8_t, 16> uuidTypeField(const UuidRecord& uuid);

// The record of `length` UUID bytes as BGAPI sends them; none unless the length is 2 or 16.
std::optional<UuidRecord> uuidFromWire(const uint8_t* bytes, size_t length);
