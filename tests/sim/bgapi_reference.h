// A reference reading of messages.tsv for the simulator's tests, written apart from the
// simulator's own codec: its own row parser, command packer and packet checker, so a
// mistake in one is not hidden by the same mistake in the other.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;
using Field = std::variant<long long, Bytes>;

struct Row {
    std::string kind; // command, response, event
    int classId = 0;
    int id = 0;
    std::string name;
    uint8_t header[4] = {};
    std::vector<std::pair<std::string, std::string>> params; // name, type
};

const std::vector<Row>& rows();
const Row& row(const std::string& kind, const std::string& name);
const Row* rowAt(const std::string& kind, int classId, int id);

// Packs a command from one field per parameter, in order.
Bytes command(const std::string& name, const std::vector<Field>& fields);

struct Parsed {
    const Row* row = nullptr;
    std::map<std::string, long long> numbers;
    std::map<std::string, Bytes> data; // addresses and arrays
    std::string error;                 // empty when the packet fits its row

    long long operator[](const std::string& field) const { return numbers.at(field); }
};

// Parses a packet the simulator sent (a response or an event) and checks it against its
// row: header byte 0 and 1 as the row's (plus the array length), known class and id,
// fixed part and array data exactly filling the payload.
Parsed parse(const Bytes& packet);

Bytes address(const std::string& text); // "AA:BB:..." to wire order

// A value for each parameter of `row` that differs from its neighbours and fills its field.
std::vector<Field> sampleFields(const Row& row);

} // namespace simtest
