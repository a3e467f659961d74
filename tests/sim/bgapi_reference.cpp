// A reference reading of messages.tsv. See bgapi_reference.h.
#include "bgapi_reference.h"

#include "sim/message_table.h"

#include <sstream>
#include <stdexcept>

namespace simtest {

namespace {

int size(const std::string& type) {
    if (type == "uint8" || type == "int8" || type == "uint8array" || type == "string") {
        return 1;
    }
    if (type == "uint16" || type == "int16" || type == "uint16array") {
        return 2;
    }
    if (type == "uint32" || type == "int32") {
        return 4;
    }
    if (type == "bd_addr") {
        return 6;
    }
    throw std::runtime_error("type " + type);
}

bool array(const std::string& type) {
    return type == "uint8array" || type == "string" || type == "uint16array";
}

std::vector<std::string> cut(const std::string& text, char separator) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator)) {
        out.push_back(part);
    }
    return out;
}

std::vector<Row> load() {
    std::vector<Row> out;
    std::stringstream in{std::string(sim::messagesTsv())};
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        const auto cells = cut(line, '\t');
        Row row;
        row.kind = cells[1];
        row.classId = std::stoi(cells[2]);
        row.id = std::stoi(cells[3]);
        row.name = cells[4];
        const auto header = cut(cells[5], ' ');
        for (int i = 0; i < 4; ++i) {
            row.header[i] = static_cast<uint8_t>(std::stoi(header[i], nullptr, 16));
        }
        if (cells.size() > 7 && !cells[7].empty()) {
            for (const auto& param : cut(cells[7], ';')) {
                const auto parts = cut(param, ':');
                row.params.emplace_back(parts[0], parts[1]);
            }
        }
        out.push_back(row);
    }
    return out;
}

} // namespace

const std::vector<Row>& rows() {
    static const std::vector<Row> all = load();
    return all;
}

const Row& row(const std::string& kind, const std::string& name) {
    for (const auto& candidate : rows()) {
        if (candidate.kind == kind && candidate.name == name) {
            return candidate;
        }
    }
    throw std::runtime_error("no row " + name);
}

const Row* rowAt(const std::string& kind, int classId, int id) {
    for (const auto& candidate : rows()) {
        if (candidate.kind == kind && candidate.classId == classId && candidate.id == id) {
            return &candidate;
        }
    }
    return nullptr;
}

Bytes command(const std::string& name, const std::vector<Field>& fields) {
    const Row& definition = row("command", name);
    Bytes packet(definition.header, definition.header + 4);
    Bytes tail;
    for (size_t i = 0; i < definition.params.size(); ++i) {
        const std::string& type = definition.params[i].second;
        if (array(type)) {
            tail = std::get<Bytes>(fields.at(i));
            for (int b = 0; b < size(type); ++b) {
                packet.push_back(static_cast<uint8_t>(tail.size() >> (8 * b)));
            }
        } else if (type == "bd_addr") {
            const Bytes& bytes = std::get<Bytes>(fields.at(i));
            packet.insert(packet.end(), bytes.begin(), bytes.end());
        } else {
            const auto value = static_cast<unsigned long long>(std::get<long long>(fields.at(i)));
            for (int b = 0; b < size(type); ++b) {
                packet.push_back(static_cast<uint8_t>(value >> (8 * b)));
            }
        }
    }
    packet[1] = static_cast<uint8_t>(packet[1] + tail.size());
    packet.insert(packet.end(), tail.begin(), tail.end());
    return packet;
}

Parsed parse(const Bytes& packet) {
    Parsed parsed;
    if (packet.size() < 4) {
        parsed.error = "short packet";
        return parsed;
    }
    const bool event = (packet[0] & 0x80) != 0;
    parsed.row = rowAt(event ? "event" : "response", packet[2], packet[3]);
    if (parsed.row == nullptr) {
        parsed.error = "unknown class and id";
        return parsed;
    }
    const Row& definition = *parsed.row;
    size_t at = 4;
    size_t arrayLength = 0;
    for (const auto& [name, type] : definition.params) {
        if (at + static_cast<size_t>(size(type)) > packet.size()) {
            parsed.error = "payload shorter than the fixed part";
            return parsed;
        }
        if (array(type)) {
            arrayLength = packet[at] | (type == "uint16array" ? packet[at + 1] << 8 : 0);
            const size_t data = 4 + definition.header[1];
            if (data + arrayLength != packet.size()) {
                parsed.error = "array length does not fill the payload";
                return parsed;
            }
            parsed.data[name] = Bytes(packet.begin() + static_cast<long>(data), packet.end());
        } else if (type == "bd_addr") {
            parsed.data[name] = Bytes(packet.begin() + static_cast<long>(at),
                                      packet.begin() + static_cast<long>(at) + 6);
        } else {
            long long value = 0;
            for (int b = size(type) - 1; b >= 0; --b) {
                value = (value << 8) | packet[at + static_cast<size_t>(b)];
            }
            if (type == "int8") {
                value = static_cast<int8_t>(value);
            }
            parsed.numbers[name] = value;
        }
        at += static_cast<size_t>(size(type));
    }
    const size_t total = definition.header[1] + arrayLength;
    if (packet[0] != (definition.header[0] | (total >> 8)) || packet[1] != (total & 0xFF)) {
        parsed.error = "header differs from the row";
    } else if (at != 4u + definition.header[1] || packet.size() != 4 + total) {
        parsed.error = "payload length differs from the row";
    }
    return parsed;
}

Bytes address(const std::string& text) {
    Bytes out(6);
    for (size_t i = 0; i < 6; ++i) {
        out[5 - i] = static_cast<uint8_t>(std::stoi(text.substr(i * 3, 2), nullptr, 16));
    }
    return out;
}

std::vector<Field> sampleFields(const Row& row) {
    std::vector<Field> fields;
    long long seed = 0x5A;
    for (const auto& [name, type] : row.params) {
        seed = seed * 7 + 3;
        if (array(type)) {
            fields.emplace_back(Bytes{0xDE, 0xAD, static_cast<uint8_t>(seed)});
        } else if (type == "bd_addr") {
            fields.emplace_back(Bytes{1, 2, 3, 4, 5, static_cast<uint8_t>(seed)});
        } else if (type == "int8") {
            fields.emplace_back(-(seed % 100) - 1);
        } else if (type == "uint8") {
            fields.emplace_back(seed & 0xFF);
        } else if (type == "uint16") {
            fields.emplace_back(seed * 257 & 0xFFFF);
        } else {
            fields.emplace_back(seed * 65537 & 0x7FFFFFFF);
        }
    }
    return fields;
}

} // namespace simtest
