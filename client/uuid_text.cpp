// UUIDs to and from their text forms.
#include "linkrelay/uuid_text.h"

#include "linkrelay/bytes_text.h"

#include <algorithm>
#include <span>
#include <vector>

namespace linkrelay {

namespace {

// 00000000-0000-1000-8000-00805f9b34fb; a 16-bit UUID goes into bytes 2 and 3.
constexpr std::array<uint8_t, 16> baseUuid = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
constexpr size_t dashedLength = 36;
constexpr std::array<size_t, 4> dashPositions = {8, 13, 18, 23};

UuidRecord recordOf(const std::vector<uint8_t>& bytes) {
    UuidRecord uuid;
    std::copy(bytes.begin(), bytes.end(), uuid.bytes.begin());
    uuid.length = static_cast<uint8_t>(bytes.size());
    return uuid;
}

std::optional<std::string> withoutDashes(std::string_view text) {
    std::string digits;
    for (size_t at = 0; at < text.size(); ++at) {
        const bool dashHere =
            std::find(dashPositions.begin(), dashPositions.end(), at) != dashPositions.end();
        if (dashHere != (text[at] == '-')) {
            return std::nullopt;
        }
        if (!dashHere) {
            digits += text[at];
        }
    }
    return digits;
}

} // namespace

std::optional<UuidRecord> parseUuid(std::string_view text) {
    std::string digits(text);
    if (text.size() == dashedLength) {
        const std::optional<std::string> plain = withoutDashes(text);
        if (!plain) {
            return std::nullopt;
        }
        digits = *plain;
    } else if (text.starts_with("0x") || text.starts_with("0X")) {
        digits = text.substr(2);
    }
    if (digits.size() != 4 && digits.size() != 32) {
        return std::nullopt;
    }
    const std::optional<std::vector<uint8_t>> bytes = parseHexBytes(digits);
    if (!bytes) {
        return std::nullopt;
    }
    return recordOf(*bytes);
}

std::string formatUuid(const UuidRecord& uuid) {
    const size_t length = std::min<size_t>(uuid.length, uuid.bytes.size());
    std::string digits = formatHexBytes(std::span(uuid.bytes.data(), length));
    if (length != 16) {
        return digits;
    }
    std::string text;
    for (size_t at = 0; at < digits.size(); ++at) {
        if (at == 8 || at == 12 || at == 16 || at == 20) {
            text += '-';
        }
        text += digits[at];
    }
    return text;
}

UuidRecord fullUuid(const UuidRecord& uuid) {
    if (uuid.length != 2) {
        return uuid;
    }
    UuidRecord full;
    full.bytes = baseUuid;
    full.bytes[2] = uuid.bytes[0];
    full.bytes[3] = uuid.bytes[1];
    full.length = 16;
    return full;
}

bool sameUuid(const UuidRecord& first, const UuidRecord& second) {
    return fullUuid(first) == fullUuid(second);
}

} // namespace linkrelay
