// BGAPI packets built from and parsed against rows of the message table.
//
// A packet is a 4-byte header (byte 0: bit 7 event, bits 6..3 technology, bits 2..0
// payload length bits 10..8; byte 1 payload length bits 7..0; byte 2 class; byte 3 id),
// the fixed payload in parameter order (integers little-endian, an address as its 6
// bytes, an array as its length field), then the data of the array, if any.
//
// Threads: plain values and functions.
#pragma once

#include "sim/message_table.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

// One parameter value: an integer, or bytes for an address or an array.
using Value = std::variant<int64_t, Bytes>;

struct Message {
    const MessageRow* row = nullptr;
    std::vector<Value> values;

    // The value of the named parameter; throws std::logic_error when there is none.
    int64_t number(std::string_view name) const;
    const Bytes& bytes(std::string_view name) const;
};

// Builds the packet of `row` from one value per parameter, in order. Throws
// std::logic_error when the values do not fit the row (count, kind, address size,
// array size); integers are cut to their field size.
Bytes encodePacket(const MessageRow& row, const std::vector<Value>& values);

enum class DecodeStatus { Ok, Unknown, BadLength };

struct Decoded {
    DecodeStatus status = DecodeStatus::Unknown;
    Message message;
};

// Parses one whole packet (header and payload) as a message of `kind`. Unknown when the
// table has no such class and id; BadLength when the payload does not hold the fixed
// part plus exactly the array data that its length field announces.
Decoded decodePacket(MessageKind kind, std::span<const uint8_t> packet);

// The payload length a header announces (11 bits).
size_t payloadLength(const uint8_t* header);

} // namespace sim
