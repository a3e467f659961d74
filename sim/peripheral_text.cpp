// Virtual peripherals written as text. See peripheral_text.h.
#include "sim/peripheral_text.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace sim {

namespace {

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        const size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') {
            ++at;
        }
        if (at > start) {
            out.emplace_back(line.substr(start, at - start));
        }
    }
    return out;
}

long toInteger(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') {
        throw std::runtime_error("bad number \"" + text + "\"");
    }
    return value;
}

Bytes toBytes(const std::string& text) {
    const auto bytes = parseHex(text);
    if (!bytes) {
        throw std::runtime_error("bad hex \"" + text + "\"");
    }
    return *bytes;
}

Uuid toUuid(const std::string& text) {
    const auto uuid = Uuid::parse(text);
    if (!uuid) {
        throw std::runtime_error("bad UUID \"" + text + "\"");
    }
    return *uuid;
}

std::string joinFrom(const std::vector<std::string>& parts, size_t first) {
    std::string out;
    for (size_t i = first; i < parts.size(); ++i) {
        out += (i > first ? " " : "") + parts[i];
    }
    return out;
}

CharacteristicSpec parseCharacteristic(const std::vector<std::string>& parts) {
    CharacteristicSpec characteristic;
    characteristic.uuid = toUuid(parts.at(1));
    for (size_t i = 2; i < parts.size(); ++i) {
        const std::string& word = parts[i];
        const bool hasArgument = i + 1 < parts.size();
        if (word == "read") {
            characteristic.properties |= property::read;
        } else if (word == "write") {
            characteristic.properties |= property::write;
        } else if (word == "write-no-response") {
            characteristic.properties |= property::writeNoResponse;
        } else if (word == "notify") {
            characteristic.properties |= property::notify;
        } else if (word == "indicate") {
            characteristic.properties |= property::indicate;
        } else if (word == "echo") {
            characteristic.echoWrites = true;
        } else if (word == "value" && hasArgument) {
            characteristic.value = toBytes(parts[++i]);
        } else if (word == "every" && hasArgument) {
            characteristic.notifyIntervalMs = static_cast<uint32_t>(toInteger(parts[++i]));
        } else if (word == "sequence" && hasArgument) {
            const std::string& list = parts[++i];
            size_t start = 0;
            while (start <= list.size()) {
                const size_t comma = std::min(list.find(',', start), list.size());
                characteristic.valueSequence.push_back(toBytes(list.substr(start, comma - start)));
                start = comma + 1;
            }
        } else {
            throw std::runtime_error("unknown characteristic word \"" + word + "\"");
        }
    }
    return characteristic;
}

void parseStatement(const std::vector<std::string>& parts, std::vector<PeripheralSpec>& out) {
    const std::string& keyword = parts[0];
    if (keyword == "peripheral") {
        const auto address = parseAddress(parts.size() > 1 ? parts[1] : "");
        if (!address) {
            throw std::runtime_error("peripheral needs an address AA:BB:CC:DD:EE:FF");
        }
        PeripheralSpec profile;
        profile.address = *address;
        profile.name = joinFrom(parts, 2);
        out.push_back(profile);
        return;
    }
    if (out.empty()) {
        throw std::runtime_error("\"" + keyword + "\" before the first peripheral");
    }
    PeripheralSpec& profile = out.back();
    const std::string argument = joinFrom(parts, 1);
    if (keyword == "address-type") {
        if (argument != "public" && argument != "random") {
            throw std::runtime_error("address-type is public or random");
        }
        profile.addressType = argument == "random" ? 1 : 0;
    } else if (keyword == "interval") {
        profile.advIntervalMs = static_cast<uint32_t>(toInteger(argument));
    } else if (keyword == "rssi") {
        profile.rssi = static_cast<int8_t>(toInteger(argument));
    } else if (keyword == "adv") {
        profile.advData = toBytes(argument);
    } else if (keyword == "scan-response") {
        profile.scanResponseData = toBytes(argument);
    } else if (keyword == "not-connectable") {
        profile.connectable = false;
    } else if (keyword == "bondable") {
        profile.bondable = true;
    } else if (keyword == "out-of-range") {
        profile.inRange = false;
    } else if (keyword == "service") {
        profile.services.push_back({toUuid(argument), {}});
    } else if (keyword == "characteristic") {
        if (profile.services.empty()) {
            throw std::runtime_error("characteristic before the first service");
        }
        profile.services.back().characteristics.push_back(parseCharacteristic(parts));
    } else {
        throw std::runtime_error("unknown statement \"" + keyword + "\"");
    }
}

} // namespace

std::optional<Bytes> parseHex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == ':') {
            if (high >= 0) {
                return std::nullopt;
            }
            continue;
        }
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return out;
}

std::vector<PeripheralSpec> parsePeripherals(std::string_view text) {
    std::vector<PeripheralSpec> out;
    size_t lineNumber = 0;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const auto parts = words(line);
        if (parts.empty() || parts[0][0] == '#') {
            continue;
        }
        try {
            parseStatement(parts, out);
        } catch (const std::exception& error) {
            throw std::runtime_error("line " + std::to_string(lineNumber) + ": " + error.what());
        }
    }
    return out;
}

} // namespace sim
