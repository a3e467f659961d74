// Bytes to and from hex text.
#include "linkrelay/bytes_text.h"

namespace linkrelay {

namespace {

int hexDigitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

std::string hexPair(uint8_t byte, const char* digits) {
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

} // namespace

std::optional<uint8_t> parseHexByte(std::string_view digits) {
    if (digits.size() != 2) {
        return std::nullopt;
    }
    const int high = hexDigitValue(digits[0]);
    const int low = hexDigitValue(digits[1]);
    if (high < 0 || low < 0) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(high * 16 + low);
}

std::string formatHexByte(uint8_t byte) {
    return hexPair(byte, "0123456789ABCDEF");
}

std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at < text.size(); at += 2) {
        const std::optional<uint8_t> byte = parseHexByte(text.substr(at, 2));
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(*byte);
    }
    return bytes;
}

std::string formatHexBytes(std::span<const uint8_t> bytes) {
    std::string text;
    for (const uint8_t byte : bytes) {
        text += hexPair(byte, "0123456789abcdef");
    }
    return text;
}

bool isPrintableText(std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        return false;
    }
    for (const uint8_t byte : bytes) {
        if (byte < 0x20 || byte > 0x7E) {
            return false;
        }
    }
    return true;
}

} // namespace linkrelay
