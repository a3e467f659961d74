// Value types that pass between the mux, the conduit and the gob codec.
//
// Plain values with no state of their own; safe to copy between threads.
#pragma once

#include <array>
#include <compare>
#include <cstdint>

// A Bluetooth device address: 6 bytes in the order in which the dongle reports them.
// Ordered containers compare the bytes as unsigned values, first byte first.
struct BleAddress {
    std::array<uint8_t, 6> bytes{};

    // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 misreads the defaulted comparison
    friend auto operator<=>(const BleAddress&, const BleAddress&) = default;
};
static_assert(sizeof(BleAddress) == 6);

// A service or characteristic UUID: bytes 0 to 15 most significant first, then the
// UUID's length in bytes (2 or 16). Bytes beyond the length are zero.
struct UuidRecord {
    std::array<uint8_t, 16> bytes{};
    uint8_t length = 0;

    friend bool operator==(const UuidRecord&, const UuidRecord&) = default;
};
static_assert(sizeof(UuidRecord) == 17);

// True for the two UUID lengths that a UuidRecord may carry.
constexpr bool isValidUuidLength(uint32_t length) {
    return length == 2 || length == 16;
}
