// The BGAPI v1 message table as the simulated dongle knows it.
//
// The rows come from the BGAPI message set (src/conduit/bgapi_messages.tsv), embedded into the
// library at build time and parsed once on first use. Each row gives a message's kind, class, id,
// name, fixed payload length and parameter list. The simulator builds and parses every packet from
// these rows; it shares no code with the service's own BGAPI codec.
//
// Threads: messageTable() parses on first call (a function-local static, so the first
// call may come from any thread); the table is immutable afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class MessageKind { Command, Response, Event };

// Parameter types, numbered as the 4-bit codes of the table's parameter word.
enum class ParamType : uint8_t {
    U8 = 2,
    I8 = 3,
    U16 = 4,
    I16 = 5,
    U32 = 6,
    I32 = 7,
    U8Array = 8,
    String = 9,
    Address = 10,
    U16Array = 11,
};

struct Param {
    std::string name;
    ParamType type;
};

struct MessageRow {
    int index = 0;
    MessageKind kind = MessageKind::Command;
    uint8_t classId = 0;
    uint8_t id = 0;
    std::string name;
    uint8_t fixedLength = 0;
    uint32_t paramWord = 0;
    std::vector<Param> params;
};

class MessageTable {
public:
    explicit MessageTable(std::string_view tsv);

    const std::vector<MessageRow>& rows() const { return messageRows; }
    const MessageRow* find(MessageKind kind, uint8_t classId, uint8_t id) const;
    // The row of `kind` named `name` (without the kind, e.g. "gap_discover").
    const MessageRow& byName(MessageKind kind, std::string_view name) const;

private:
    std::vector<MessageRow> messageRows;
};

// The table of the dongle, parsed from the embedded messages.tsv.
const MessageTable& messageTable();

// The embedded text of messages.tsv.
std::string_view messagesTsv();

// Bytes one parameter takes in the fixed payload (an array counts its length field).
int fixedSize(ParamType type);
bool isArray(ParamType type);

} // namespace sim
