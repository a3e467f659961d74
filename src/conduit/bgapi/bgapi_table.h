// The BGAPI message table: one constant row per message of the dongle's BGAPI, generated at
// build time from bgapi_messages.tsv (gen_bgapi_table.py), and the lookup of a received
// header.
//
// messageTable holds the 92 commands, then the 92 responses in the same order, then the
// 34 events, each block sorted by class and id. BgMessage (bgapi_message_ids.h) names the
// rows; a command's position is the message index that sendCommand takes.
// responseClasses and eventClasses index the responses and the events by class and id.
//
// Threads: everything here is constant and may be used from any thread.
#pragma once

#include "conduit/bgapi/bgapi_message_ids.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The 4-bit parameter codes of a parameter word, one per parameter, the first parameter in
// the lowest nibble; the word ends at its first 0 nibble.
enum class BgParam : uint8_t {
    Uint8 = 2,
    Int8 = 3,
    Uint16 = 4,
    Int16 = 5,
    Uint32 = 6,
    Int32 = 7,
    Uint8Array = 8,  // 1 length byte in the fixed part; the data follow it
    Text = 9,        // as Uint8Array
    Address = 10,    // 6 bytes, in the order the dongle uses
    Uint16Array = 11 // 2 length bytes, little-endian, in the fixed part; the data follow
};

// Bytes a parameter takes in the fixed part of a payload: an array counts its length field
// only. Codes that name no parameter take 0.
constexpr size_t bgParamSize(uint32_t code) {
    switch (static_cast<BgParam>(code)) {
    case BgParam::Uint8:
    case BgParam::Int8:
    case BgParam::Uint8Array:
    case BgParam::Text:
        return 1;
    case BgParam::Uint16:
    case BgParam::Int16:
    case BgParam::Uint16Array:
        return 2;
    case BgParam::Uint32:
    case BgParam::Int32:
        return 4;
    case BgParam::Address:
        return 6;
    }
    return 0;
}

constexpr bool bgIsArray(uint32_t code) {
    return code == static_cast<uint32_t>(BgParam::Uint8Array) ||
           code == static_cast<uint32_t>(BgParam::Text) ||
           code == static_cast<uint32_t>(BgParam::Uint16Array);
}

struct MessageDef {
    // As on the wire: byte 0 is 0x00 for commands and responses and 0x80 for events, byte 1
    // the length of the fixed payload (an array counted as its length field), byte 2 the
    // class, byte 3 the id.
    std::array<uint8_t, 4> header;
    uint32_t params;   // the parameter word (BgParam codes)
    BgMessage message; // this row's position in messageTable
    const char* name;  // the published name, e.g. "gap_connect_direct"

    size_t fixedLength() const { return header[1]; }
};

// One class's messages of one kind, indexed by id.
struct BgClassIndex {
    const MessageDef* const* messages;
    uint8_t count;
};

extern const std::array<MessageDef, bgMessageCount> messageTable;
extern const std::array<BgClassIndex, bgClassCount> responseClasses;
extern const std::array<BgClassIndex, bgClassCount> eventClasses;

constexpr size_t bgIndex(BgMessage message) {
    return static_cast<size_t>(message);
}

inline const MessageDef& bgMessage(BgMessage message) {
    return messageTable[bgIndex(message)];
}

// The 4 header bytes as one little-endian word: byte 0 is the low byte.
constexpr uint32_t bgHeaderWord(const uint8_t* header) {
    return static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
           static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
}

// The 11-bit payload length of a header: byte 1 and the low 3 bits of byte 0.
constexpr size_t bgPayloadLength(const uint8_t* header) {
    return static_cast<size_t>(header[0] & 0x07) << 8 | header[1];
}

// The response or event row that a received header names (bit 7 of byte 0 set: an event),
// or null when the class or the id is beyond those of the table. Neither the technology
// bits nor the payload length are consulted.
const MessageDef* findMessage(uint32_t header);
