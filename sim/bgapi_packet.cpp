// Packet building, parsing and framing. See bgapi_packet.h.
#include "sim/bgapi_packet.h"

#include <stdexcept>
#include <string>

namespace sim {

namespace {

void putInteger(Bytes& out, int64_t value, int size) {
    const auto bits = static_cast<uint64_t>(value);
    for (int i = 0; i < size; ++i) {
        out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
}

int64_t getInteger(const uint8_t* in, ParamType type) {
    switch (type) {
    case ParamType::U8:
        return in[0];
    case ParamType::I8:
        return static_cast<int8_t>(in[0]);
    case ParamType::U16:
        return in[0] | (in[1] << 8);
    case ParamType::I16:
        return static_cast<int16_t>(in[0] | (in[1] << 8));
    case ParamType::U32:
    case ParamType::I32: {
        const uint32_t word = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                              (static_cast<uint32_t>(in[2]) << 16) |
                              (static_cast<uint32_t>(in[3]) << 24);
        return type == ParamType::U32 ? int64_t{word} : int64_t{static_cast<int32_t>(word)};
    }
    default:
        return 0;
    }
}

[[noreturn]] void misfit(const MessageRow& row, const std::string& what) {
    throw std::logic_error("bgapi " + row.name + ": " + what);
}

const Value& valueOf(const Message& message, std::string_view name) {
    if (message.row != nullptr) {
        for (size_t i = 0; i < message.row->params.size() && i < message.values.size(); ++i) {
            if (message.row->params[i].name == name) {
                return message.values[i];
            }
        }
    }
    throw std::logic_error("bgapi message has no parameter " + std::string(name));
}

} // namespace

int64_t Message::number(std::string_view name) const {
    const auto* value = std::get_if<int64_t>(&valueOf(*this, name));
    if (value == nullptr) {
        throw std::logic_error("bgapi parameter is not a number: " + std::string(name));
    }
    return *value;
}

const Bytes& Message::bytes(std::string_view name) const {
    const auto* value = std::get_if<Bytes>(&valueOf(*this, name));
    if (value == nullptr) {
        throw std::logic_error("bgapi parameter is not bytes: " + std::string(name));
    }
    return *value;
}

Bytes encodePacket(const MessageRow& row, const std::vector<Value>& values) {
    if (values.size() != row.params.size()) {
        misfit(row, "wrong number of values");
    }
    Bytes payload;
    const Bytes* array = nullptr;
    for (size_t i = 0; i < values.size(); ++i) {
        const ParamType type = row.params[i].type;
        if (type == ParamType::Address || isArray(type)) {
            const auto* bytes = std::get_if<Bytes>(&values[i]);
            if (bytes == nullptr) {
                misfit(row, row.params[i].name + " needs bytes");
            }
            if (type == ParamType::Address) {
                if (bytes->size() != 6) {
                    misfit(row, "an address has 6 bytes");
                }
                payload.insert(payload.end(), bytes->begin(), bytes->end());
                continue;
            }
            const size_t limit = type == ParamType::U16Array ? 0x7FF : 0xFF;
            if (bytes->size() > limit || bytes->size() + row.fixedLength > 0x7FF) {
                misfit(row, "array too long");
            }
            putInteger(payload, static_cast<int64_t>(bytes->size()), fixedSize(type));
            array = bytes;
            continue;
        }
        const auto* number = std::get_if<int64_t>(&values[i]);
        if (number == nullptr) {
            misfit(row, row.params[i].name + " needs a number");
        }
        putInteger(payload, *number, fixedSize(type));
    }
    if (payload.size() != row.fixedLength) {
        misfit(row, "fixed length differs from the table");
    }
    if (array != nullptr) {
        payload.insert(payload.end(), array->begin(), array->end());
    }
    const size_t length = payload.size();
    Bytes packet;
    packet.reserve(4 + length);
    const uint8_t eventBit = row.kind == MessageKind::Event ? 0x80 : 0x00;
    packet.push_back(static_cast<uint8_t>(eventBit | ((length >> 8) & 0x07)));
    packet.push_back(static_cast<uint8_t>(length & 0xFF));
    packet.push_back(row.classId);
    packet.push_back(row.id);
    packet.insert(packet.end(), payload.begin(), payload.end());
    return packet;
}

size_t payloadLength(const uint8_t* header) {
    return (static_cast<size_t>(header[0] & 0x07) << 8) | header[1];
}

Decoded decodePacket(MessageKind kind, std::span<const uint8_t> packet) {
    Decoded decoded;
    if (packet.size() < 4) {
        decoded.status = DecodeStatus::BadLength;
        return decoded;
    }
    const MessageRow* row = messageTable().find(kind, packet[2], packet[3]);
    if (row == nullptr) {
        return decoded;
    }
    decoded.message.row = row;
    decoded.status = DecodeStatus::BadLength;
    const auto payload = packet.subspan(4);
    if (payload.size() != payloadLength(packet.data()) || payload.size() < row->fixedLength) {
        return decoded;
    }
    size_t at = 0;
    size_t arrayLength = 0;
    for (const auto& param : row->params) {
        const uint8_t* field = payload.data() + at;
        if (param.type == ParamType::Address) {
            decoded.message.values.emplace_back(Bytes(field, field + 6));
        } else if (isArray(param.type)) {
            arrayLength =
                param.type == ParamType::U16Array ? (field[0] | (field[1] << 8)) : field[0];
            const uint8_t* data = payload.data() + row->fixedLength;
            if (row->fixedLength + arrayLength != payload.size()) {
                return decoded;
            }
            decoded.message.values.emplace_back(Bytes(data, data + arrayLength));
        } else {
            decoded.message.values.emplace_back(getInteger(field, param.type));
        }
        at += static_cast<size_t>(fixedSize(param.type));
    }
    if (row->fixedLength + arrayLength != payload.size()) {
        return decoded;
    }
    decoded.status = DecodeStatus::Ok;
    return decoded;
}

} // namespace sim
