// Bluetooth UUIDs as an ATT server compares them: as 128-bit values, a 16-bit UUID
// standing for its expansion with the Bluetooth base UUID
// 0000xxxx-0000-1000-8000-00805F9B34FB.
//
// Threads: plain values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The value of one hexadecimal digit, either case, or -1.
int hexDigit(char c);

class Uuid {
public:
    Uuid() = default;
    static Uuid from16(uint16_t value);
    // From the bytes of a BGAPI message: 2 or 16 bytes, least significant first.
    static std::optional<Uuid> fromWire(std::span<const uint8_t> bytes);
    // From text: "180D" or "6e400001-b5a3-f393-e0a9-e50e24dcca9e" (dashes optional).
    static std::optional<Uuid> parse(std::string_view text);

    // The 16-bit short form, when this is a base-UUID expansion.
    std::optional<uint16_t> shortForm() const;
    // The bytes as BGAPI sends them: 2 for a short form, else 16; least significant first.
    std::vector<uint8_t> wire() const;
    std::string text() const;

    bool operator==(const Uuid&) const = default;

private:
    std::array<uint8_t, 16> bigEndian{};
};

} // namespace sim
