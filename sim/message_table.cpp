// Parsing of the embedded message table. See message_table.h.
#include "sim/message_table.h"

#include <charconv>
#include <stdexcept>

namespace sim {

namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

uint32_t toNumber(std::string_view text, int base) {
    uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) {
        throw std::runtime_error("message table: bad number " + std::string(text));
    }
    return value;
}

MessageKind toKind(std::string_view text) {
    if (text == "command") {
        return MessageKind::Command;
    }
    if (text == "response") {
        return MessageKind::Response;
    }
    if (text == "event") {
        return MessageKind::Event;
    }
    throw std::runtime_error("message table: bad kind " + std::string(text));
}

ParamType toType(std::string_view text) {
    static constexpr std::pair<std::string_view, ParamType> names[] = {
        {"uint8", ParamType::U8},           {"int8", ParamType::I8},
        {"uint16", ParamType::U16},         {"int16", ParamType::I16},
        {"uint32", ParamType::U32},         {"int32", ParamType::I32},
        {"uint8array", ParamType::U8Array}, {"string", ParamType::String},
        {"bd_addr", ParamType::Address},    {"uint16array", ParamType::U16Array},
    };
    for (const auto& [name, type] : names) {
        if (name == text) {
            return type;
        }
    }
    throw std::runtime_error("message table: bad type " + std::string(text));
}

MessageRow parseRow(std::string_view line) {
    const auto cells = split(line, '\t');
    if (cells.size() < 8) {
        throw std::runtime_error("message table: short row " + std::string(line));
    }
    MessageRow row;
    row.index = static_cast<int>(toNumber(cells[0], 10));
    row.kind = toKind(cells[1]);
    row.classId = static_cast<uint8_t>(toNumber(cells[2], 10));
    row.id = static_cast<uint8_t>(toNumber(cells[3], 10));
    row.name = std::string(cells[4]);
    const auto header = split(cells[5], ' ');
    row.fixedLength = static_cast<uint8_t>(toNumber(header.at(1), 16));
    row.paramWord = toNumber(cells[6].substr(2), 16);
    if (!cells[7].empty()) {
        for (const auto param : split(cells[7], ';')) {
            const auto nameAndType = split(param, ':');
            row.params.push_back({std::string(nameAndType.at(0)), toType(nameAndType.at(1))});
        }
    }
    return row;
}

} // namespace

int fixedSize(ParamType type) {
    switch (type) {
    case ParamType::U8:
    case ParamType::I8:
    case ParamType::U8Array:
    case ParamType::String:
        return 1;
    case ParamType::U16:
    case ParamType::I16:
    case ParamType::U16Array:
        return 2;
    case ParamType::U32:
    case ParamType::I32:
        return 4;
    case ParamType::Address:
        return 6;
    }
    return 0;
}

bool isArray(ParamType type) {
    return type == ParamType::U8Array || type == ParamType::String || type == ParamType::U16Array;
}

MessageTable::MessageTable(std::string_view tsv) {
    bool header = true;
    for (auto line : split(tsv, '\n')) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            continue;
        }
        if (header) {
            header = false;
            continue;
        }
        messageRows.push_back(parseRow(line));
    }
}

const MessageRow* MessageTable::find(MessageKind kind, uint8_t classId, uint8_t id) const {
    for (const auto& row : messageRows) {
        if (row.kind == kind && row.classId == classId && row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

const MessageRow& MessageTable::byName(MessageKind kind, std::string_view name) const {
    for (const auto& row : messageRows) {
        if (row.kind == kind && row.name == name) {
            return row;
        }
    }
    throw std::logic_error("message table: no message " + std::string(name));
}

const MessageTable& messageTable() {
    static const MessageTable table(messagesTsv());
    return table;
}

} // namespace sim
