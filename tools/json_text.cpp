// One-line JSON objects.
#include "tools/json_text.h"

#include "linkrelay/bytes_text.h"

namespace linkrelay::cli {

namespace {

// The length of the well-formed UTF-8 sequence that begins at `at`, or 0.
size_t utf8SequenceLength(std::string_view text, size_t at) {
    const auto lead = static_cast<uint8_t>(text[at]);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<uint8_t>(text[at + i]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    size_t at = 0;
    while (at < text.size()) {
        const char character = text[at];
        const auto byte = static_cast<uint8_t>(character);
        if (character == '"' || character == '\\') {
            json += '\\';
            json += character;
        } else if (byte < 0x20 || byte == 0x7F) {
            json += "\\u00" + formatHexBytes(std::span(&byte, 1));
        } else if (byte > 0x7F) {
            const size_t length = utf8SequenceLength(text, at);
            json += length == 0 ? std::string("\\ufffd") : std::string(text.substr(at, length));
            at += length == 0 ? 1 : length;
            continue;
        } else {
            json += character;
        }
        ++at;
    }
    return json + "\"";
}

std::string jsonStringArray(const std::vector<std::string>& items) {
    std::string json = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        json += (i > 0 ? "," : "") + jsonString(items[i]);
    }
    return json + "]";
}

void JsonObject::addKey(std::string_view key) {
    if (!members.empty()) {
        members += ',';
    }
    members += jsonString(key) + ":";
}

JsonObject& JsonObject::add(std::string_view key, std::string_view text) {
    addKey(key);
    members += jsonString(text);
    return *this;
}

JsonObject& JsonObject::add(std::string_view key, int64_t number) {
    addKey(key);
    members += std::to_string(number);
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view key, std::string_view json) {
    addKey(key);
    members += json;
    return *this;
}

} // namespace linkrelay::cli
