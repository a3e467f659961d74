// Command intake with recovery. See command_parser.h.
#include "sim/command_parser.h"

#include "sim/message_table.h"

namespace sim {

namespace {

constexpr uint8_t cannotStartCommand = 0xF8; // event bit and technology bits
constexpr size_t headerSize = 4;
constexpr uint16_t notRecognized = 0x0184;
constexpr uint16_t invalidParameter = 0x0180;

bool hasArray(const MessageRow& row) {
    return !row.params.empty() && isArray(row.params.back().type);
}

// Whether a command of `row` can carry `length` payload bytes.
bool lengthFits(const MessageRow& row, size_t length) {
    if (!hasArray(row)) {
        return length == row.fixedLength;
    }
    const size_t longest = row.params.back().type == ParamType::U16Array ? 0x7FF : 0xFF;
    return length >= row.fixedLength && length <= row.fixedLength + longest;
}

} // namespace

void CommandParser::push(std::span<const uint8_t> bytes, std::chrono::milliseconds now) {
    if (bytes.empty()) {
        return;
    }
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    lastByteAt = now;
}

std::optional<Intake> CommandParser::next() {
    size_t skip = 0;
    while (skip < buffer.size() && (buffer[skip] & cannotStartCommand) != 0) {
        ++skip;
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(skip));
    skipped += skip;
    if (buffer.size() < headerSize) {
        return std::nullopt;
    }
    const MessageRow* row = messageTable().find(MessageKind::Command, buffer[2], buffer[3]);
    const size_t length = payloadLength(buffer.data());
    if (row == nullptr || !lengthFits(*row, length)) {
        Intake rejected{Bytes(buffer.begin(), buffer.begin() + headerSize),
                        row == nullptr ? notRecognized : invalidParameter};
        buffer.erase(buffer.begin());
        ++skipped;
        return rejected;
    }
    if (buffer.size() < headerSize + length) {
        return std::nullopt;
    }
    const auto end = buffer.begin() + static_cast<std::ptrdiff_t>(headerSize + length);
    Intake command{Bytes(buffer.begin(), end), 0};
    buffer.erase(buffer.begin(), end);
    return command;
}

bool CommandParser::expire(std::chrono::milliseconds now) {
    if (buffer.empty() || now - lastByteAt <= commandIdleLimit) {
        return false;
    }
    skipped += buffer.size();
    buffer.clear();
    return true;
}

} // namespace sim
