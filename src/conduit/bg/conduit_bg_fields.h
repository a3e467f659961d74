// Little-endian fields of received BGAPI payloads, for the handlers.
//
// Threads: pure functions.
#pragma once

#include <cstdint>

inline uint16_t bgU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline int8_t bgI8(const uint8_t* bytes) {
    return static_cast<int8_t>(bytes[0]);
}
