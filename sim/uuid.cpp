// Bluetooth UUIDs. See uuid.h.
#include "sim/uuid.h"

#include <cstdio>

namespace sim {

namespace {

// 00000000-0000-1000-8000-00805F9B34FB, most significant byte first.
constexpr std::array<uint8_t, 16> baseUuid = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

} // namespace

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

Uuid Uuid::from16(uint16_t value) {
    Uuid uuid;
    uuid.bigEndian = baseUuid;
    uuid.bigEndian[2] = static_cast<uint8_t>(value >> 8);
    uuid.bigEndian[3] = static_cast<uint8_t>(value & 0xFF);
    return uuid;
}

std::optional<Uuid> Uuid::fromWire(std::span<const uint8_t> bytes) {
    if (bytes.size() == 2) {
        return from16(static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)));
    }
    if (bytes.size() != 16) {
        return std::nullopt;
    }
    Uuid uuid;
    for (size_t i = 0; i < 16; ++i) {
        uuid.bigEndian[i] = bytes[15 - i];
    }
    return uuid;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (const char c : text) {
        if (c == '-') {
            continue;
        }
        const int digit = hexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    if (bytes.size() == 2) {
        return from16(static_cast<uint16_t>((bytes[0] << 8) | bytes[1]));
    }
    if (bytes.size() != 16) {
        return std::nullopt;
    }
    Uuid uuid;
    std::copy(bytes.begin(), bytes.end(), uuid.bigEndian.begin());
    return uuid;
}

std::optional<uint16_t> Uuid::shortForm() const {
    for (size_t i = 0; i < 16; ++i) {
        if ((i < 2 || i > 3) && bigEndian[i] != baseUuid[i]) {
            return std::nullopt;
        }
    }
    return static_cast<uint16_t>((bigEndian[2] << 8) | bigEndian[3]);
}

std::vector<uint8_t> Uuid::wire() const {
    if (const auto value = shortForm()) {
        return {static_cast<uint8_t>(*value & 0xFF), static_cast<uint8_t>(*value >> 8)};
    }
    return {bigEndian.rbegin(), bigEndian.rend()};
}

std::string Uuid::text() const {
    char buffer[40];
    if (const auto value = shortForm()) {
        std::snprintf(buffer, sizeof buffer, "%04X", *value);
        return buffer;
    }
    std::string out;
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            out += '-';
        }
        std::snprintf(buffer, sizeof buffer, "%02X", bigEndian[i]);
        out += buffer;
    }
    return out;
}

} // namespace sim
